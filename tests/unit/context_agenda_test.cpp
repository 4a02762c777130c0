// The agenda: firing order, re-prioritisation, the results of fireRule and
// fireAllRules, a stop requested by an action node, and actions that change
// working memory while the agenda fires.
#include <gtest/gtest.h>

#include "memory/alpha_mem.h"
#include "unit/context_rulesets.h"

using namespace qeltest;
using namespace ctxtest;

namespace {

// One class A and `rules` single-pattern rules on it. Rule r hangs on alpha
// r of discrimination node r; disc r passes the facts whose id bit r is set
// when `byBit` (else every fact).
struct SingleRules {
  QelNetwork net{nm("single")};
  TestContext ctx;
  TestClassNode* a = nullptr;

  SingleRules(int rules, std::vector<int> priorities, bool byBit) {
    net.init(0, 0, rules, rules, rules, 0, 0);
    a = addClass(net, "A");
    for (int r = 0; r < rules; ++r) {
      disc(net, r, 0, -1, byBit ? TestContext::disc(r) : GetQelNullDisc());
      alpha(net, r, r);
      rule(net, r, r, priorities[r]);
      ctx.discFns[r] = [r](QelInfo* i) { return (factOf(i)->id >> r) & 1; };
    }
  }
};

TEST(ContextAgenda, HigherPriorityFiresFirstWhateverTheInsertionOrder) {
  for (bool lowFirst : {true, false}) {
    SingleRules s(2, {5, 10}, true);
    s.ctx.init(&s.net);
    Fact low{1};   // rule 0, priority 5
    Fact high{2};  // rule 1, priority 10
    if (lowFirst) {
      s.ctx.assertObject(0, &low);
      s.ctx.assertObject(0, &high);
    } else {
      s.ctx.assertObject(0, &high);
      s.ctx.assertObject(0, &low);
    }
    EXPECT_EQ(s.ctx.agendaLines(), (Lines{"R1[2]:10", "R0[1]:5"}));
    s.ctx.takeLog();
    EXPECT_EQ(s.ctx.agenda->fireAllRules(), 2);
    EXPECT_EQ(s.ctx.takeLog(),
              (Lines{"checkBeginCycle", "beginRule R1[2]", "checkEndCycle R1[2]",
                     "endRule", "checkBeginCycle", "beginRule R0[1]",
                     "checkEndCycle R0[1]", "endRule", "checkBeginCycle"}));
  }
}

TEST(ContextAgenda, LaterAssertFiresFirstAmongEqualPriorities) {
  SingleRules s(1, {0}, false);
  s.ctx.init(&s.net);
  Fact x{1}, y{2}, z{3};
  s.ctx.assertObject(0, &x);
  s.ctx.assertObject(0, &y);
  s.ctx.assertObject(0, &z);
  EXPECT_EQ(s.ctx.agendaLines(), (Lines{"R0[3]:0", "R0[2]:0", "R0[1]:0"}));
  EXPECT_EQ(s.ctx.agenda->first->recency, 3);
  EXPECT_EQ(s.ctx.agenda->first->next->recency, 2);
}

TEST(ContextAgenda, OneAssertMatchingRulesThreeAndOneFiresRuleOneFirst) {
  // Disc 0 feeds alpha 0 (rule 3) before alpha 1 (rule 1); rules 0 and 2
  // hang on disc 1, which nothing passes.
  QelNetwork net(nm("index"));
  net.init(0, 0, 4, 2, 4, 0, 0);
  addClass(net, "A");
  disc(net, 0, 0);
  disc(net, 1, 0, -1, TestContext::disc(0));
  alpha(net, 0, 0);
  alpha(net, 0, 1);
  alpha(net, 1, 2);
  alpha(net, 1, 3);
  rule(net, 3, 0);
  rule(net, 1, 1);
  rule(net, 0, 2);
  rule(net, 2, 3);
  TestContext ctx;
  ctx.discFns[0] = [](QelInfo*) { return false; };
  ctx.init(&net);
  Fact x{7};
  ctx.assertObject(0, &x);
  EXPECT_EQ(ctx.takeLog(),
            (Lines{"assert 7", "addRule R3[7]", "addRule R1[7]"}));
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R1[7]:0", "R3[7]:0"}));
  EXPECT_EQ(ctx.agenda->fireRule(), 1);
  EXPECT_EQ(ctx.agenda->fireRule(), 3);
  EXPECT_EQ(ctx.agenda->fireRule(), -1);
}

TEST(ContextAgenda, TwoInstancesOfOneRuleFromOneAssertFireInReverseInsertion) {
  // Rule 0: A(x), B(y).
  QelNetwork net(nm("pairs"));
  net.init(0, 0, 1, 2, 1, 1, 1);
  addClass(net, "A");
  addClass(net, "B");
  disc(net, 0, 0);
  disc(net, 1, 1, 0);
  alpha(net, 0, 0);
  net.initJoin(joinAt(net, 0), 0, 0, 0, GetQelNullJoin(), 0, -1,
               QelPatternPlain);
  rule(net, 0, 0, 0, GetQelNullPrio(), true);
  TestContext ctx;
  ctx.init(&net);
  Fact b1{11}, b2{12}, x{1};
  ctx.assertObject(1, &b1);
  ctx.assertObject(1, &b2);
  ctx.takeLog();
  ctx.assertObject(0, &x);
  // The join walks its right input newest first.
  EXPECT_EQ(ctx.takeLog(),
            (Lines{"assert 1", "addRule R0[1,12]", "addRule R0[1,11]"}));
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[1,11]:0", "R0[1,12]:0"}));
  EXPECT_EQ(ctx.agenda->fireAllRules(), 2);
}

// Rule 0: A(x) with priority x.a; rule 1: A(x) with static priority 10.
// Alpha 0's no-update mask is given, so mode-2 updates may reach rule 0.
struct DynamicPriority {
  QelNetwork net{nm("dynamic")};
  TestContext ctx;

