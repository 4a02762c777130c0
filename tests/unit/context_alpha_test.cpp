// Single-pattern rules on quantified first patterns (exists, not, count,
// collect): when their token comes and goes, what it carries, and how
// seeding, qelRetractAll and the reset treat it.
#include <gtest/gtest.h>

#include "memory/alpha_mem.h"
#include "memory/disc_mem.h"
#include "unit/context_rulesets.h"

using namespace qeltest;
using namespace ctxtest;

namespace {

// Class A; discrimination node 0 passes facts with a > 0 and feeds alpha 0
// of the given pattern type, on which rule 0 hangs.
struct Quantified {
  QelNetwork net{nm("quantified")};
  TestContext ctx;
  TestClassNode* a;
  std::vector<int> counts;  // what the count test was asked
  std::vector<int> sizes;   // set sizes the collect test saw

  explicit Quantified(QelPatternType type,
                      std::function<bool(int)> countTest = nullptr,
                      std::function<bool(const QelOrderedSet*)> collect = nullptr,
                      bool nullCollect = false) {
    net.init(0, 0, 1, 1, 1, 0, 0);
    a = addClass(net, "A");
    disc(net, 0, 0, -1, TestContext::disc(0));
    alpha(net, 0, 0, type);
    rule(net, 0, 0);
    alphaAt(net, 0)->countTest = TestContext::alphaCount(0);
    alphaAt(net, 0)->collectTest =
        nullCollect ? GetQelNullAlphaCollect() : TestContext::alphaCollect(0);
    ctx.discFns[0] = [](QelInfo* i) { return factOf(i)->a > 0; };
    ctx.alphaCountFns[0] = [this, countTest](int n) {
      counts.push_back(n);
      return countTest(n);
    };
    ctx.alphaCollectFns[0] = [this, collect](const QelOrderedSet* s) {
      sizes.push_back(s->count);
      return collect(s);
    };
    ctx.init(&net);
  }
  QelPartial* token() const { return ctx.alphaMems[0]->partials; }
};

TEST(ContextAlpha, ExistsHoldsFromTheFirstToTheLastObject) {
  Quantified q(QelPatternExists);
  EXPECT_TRUE(q.ctx.takeLog().empty());
  Fact f1{1, 1}, f2{2, 1}, off{3, 0};
  q.ctx.assertObject(0, &off);
  q.ctx.assertObject(0, &f1);
  q.ctx.assertObject(0, &f2);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"assert 3", "assert 1", "addRule R0[_]", "assert 2"}));
  ASSERT_NE(q.token(), nullptr);
  EXPECT_EQ(q.token()->record, nullptr);
  EXPECT_EQ(q.token()->nextInMemory, nullptr);

  // Modifications of matching objects change nothing, even after firing.
  EXPECT_EQ(q.ctx.agenda->fireAllRules(), 1);
  q.ctx.takeLog();
  q.ctx.updateObject(&f1, 1);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
  EXPECT_TRUE(q.ctx.agendaLines().empty());

  // An object that starts passing counts as a new one.
  off.a = 1;
  q.ctx.updateObject(&off, 0);
  EXPECT_EQ(static_cast<QelAlphaMemExists*>(q.ctx.alphaMems[0])->matchCount, 3);

  q.ctx.retractObject(&f1, 0);
  q.ctx.retractObject(&off, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"beginUpdate 3", "endUpdate 3",
                                    "retract 1", "retract 3"}));
  q.ctx.assertObject(0, &f1);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"assert 1"}));
  q.ctx.retractObject(&f2, 0);
  q.ctx.retractObject(&f1, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"retract 2", "retract 1"}));
  EXPECT_EQ(q.token(), nullptr);

  // Waiting token: retracting the last object removes its instance.
  q.ctx.assertObject(0, &f1);
  q.ctx.retractObject(&f1, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"assert 1", "addRule R0[_]", "retract 1",
                                    "removeRule R0[_]"}));
}

TEST(ContextAlpha, NotHoldsWhileNoObjectPasses) {
  Quantified q(QelPatternNot);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"addRule R0[_]"}));
  Fact f1{1, 1}, f2{2, 1}, off{3, 0};
  q.ctx.assertObject(0, &off);
  q.ctx.assertObject(0, &f1);
  q.ctx.assertObject(0, &f2);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"assert 3", "assert 1", "removeRule R0[_]", "assert 2"}));
  EXPECT_EQ(q.token(), nullptr);
  q.ctx.retractObject(&f2, 0);
  q.ctx.retractObject(&off, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"retract 2", "retract 3"}));
  q.ctx.retractObject(&f1, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"retract 1", "addRule R0[_]"}));
  ASSERT_NE(q.token(), nullptr);
  EXPECT_EQ(q.token()->record, nullptr);

  // An object that stops passing brings the token back.
  q.ctx.assertObject(0, &f1);
  q.ctx.takeLog();
  f1.a = 0;
  q.ctx.updateObject(&f1, 0);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"beginUpdate 1", "addRule R0[_]", "endUpdate 1"}));
}

