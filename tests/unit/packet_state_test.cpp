// Packet memories end to end: activation and deactivation, blocking when
// the last pending instance of a packet's rules is gone and deblocking on the
// first new one, the packet patterns that see those states at the head of a
// rule, lookup by name, and what a reset leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory/alpha_mem.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// Packets "Main" (0) and "Other" (1).
// R0 (packet Main): A(x).
// R1, R2, R3 (default packet): a packet pattern on Main requiring the
// inactive, active and idle state, each the rule's only pattern.
struct PacketRules {
  char name[8] = "packets";
  char mainName[8] = "Main";
  char otherName[8] = "Other";
  QelNetwork net{name};
  TestClassNode* a;
  TestContext ctx;

  PacketRules() {
    net.init(0, 2, 4, 1, 4, 0, 0);
    a = addClass(net, "A");
    net.initPacket(packetAt(net, 0), mainName, 0, 0);
    net.initPacket(packetAt(net, 1), otherName, 0, 0);
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, -1, QelPatternPlain);
    packetAt(net, 0)->addAlphaNode(QelPacketInactive, 1);
    packetAt(net, 0)->addAlphaNode(QelPacketActive, 2);
    packetAt(net, 0)->addAlphaNode(QelPacketIdle, 3);
    net.initRule(ruleAt(net, 0), 0, const_cast<char*>("work"),
                 GetQelNullPrio(), 0, -1, -1);
    net.initRule(ruleAt(net, 1), -1, const_cast<char*>("whenInactive"),
                 GetQelNullPrio(), 0, -1, -1);
    net.initRule(ruleAt(net, 2), -1, const_cast<char*>("whenActive"),
                 GetQelNullPrio(), 0, -1, -1);
    net.initRule(ruleAt(net, 3), -1, const_cast<char*>("whenIdle"),
                 GetQelNullPrio(), 0, -1, -1);
    for (int r = 0; r < 4; ++r) net.initAction(r, TestContext::action(r), 0, 0, r);
    for (int r = 0; r < 4; ++r) {
      ctx.actionFns[r] = [this, r](QelPartial* p) {
        ctx.log.push_back("act R" + std::to_string(r) + tupleOf(p));
      };
    }
    ctx.init(&net);
  }

  QelPacketMem* main() { return ctx.packetMems[0]; }
  // Whether the packet pattern of alpha memory `i` holds its token.
  bool holds(int i) { return ctx.alphaMems[i]->partials != nullptr; }
};

TEST(PacketState, InitializeAnnouncesPacketsAndSeedsPatterns) {
  PacketRules r;
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"addPacket Main state 0",
                                    "addPacket Other state 0",
                                    "addRule R1[_]"}));
  EXPECT_EQ(r.main()->state, 0);
  EXPECT_EQ(r.main()->pendingCount, 0);
  EXPECT_TRUE(r.holds(1));
  EXPECT_FALSE(r.holds(2));
  EXPECT_FALSE(r.holds(3));
  // Each memory lists the packet patterns of its own packet only.
  EXPECT_EQ(r.main()->alphaPacketMems.length(), 3);
  EXPECT_EQ(r.ctx.packetMems[1]->alphaPacketMems.length(), 0);
  EXPECT_EQ(static_cast<QelAlphaMemPacket*>(r.ctx.alphaMems[3])->packetMem,
            r.main());
}

TEST(PacketState, ActivatingWithNothingPendingBlocksAtOnce) {
  PacketRules r;
  r.ctx.takeLog();
  unsigned char found = 7;
  r.ctx.activatePacket("Main", &found);
  EXPECT_EQ(found, 1);
  // The active pattern holds from the first step on and is not touched by
  // the second; the idle one only after the block.
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"activatePacket Main state 1", "removeRule R1[_]",
                   "addRule R2[_]", "blockPacket Main state 2",
                   "addRule R3[_]"}));
  EXPECT_EQ(r.main()->state, 2);
  EXPECT_EQ(r.main()->pendingCount, 0);
  EXPECT_FALSE(r.holds(1));
  EXPECT_TRUE(r.holds(2));
  EXPECT_TRUE(r.holds(3));

  r.ctx.deactivatePacket("Main", &found);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"deactivatePacket Main state 0", "addRule R1[_]",
                   "removeRule R2[_]", "removeRule R3[_]"}));
  EXPECT_EQ(r.main()->state, 0);
}