  explicit DynamicPriority(int noUpdate) {
    net.init(0, 0, 2, 2, 2, 0, 0);
    addClass(net, "A");
    disc(net, 0, 0, -1, TestContext::disc(0));
    disc(net, 1, 0, -1, TestContext::disc(1));
    alpha(net, 0, 0, QelPatternPlain, noUpdate);
    alpha(net, 1, 1);
    rule(net, 0, 0, 0, TestContext::prio(0));
    rule(net, 1, 1, 10);
    ctx.discFns[0] = [](QelInfo* i) { return factOf(i)->id < 10; };
    ctx.discFns[1] = [](QelInfo* i) { return factOf(i)->id >= 10; };
    ctx.prioFns[0] = [](QelPartial* p) { return factAt(p, 1, 0)->a; };
    ctx.init(&net);
  }
};

TEST(ContextAgenda, RefreshThatRaisesAPriorityMovesTheInstance) {
  DynamicPriority d(-1);
  Fact x{1, 0}, y{10};
  d.ctx.assertObject(0, &x);
  d.ctx.assertObject(0, &y);
  EXPECT_EQ(d.ctx.agendaLines(), (Lines{"R1[10]:10", "R0[1]:0"}));
  d.ctx.takeLog();

  x.a = 20;
  d.ctx.updateObject(&x, 1);
  EXPECT_EQ(d.ctx.takeLog(),
            (Lines{"beginUpdate 1", "updateRule R0[1]:20", "endUpdate 1"}));
  EXPECT_EQ(d.ctx.agendaLines(), (Lines{"R0[1]:20", "R1[10]:10"}));

  // Unchanged priority: nothing moves, no hook.
  d.ctx.updateObject(&x, 1);
  EXPECT_EQ(d.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
  EXPECT_EQ(d.ctx.agendaLines(), (Lines{"R0[1]:20", "R1[10]:10"}));

  // Falling back below rule 1 keeps the instance's recency.
  x.a = 5;
  d.ctx.updateObject(&x, 1);
  EXPECT_EQ(d.ctx.takeLog(),
            (Lines{"beginUpdate 1", "updateRule R0[1]:5", "endUpdate 1"}));
  EXPECT_EQ(d.ctx.agendaLines(), (Lines{"R1[10]:10", "R0[1]:5"}));
  EXPECT_EQ(d.ctx.agenda->first->next->recency, 1);
}

TEST(ContextAgenda, PlainUpdateReprioritisesOnlyWhenTheMaskLetsItThrough) {
  DynamicPriority stopped(-1);
  DynamicPriority open(0);
  for (DynamicPriority* d : {&stopped, &open}) {
    Fact x{1, 0}, y{10};
    d->ctx.assertObject(0, &x);
    d->ctx.assertObject(0, &y);
    d->ctx.takeLog();
    x.a = 30;
    d->ctx.updateObject(&x, 0);
    if (d == &stopped) {
      EXPECT_EQ(d->ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
      EXPECT_EQ(d->ctx.agendaLines(), (Lines{"R1[10]:10", "R0[1]:0"}));
    } else {
      EXPECT_EQ(d->ctx.takeLog(), (Lines{"beginUpdate 1",
                                         "updateRule R0[1]:30", "endUpdate 1"}));
      EXPECT_EQ(d->ctx.agendaLines(), (Lines{"R0[1]:30", "R1[10]:10"}));
    }
    // A plain update never makes an instance for a fired match.
    d->ctx.agenda->fireAllRules();
    d->ctx.updateObject(&x, 0);
    EXPECT_TRUE(d->ctx.agendaLines().empty());
    d->ctx.retractObject(&x, 0);
    d->ctx.retractObject(&y, 0);
  }
}

// A moved instance keeps its recency, and among equal priorities the rule
// index decides whenever its recency is not greater: an older instance of
// a lower rule index moves ahead of a newer one.
TEST(ContextAgenda, ReorderedInstanceIsPlacedByRuleIndexOverRecency) {
  for (bool dynamicIsLower : {true, false}) {
    const int dynamicRule = dynamicIsLower ? 1 : 3;
    const int staticRule = dynamicIsLower ? 3 : 1;
    QelNetwork net(nm("reorder"));
    net.init(0, 0, 4, 2, 2, 0, 0);
    addClass(net, "A");
    disc(net, 0, 0, -1, TestContext::disc(0));
    disc(net, 1, 0, -1, TestContext::disc(1));
    alpha(net, 0, 0);
    alpha(net, 1, 1);
    rule(net, dynamicRule, 0, 0, TestContext::prio(0));
    rule(net, staticRule, 1, 5);
    for (int r : {0, 2}) {
      net.initRule(ruleAt(net, r), -1, nm("idle"), GetQelNullPrio(), 0, -1,
                   -1);
    }
    TestContext ctx;
    ctx.discFns[0] = [](QelInfo* i) { return factOf(i)->id == 1; };
    ctx.discFns[1] = [](QelInfo* i) { return factOf(i)->id == 2; };
    ctx.prioFns[0] = [](QelPartial* p) { return factAt(p, 1, 0)->a; };
    ctx.init(&net);
    Fact x{1, 0}, y{2};
    ctx.assertObject(0, &x);
    ctx.assertObject(0, &y);
    x.a = 5;
    ctx.updateObject(&x, 1);
    const std::string moved = "R" + std::to_string(dynamicRule) + "[1]:5";
    const std::string still = "R" + std::to_string(staticRule) + "[2]:5";
    if (dynamicIsLower) {
      EXPECT_EQ(ctx.agendaLines(), (Lines{moved, still}));
    } else {
      EXPECT_EQ(ctx.agendaLines(), (Lines{still, moved}));
    }
  }
}

TEST(ContextAgenda, FireRuleResults) {
  SingleRules s(3, {0, 0, 7}, true);
  s.ctx.init(&s.net);
  s.ctx.takeLog();
  EXPECT_EQ(s.ctx.agenda->fireRule(), -1);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"checkBeginCycle"}));

