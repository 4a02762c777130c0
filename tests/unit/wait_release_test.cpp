// Reference-counted partials below a wait join: they stay while an instance
// or a longer partial holds them, go with their last reference, survive
// being deleted in the middle of their own action, are given back by a
// stopped fireAllRules, and are all freed with their context.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "join/join_wait.h"
#include "memory/alpha_mem.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// An action node whose result the test chooses per rule, as a network may
// supply through newActionNode.
class ResultActionNode : public QelActionNode {
 public:
  ResultActionNode(QelRuleNode* rule, const int* results)
      : QelActionNode(rule), results_(results) {}
  int execute(QelContext* context, QelPartial* partial) override {
    QelActionNode::execute(context, partial);
    return results_[rule->index];
  }

 private:
  const int* results_;
};

class ResultNetwork : public QelNetwork {
 public:
  explicit ResultNetwork(char* name) : QelNetwork(name) {}
  int results[8] = {};
  QelActionNode* newActionNode(QelRuleNode* rule) override {
    return new ResultActionNode(rule, results);
  }
};

// Packet "Main" (0). A(x) opens a window until x.a (J0, wait, ticked by T).
// J1 adds B(y) with y.a == x.id, J2 adds C(z) with z.a == x.id.
// R0 (Main): through J2, wait depth 3. R3: through J1, wait depth 2.
// R1: S(s), priority 100; its action node returns results[1].
// R2: Main is idle (packet pattern at the head).
struct ReleaseRules {
  char name[8] = "release";
  char mainName[8] = "Main";
  ResultNetwork net{name};
  TestClassNode* classes[5];
  std::unique_ptr<TestContext> owner{new TestContext};
  TestContext& ctx = *owner;

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
  int listed(int join) {
    int n = 0;
    for (QelPartial* p = ctx.joinMems[join]->partials; p; p = p->nextInMemory) ++n;
    return n;
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

TEST(WaitRelease, ExpiredPartialsStayWhileReferenced) {
  ReleaseRules r;
  Fact x{1, 10}, y{2, 1}, z{3, 1}, t{4};
  r.complete(x, y, z);
  QelWaitPartial* wait = r.waitOf(x);
  QelRefCountedPartial* half = r.held(1);
  QelRefCountedPartial* full = r.held(2);
  ASSERT_NE(half, nullptr);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(half->owner, r.ctx.joinMems[1]);
  // References: the longer partial made from it, and an instance.
  EXPECT_EQ(wait->refCount, 1);
  EXPECT_EQ(half->refCount, 2);
  EXPECT_EQ(full->refCount, 1);

  r.tick(10, t);  // both rules completed: no watchdog fires
  EXPECT_EQ(r.ctx.agendaLines(), (Lines{"R0[1,_,2,3]:0", "R3[1,_,2]:0"}));
  EXPECT_EQ(half->removed, 1);
  EXPECT_EQ(full->removed, 1);
  EXPECT_EQ(r.held(1), half);
  EXPECT_EQ(r.held(2), full);

  // The last reference of the full match goes; the release reaches the
  // half match, which its own instance still holds.
  EXPECT_EQ(r.ctx.agenda->fireRule(), 0);
  EXPECT_EQ(r.held(2), nullptr);
  EXPECT_EQ(r.held(1), half);
  EXPECT_EQ(half->refCount, 1);
  EXPECT_EQ(r.ctx.agenda->fireRule(), 3);
  EXPECT_EQ(r.held(1), nullptr);
  // The wait itself has no owner: it stays with its join.
  EXPECT_EQ(r.waitOf(x), wait);
  EXPECT_EQ(wait->refCount, 0);
}

TEST(WaitRelease, UnreferencedPartialsGoAtExpiry) {
  ReleaseRules r;
  Fact x{1, 10}, y{2, 1}, t{4};
  r.ctx.assertObject(0, &x);
  r.ctx.assertObject(1, &y);
  r.ctx.agenda->fireAllRules();
  ASSERT_EQ(r.held(1)->refCount, 0);
  ASSERT_EQ(r.held(1)->removed, 0);
  r.ctx.takeLog();
  r.tick(10, t);
  EXPECT_EQ(r.held(1), nullptr);
  // R0 never completed: its watchdog fires, R3's was disabled. The
  // watchdog instance is the wait's only reference left.
  EXPECT_EQ(r.ctx.agendaLines(), (Lines{"R0[1,_]:0"}));
  EXPECT_EQ(r.waitOf(x)->refCount, 1);
}

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

TEST(WaitRelease, StoppedFiringGivesBackCountsAndReferences) {
  ReleaseRules r;
  Fact x1{1, 10}, y1{2, 1}, z1{3, 1};
  Fact x2{4, 10}, y2{5, 4}, z2{6, 4};
  Fact t{7}, stop{8};
  r.ctx.activatePacket("Main", nullptr);
  ASSERT_EQ(r.ctx.agenda->fireAllRules(), 1);  // R2: Main is idle
  r.complete(x1, y1, z1);
  r.complete(x2, y2, z2);
  ASSERT_EQ(r.main()->state, 1);
  ASSERT_EQ(r.main()->pendingCount, 2);
  ASSERT_EQ(r.ctx.alphaMems[2]->partials, nullptr);
  r.tick(10, t);
  ASSERT_EQ(r.listed(1), 2);
  ASSERT_EQ(r.listed(2), 2);
  r.net.results[1] = -5;
  r.ctx.assertObject(4, &stop);
  r.ctx.takeLog();

  EXPECT_EQ(r.ctx.agenda->fireAllRules(), -4);
  // Only R1 runs. Discarding R0's last instance blocks Main; the instance
  // the idle pattern then adds is discarded by the same loop.
  EXPECT_EQ(r.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R1[8]", "checkEndCycle R1[8]",
                   "endRule", "checkBeginCycle", "checkBeginCycle",
                   "checkBeginCycle", "blockPacket Main state 2",
                   "addRule R2[_]", "checkBeginCycle", "checkBeginCycle",
                   "checkBeginCycle"}));
  EXPECT_EQ(r.ctx.agenda->first, nullptr);
  EXPECT_EQ(r.ctx.agenda->changeCount, 0);
  EXPECT_EQ(r.main()->state, 2);
  EXPECT_EQ(r.main()->pendingCount, 0);
  EXPECT_NE(r.ctx.alphaMems[2]->partials, nullptr);
  // Every expired match was released and dropped.
  EXPECT_EQ(r.listed(1), 0);
  EXPECT_EQ(r.listed(2), 0);
  EXPECT_EQ(r.waitOf(x1)->refCount, 0);
  EXPECT_EQ(r.waitOf(x2)->refCount, 0);

