// A watchdog rule that belongs to a packet: its instance, made while the
// expiry runs, changes the packet's state, and the re-evaluation retracts
// the very wait that is expiring. The expiry must stop touching it.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace qeltest;

namespace {

// Rule 0 (packet "p"): p is idle, Order(o), then o waits 5 time units;
// its watchdog fires when the wait expires.
struct IdleWatchdog {
  char name[8] = "idlewd";
  QelNetwork net{name};
  TestContext ctx;

  IdleWatchdog() {
    net.init(0, 1, 1, 2, 1, 2, 2);
    addClass(net, "Order", 1);
    addClass(net, "Tick", 1);
    net.initPacket(packetAt(net, 0), const_cast<char*>("p"), 0, 0);
    net.initDisc(discAt(net, 0), 0, 0, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 1, GetQelNullDisc());
    packetAt(net, 0)->addAlphaNode(QelPacketIdle, 0);
    net.initJoin(joinAt(net, 0), 0, 0, 0, GetQelNullJoin(), 0, -1,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 1), 1, 0, 1, GetQelNullJoin(), 0, -1,
                 QelPatternWait);
    joinAt(net, 1)->waitTimeFunction = TestContext::wait(0);
    net.initRule(ruleAt(net, 0), 0, const_cast<char*>("late"),
                 GetQelNullPrio(), 0, 1, 1);
    net.initAction(0, TestContext::action(0), 1, 1, 1);
    ctx.waitFns[0] = [this](QelPartial*) { return ctx.time + 5; };
    ctx.init(&net);
  }
};

TEST(WaitPacketWatchdog, ExpiryStopsOnAWaitItsWatchdogRetracted) {
  IdleWatchdog w;
  unsigned char found = 0;
  w.ctx.activatePacket("p", &found);
  ASSERT_EQ(found, 1);
  Fact order{1}, tick{2};
  w.ctx.assertObject(0, &order);
  w.ctx.takeLog();

  w.ctx.time = 5;
  w.ctx.assertObject(1, &tick);
  // The watchdog instance deblocks "p"; the idle pattern goes, taking the
  // wait and the instance along; "p" blocks again and a new wait, due at
  // 10, is armed.
  EXPECT_EQ(w.ctx.takeLog(),
            (std::vector<std::string>{
                "assert 2", "addRule R0[_,1,_]", "deblockPacket p state 1",
                "removeWatchdog [_,1,_]", "removeRule R0[_,1,_]",
                "blockPacket p state 2", "addWatchdog R0[_,1,_]"}));
  EXPECT_TRUE(w.ctx.agendaLines().empty());
  QelPacketMem* packet = w.ctx.packetMems[0];
  EXPECT_EQ(packet->state, 2);
  EXPECT_EQ(packet->pendingCount, 0);

  // The new wait expires in its turn.
  w.ctx.time = 10;
  w.ctx.updateObject(&tick, 0);
  EXPECT_EQ(w.ctx.agendaLines(), (std::vector<std::string>{}));
}

}  // namespace
