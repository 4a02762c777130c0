// A small ruleset written the way a rule compiler emits one, for the
// programs that test the library's lifecycle at exit and under dlopen:
//   pair : A a, B b (b.key == a.key) -> count the pair
// Only "qel.h" is used, so that it builds against the shared library.
#ifndef QEL_TESTS_LIFECYCLE_PAIRS_H
#define QEL_TESTS_LIFECYCLE_PAIRS_H

#include "qel.h"

namespace pairs {

struct Obj {
  int key;
};

enum ClassIndex { kA, kB };

inline char* text(const char* s) { return const_cast<char*>(s); }

class PairsNetwork : public QelNetwork {
 public:
  PairsNetwork();
};

class PairsContext : public QelContext {
 public:
  explicit PairsContext(QelNetwork* net) { initialize(net); }
  ~PairsContext() override = default;
  const char* getRulesetName() const override { return "pairs"; }

  unsigned char sameKey(QelPartial* p, QelInfo* info) {
    return static_cast<Obj*>(info->object)->key ==
           static_cast<Obj*>(p->record->object)->key;
  }
  void pair(QelPartial*) { ++fired; }

  int fired = 0;
};

inline PairsNetwork::PairsNetwork() : QelNetwork(text("pairs")) {
  // 1 rule, 2 discrimination, 1 alpha, 1 right and 1 join node.
  init(0, 0, 1, 2, 1, 1, 1);
  QelClassNode* a = new QelClassNode(this, kA);
  a->name = text("A");
  a->kind = 1;
  classes.append(a);
  a->initSlot(text("key"), text("int"), QelSlotReadOnly, text("integer"));
  QelClassNode* b = new QelClassNode(this, kB);
  b->name = text("B");
  b->kind = 1;
  classes.append(b);
  b->initSlot(text("key"), text("int"), QelSlotReadOnly, text("integer"));
  initDisc(static_cast<QelDiscNode*>(discs[0]), kA, -1, GetQelNullDisc());
  initDisc(static_cast<QelDiscNode*>(discs[1]), kB, 0, GetQelNullDisc());
  addAlphaNode(static_cast<QelDiscNode*>(discs[0]), 0, -1, QelPatternPlain);
  initJoin(joins[0], 0, 0, 0, static_cast<QelJoinTest>(&PairsContext::sameKey), 0, -1,
           QelPatternPlain);
  initRule(rules[0], -1, text("pair"), GetQelNullPrio(), 0, 0, -1);
  initAction(0, static_cast<QelActionFunction>(&PairsContext::pair), 0, 1, 0);
}

// Asserts `n` objects of each class, every key shared by one A and one B,
// into `context`, and returns the number of rules fired.
inline int run(PairsContext& context, Obj* as, Obj* bs, int n) {
  for (int i = 0; i < n; ++i) {
    as[i].key = bs[i].key = i;
    context.assertObject(kA, &as[i]);
    context.assertObject(kB, &bs[i]);
  }
  const int before = context.fired;
  context.agenda->fireAllRules();
  return context.fired - before;
}

}  // namespace pairs

#endif  // QEL_TESTS_LIFECYCLE_PAIRS_H
