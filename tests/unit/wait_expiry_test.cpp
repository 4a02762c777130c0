// Wait joins end to end: arming watchdogs on a time window, rules that
// complete in time disabling theirs, expiry through the wait node's right
// memory, deadlines already due, moved by updates, and retraction.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "join/join_wait.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// A(x) opens a window until x.a (J0, wait; its right input is the tick
// class T). R0: the window, then B(y) with y.a == x.id (J1). R1: the
// window, then C(z) with z.a == x.id (J2). Both rules have wait depth 2, so
// J1 and J2 disable their watchdogs, anchored at J0. R0 takes its priority
// from the wait partial.
struct WaitRules {
  char name[8] = "waits";
  QelNetwork net{name};
  TestClassNode* a;
  TestContext ctx;
  std::vector<std::string> fired;
  std::vector<bool> prioSawWait;
  int j1Calls = 0;

  explicit WaitRules(int j0NoUpdate = 0) {
    net.init(0, 0, 2, 4, 1, 3, 3);
    a = addClass(net, "A");
    addClass(net, "B");
    addClass(net, "C");
    addClass(net, "T");
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 0, GetQelNullDisc());
    net.initDisc(discAt(net, 2), 2, 1, GetQelNullDisc());
    net.initDisc(discAt(net, 3), 3, 2, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    net.initJoin(joinAt(net, 0), 0, 0, 2, GetQelNullJoin(), 0, j0NoUpdate,
                 QelPatternWait);
    joinAt(net, 0)->waitTimeFunction = TestContext::wait(0);
    net.initJoin(joinAt(net, 1), 1, 0, 0, TestContext::join(1), 0, 0,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 2), 1, 0, 1, TestContext::join(2), 0, 0,
                 QelPatternPlain);
    net.initRule(ruleAt(net, 0), -1, const_cast<char*>("viaB"),
                 TestContext::prio(0), 0, 1, 2);
    net.initRule(ruleAt(net, 1), -1, const_cast<char*>("viaC"),
                 GetQelNullPrio(), 0, 2, 2);
    net.initAction(0, TestContext::action(0), 0, 1, 1);
    net.initAction(0, TestContext::action(2), 1, 1, 0);
    net.initAction(1, TestContext::action(1), 0, 1, 2);
    net.initAction(1, TestContext::action(3), 1, 1, 0);
    ctx.waitFns[0] = [](QelPartial* p) { return factOf(p->record)->a; };
    ctx.joinFns[1] = [this](QelPartial* p, QelInfo* i) {
      ++j1Calls;
      return factOf(i)->a == factAt(p, 2, 0)->id;
    };
    ctx.joinFns[2] = [](QelPartial* p, QelInfo* i) {
      return factOf(i)->a == factAt(p, 2, 0)->id;
    };
    // Both the main action (through tailn) and the watchdog action must be
    // given the wait partial, whose record is null.
    ctx.prioFns[0] = [this](QelPartial* p) {
      prioSawWait.push_back(p->record == nullptr);
      return p->record == nullptr ? 20 : 99;
    };
    const char* names[4] = {"R0", "R1", "W0", "W1"};
    for (int i = 0; i < 4; ++i) {
      ctx.actionFns[i] = [this, names, i](QelPartial* p) {
        fired.push_back(names[i] + tupleOf(p));
      };
    }
    ctx.init(&net);
  }

  QelJoinMemWait* waits() { return static_cast<QelJoinMemWait*>(ctx.joinMems[0]); }
  QelWaitPartial* waitOf(const Fact& f) {
    for (QelPartial* p = waits()->partials; p; p = p->nextInMemory) {
      if (p->parent->record->object == &f) return static_cast<QelWaitPartial*>(p);
    }
    return nullptr;
  }
  // Ids of the parents on the pending list, earliest deadline first.
  std::vector<int> pendingIds() {
    std::vector<int> ids;
    for (QelWaitPartial* w = waits()->pendingHead; w; w = w->nextPending) {
      ids.push_back(factOf(w->parent->record)->id);
    }
    return ids;
  }
  std::vector<int> pendingIdsBackwards() {
    std::vector<int> ids;
    for (QelWaitPartial* w = waits()->pendingTail; w; w = w->prevPending) {
      ids.insert(ids.begin(), factOf(w->parent->record)->id);
    }
    return ids;
  }
  bool watchdogDisabled(QelWaitPartial* w, int rule) {
    return w->findWatchdog(ctx.ruleMems[rule])->disabled != 0;
  }
  // Sets the time and asserts a tick, which reaches the wait join through
  // its right memory.
  void tick(int time, Fact& t) {
    ctx.time = time;
    ctx.assertObject(3, &t);
  }
  static std::vector<std::string> only(const Lines& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : log) {
      if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    }
    return out;
  }
};

