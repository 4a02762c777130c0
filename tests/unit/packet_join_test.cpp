// Packet patterns after the first pattern of a rule: join memories of
// pattern type 2 that give every parent a child while their packet is in the
// state the node requires.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "join/join_packet.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// Packet "Main" (0).
// R0, R1, R2 (default packet): A(x) followed by a packet join on Main
// requiring the inactive (J0), active (J1) and idle (J2) state.
// R3 (default packet): A(x) then J3, a second active-state join whose node
// keeps the default no-update mask. R1 and R3 take their priority from x.b.
// R4 (packet Main): B(y); its instances make Main busy.
struct PacketJoins {
  char name[8] = "pjoins";
  char mainName[8] = "Main";
  QelNetwork net{name};
  TestClassNode* a;
  TestClassNode* b;
  TestContext ctx;

  PacketJoins() {
    net.init(0, 1, 5, 2, 2, 0, 4);
    a = addClass(net, "A");
    b = addClass(net, "B");
    net.initPacket(packetAt(net, 0), mainName, 0, 0);
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, -1, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    net.addAlphaNode(discAt(net, 1), 1, -1, QelPatternPlain);
    const QelPacketState required[4] = {QelPacketInactive, QelPacketActive,
                                        QelPacketIdle, QelPacketActive};
    for (int j = 0; j < 4; ++j) {
      net.initJoin(joinAt(net, j), 0, 0, -1, GetQelNullJoin(), -1,
                   j == 3 ? -1 : 0, QelPatternPacket);
      // What generated code does for join nodes of packet patterns.
      if (required[j] != QelPacketActive) joinAt(net, j)->packetState = required[j];
      packetAt(net, 0)->joinNodes.append(joinAt(net, j));
    }
    for (int r = 0; r < 4; ++r) {
      const bool dynamic = r == 1 || r == 3;
      net.initRule(ruleAt(net, r), -1, const_cast<char*>("gated"),
                   dynamic ? TestContext::prio(0) : GetQelNullPrio(), 0, r, -1);
      net.initAction(r, TestContext::action(r), 0, 1, r);
    }
    net.initRule(ruleAt(net, 4), 0, const_cast<char*>("busy"),
                 GetQelNullPrio(), 0, -1, -1);
    net.initAction(4, TestContext::action(4), 0, 0, 1);
    ctx.prioFns[0] = [](QelPartial* p) { return factAt(p, 2, 0)->b; };
    ctx.init(&net);
  }

  QelJoinMemPacket* join(int j) {
    return static_cast<QelJoinMemPacket*>(ctx.joinMems[j]);
  }
  int children(int j) { return static_cast<int>(join(j)->childTable.size()); }
  QelPacketMem* main() { return ctx.packetMems[0]; }
};

TEST(PacketJoin, BindingAttachesTheJoinsToTheirPacket) {
  PacketJoins p;
  EXPECT_EQ(p.main()->joinPacketMems.length(), 4);
  EXPECT_EQ(p.main()->joinPacketMems[0], p.join(0));
  EXPECT_EQ(p.main()->joinPacketMems[3], p.join(3));
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(p.join(j)->packetMem, p.main());
    EXPECT_EQ(p.join(j)->gate, 2) << j;
  }
}

TEST(PacketJoin, GatesFollowThePacketThroughEveryState) {
  PacketJoins p;
  Fact x{1}, y{2}, busy{9};
  p.ctx.takeLog();
  p.ctx.assertObject(0, &x);
  // The first left activation evaluates each gate.
  EXPECT_EQ(p.ctx.takeLog(), (Lines{"assert 1", "addRule R0[1,_]"}));
  EXPECT_EQ(p.join(0)->gate, 1);
  EXPECT_EQ(p.join(1)->gate, 0);
  EXPECT_EQ(p.join(2)->gate, 0);
  p.ctx.assertObject(0, &y);
  p.ctx.takeLog();

  // Every parent gets a child when a gate opens, newest parent first.
  p.ctx.activatePacket("Main", nullptr);
  EXPECT_EQ(p.ctx.takeLog(),
            (Lines{"activatePacket Main state 1", "removeRule R0[2,_]",
                   "removeRule R0[1,_]", "addRule R1[2,_]", "addRule R1[1,_]",
                   "addRule R3[2,_]", "addRule R3[1,_]",
                   "blockPacket Main state 2", "addRule R2[2,_]",
                   "addRule R2[1,_]"}));
  EXPECT_EQ(p.children(0), 0);
  EXPECT_EQ(p.children(1), 2);
  EXPECT_EQ(p.children(2), 2);
  EXPECT_EQ(p.join(0)->partials, nullptr);

  // Busy and idle again: only the idle-state join moves.
  p.ctx.assertObject(1, &busy);
  EXPECT_EQ(p.ctx.takeLog(),
            (Lines{"assert 9", "addRule R4[9]", "deblockPacket Main state 1",
                   "removeRule R2[2,_]", "removeRule R2[1,_]"}));
  EXPECT_EQ(p.join(2)->gate, 0);
  EXPECT_EQ(p.children(1), 2);
  p.ctx.retractObject(&busy, 0);
  EXPECT_EQ(p.ctx.takeLog(),
            (Lines{"retract 9", "removeRule R4[9]", "blockPacket Main state 2",
                   "addRule R2[2,_]", "addRule R2[1,_]"}));

  p.ctx.deactivatePacket("Main", nullptr);
  EXPECT_EQ(p.ctx.takeLog(),
            (Lines{"deactivatePacket Main state 0", "addRule R0[2,_]",
                   "addRule R0[1,_]", "removeRule R1[2,_]",
                   "removeRule R1[1,_]", "removeRule R2[2,_]",
                   "removeRule R2[1,_]", "removeRule R3[2,_]",
                   "removeRule R3[1,_]"}));
  EXPECT_EQ(p.children(0), 2);
  EXPECT_EQ(p.children(1), 0);
  EXPECT_EQ(p.children(2), 0);
  EXPECT_EQ(p.children(3), 0);
}