  Fact x{5};  // bits 0 and 2: rules 0 and 2
  s.ctx.assertObject(0, &x);
  s.ctx.takeLog();
  EXPECT_EQ(s.ctx.agenda->fireRule(), 2);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"checkBeginCycle", "beginRule R2[5]",
                                    "checkEndCycle R2[5]", "endRule"}));
  EXPECT_EQ(s.ctx.agenda->fireRule(), 0);
  EXPECT_EQ(s.ctx.agenda->fireRule(), -1);
  // fireRule leaves the change count alone.
  EXPECT_EQ(s.ctx.agenda->changeCount, 1);
}

TEST(ContextAgenda, FireAllRulesOnAnEmptyAgendaResetsTheChangeCount) {
  SingleRules s(1, {0}, true);
  s.ctx.init(&s.net);
  Fact even{2}, other{4};  // pass no rule
  s.ctx.assertObject(0, &even);
  s.ctx.assertObject(0, &other);
  EXPECT_EQ(s.ctx.agenda->changeCount, 2);
  s.ctx.takeLog();
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"checkBeginCycle"}));
  EXPECT_EQ(s.ctx.agenda->changeCount, 0);
}

TEST(ContextAgenda, AdditionsEqualRemovalsPlusFiringsAfterARun) {
  SingleRules s(2, {0, 3}, true);
  s.ctx.init(&s.net);
  std::vector<Fact> facts{{1}, {2}, {3}, {5}, {6}};
  Fact& victim = facts[3];  // id 5: rule 0 only, priority 0
  s.ctx.actionFns[1] = [&](QelPartial* p) {
    // Rule 1 fires first; one of its actions retracts a waiting match.
    if (factAt(p, 1, 0)->id == 3) s.ctx.retractObject(&victim, 0);
  };
  for (Fact& f : facts) s.ctx.assertObject(0, &f);
  const int fired = s.ctx.agenda->fireAllRules();
  int added = 0, removed = 0, begun = 0;
  for (const std::string& line : s.ctx.takeLog()) {
    added += line.rfind("addRule", 0) == 0;
    removed += line.rfind("removeRule", 0) == 0;
    begun += line.rfind("beginRule", 0) == 0;
  }
  EXPECT_EQ(begun, fired);
  EXPECT_GT(removed, 0);
  EXPECT_EQ(added, removed + begun);
  EXPECT_EQ(s.ctx.agenda->first, nullptr);
}