TEST(WaitExpiry, FutureDeadlineArmsOneWatchdogPerRule) {
  WaitRules w;
  Fact x{1, 10};
  w.ctx.takeLog();
  w.ctx.assertObject(0, &x);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"assert 1", "addWatchdog R0[1,_]", "addWatchdog R1[1,_]"}));
  QelWaitPartial* wait = w.waitOf(x);
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(wait->deadline, 10);
  EXPECT_EQ(wait->record, nullptr);
  EXPECT_EQ(wait->owner, nullptr);
  EXPECT_EQ(wait->removed, 0);
  EXPECT_EQ(wait->watchdogs.length(), 2);
  EXPECT_NE(wait->findWatchdog(w.ctx.ruleMems[0]), nullptr);
  EXPECT_NE(wait->findWatchdog(w.ctx.ruleMems[1]), nullptr);
  EXPECT_EQ(w.waits()->pendingHead, wait);
  EXPECT_EQ(w.waits()->pendingTail, wait);
  EXPECT_EQ(w.waits()->childTable.find(wait->parent), wait);
  EXPECT_EQ(w.waits()->watchdogRuleMemCount, 2);
  EXPECT_EQ(w.ctx.agenda->waitJoinMems.length(), 1);
}

TEST(WaitExpiry, MatchInTimeDisablesItsOwnWatchdogOnly) {
  WaitRules w;
  Fact x{1, 10}, y{2, 1}, t{3};
  w.ctx.assertObject(0, &x);
  w.ctx.takeLog();
  w.ctx.assertObject(1, &y);
  EXPECT_EQ(w.ctx.takeLog(), (Lines{"assert 2", "addRule R0[1,_,2]",
                                    "disableWatchdog R0[1,_,2]"}));
  QelWaitPartial* wait = w.waitOf(x);
  EXPECT_TRUE(w.watchdogDisabled(wait, 0));
  EXPECT_FALSE(w.watchdogDisabled(wait, 1));
  // The main action's priority is computed on the wait partial.
  EXPECT_EQ(w.prioSawWait, (std::vector<bool>{true}));
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_,2]:20"}));

  // One tick short of the deadline: nothing expires.
  Fact early{4};
  w.tick(9, early);
  EXPECT_EQ(w.pendingIds(), (std::vector<int>{1}));
  w.ctx.takeLog();

  w.tick(10, t);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"assert 3", "addRule R1[1,_]", "removeWatchdog [1,_]"}));
  EXPECT_EQ(wait->removed, 1);
  EXPECT_TRUE(wait->watchdogs.isEmpty());
  EXPECT_EQ(w.waits()->pendingHead, nullptr);
  EXPECT_EQ(w.waits()->pendingTail, nullptr);
  // Still listed and indexed by the join.
  EXPECT_EQ(w.waits()->partials, wait);
  EXPECT_EQ(w.waits()->childTable.find(wait->parent), wait);

  // An expired wait yields no new children.
  Fact late{5, 1};
  w.ctx.assertObject(1, &late);
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_,2]:20", "R1[1,_]:0"}));

  EXPECT_EQ(w.ctx.agenda->fireAllRules(), 2);
  EXPECT_EQ(w.fired, (Lines{"R0[1,_,2]", "W1[1,_]"}));
}

TEST(WaitExpiry, WatchdogInstanceGetsTheWholeWaitPartial) {
  WaitRules w;
  Fact x{1, 10}, t{3};
  w.ctx.assertObject(0, &x);
  w.tick(10, t);
  // R0's watchdog fires too now; its priority function sees the wait
  // partial itself.
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_]:20", "R1[1,_]:0"}));
  EXPECT_EQ(w.prioSawWait, (std::vector<bool>{true}));
  w.ctx.agenda->fireAllRules();
  EXPECT_EQ(w.fired, (Lines{"W0[1,_]", "W1[1,_]"}));
  // Both watchdog instances gave their reference back.
  EXPECT_EQ(w.waitOf(x)->refCount, 0);
}

