// A three-pattern ruleset for join tests: rule 0 is A(x), B(y), C(z),
// matched by the alpha memory of A and two joins, J0 (left: the alpha
// memory, right input: B) and J1 (left: J0, right input: C). Rule 1,
// A(x), B(y), ends at J0 when asked for. Class L is logical and has no
// patterns: actions assert its objects to test truth maintenance.
//
// Join tests, priority functions and actions write themselves into the
// context's hook log, so one log shows the order of tests, emissions and
// agenda changes:
//   "J0 [1]+10"       test of J0 with parent [1] and record 10
//   "P0 [1,10,20]"    priority function of rule 0 (the sum of the `a`
//                     slots of the tuple's facts)
#ifndef QEL_TESTS_SUPPORT_CHAIN_H
#define QEL_TESTS_SUPPORT_CHAIN_H

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "join/join_mem.h"
#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "support/harness.h"

namespace qeltest {

struct JoinShape {
  QelPatternType type = QelPatternPlain;
  int independenceMask = 0;
  int noUpdateMask = 0;
  bool nullTest = false;     // GetQelNullJoin() instead of the logging test
  bool nullCollect = false;  // collect joins: GetQelNullJoinCollect()
};

struct ChainShape {
  JoinShape joins[2];
  int alphaNoUpdateMask = 0;
  bool priorityFunction = true;  // rule 0; else static priority 0
  bool ruleAtJ0 = false;         // rule 1 = A(x), B(y), static priority 0
};

enum ChainClass { kA = 0, kB = 1, kC = 2, kL = 3 };

// The sum of the `a` slots of the application objects along a partial.
inline int slotSum(const QelPartial* partial) {
  int sum = 0;
  for (const QelPartial* p = partial; p != nullptr; p = p->parent) {
    if (p->record != nullptr && p->record->classMem != nullptr) {
      sum += static_cast<const Fact*>(p->record->object)->a;
    }
  }
  return sum;
}

inline std::string pairText(QelPartial* parent, QelInfo* record) {
  return tupleOf(parent) + "+" + std::to_string(factOf(record)->id);
}

// The tuples a left memory holds, newest first.
inline std::vector<std::string> tuples(const QelLeftMem* mem) {
  std::vector<std::string> out;
  for (const QelPartial* p = mem->partials; p != nullptr; p = p->nextInMemory) {
    out.push_back(tupleOf(p));
  }
  return out;
}

// The partial of a left memory that prints as `tuple`, or null.
inline QelPartial* partialOf(const QelLeftMem* mem, const std::string& tuple) {
  for (QelPartial* p = mem->partials; p != nullptr; p = p->nextInMemory) {
    if (tupleOf(p) == tuple) return p;
  }
  return nullptr;
}

inline std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

class Chain {
 public:
  char name[8] = "chain";
  QelNetwork net{name};
  TestClassNode* a;
  TestClassNode* b;
  TestClassNode* c;
  TestClassNode* l;
  TestContext ctx;
  // "tuple+id" pairs whose test fails, per join; everything else passes.
  std::set<std::string> fail[2];

  explicit Chain(const ChainShape& shape = ChainShape()) {
    const int ruleCount = shape.ruleAtJ0 ? 2 : 1;
    net.init(0, 0, ruleCount, 3, 1, 2, 2);
    a = addClass(net, "A");
    b = addClass(net, "B");
    c = addClass(net, "C");
    l = addClass(net, "L", 2);
    net.initDisc(discAt(net, 0), kA, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), kB, 0, GetQelNullDisc());
    net.initDisc(discAt(net, 2), kC, 1, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, shape.alphaNoUpdateMask,
                     QelPatternPlain);
    for (int j = 0; j < 2; ++j) {
      const JoinShape& js = shape.joins[j];
      const QelJoinTest test =
          js.nullTest ? GetQelNullJoin() : TestContext::join(j);
      const int leftIsJoin = j;  // J0 hangs on the alpha, J1 on J0
      const int leftIndex = 0;
      if (js.type == QelPatternPlainObjUnique) {
        net.initJoin(joinAt(net, j), leftIsJoin, leftIndex, j, test,
                     js.independenceMask, js.noUpdateMask, js.type,
                     TestContext::key(j));
      } else if (js.type == QelPatternCollect) {
        net.initJoin(joinAt(net, j), leftIsJoin, leftIndex, j, test,
                     js.independenceMask, js.noUpdateMask, js.type,
                     js.nullCollect ? GetQelNullJoinCollect()
                                    : TestContext::joinCollect(j));
      } else {
        net.initJoin(joinAt(net, j), leftIsJoin, leftIndex, j, test,
                     js.independenceMask, js.noUpdateMask, js.type);
      }
      if (js.type == QelPatternCount) {
        joinAt(net, j)->countTest = TestContext::joinCount(j);
      }
    }
    net.initRule(
        ruleAt(net, 0), -1, const_cast<char*>("abc"),
        shape.priorityFunction ? TestContext::prio(0) : GetQelNullPrio(), 0, 1,
        -1);
    net.initAction(0, TestContext::action(0), 0, 1, 1);
    if (shape.ruleAtJ0) {
      net.initRule(ruleAt(net, 1), -1, const_cast<char*>("ab"),
                   GetQelNullPrio(), 0, 0, -1);
      net.initAction(1, TestContext::action(1), 0, 1, 0);
    }
    for (int j = 0; j < 2; ++j) {
      ctx.joinFns[j] = [this, j](QelPartial* p, QelInfo* i) {
        const std::string text = pairText(p, i);
        say("J" + std::to_string(j) + " " + text);
        return fail[j].count(text) == 0;
      };
    }
    ctx.prioFns[0] = [this](QelPartial* p) {
      say("P0 " + tupleOf(p));
      return slotSum(p);
    };
    ctx.init(&net);
  }

  void say(const std::string& line) {
    if (ctx.logging) ctx.log.push_back(line);
  }
  QelJoinMem* j0() const { return ctx.joinMems[0]; }
  QelJoinMem* j1() const { return ctx.joinMems[1]; }
  QelLeftMem* alpha() const { return ctx.alphaMems[0]; }
  std::vector<std::string> log() { return ctx.takeLog(); }
  // Fires everything, then forgets the log.
  void fireAll() {
    ctx.agenda->fireAllRules();
    ctx.takeLog();
  }
};

}  // namespace qeltest

#endif  // QEL_TESTS_SUPPORT_CHAIN_H