// An action node that returns -5 on its second call.
int executions = 0;
class StoppingActionNode : public QelActionNode {
 public:
  using QelActionNode::QelActionNode;
  int execute(QelContext* context, QelPartial* partial) override {
    QelActionNode::execute(context, partial);
    return ++executions == 2 ? -5 : 0;
  }
};
class StoppingNetwork : public QelNetwork {
 public:
  StoppingNetwork() : QelNetwork(nm("stopping")) {}
  QelActionNode* newActionNode(QelRuleNode* rule) override {
    return new StoppingActionNode(rule);
  }
};

TEST(ContextAgenda, AnActionNodeResultBelowMinusOneStopsFireAllRules) {
  executions = 0;
  StoppingNetwork net;
  net.init(0, 0, 1, 1, 1, 0, 0);
  addClass(net, "A");
  disc(net, 0, 0);
  alpha(net, 0, 0);
  rule(net, 0, 0);
  ASSERT_NE(dynamic_cast<StoppingActionNode*>(ruleAt(net, 0)->mainAction),
            nullptr);
  TestContext ctx;
  int actions = 0;
  ctx.actionFns[0] = [&](QelPartial*) { ++actions; };
  ctx.init(&net);
  Fact f1{1}, f2{2}, f3{3}, f4{4};
  for (Fact* f : {&f1, &f2, &f3, &f4}) ctx.assertObject(0, f);
  ctx.takeLog();

  EXPECT_EQ(ctx.agenda->fireAllRules(), -4);
  EXPECT_EQ(actions, 2);
  EXPECT_EQ(ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[4]", "checkEndCycle R0[4]",
                   "endRule", "checkBeginCycle", "beginRule R0[3]",
                   "checkEndCycle R0[3]", "endRule", "checkBeginCycle",
                   "checkBeginCycle", "checkBeginCycle"}));
  EXPECT_EQ(ctx.agenda->changeCount, 0);
  EXPECT_EQ(ctx.agenda->first, nullptr);
  // The discarded instances left their partials: a refresh makes new ones.
  ctx.updateObject(&f2, 1);
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[2]:0"}));
  // fireRule passes the action node's own result on.
  EXPECT_EQ(ctx.agenda->fireRule(), 0);  // third execution: 0 -> rule index
  executions = 1;
  ctx.updateObject(&f1, 1);
  EXPECT_EQ(ctx.agenda->fireRule(), -5);
}

// Rule 0 (priority 10) on facts with bit 0; rule 1 on facts with bit 1.
TEST(ContextAgenda, RetractInsideAnActionRemovesTheWaitingInstance) {
  SingleRules s(2, {10, 0}, true);
  s.ctx.init(&s.net);
  Fact x{1}, y{2};
  s.ctx.assertObject(0, &x);
  s.ctx.assertObject(0, &y);
  s.ctx.actionFns[0] = [&](QelPartial*) { s.ctx.retractObject(&y, 0); };
  std::vector<int> fired;
  s.ctx.actionFns[1] = [&](QelPartial* p) { fired.push_back(factAt(p, 1, 0)->id); };
  s.ctx.takeLog();
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), 1);
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "retract 2", "removeRule R1[2]", "endRule",
                   "checkBeginCycle"}));
  EXPECT_TRUE(fired.empty());
}

