// Reference-counted partials below a wait join deleted in the middle of
// their own action. That expired matches stay while their instance does,
// go with it, and are given back by a stopped fireAllRules is the model
// test's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "join/join_wait.h"
#include "memory/alpha_mem.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// Packet "Main" (0). A(x) opens a window until x.a (J0, wait, ticked by T).
// J1 adds B(y) with y.a == x.id, J2 adds C(z) with z.a == x.id.
// R0 (Main): through J2, wait depth 3. R3: through J1, wait depth 2.
// R1: S(s), priority 100.
// R2: Main is idle (packet pattern at the head).
struct ReleaseRules {
  char name[8] = "release";
  char mainName[8] = "Main";
  QelNetwork net{name};
  TestClassNode* classes[5];
  TestContext ctx;

  ReleaseRules() {
    net.init(0, 1, 4, 5, 3, 3, 3);
    const char* names[5] = {"A", "B", "C", "T", "S"};
    for (int c = 0; c < 5; ++c) classes[c] = addClass(net, names[c]);
    net.initPacket(packetAt(net, 0), mainName, 0, 0);
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 0, GetQelNullDisc());
    net.initDisc(discAt(net, 2), 2, 1, GetQelNullDisc());
    net.initDisc(discAt(net, 3), 3, 2, GetQelNullDisc());
    net.initDisc(discAt(net, 4), 4, -1, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    net.addAlphaNode(discAt(net, 4), 1, -1, QelPatternPlain);
    packetAt(net, 0)->addAlphaNode(QelPacketIdle, 2);
    net.initJoin(joinAt(net, 0), 0, 0, 2, GetQelNullJoin(), 0, 0,
                 QelPatternWait);
    joinAt(net, 0)->waitTimeFunction = TestContext::wait(0);
    net.initJoin(joinAt(net, 1), 1, 0, 0, TestContext::join(1), 0, 0,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 2), 1, 1, 1, TestContext::join(2), 0, 0,
                 QelPatternPlain);
    net.initRule(ruleAt(net, 0), 0, const_cast<char*>("full"),
                 GetQelNullPrio(), 0, 2, 3);
    net.initRule(ruleAt(net, 1), -1, const_cast<char*>("stop"),
                 GetQelNullPrio(), 100, -1, -1);
    net.initRule(ruleAt(net, 2), -1, const_cast<char*>("idle"),
                 GetQelNullPrio(), 0, -1, -1);
    net.initRule(ruleAt(net, 3), -1, const_cast<char*>("half"),
                 GetQelNullPrio(), 0, 1, 2);
    net.initAction(0, TestContext::action(0), 0, 1, 2);
    net.initAction(0, TestContext::action(4), 1, 1, 0);
    net.initAction(1, TestContext::action(1), 0, 0, 1);
    net.initAction(2, TestContext::action(2), 0, 0, 2);
    net.initAction(3, TestContext::action(3), 0, 1, 1);
    net.initAction(3, TestContext::action(5), 1, 1, 0);
    ctx.waitFns[0] = [](QelPartial* p) { return factOf(p->record)->a; };
    ctx.joinFns[1] = [](QelPartial* p, QelInfo* i) {
      return factOf(i)->a == factAt(p, 2, 0)->id;
    };
    ctx.joinFns[2] = [](QelPartial* p, QelInfo* i) {
      return factOf(i)->a == factAt(p, 3, 0)->id;
    };
    ctx.init(&net);
  }

  QelJoinMemWait* waits() { return static_cast<QelJoinMemWait*>(ctx.joinMems[0]); }
  QelWaitPartial* waitOf(const Fact& f) {
    for (QelPartial* p = waits()->partials; p; p = p->nextInMemory) {
      if (p->parent->record->object == &f) return static_cast<QelWaitPartial*>(p);
    }
    return nullptr;
  }
  QelRefCountedPartial* held(int join) {
    return static_cast<QelRefCountedPartial*>(ctx.joinMems[join]->partials);
  }
  // A window on x, completed by a B and a C.
  void complete(Fact& x, Fact& y, Fact& z) {
    ctx.assertObject(0, &x);
    ctx.assertObject(1, &y);
    ctx.assertObject(2, &z);
  }
  void tick(int time, Fact& t) {
    ctx.time = time;
    ctx.assertObject(3, &t);
  }
  QelPacketMem* main() { return ctx.packetMems[0]; }
};

TEST(WaitRelease, ActionDeletingItsOwnPartial) {
  ReleaseRules r;
  Fact x{1, 10}, y{2, 1}, z{3, 1};
  r.ctx.actionFns[0] = [&](QelPartial*) { r.ctx.retractObject(&z, 0); };
  r.ctx.actionFns[3] = [&](QelPartial*) { r.ctx.retractObject(&x, 0); };
  r.complete(x, y, z);
  r.ctx.takeLog();
  // R0's action takes away its C: the partial it fires on is deleted at
  // once, and the agenda must leave it alone afterwards.
  EXPECT_EQ(r.ctx.agenda->fireRule(), 0);
  EXPECT_EQ(r.held(2), nullptr);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1,_,2,3]",
                   "checkEndCycle R0[1,_,2,3]", "retract 3", "endRule"}));
  EXPECT_EQ(r.main()->pendingCount, 0);

  // R3's action retracts the head: the wait and its half match go.
  EXPECT_EQ(r.ctx.agenda->fireRule(), 3);
  EXPECT_EQ(r.waits()->partials, nullptr);
  EXPECT_EQ(r.held(1), nullptr);
  EXPECT_EQ(r.ctx.agenda->first, nullptr);
}

TEST(WaitRelease, WatchdogActionDeletingTheWait) {
  ReleaseRules r;
  Fact x{1, 10}, t{4};
  r.ctx.actionFns[4] = [&](QelPartial*) { r.ctx.retractObject(&x, 0); };
  r.ctx.assertObject(0, &x);
  r.tick(10, t);
  ASSERT_EQ(r.ctx.agendaLines(), (Lines{"R0[1,_]:0", "R3[1,_]:0"}));
  r.ctx.takeLog();
  // The other watchdog instance goes with the wait.
  EXPECT_EQ(r.ctx.agenda->fireAllRules(), 1);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1,_]",
                   "checkEndCycle R0[1,_]", "retract 1",
                   "removeWatchdog [1,_]", "removeRule R3[1,_]", "endRule",
                   "checkBeginCycle"}));
  EXPECT_EQ(r.waits()->partials, nullptr);
}

}  // namespace
