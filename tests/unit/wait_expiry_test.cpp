// Wait joins where the model test does not reach: two watchdog rules on one
// time window (the model gives each window one), and a wait join whose
// no-update mask stops an update (the model never sets one: it would stop
// a refresh too). Expiry, re-arming, completion and retraction with one
// watchdog rule are the model test's.
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

  // Sets the time and asserts a tick, which reaches the wait join through
  // its right memory.
  void tick(int time, Fact& t) {
    ctx.time = time;
    ctx.assertObject(3, &t);
  }
};

TEST(WaitExpiry, CompletionDisablesOnlyItsOwnRulesWatchdog) {
  WaitRules w;
  Fact x{1, 10}, y{2, 1}, t{3}, late{5, 1};
  w.ctx.assertObject(0, &x);
  w.ctx.assertObject(1, &y);
  // The main action's priority is computed on the wait partial.
  EXPECT_EQ(w.prioSawWait, (std::vector<bool>{true}));
  w.ctx.takeLog();
  w.tick(10, t);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"assert 3", "addRule R1[1,_]", "removeWatchdog [1,_]"}));
  // An expired wait yields no new children.
  w.ctx.assertObject(1, &late);
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_,2]:20", "R1[1,_]:0"}));
  EXPECT_EQ(w.ctx.agenda->fireAllRules(), 2);
  EXPECT_EQ(w.fired, (Lines{"R0[1,_,2]", "W1[1,_]"}));
}

TEST(WaitExpiry, AlreadyDueWaitFiresEveryWatchdogAtOnce) {
  WaitRules w;
  Fact x{1, 10}, y{2, 1};
  w.ctx.time = 10;
  w.ctx.takeLog();
  w.ctx.assertObject(0, &x);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"assert 1", "addRule R0[1,_]", "addRule R1[1,_]"}));
  // Not passed on: a matching B finds no parent to extend.
  w.ctx.assertObject(1, &y);
  EXPECT_EQ(w.ctx.joinMems[1]->partials, nullptr);
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_]:20", "R1[1,_]:0"}));
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
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R0[1,_,2]:20", "R1[1,_]:0"}));
}

}  // namespace