TEST(PacketJoin, UnevaluatedGateStaysUnevaluatedWhileClosed) {
  PacketJoins p;
  Fact x{1}, busy{9};
  p.ctx.assertObject(1, &busy);  // pending while inactive
  p.ctx.activatePacket("Main", nullptr);
  ASSERT_EQ(p.main()->state, 1);
  // Closed re-evaluations leave 2; an opening one sets 1.
  EXPECT_EQ(p.join(0)->gate, 2);
  EXPECT_EQ(p.join(1)->gate, 1);
  EXPECT_EQ(p.join(2)->gate, 2);
  p.ctx.takeLog();
  p.ctx.assertObject(0, &x);
  EXPECT_EQ(p.ctx.takeLog(),
            (Lines{"assert 1", "addRule R1[1,_]", "addRule R3[1,_]"}));
  EXPECT_EQ(p.join(0)->gate, 0);
  EXPECT_EQ(p.join(2)->gate, 0);

  // Now evaluated, the idle join opens on the block.
  p.ctx.retractObject(&busy, 0);
  EXPECT_EQ(p.join(2)->gate, 1);
  EXPECT_EQ(p.children(2), 1);
}

TEST(PacketJoin, UpdatesReachOnlyExistingChildren) {
  PacketJoins p;
  Fact x{1};
  x.b = 5;
  p.ctx.activatePacket("Main", nullptr);
  p.ctx.assertObject(0, &x);
  EXPECT_EQ(p.ctx.agendaLines(),
            (Lines{"R1[1,_]:5", "R3[1,_]:5", "R2[1,_]:0"}));
  p.ctx.takeLog();

  // Mode 2: J1 (no-update bit 1 clear) passes the change on and R1 is
  // re-prioritised; J3 (bit set) keeps it; the closed J0 has no child.
  x.b = 8;
  p.ctx.updateObject(&x, 0);
  EXPECT_EQ(p.ctx.takeLog(), (Lines{"beginUpdate 1", "updateRule R1[1,_]:8",
                                    "endUpdate 1"}));
  EXPECT_EQ(p.ctx.agendaLines(),
            (Lines{"R1[1,_]:8", "R3[1,_]:5", "R2[1,_]:0"}));

  // Mode 1 after firing: every open join's rule fires again.
  EXPECT_EQ(p.ctx.agenda->fireAllRules(), 3);
  p.ctx.updateObject(&x, 1);
  EXPECT_EQ(p.ctx.agendaLines(),
            (Lines{"R1[1,_]:8", "R3[1,_]:8", "R2[1,_]:0"}));
}

TEST(PacketJoin, RetractedParentTakesItsChildAlong) {
  PacketJoins p;
  Fact x{1}, y{2};
  p.ctx.activatePacket("Main", nullptr);
  p.ctx.assertObject(0, &x);
  p.ctx.assertObject(0, &y);
  p.ctx.takeLog();
  p.ctx.retractObject(&x, 0);
  EXPECT_EQ(p.ctx.takeLog(),
            (Lines{"retract 1", "removeRule R1[1,_]", "removeRule R2[1,_]",
                   "removeRule R3[1,_]"}));
  EXPECT_EQ(p.children(1), 1);
  EXPECT_EQ(p.children(2), 1);
  EXPECT_EQ(p.join(1)->partials->parent->record->object, &y);
  EXPECT_EQ(p.ctx.agendaLines(),
            (Lines{"R1[2,_]:0", "R2[2,_]:0", "R3[2,_]:0"}));
}

TEST(PacketJoin, ResetKeepsTheGateUntilTheNextReevaluation) {
  PacketJoins p;
  Fact x{1};
  p.ctx.activatePacket("Main", nullptr);
  p.ctx.assertObject(0, &x);
  p.ctx.assertObject(1, new Fact{9});  // busy: the idle join closes
  ASSERT_EQ(p.join(2)->gate, 0);
  p.ctx.retractObject(&x, 0);
  p.ctx.reset();
  ASSERT_EQ(p.main()->state, 2);
  // The state is idle now, but nothing re-evaluated the join.
  EXPECT_EQ(p.join(2)->gate, 0);
  EXPECT_EQ(p.children(2), 0);
  p.ctx.assertObject(0, &x);
  EXPECT_EQ(p.children(2), 0);
  EXPECT_EQ(p.children(1), 1);
  // The next state change re-evaluates and catches up.
  Fact busy{10};
  p.ctx.assertObject(1, &busy);
  p.ctx.retractObject(&busy, 0);
  EXPECT_EQ(p.join(2)->gate, 1);
  EXPECT_EQ(p.children(2), 1);
}

}  // namespace