TEST(PacketState, InactivePacketCountsInstancesSilently) {
  PacketRules r;
  Fact x{1}, y{2};
  r.ctx.takeLog();
  r.ctx.assertObject(0, &x);
  r.ctx.assertObject(0, &y);
  EXPECT_EQ(r.main()->pendingCount, 2);
  r.ctx.retractObject(&x, 0);
  EXPECT_EQ(r.main()->pendingCount, 1);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"assert 1", "addRule R0[1]", "assert 2", "addRule R0[2]",
                   "retract 1", "removeRule R0[1]"}));
  EXPECT_EQ(r.main()->state, 0);

  // Something is pending: activation stops at state 1.
  r.ctx.activatePacket("Main", nullptr);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"activatePacket Main state 1",
                                    "removeRule R1[_]", "addRule R2[_]"}));
  EXPECT_EQ(r.main()->state, 1);
  EXPECT_EQ(r.main()->pendingCount, 1);
  EXPECT_FALSE(r.holds(3));
}

TEST(PacketState, LastFiredInstanceBlocksAfterItsAction) {
  PacketRules r;
  Fact x{1}, y{2};
  r.ctx.assertObject(0, &x);
  r.ctx.assertObject(0, &y);
  r.ctx.activatePacket("Main", nullptr);
  r.ctx.takeLog();
  EXPECT_EQ(r.ctx.agenda->fireAllRules(), 4);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R2[_]",
                   "checkEndCycle R2[_]", "act R2[_]", "endRule",
                   "checkBeginCycle", "beginRule R0[2]",
                   "checkEndCycle R0[2]", "act R0[2]", "endRule",
                   "checkBeginCycle", "beginRule R0[1]",
                   "checkEndCycle R0[1]", "act R0[1]", "endRule",
                   "blockPacket Main state 2", "addRule R3[_]",
                   "checkBeginCycle", "beginRule R3[_]",
                   "checkEndCycle R3[_]", "act R3[_]", "endRule",
                   "checkBeginCycle"}));
  EXPECT_EQ(r.main()->state, 2);
  EXPECT_EQ(r.main()->pendingCount, 0);
}

TEST(PacketState, FirstNewInstanceDeblocksAndRemovalBlocksAgain) {
  PacketRules r;
  Fact x{1}, y{2};
  r.ctx.activatePacket("Main", nullptr);
  r.ctx.takeLog();
  r.ctx.assertObject(0, &x);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"assert 1", "addRule R0[1]",
                                    "deblockPacket Main state 1",
                                    "removeRule R3[_]"}));
  EXPECT_EQ(r.main()->state, 1);
  r.ctx.assertObject(0, &y);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"assert 2", "addRule R0[2]"}));
  EXPECT_EQ(r.main()->pendingCount, 2);
  r.ctx.retractObject(&x, 0);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"retract 1", "removeRule R0[1]"}));
  // Removal with its partial counts down like firing.
  r.ctx.retractObject(&y, 0);
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"retract 2", "removeRule R0[2]", "blockPacket Main state 2",
                   "addRule R3[_]"}));
  EXPECT_EQ(r.main()->state, 2);
  EXPECT_EQ(r.main()->pendingCount, 0);
}

TEST(PacketState, DeactivatingKeepsTheCountAndFiringItDownIsSilent) {
  PacketRules r;
  Fact x{1};
  r.ctx.activatePacket("Main", nullptr);
  r.ctx.assertObject(0, &x);
  r.ctx.takeLog();
  r.ctx.deactivatePacket("Main", nullptr);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"deactivatePacket Main state 0",
                                    "addRule R1[_]", "removeRule R2[_]"}));
  EXPECT_EQ(r.main()->pendingCount, 1);
  // R1 fires first (later operation), then R0 counts down without a block.
  EXPECT_EQ(r.ctx.agenda->fireAllRules(), 2);
  for (const std::string& line : r.ctx.takeLog()) {
    EXPECT_EQ(line.find("Packet"), std::string::npos) << line;
  }
  EXPECT_EQ(r.main()->state, 0);
  EXPECT_EQ(r.main()->pendingCount, 0);
}

TEST(PacketState, NamesAreLookedUpExactly) {
  PacketRules r;
  EXPECT_EQ(r.ctx.getPacketIndex("Main"), 0);
  EXPECT_EQ(r.ctx.getPacketIndex("Other"), 1);
  EXPECT_EQ(r.ctx.getPacketIndex("main"), -1);
  EXPECT_EQ(r.ctx.getPacketIndex("MAIN"), -1);
  EXPECT_EQ(r.ctx.getPacketIndex("Mai"), -1);
  EXPECT_EQ(r.ctx.getPacketIndex("Main "), -1);
  EXPECT_EQ(r.ctx.getPacketIndex(nullptr), -1);
  // The stored name itself, not a copy.
  EXPECT_EQ(r.ctx.getPacketName(0), r.mainName);
  EXPECT_EQ(r.ctx.getPacketName(1), r.otherName);
  EXPECT_EQ(r.ctx.getPacketName(-1), nullptr);
  EXPECT_EQ(r.ctx.getPacketName(2), nullptr);
}