TEST(ContextAgenda, RefreshInsideItsOwnActionFiresAgainInTheSameRun) {
  SingleRules s(1, {0}, false);
  s.ctx.init(&s.net);
  Fact x{1};
  s.ctx.assertObject(0, &x);
  int runs = 0;
  s.ctx.actionFns[0] = [&](QelPartial*) {
    if (++runs == 1) s.ctx.updateObject(&x, 1);
  };
  s.ctx.takeLog();
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), 2);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "beginUpdate 1", "addRule R0[1]", "endUpdate 1", "endRule",
                   "checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "endRule", "checkBeginCycle"}));
  // A plain update from inside the action makes none.
  runs = 0;
  s.ctx.actionFns[0] = [&](QelPartial*) { s.ctx.updateObject(&x, 0); };
  s.ctx.updateObject(&x, 1);
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), 1);
}

TEST(ContextAgenda, AssertInsideAnActionFeedsALaterCycle) {
  // Rule 0 on class A asserts a B; rule 1 on class B.
  QelNetwork net(nm("chain"));
  net.init(0, 0, 2, 2, 2, 0, 0);
  addClass(net, "A");
  addClass(net, "B");
  disc(net, 0, 0);
  disc(net, 1, 1);
  alpha(net, 0, 0);
  alpha(net, 1, 1);
  rule(net, 0, 0, 5);
  rule(net, 1, 1);
  TestContext ctx;
  Fact made{9};
  ctx.actionFns[0] = [&](QelPartial*) { ctx.assertObject(1, &made); };
  ctx.init(&net);
  Fact x{1};
  ctx.assertObject(0, &x);
  ctx.takeLog();
  EXPECT_EQ(ctx.agenda->fireAllRules(), 2);
  EXPECT_EQ(ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "assert 9", "addRule R1[9]", "endRule", "checkBeginCycle",
                   "beginRule R1[9]", "checkEndCycle R1[9]", "endRule",
                   "checkBeginCycle"}));
}

// Rule 0 (priority 10): A(x), whose action retracts everything; rule 1:
// not A; rule 2: A(x). The reset drops rule 2's waiting instance silently
// and the seeding gives rule 1 one that fires in the same run.
TEST(ContextAgenda, RetractAllInsideAnActionEmptiesTheAgendaAndReseeds) {
  QelNetwork net(nm("wipe"));
  net.init(0, 0, 3, 1, 3, 0, 0);
  TestClassNode* a = addClass(net, "A");
  disc(net, 0, 0);
  alpha(net, 0, 0);
  alpha(net, 0, 1, QelPatternNot);
  alpha(net, 0, 2);
  rule(net, 0, 0, 10);
  rule(net, 1, 1);
  rule(net, 2, 2);
  TestContext ctx;
  ctx.actionFns[0] = [&](QelPartial*) { ctx.retractAll(); };
  ctx.init(&net);
  ctx.assertObject(0, new Fact{1});
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[1]:10", "R2[1]:0"}));
  ctx.takeLog();
  EXPECT_EQ(ctx.agenda->fireAllRules(), 2);
  EXPECT_EQ(ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "beginRetractAll", "endRetractAll", "addRule R1[_]",
                   "endRule", "checkBeginCycle", "beginRule R1[_]",
                   "checkEndCycle R1[_]", "endRule", "checkBeginCycle"}));
  EXPECT_EQ(a->deleted, 1);
}

TEST(ContextAgenda, RetractingTheFiringObjectInsideItsActionIsSafe) {
  SingleRules s(1, {0}, false);
  s.ctx.init(&s.net);
  Fact* x = new Fact{1};
  s.ctx.assertObject(0, x);
  s.ctx.actionFns[0] = [&](QelPartial* p) {
    EXPECT_EQ(factAt(p, 1, 0), x);
    s.ctx.retractObject(x, 1);
  };
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), 1);
  EXPECT_EQ(s.a->deleted, 1);
  EXPECT_EQ(s.ctx.objectTable->count, 0);
}