  // The packet goes on counting from a consistent state.
  r.net.results[1] = 0;
  Fact x3{9, 30}, y3{10, 9}, z3{11, 9};
  r.ctx.takeLog();
  r.complete(x3, y3, z3);
  EXPECT_EQ(r.main()->state, 1);
  EXPECT_EQ(r.main()->pendingCount, 1);
  EXPECT_EQ(r.ctx.alphaMems[2]->partials, nullptr);
  EXPECT_EQ(r.ctx.agenda->fireAllRules(), 3);  // R0, then R2 and R3
  EXPECT_EQ(r.main()->state, 2);
}

TEST(WaitRelease, DestroyingALiveContextFreesEverything) {
  ReleaseRules r;
  Fact x1{1, 10}, y1{2, 1}, z1{3, 1};
  Fact pending{4, 20}, due{5, 10}, t{6};
  r.ctx.activatePacket("Main", nullptr);
  r.complete(x1, y1, z1);
  r.tick(10, t);                    // expired, matches still referenced
  r.ctx.assertObject(0, &pending);  // pending window
  r.ctx.assertObject(0, &due);      // due on arrival: watchdogs at once
  ASSERT_EQ(r.main()->state, 1);
  ASSERT_EQ(r.listed(1), 1);
  ASSERT_EQ(r.listed(2), 1);
  ASSERT_EQ(r.held(2)->removed, 1);
  ASSERT_NE(r.waits()->pendingHead, nullptr);
  EXPECT_EQ(r.ctx.agendaLines(),
            (Lines{"R0[5,_]:0", "R3[5,_]:0", "R0[1,_,2,3]:0", "R3[1,_,2]:0"}));
  ASSERT_EQ(r.net.contexts.length(), 1);

  // The sanitizer build's leak check covers what must be freed here.
  r.owner.reset();
  EXPECT_EQ(r.net.contexts.length(), 0);
  for (TestClassNode* c : r.classes) EXPECT_EQ(c->deleted, 0);
}

}  // namespace