TEST(ContextAlpha, CountTokenHoldsForTwoOrMore) {
  Quantified q(QelPatternCount, [](int n) { return n >= 2; });
  EXPECT_TRUE(q.ctx.takeLog().empty());
  EXPECT_EQ(q.counts, (std::vector<int>{0}));  // seeded with 0
  Fact f1{1, 1}, f2{2, 1}, f3{3, 1};
  q.ctx.assertObject(0, &f1);
  q.ctx.assertObject(0, &f2);
  q.ctx.assertObject(0, &f3);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"assert 1", "assert 2", "addRule R0[_]", "assert 3"}));
  // Updates are not counted.
  q.ctx.updateObject(&f3, 1);
  q.ctx.retractObject(&f3, 0);
  q.ctx.retractObject(&f1, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"beginUpdate 3", "endUpdate 3", "retract 3",
                                    "retract 1", "removeRule R0[_]"}));
  EXPECT_EQ(q.counts, (std::vector<int>{0, 1, 2, 3, 2, 1}));
  EXPECT_EQ(q.token(), nullptr);
  q.ctx.retractObject(&f2, 0);
}

TEST(ContextAlpha, CountTestHoldingForZeroIsSeeded) {
  Quantified q(QelPatternCount, [](int n) { return n == 0; });
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"addRule R0[_]"}));
  Fact f1{1, 1};
  q.ctx.assertObject(0, &f1);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"assert 1", "removeRule R0[_]"}));
}

TEST(ContextAlpha, NullCollectHoldsAlwaysWithTheMatchesSet) {
  Quantified q(QelPatternCollect, nullptr, nullptr, true);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"addRule R0[{0}]"}));
  ASSERT_NE(q.token(), nullptr);
  QelInfo* record = q.token()->record;
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->object, &q.ctx.discMems[0]->matches);
  EXPECT_EQ(record->classMem, nullptr);

  Fact f1{1, 1}, f2{2, 1};
  q.ctx.assertObject(0, &f1);
  q.ctx.assertObject(0, &f2);
  q.ctx.updateObject(&f1, 1);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"assert 1", "assert 2", "beginUpdate 1", "endUpdate 1"}));
  EXPECT_EQ(q.token()->record, record);

  // The action sees the set as it is when the rule fires.
  std::vector<void*> seen;
  q.ctx.actionFns[0] = [&](QelPartial* p) {
    const QelOrderedSet* set = static_cast<QelOrderedSet*>(p->record->object);
    QelSetWalker walker(*set);
    while (void* key = walker.next()) {
      seen.push_back(static_cast<QelInfo*>(key)->object);
    }
  };
  EXPECT_EQ(q.ctx.agenda->fireAllRules(), 1);
  EXPECT_EQ(seen, (std::vector<void*>{&f2, &f1}));
  q.ctx.retractObject(&f1, 0);
  q.ctx.retractObject(&f2, 0);
  EXPECT_EQ(q.ctx.takeLog(), (Lines{"checkBeginCycle", "beginRule R0[{2}]",
                                    "checkEndCycle R0[{2}]", "endRule",
                                    "checkBeginCycle", "retract 1",
                                    "retract 2"}));
  EXPECT_NE(q.token(), nullptr);
}

TEST(ContextAlpha, CollectWithARealTest) {
  Quantified q(QelPatternCollect, nullptr,
               [](const QelOrderedSet* s) { return s->count >= 2; });
  EXPECT_TRUE(q.ctx.takeLog().empty());
  Fact f1{1, 1}, f2{2, 1}, f3{3, 1};
  q.ctx.assertObject(0, &f1);
  q.ctx.assertObject(0, &f2);
  q.ctx.assertObject(0, &f3);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"assert 1", "assert 2", "addRule R0[{2}]", "assert 3"}));
  ASSERT_NE(q.token(), nullptr);
  EXPECT_EQ(q.token()->record->object, &q.ctx.discMems[0]->matches);
  q.ctx.retractObject(&f3, 0);
  q.ctx.retractObject(&f1, 0);
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"retract 3", "retract 1", "removeRule R0[{1}]"}));
  EXPECT_EQ(q.token(), nullptr);
  // Seeded with the empty set, then every change re-evaluates it.
  EXPECT_EQ(q.sizes, (std::vector<int>{0, 1, 2, 3, 2, 1}));
  q.ctx.retractObject(&f2, 0);
}

TEST(ContextAlpha, RetractAllReseedsResetDoesNot) {
  Quantified q(QelPatternNot);
  Fact* f = new Fact{1, 1};
  q.ctx.assertObject(0, f);
  EXPECT_EQ(q.token(), nullptr);
  q.ctx.takeLog();

  q.ctx.reset();
  EXPECT_TRUE(q.ctx.takeLog().empty());
  EXPECT_EQ(q.token(), nullptr);
  EXPECT_TRUE(q.ctx.agendaLines().empty());

  q.ctx.retractAll();
  EXPECT_EQ(q.ctx.takeLog(),
            (Lines{"beginRetractAll", "endRetractAll", "addRule R0[_]"}));
  EXPECT_EQ(q.ctx.agendaLines(), (Lines{"R0[_]:0"}));
  EXPECT_EQ(q.a->deleted, 1);
}

TEST(ContextAlpha, RetractAllReseedsCollectAndCountTokens) {
  Quantified collect(QelPatternCollect, nullptr, nullptr, true);
  Quantified count(QelPatternCount, [](int n) { return n < 1; });
  for (Quantified* q : {&collect, &count}) {
    q->ctx.assertObject(0, new Fact{1, 1});
    q->ctx.takeLog();
    q->ctx.retractAll();
  }
  EXPECT_EQ(collect.ctx.takeLog(),
            (Lines{"beginRetractAll", "endRetractAll", "addRule R0[{0}]"}));
  EXPECT_EQ(count.ctx.takeLog(),
            (Lines{"beginRetractAll", "endRetractAll", "addRule R0[_]"}));
  EXPECT_EQ(count.counts, (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(static_cast<QelAlphaMemCount*>(count.ctx.alphaMems[0])->matchCount,
            0);
}

}  // namespace
