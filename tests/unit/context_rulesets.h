// Small builders for the hand-written rulesets of the context tests.
//
// Every rule r gets the action slot r of TestContext, so a test sets
// `ctx.actionFns[r]` to give rule r its action.
#ifndef QEL_TESTS_UNIT_CONTEXT_RULESETS_H
#define QEL_TESTS_UNIT_CONTEXT_RULESETS_H

#include <string>
#include <vector>

#include "support/harness.h"

namespace ctxtest {

using qeltest::TestContext;
using Lines = std::vector<std::string>;

inline char* nm(const char* text) { return const_cast<char*>(text); }

// Discrimination node d tests objects of class `cls`; `right` names the
// right node fed by it (-1: none).
inline void disc(QelNetwork& net, int d, int cls, int right = -1,
                 QelDiscTest test = GetQelNullDisc()) {
  net.initDisc(qeltest::discAt(net, d), cls, right, test);
}

inline void alpha(QelNetwork& net, int d, int a,
                  QelPatternType type = QelPatternPlain, int noUpdate = -1) {
  net.addAlphaNode(qeltest::discAt(net, d), a, noUpdate, type);
}

// Rule r with its action on alpha node `a` (or on join `a` when `onJoin`).
inline void rule(QelNetwork& net, int r, int a, int priority = 0,
                 QelPriorityFunction prio = GetQelNullPrio(),
                 bool onJoin = false, int packet = -1, int waitDepth = -1) {
  net.initRule(qeltest::ruleAt(net, r), packet, nm("rule"), prio, priority,
               onJoin ? a : -1, waitDepth);
  net.initAction(r, TestContext::action(r), 0, onJoin ? 1 : 0, a);
}

inline QelPatternType patternType(int value) {
  return static_cast<QelPatternType>(value);
}

}  // namespace ctxtest

#endif  // QEL_TESTS_UNIT_CONTEXT_RULESETS_H