TEST(WaitExpiry, AlreadyDueWaitFiresEveryWatchdogAtOnce) {
  WaitRules w;
  Fact x{1, 10}, y{2, 1};
  w.ctx.time = 10;
  w.ctx.takeLog();
  w.ctx.assertObject(0, &x);
  // No entries are armed; every watchdog rule fires, in mode 1.
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"assert 1", "addRule R0[1,_]", "addRule R1[1,_]"}));
  QelWaitPartial* wait = w.waitOf(x);
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(wait->removed, 1);
  EXPECT_TRUE(wait->watchdogs.isEmpty());
  EXPECT_EQ(w.waits()->pendingHead, nullptr);
  EXPECT_EQ(w.waits()->childTable.find(wait->parent), wait);
  // Not passed on: a matching B finds no parent to extend.
  w.ctx.assertObject(1, &y);
  EXPECT_EQ(w.ctx.joinMems[1]->partials, nullptr);

  // A refresh of the parent is passed on by the expired wait, which still
  // yields no child, and nothing is armed or fired again.
  w.ctx.takeLog();
  const int calls = w.j1Calls;
  w.ctx.updateObject(&x, 1);
  EXPECT_EQ(w.j1Calls - calls, 1);
  EXPECT_EQ(w.ctx.joinMems[1]->partials, nullptr);
  EXPECT_EQ(w.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_]:20", "R1[1,_]:0"}));
}

TEST(WaitExpiry, PendingListIsSortedAndTiesKeepEnqueueOrder) {
  WaitRules w;
  Fact f1{1, 10}, f2{2, 5}, f3{3, 10}, f4{4, 7}, f5{5, 12};
  for (Fact* f : {&f1, &f2, &f3, &f4, &f5}) w.ctx.assertObject(0, f);
  EXPECT_EQ(w.pendingIds(), (std::vector<int>{2, 4, 1, 3, 5}));
  EXPECT_EQ(w.pendingIdsBackwards(), (std::vector<int>{2, 4, 1, 3, 5}));
  w.ctx.takeLog();

  Fact t{9};
  w.tick(10, t);
  EXPECT_EQ(WaitRules::only(w.ctx.takeLog(), "removeWatchdog"),
            (Lines{"removeWatchdog [2,_]", "removeWatchdog [4,_]",
                   "removeWatchdog [1,_]", "removeWatchdog [3,_]"}));
  EXPECT_EQ(w.pendingIds(), (std::vector<int>{5}));
  EXPECT_EQ(w.waits()->pendingTail, w.waitOf(f5));
  EXPECT_EQ(w.waitOf(f5)->prevPending, nullptr);

  // Updating the tick runs the expiry as well.
  w.ctx.time = 12;
  w.ctx.updateObject(&t, 0);
  EXPECT_EQ(WaitRules::only(w.ctx.takeLog(), "removeWatchdog"),
            (Lines{"removeWatchdog [5,_]"}));
  EXPECT_EQ(w.waits()->pendingHead, nullptr);
}

TEST(WaitExpiry, UpdateKeepingTheDeadlineAheadRearms) {
  // J0 does not pass the update on, so J1 does not disable R0 again.
  WaitRules w(-1);
  Fact x{1, 10}, y{2, 5}, b{3, 1};
  w.ctx.assertObject(0, &x);
  w.ctx.assertObject(0, &y);
  w.ctx.assertObject(1, &b);  // R0 completes on x
  w.ctx.takeLog();
  x.a = 3;
  w.ctx.updateObject(&x, 0);
  EXPECT_EQ(WaitRules::only(w.ctx.takeLog(), "addWatchdog"),
            (Lines{"addWatchdog R0[1,_]", "addWatchdog R1[1,_]"}));
  EXPECT_EQ(w.pendingIds(), (std::vector<int>{1, 2}));
  // The entries stay as they were: R0's is still disabled.
  QelWaitPartial* wait = w.waitOf(x);
  EXPECT_EQ(wait->deadline, 3);
  EXPECT_EQ(wait->watchdogs.length(), 2);
  EXPECT_TRUE(w.watchdogDisabled(wait, 0));

  Fact t{9};
  w.tick(4, t);
  EXPECT_EQ(w.pendingIds(), (std::vector<int>{2}));
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_,3]:20", "R1[1,_]:0"}));
}