TEST(PacketState, UnknownNamesChangeNothing) {
  PacketRules r;
  r.ctx.takeLog();
  const int before = r.ctx.agenda->changeCount;
  unsigned char found = 7;
  r.ctx.activatePacket("main", &found);
  EXPECT_EQ(found, 0);
  found = 7;
  r.ctx.activatePacket(nullptr, &found);
  EXPECT_EQ(found, 0);
  found = 7;
  r.ctx.deactivatePacket("Nope", &found);
  EXPECT_EQ(found, 0);
  r.ctx.activatePacket("Nope", nullptr);
  r.ctx.deactivatePacket(nullptr, nullptr);
  EXPECT_EQ(r.ctx.agenda->changeCount, before);
  EXPECT_EQ(r.main()->state, 0);
  EXPECT_EQ(r.ctx.packetMems[1]->state, 0);
  EXPECT_TRUE(r.ctx.takeLog().empty());
}

TEST(PacketState, ChangeCountMovesOnlyOnRealTransitions) {
  PacketRules r;
  int count = r.ctx.agenda->changeCount;
  unsigned char found = 0;
  r.ctx.deactivatePacket("Main", &found);  // already inactive
  EXPECT_EQ(found, 1);
  EXPECT_EQ(r.ctx.agenda->changeCount, count);
  r.ctx.activatePacket("Main", &found);
  EXPECT_EQ(r.ctx.agenda->changeCount, ++count);
  r.ctx.takeLog();
  r.ctx.activatePacket("Main", &found);  // already active (state 2)
  r.ctx.activate(r.main());
  EXPECT_EQ(found, 1);
  EXPECT_EQ(r.ctx.agenda->changeCount, count);
  EXPECT_TRUE(r.ctx.takeLog().empty());

  // A deblock caused by an assert is no packet operation: only the assert
  // counts.
  Fact x{1};
  r.ctx.assertObject(0, &x);
  EXPECT_EQ(r.main()->state, 1);
  EXPECT_EQ(r.ctx.agenda->changeCount, ++count);
  r.ctx.activate(r.main());  // already active (state 1)
  EXPECT_EQ(r.ctx.agenda->changeCount, count);

  r.ctx.deactivate(r.main());
  EXPECT_EQ(r.ctx.agenda->changeCount, ++count);
  r.ctx.deactivate(r.main());
  EXPECT_EQ(r.ctx.agenda->changeCount, count);
  EXPECT_EQ(r.main()->state, 0);
}

TEST(PacketState, InstancesRecordTheCountOfThePacketOperation) {
  PacketRules r;
  Fact x{1};
  r.ctx.assertObject(0, &x);
  r.ctx.activatePacket("Main", nullptr);
  // R2's instance was made by the activation, after the assert: it fires
  // first although R0 has the lower rule index.
  EXPECT_EQ(r.ctx.agendaLines(), (Lines{"R2[_]:0", "R0[1]:0"}));
}

TEST(PacketState, ResetLeavesIdleStateSilently) {
  PacketRules r;
  // A reset deletes the objects it drops: they come from the heap.
  r.ctx.activatePacket("Main", nullptr);
  r.ctx.assertObject(0, new Fact{1});
  r.ctx.assertObject(0, new Fact{2});
  ASSERT_EQ(r.main()->state, 1);
  ASSERT_EQ(r.main()->pendingCount, 2);
  r.ctx.takeLog();
  r.ctx.reset();
  EXPECT_EQ(r.main()->state, 2);
  EXPECT_EQ(r.main()->pendingCount, 0);
  EXPECT_TRUE(r.ctx.takeLog().empty());
  EXPECT_EQ(r.ctx.agenda->first, nullptr);
  EXPECT_EQ(r.a->deleted, 2);
  // No re-evaluation: the patterns stay cleared until they are seeded.
  EXPECT_FALSE(r.holds(2));
  EXPECT_FALSE(r.holds(3));

  r.ctx.retractAll();
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"beginRetractAll", "endRetractAll",
                                    "addRule R2[_]", "addRule R3[_]"}));
  // Counting starts afresh from 0.
  Fact x{3};
  r.ctx.assertObject(0, &x);
  EXPECT_EQ(r.ctx.takeLog(), (Lines{"assert 3", "addRule R0[3]",
                                    "deblockPacket Main state 1",
                                    "removeRule R3[_]"}));
  EXPECT_EQ(r.main()->pendingCount, 1);
  r.ctx.retractObject(&x, 0);
}

}  // namespace
