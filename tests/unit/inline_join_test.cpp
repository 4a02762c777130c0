// Inline joins: a test on the parent partial alone (pattern type 8, no
// right input), giving a parent one child while the test passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "join/join_inline.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// R0: A(x), test x.a > 0 (J0, inline, independence bit 1 clear).
// R1: A(x), x.a > 0, B(y) with y.a == x.id (J1, plain, below J0).
// R2: A(x), test x.a > 0 (J2, inline, independence mask -1).
// J0's no-update mask is a parameter; the alpha memory passes every update.
struct InlineRules {
  char name[8] = "inline";
  QelNetwork net{name};
  TestClassNode* a;
  TestClassNode* b;
  TestContext ctx;
  int inlineCalls[3] = {0, 0, 0};
  int plainCalls = 0;
  bool sawRecord = false;

  explicit InlineRules(int j0NoUpdate = 0) {
    net.init(0, 0, 3, 2, 1, 1, 3);
    a = addClass(net, "A");
    b = addClass(net, "B");
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 0, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    net.initJoin(joinAt(net, 0), 0, 0, -1, TestContext::join(0), 0, j0NoUpdate,
                 QelPatternInline);
    net.initJoin(joinAt(net, 1), 1, 0, 0, TestContext::join(1), 0, 0,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 2), 0, 0, -1, TestContext::join(2), -1, 0,
                 QelPatternInline);
    for (int r = 0; r < 3; ++r) {
      net.initRule(ruleAt(net, r), -1, const_cast<char*>("rule"),
                   GetQelNullPrio(), 0, r, -1);
      net.initAction(r, TestContext::action(r), 0, 1, r);
    }
    for (int j : {0, 2}) {
      ctx.joinFns[j] = [this, j](QelPartial* p, QelInfo* info) {
        ++inlineCalls[j];
        if (info != nullptr) sawRecord = true;
        return factAt(p, 1, 0)->a > 0;
      };
    }
    ctx.joinFns[1] = [this](QelPartial* p, QelInfo* info) {
      ++plainCalls;
      return factOf(info)->a == factAt(p, 2, 0)->id;
    };
    ctx.init(&net);
  }

  QelJoinMemInline* join(int j) {
    return static_cast<QelJoinMemInline*>(ctx.joinMems[j]);
  }
  QelPartial* plainChildren() { return ctx.joinMems[1]->partials; }
};

TEST(InlineJoin, ChildOnlyWhileTheTestPasses) {
  InlineRules r;
  Fact x{1, 0}, y{2, 3}, link{3, 1};
  r.ctx.assertObject(1, &link);
  r.ctx.takeLog();
  r.ctx.assertObject(0, &x);
  r.ctx.assertObject(0, &y);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"assert 1", "assert 2", "addRule R0[2,_]",
                                    "addRule R2[2,_]"}));
  EXPECT_FALSE(r.sawRecord);
  EXPECT_EQ(r.join(0)->childTable.size(), 1u);
  // The child adds a null record: positions after it stay aligned.
  QelPartial* child = r.join(0)->partials;
  EXPECT_EQ(child->record, nullptr);
  EXPECT_EQ(child->parent->record->object, &y);

  r.ctx.retractObject(&y, 0);
  EXPECT_EQ(r.join(0)->partials, nullptr);
  EXPECT_EQ(r.join(0)->childTable.size(), 0u);
  EXPECT_EQ(r.ctx.agenda->first, nullptr);
}

TEST(InlineJoin, LeftUpdatesGainAndLoseTheChild) {
  InlineRules r;
  Fact x{1, 0}, link{3, 1};
  r.ctx.assertObject(1, &link);
  r.ctx.assertObject(0, &x);
  ASSERT_EQ(r.join(0)->partials, nullptr);
  r.ctx.takeLog();

  // Now passing: the child is new to everything below (mode 0), so the
  // plain join below pairs it with B and both rules get instances.
  x.a = 4;
  r.ctx.updateObject(&x, 0);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"beginUpdate 1", "addRule R1[1,_,3]", "addRule R0[1,_]",
                   "endUpdate 1"}));
  EXPECT_EQ(r.plainChildren()->parent, r.join(0)->partials);

  // Failing again: the child goes with its downstream partial and both
  // instances.
  x.a = 0;
  r.ctx.updateObject(&x, 0);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"beginUpdate 1", "removeRule R1[1,_,3]",
                   "removeRule R0[1,_]", "endUpdate 1"}));
  EXPECT_EQ(r.join(0)->partials, nullptr);
  EXPECT_EQ(r.plainChildren(), nullptr);
  EXPECT_EQ(r.join(0)->childTable.size(), 0u);
}

TEST(InlineJoin, PassingUpdateIsEmittedUnlessMasked) {
  InlineRules passes(0);
  InlineRules masked(-1);
  for (InlineRules* r : {&passes, &masked}) {
    Fact x{1, 4}, link{3, 1};
    r->ctx.assertObject(1, &link);
    r->ctx.assertObject(0, &x);
    r->ctx.agenda->fireAllRules();
    const int before = r->plainCalls;
    r->ctx.updateObject(&x, 0);  // mode 2
    // The join below re-matches only when the change reaches it.
    EXPECT_EQ(r->plainCalls - before, r == &passes ? 1 : 0);
    EXPECT_EQ(r->ctx.agenda->first, nullptr);
    // A refresh passes whatever the mask: both rules fire again.
    r->ctx.updateObject(&x, 1);
    EXPECT_EQ(r->ctx.agendaLines(),
              (Lines{"R0[1,_]:0", "R1[1,_,3]:0", "R2[1,_]:0"}));
    r->ctx.retractObject(&x, 0);
    r->ctx.retractObject(&link, 0);
  }
}

TEST(InlineJoin, IndependentUpdateNeverCallsTheTest) {
  InlineRules r;
  Fact x{1, 0};
  r.ctx.assertObject(0, &x);
  ASSERT_EQ(r.inlineCalls[2], 1);
  // The test would pass now, but J2 does not look again, and a parent
  // without a child has nothing to pass on.
  x.a = 4;
  r.ctx.updateObject(&x, 1);
  EXPECT_EQ(r.inlineCalls[2], 1);
  EXPECT_EQ(r.join(2)->partials, nullptr);
  EXPECT_EQ(r.ctx.agendaLines(), (Lines{"R0[1,_]:0"}));

  // With a child, updates are passed on without a test.
  Fact y{2, 5};
  r.ctx.assertObject(0, &y);
  ASSERT_EQ(r.inlineCalls[2], 2);
  r.ctx.agenda->fireAllRules();
  y.a = 0;
  r.ctx.updateObject(&y, 1);
  EXPECT_EQ(r.inlineCalls[2], 2);
  // J0 re-tested and dropped its child; J2 kept and refreshed its own.
  EXPECT_EQ(r.ctx.agendaLines(), (Lines{"R2[2,_]:0"}));
  EXPECT_EQ(r.join(2)->childTable.size(), 1u);
}

}  // namespace