TEST(WaitExpiry, UpdateIntoThePastExpiresAndIsStillEmitted) {
  WaitRules w;
  Fact x{1, 10}, b{2, 1};
  w.ctx.assertObject(0, &x);
  w.ctx.assertObject(1, &b);
  w.ctx.takeLog();
  const int calls = w.j1Calls;
  x.a = 0;  // due at time 0
  w.ctx.updateObject(&x, 0);
  // The watchdog that was not disabled fires, the wait leaves the pending
  // list; then the update goes on and J1 re-emits the old match, whose
  // watchdog entry is gone now: the hook is called, nothing is marked.
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"beginUpdate 1", "addRule R1[1,_]", "removeWatchdog [1,_]",
                   "disableWatchdog R0[1,_,2]", "endUpdate 1"}));
  EXPECT_EQ(w.j1Calls - calls, 1);
  QelWaitPartial* wait = w.waitOf(x);
  EXPECT_EQ(wait->removed, 1);
  EXPECT_EQ(w.waits()->pendingHead, nullptr);
  // The match below expired with it but stays while its instance holds it.
  QelRefCountedPartial* match =
      static_cast<QelRefCountedPartial*>(w.ctx.joinMems[1]->partials);
  ASSERT_NE(match, nullptr);
  EXPECT_EQ(match->removed, 1);
  EXPECT_EQ(match->refCount, 1);

  // An expired wait only records a new deadline.
  w.ctx.takeLog();
  x.a = 50;
  w.ctx.updateObject(&x, 0);
  EXPECT_EQ(wait->deadline, 50);
  EXPECT_EQ(w.waits()->pendingHead, nullptr);
  EXPECT_TRUE(WaitRules::only(w.ctx.takeLog(), "addWatchdog").empty());
}

TEST(WaitExpiry, UpdateIntoThePastIsNotEmittedWhenMasked) {
  WaitRules w(-1);
  Fact x{1, 10}, b{2, 1};
  w.ctx.assertObject(0, &x);
  w.ctx.assertObject(1, &b);
  w.ctx.takeLog();
  const int calls = w.j1Calls;
  x.a = 0;
  w.ctx.updateObject(&x, 0);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"beginUpdate 1", "addRule R1[1,_]", "removeWatchdog [1,_]",
                   "endUpdate 1"}));
  EXPECT_EQ(w.j1Calls, calls);
  EXPECT_EQ(w.waitOf(x)->removed, 1);
}

TEST(WaitExpiry, UpdateBelowAnExpiredWaitMarksNothing) {
  WaitRules w;
  Fact x{1, 10}, b{2, 1}, t{3};
  w.ctx.assertObject(0, &x);
  w.ctx.assertObject(1, &b);
  w.tick(10, t);
  ASSERT_TRUE(w.waitOf(x)->watchdogs.isEmpty());
  w.ctx.takeLog();
  // J1 re-matches the changed B with the expired wait and emits the match
  // again; its rule's watchdog entry was consumed by the expiry.
  w.ctx.updateObject(&b, 1);
  EXPECT_EQ(w.ctx.takeLog(), (Lines{"beginUpdate 2",
                                    "disableWatchdog R0[1,_,2]",
                                    "endUpdate 2"}));
  EXPECT_TRUE(w.waitOf(x)->watchdogs.isEmpty());
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_,2]:20", "R1[1,_]:0"}));
}

TEST(WaitExpiry, RetractingTheParentDeletesTheWait) {
  WaitRules w;
  Fact x{1, 10}, b{2, 1}, t{3}, y{4, 20};
  w.ctx.assertObject(0, &x);
  w.ctx.assertObject(0, &y);
  w.ctx.assertObject(1, &b);
  w.tick(10, t);
  w.ctx.takeLog();
  // Expired: the hook is called again, then the wait goes with what hangs
  // on it.
  w.ctx.retractObject(&x, 0);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"retract 1", "removeWatchdog [1,_]", "removeRule R0[1,_,2]",
                   "removeRule R1[1,_]"}));
  EXPECT_EQ(w.waitOf(x), nullptr);
  EXPECT_EQ(w.waits()->childTable.size(), 1u);
  EXPECT_EQ(w.ctx.joinMems[1]->partials, nullptr);
  EXPECT_EQ(w.ctx.agenda->first, nullptr);

  // Pending: taken off the list as well.
  w.ctx.retractObject(&y, 0);
  EXPECT_EQ(w.ctx.takeLog(), (Lines{"retract 4", "removeWatchdog [4,_]"}));
  EXPECT_EQ(w.waits()->partials, nullptr);
  EXPECT_EQ(w.waits()->pendingHead, nullptr);
  EXPECT_EQ(w.waits()->pendingTail, nullptr);
  EXPECT_EQ(w.waits()->childTable.size(), 0u);
}

}  // namespace