// waitDepth 0 means no wait: the partials are plain and no reference count
// is touched when instances are made, fired, removed or discarded.
TEST(ContextAgenda, RuleWithWaitDepthZeroRunsOnPlainPartials) {
  executions = 0;
  StoppingNetwork net;
  // Rule 0: A(x) (waitDepth 0, priority from x.a); rule 1: A(x), B(y)
  // (waitDepth 0).
  net.init(0, 0, 2, 2, 1, 1, 1);
  addClass(net, "A");
  addClass(net, "B");
  disc(net, 0, 0);
  disc(net, 1, 1, 0);
  alpha(net, 0, 0);
  net.initJoin(joinAt(net, 0), 0, 0, 0, GetQelNullJoin(), 0, -1,
               QelPatternPlain);
  net.initRule(ruleAt(net, 0), -1, nm("zero"), TestContext::prio(0), 0, -1, 0);
  net.initAction(0, TestContext::action(0), 0, 0, 0);
  net.initRule(ruleAt(net, 1), -1, nm("zeroJoin"), GetQelNullPrio(), 0, 0, 0);
  net.initAction(1, TestContext::action(1), 0, 1, 0);
  TestContext ctx;
  ctx.prioFns[0] = [](QelPartial* p) { return factAt(p, 1, 0)->a; };
  ctx.init(&net);
  Fact x{1, 3}, y{2}, z{3, 1};
  ctx.assertObject(0, &x);
  ctx.assertObject(1, &y);
  ctx.assertObject(0, &z);
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[1]:3", "R0[3]:1", "R1[3,2]:0",
                                      "R1[1,2]:0"}));
  EXPECT_EQ(dynamic_cast<QelRefCountedPartial*>(ctx.agenda->first->partial),
            nullptr);
  // Fire one, remove one with its partial, discard the rest after a stop.
  EXPECT_EQ(ctx.agenda->fireRule(), 0);
  ctx.retractObject(&z, 0);
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R1[1,2]:0"}));
  ctx.assertObject(0, &z);
  EXPECT_EQ(ctx.agenda->fireAllRules(), -4);
  EXPECT_EQ(ctx.agenda->first, nullptr);
  ctx.retractObject(&y, 0);
  ctx.retractObject(&x, 0);
  ctx.retractObject(&z, 0);
  EXPECT_EQ(ctx.objectTable->count, 0);
}

}  // namespace

// Many priority levels filled and emptied in a scrambled order: the agenda
// stays sorted by priority, then recency, then rule index, whichever level
// an instance joins, leaves or starts.
TEST(ContextAgenda, ScrambledLevelsStaySortedAsTheyFillAndEmpty) {
  const std::vector<int> priorities{3, 1, 3, 7, -2, 5, 7, 3};
  SingleRules s(8, priorities, true);
  s.ctx.logging = false;
  s.ctx.init(&s.net);
  std::vector<Fact> facts;
  for (int i = 0; i < 120; ++i) facts.push_back(Fact{(i * 37 + 11) % 256});
  auto expectSorted = [&s](int expectedCount) {
    int count = 0;
    QelInstance* previous = nullptr;
    for (QelInstance* i = s.ctx.agenda->first; i != nullptr; i = i->next) {
      EXPECT_EQ(i->previous, previous);
      if (previous != nullptr) {
        const bool inOrder =
            previous->priority > i->priority ||
            (previous->priority == i->priority &&
             (previous->recency > i->recency ||
              (previous->recency == i->recency &&
               previous->ruleIndex() < i->ruleIndex())));
        EXPECT_TRUE(inOrder) << "at instance " << count;
      }
      previous = i;
      ++count;
    }
    EXPECT_EQ(count, expectedCount);
  };
  auto matches = [](const Fact& f) { return __builtin_popcount(f.id & 0xFF); };
  int expected = 0;
  for (Fact& f : facts) {
    s.ctx.assertObject(0, &f);
    expected += matches(f);
  }
  expectSorted(expected);
  // Retract every third fact, the newest among them (the heads of their
  // levels), then assert them again on top of the rest.
  for (size_t i = 2; i < facts.size(); i += 3) {
    s.ctx.retractObject(&facts[i], 0);
    expected -= matches(facts[i]);
  }
  expectSorted(expected);
  for (size_t i = 2; i < facts.size(); i += 3) {
    s.ctx.assertObject(0, &facts[i]);
    expected += matches(facts[i]);
  }
  expectSorted(expected);
  // Firing takes the instances in that order and empties every level.
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), expected);
  EXPECT_EQ(s.ctx.agenda->first, nullptr);
  Fact late{0xFF};  // one instance per rule, in a fresh agenda
  s.ctx.assertObject(0, &late);
  expectSorted(8);
}
