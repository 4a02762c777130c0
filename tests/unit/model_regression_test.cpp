// Cases that the randomized model test (tests/model) ran into, kept as
// regular tests.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// Rule 0: A(x), count A(y | y.c != x.a) >= 1, where both patterns read the
// same discrimination node. An update of x reaches the count join twice in
// one operation: first through the right memory, which re-tests (x, x) with
// x's new values while the parent's other pairs still hold the old ones,
// then through the alpha memory, which re-counts the parent. A match that
// holds before and after can therefore lose its child in between and come
// back as a new one, with a new instance, even for a plain update.
// (model_test --seed 50223 --replay "A2 A3 A3.0=0")
TEST(ModelRegression, CountJoinOnItsOwnAlphaDiscRecreatesTheMatch) {
  char name[8] = "count";
  QelNetwork net{name};
  net.init(0, 0, 1, 1, 1, 1, 1);
  addClass(net, "A");
  net.initDisc(discAt(net, 0), 0, 0, GetQelNullDisc());
  net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
  net.initJoin(joinAt(net, 0), 0, 0, 0, TestContext::join(0), 0, 0,
               QelPatternCount);
  joinAt(net, 0)->countTest = TestContext::joinCount(0);
  net.initRule(ruleAt(net, 0), -1, const_cast<char*>("r"), GetQelNullPrio(), 0,
               0, -1);
  net.initAction(0, TestContext::action(0), 0, 1, 0);
  TestContext ctx;
  ctx.logging = false;
  ctx.joinFns[0] = [](QelPartial* p, QelInfo* i) {
    return factOf(i)->c != factAt(p, 1, 0)->a;
  };
  ctx.joinCountFns[0] = [](QelPartial*, int n) { return n >= 1; };
  ctx.init(&net);

  Fact x3{3, 2, 0, 1}, x4{4, 1, 0, 0};
  ctx.assertObject(0, &x3);
  ctx.assertObject(0, &x4);
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[4,_]:0", "R0[3,_]:0"}));
  EXPECT_EQ(ctx.agenda->fireAllRules(), 2);

  // (4) counted {4} before; after x4.a = 0 it counts {3}.
  x4.a = 0;
  ctx.assertObject(0, &x4);
  ASSERT_EQ(ctx.agendaLines(), (Lines{"R0[4,_]:0"}));
  EXPECT_EQ(ctx.agenda->first->recency, 1);

  // An update that keeps the pair (x4, x4) failing and (x4, x3) passing
  // re-counts without a gap: nothing new.
  x4.b = 3;
  ctx.updateObject(&x4, 0);
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[4,_]:0"}));
  EXPECT_EQ(ctx.agenda->first->recency, 1);
  EXPECT_EQ(ctx.agenda->fireRule(), 0);
  ctx.updateObject(&x4, 0);
  EXPECT_EQ(ctx.agenda->first, nullptr);
}

}  // namespace
