// Working-memory operations end to end: assert, re-assert, retract, update,
// retracting a class or everything, the silent reset, and subclasses that
// reach the discrimination memories of their superclasses.
#include <gtest/gtest.h>

#include <string>

#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "memory/disc_mem.h"
#include "unit/context_rulesets.h"

using namespace qeltest;
using namespace ctxtest;

namespace {

// Classes A (0, internal) and X (1, external). Rule 0: A(x) with x.a >= 0;
// rule 1: X(y); rule 2 has no action.
struct Basic {
  QelNetwork net{nm("basic")};
  TestContext ctx;
  TestClassNode* a;
  TestClassNode* x;

  Basic() {
    net.init(0, 0, 3, 2, 3, 0, 0);
    a = addClass(net, "A");
    x = addClass(net, "X", 1);
    disc(net, 0, 0, -1, TestContext::disc(0));
    disc(net, 1, 1);
    alpha(net, 0, 0);
    alpha(net, 1, 1);
    rule(net, 0, 0);
    rule(net, 1, 1);
    net.initRule(ruleAt(net, 2), -1, nm("none"), GetQelNullPrio(), 0, -1, -1);
    ctx.discFns[0] = [](QelInfo* i) { return factOf(i)->a >= 0; };
    ctx.init(&net);
    ctx.takeLog();
  }
  int changes() const { return ctx.agenda->changeCount; }
};

TEST(ContextWorkingMemory, AssertRecordsAndPropagates) {
  Basic b;
  Fact f{1};
  EXPECT_EQ(b.ctx.assertObject(0, &f), &f);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"assert 1", "addRule R0[1]"}));
  EXPECT_EQ(b.changes(), 1);
  EXPECT_EQ(b.a->asserted, 1);
  QelInfo* record = static_cast<QelInfo*>(b.ctx.objectTable->find(&f));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->object, &f);
  EXPECT_EQ(record->classMem, b.ctx.classMems[0]);
  EXPECT_TRUE(b.ctx.classMems[0]->infos.contains(record));
  EXPECT_TRUE(b.ctx.discMems[0]->matches.contains(record));
}

TEST(ContextWorkingMemory, ReassertIsAPlainUpdateWithoutANewInstance) {
  Basic b;
  Fact f{1};
  b.ctx.assertObject(0, &f);
  b.ctx.agenda->fireAllRules();
  b.ctx.takeLog();
  const int before = b.changes();
  EXPECT_EQ(b.ctx.assertObject(0, &f), &f);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
  EXPECT_EQ(b.changes(), before + 1);
  EXPECT_EQ(b.ctx.objectTable->count, 1);
  EXPECT_EQ(b.ctx.classMems[0]->infos.count, 1);
  EXPECT_EQ(b.a->asserted, 1);
  EXPECT_TRUE(b.ctx.agendaLines().empty());

  // The class index is not used for a known object, even one out of range.
  EXPECT_EQ(b.ctx.assertObject(1, &f), &f);
  EXPECT_EQ(b.ctx.assertObject(7, &f), &f);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1",
                                    "beginUpdate 1", "endUpdate 1"}));
  EXPECT_EQ(b.ctx.classMems[1]->infos.count, 0);
  EXPECT_EQ(b.changes(), before + 3);
}

TEST(ContextWorkingMemory, NullObjectOrUnknownClassIndexDoesNothing) {
  Basic b;
  Fact f{1};
  EXPECT_EQ(b.ctx.assertObject(0, nullptr), nullptr);
  EXPECT_EQ(b.ctx.assertObject(-1, &f), nullptr);
  EXPECT_EQ(b.ctx.assertObject(2, &f), nullptr);
  EXPECT_EQ(b.ctx.assertObject(1000, &f), nullptr);
  EXPECT_TRUE(b.ctx.takeLog().empty());
  EXPECT_EQ(b.changes(), 0);
  EXPECT_EQ(b.ctx.objectTable->count, 0);
  // The object can still be asserted properly afterwards.
  EXPECT_EQ(b.ctx.assertObject(0, &f), &f);
  EXPECT_EQ(b.ctx.agendaLines(), (Lines{"R0[1]:0"}));
}

TEST(ContextWorkingMemory, RetractDeletesOnlyWhenAskedAndNotExternal) {
  Basic b;
  Fact kept{1};
  Fact* dropped = new Fact{2};
  Fact* external = new Fact{3};
  b.ctx.assertObject(0, &kept);
  b.ctx.assertObject(0, dropped);
  b.ctx.assertObject(1, external);
  b.ctx.takeLog();

  b.ctx.retractObject(&kept, 0);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"retract 1", "removeRule R0[1]"}));
  EXPECT_EQ(b.a->deleted, 0);
  EXPECT_EQ(b.a->retracted, 1);
  EXPECT_EQ(b.changes(), 4);
  kept.a = 5;  // still ours

  b.ctx.retractObject(dropped, 1);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"retract 2", "removeRule R0[2]"}));
  EXPECT_EQ(b.a->deleted, 1);

  b.ctx.retractObject(external, 1);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"retract 3", "removeRule R1[3]"}));
  EXPECT_EQ(b.x->deleted, 0);
  EXPECT_EQ(b.x->retracted, 1);
  delete external;
  EXPECT_EQ(b.ctx.objectTable->count, 0);
  EXPECT_EQ(b.ctx.discMems[0]->matches.count, 0);
  EXPECT_EQ(b.changes(), 6);
}

TEST(ContextWorkingMemory, UnknownPointersAreIgnored) {
  Basic b;
  Fact f{1}, stranger{9};
  b.ctx.assertObject(0, &f);
  b.ctx.takeLog();
  b.ctx.retractObject(&stranger, 1);
  b.ctx.updateObject(&stranger, 1);
  b.ctx.retractObject(nullptr, 1);
  EXPECT_TRUE(b.ctx.takeLog().empty());
  EXPECT_EQ(b.changes(), 1);
  // Retracted once, the object is unknown again.
  b.ctx.retractObject(&f, 0);
  b.ctx.takeLog();
  b.ctx.retractObject(&f, 0);
  b.ctx.updateObject(&f, 0);
  EXPECT_TRUE(b.ctx.takeLog().empty());
  EXPECT_EQ(b.changes(), 2);
}

TEST(ContextWorkingMemory, RefreshFiresAFiredRuleAgainAPlainUpdateDoesNot) {
  Basic b;
  Fact f{1};
  b.ctx.assertObject(0, &f);
  EXPECT_EQ(b.ctx.agenda->fireAllRules(), 1);
  b.ctx.takeLog();

  b.ctx.updateObject(&f, 0);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
  EXPECT_TRUE(b.ctx.agendaLines().empty());

  b.ctx.updateObject(&f, 1);
  EXPECT_EQ(b.ctx.takeLog(),
            (Lines{"beginUpdate 1", "addRule R0[1]", "endUpdate 1"}));
  EXPECT_EQ(b.ctx.agendaLines(), (Lines{"R0[1]:0"}));
  // A refresh of a waiting instance leaves it as it is.
  b.ctx.updateObject(&f, 1);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"beginUpdate 1", "endUpdate 1"}));
  EXPECT_EQ(b.ctx.agendaLines(), (Lines{"R0[1]:0"}));
  EXPECT_EQ(b.changes(), 3);  // fireAllRules reset it
}

TEST(ContextWorkingMemory, UpdatesThatChangeTheTestOutcome) {
  Basic b;
  Fact f{1, -1};
  b.ctx.assertObject(0, &f);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"assert 1"}));
  EXPECT_EQ(b.ctx.discMems[0]->matches.count, 0);

  // Now passing: new to the memories below, even for a plain update.
  f.a = 1;
  b.ctx.updateObject(&f, 0);
  EXPECT_EQ(b.ctx.takeLog(),
            (Lines{"beginUpdate 1", "addRule R0[1]", "endUpdate 1"}));
  // Now failing: the match and its instance go.
  f.a = -1;
  b.ctx.updateObject(&f, 1);
  EXPECT_EQ(b.ctx.takeLog(),
            (Lines{"beginUpdate 1", "removeRule R0[1]", "endUpdate 1"}));
  EXPECT_EQ(b.ctx.discMems[0]->matches.count, 0);
  EXPECT_TRUE(b.ctx.agendaLines().empty());
}

TEST(ContextWorkingMemory, RetractClassRemovesItsObjectsNewestFirst) {
  Basic b;
  Fact* f1 = new Fact{1};
  Fact* f2 = new Fact{2};
  Fact* f3 = new Fact{3};
  Fact ext{4};
  for (Fact* f : {f1, f2, f3}) b.ctx.assertObject(0, f);
  b.ctx.assertObject(1, &ext);
  b.ctx.takeLog();
  const int before = b.changes();

  // Out of range, null and unknown names: nothing at all.
  b.ctx.retractClass(-1);
  b.ctx.retractClass(2);
  b.ctx.retractClass(99);
  b.ctx.retractClass(static_cast<const char*>(nullptr));
  b.ctx.retractClass("a");
  EXPECT_TRUE(b.ctx.takeLog().empty());
  EXPECT_EQ(b.ctx.objectTable->count, 4);

  b.ctx.retractClass("A");
  EXPECT_EQ(b.ctx.takeLog(),
            (Lines{"retract 3", "removeRule R0[3]", "retract 2",
                   "removeRule R0[2]", "retract 1", "removeRule R0[1]"}));
  EXPECT_EQ(b.a->deleted, 3);
  EXPECT_EQ(b.changes(), before);
  EXPECT_EQ(b.ctx.agendaLines(), (Lines{"R1[4]:0"}));

  // An external class: retracted, never deleted.
  b.ctx.retractClass(1);
  EXPECT_EQ(b.ctx.takeLog(), (Lines{"retract 4", "removeRule R1[4]"}));
  EXPECT_EQ(b.x->deleted, 0);
  EXPECT_EQ(b.ctx.objectTable->count, 0);
}

// Rule 0: A(x); rule 1: not A; rule 2: collect A (always holds).
struct WithNot {
  QelNetwork net{nm("withNot")};
  TestContext ctx;
  TestClassNode* a;
  TestClassNode* x;

  WithNot() {
    net.init(0, 0, 3, 1, 3, 0, 0);
    a = addClass(net, "A");
    x = addClass(net, "X", 1);
    disc(net, 0, 0);
    alpha(net, 0, 0);
    alpha(net, 0, 1, QelPatternNot);
    alpha(net, 0, 2, QelPatternCollect);
    alphaAt(net, 2)->collectTest = GetQelNullAlphaCollect();
    rule(net, 0, 0);
    rule(net, 1, 1);
    rule(net, 2, 2);
    ctx.init(&net);
  }
};

TEST(ContextWorkingMemory, RetractAllIsSilentThenSeedsAgain) {
  WithNot w;
  EXPECT_EQ(w.ctx.takeLog(), (Lines{"addRule R1[_]", "addRule R2[{0}]"}));
  Fact* f1 = new Fact{1};
  Fact* f2 = new Fact{2};
  w.ctx.assertObject(0, f1);
  w.ctx.assertObject(0, f2);
  w.ctx.takeLog();
  const int before = w.ctx.agenda->changeCount;

  w.ctx.retractAll();
  EXPECT_EQ(w.ctx.takeLog(), (Lines{"beginRetractAll", "endRetractAll",
                                    "addRule R1[_]", "addRule R2[{0}]"}));
  EXPECT_EQ(w.a->deleted, 2);
  EXPECT_EQ(w.a->retracted, 2);
  EXPECT_EQ(w.ctx.objectTable->count, 0);
  EXPECT_EQ(w.ctx.classMems[0]->infos.count, 0);
  EXPECT_EQ(w.ctx.discMems[0]->matches.count, 0);
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R1[_]:0", "R2[{0}]:0"}));
  EXPECT_EQ(w.ctx.agenda->changeCount, before);

  // Working memory works as new afterwards.
  Fact f3{3};
  w.ctx.assertObject(0, &f3);
  EXPECT_EQ(w.ctx.takeLog(),
            (Lines{"assert 3", "addRule R0[3]", "removeRule R1[_]"}));
  w.ctx.retractObject(&f3, 0);
}

TEST(ContextWorkingMemory, ResetIsSilentAndLeavesTokensUnseeded) {
  WithNot w;
  Fact* f1 = new Fact{1};
  Fact ext{2};
  w.ctx.assertObject(0, f1);
  w.ctx.assertObject(1, &ext);
  w.ctx.takeLog();
  const int before = w.ctx.agenda->changeCount;

  w.ctx.reset();
  EXPECT_TRUE(w.ctx.takeLog().empty());
  EXPECT_EQ(w.a->deleted, 1);
  EXPECT_EQ(w.x->deleted, 0);
  EXPECT_EQ(w.x->retracted, 1);
  EXPECT_EQ(w.ctx.agenda->first, nullptr);
  EXPECT_EQ(w.ctx.agenda->changeCount, before);
  EXPECT_EQ(w.ctx.objectTable->count, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(w.ctx.alphaMems[i]->partials, nullptr);
  EXPECT_EQ(static_cast<QelAlphaMemNot*>(w.ctx.alphaMems[1])->matchCount, 0);

  // Firing finds nothing; the empty reset is silent too.
  w.ctx.reset();
  EXPECT_TRUE(w.ctx.takeLog().empty());
  EXPECT_EQ(w.ctx.agenda->fireAllRules(), 0);
  // Only seeding brings the tokens back.
  w.ctx.retractAll();
  EXPECT_EQ(w.ctx.agendaLines(), (Lines{"R1[_]:0", "R2[{0}]:0"}));
}

// Rule 0 in packet P, rule 1 in packet Q: reset turns an active packet with
// pending instances into state 2 and zeroes every pending count, silently.
TEST(ContextWorkingMemory, ResetBlocksActivePacketsWithoutHooks) {
  QelNetwork net(nm("packets"));
  net.init(0, 2, 2, 1, 2, 0, 0);
  net.initPacket(packetAt(net, 0), nm("P"), 0, 0);
  net.initPacket(packetAt(net, 1), nm("Q"), 0, 0);
  addClass(net, "A");
  disc(net, 0, 0);
  alpha(net, 0, 0);
  alpha(net, 0, 1);
  rule(net, 0, 0, 0, GetQelNullPrio(), false, 0);
  rule(net, 1, 1, 0, GetQelNullPrio(), false, 1);
  TestContext ctx;
  ctx.init(&net);
  Fact* f = new Fact{1};
  ctx.assertObject(0, f);
  QelPacketMem* p = ctx.packetMems[0];
  QelPacketMem* q = ctx.packetMems[1];
  ctx.activate(p);
  EXPECT_EQ(p->state, 1);
  EXPECT_EQ(p->pendingCount, 1);
  EXPECT_EQ(q->state, 0);
  EXPECT_EQ(q->pendingCount, 1);
  ctx.takeLog();

  ctx.reset();
  EXPECT_TRUE(ctx.takeLog().empty());
  EXPECT_EQ(p->state, 2);
  EXPECT_EQ(p->pendingCount, 0);
  EXPECT_EQ(q->state, 0);
  EXPECT_EQ(q->pendingCount, 0);
}

// Classes B (0) and C (1, subclass of B). Disc 0 tests B and feeds rule 0;
// disc 1 tests C and feeds rule 1. The class nodes and the tests log the
// order in which they are reached.
struct Ordered : TestClassNode {
  std::vector<std::string>* trail;
  Ordered(QelNetwork* net, int index, const char* name,
          std::vector<std::string>* t)
      : TestClassNode(net, index, nm(name), 0), trail(t) {}
  void doAssert(QelContext* c, void* o) override {
    trail->push_back(std::string("doAssert ") + name);
    TestClassNode::doAssert(c, o);
  }
  void doRetract(QelContext* c, void* o) override {
    trail->push_back(std::string("doRetract ") + name);
    TestClassNode::doRetract(c, o);
  }
};

struct Hierarchy {
  QelNetwork net{nm("hierarchy")};
  TestContext ctx;
  std::vector<std::string> trail;
  Ordered* b;
  Ordered* c;

  Hierarchy() {
    net.init(0, 0, 2, 2, 2, 0, 0);
    b = new Ordered(&net, 0, "B", &trail);
    net.classes.append(b);
    c = new Ordered(&net, 1, "C", &trail);
    net.classes.append(c);
    c->setSuperClass(b);
    disc(net, 0, 0, -1, TestContext::disc(0));
    disc(net, 1, 1, -1, TestContext::disc(1));
    alpha(net, 0, 0);
    alpha(net, 1, 1);
    rule(net, 0, 0);
    rule(net, 1, 1);
    ctx.discFns[0] = [this](QelInfo*) {
      trail.push_back("test B");
      return true;
    };
    ctx.discFns[1] = [this](QelInfo*) {
      trail.push_back("test C");
      return true;
    };
    ctx.init(&net);
  }
};

TEST(ContextWorkingMemory, SubclassObjectsReachSuperclassDiscriminations) {
  Hierarchy h;
  Fact* obj = new Fact{1};
  h.ctx.assertObject(1, obj);
  EXPECT_EQ(h.trail, (Lines{"doAssert C", "doAssert B", "test C", "test B"}));
  EXPECT_EQ(h.ctx.takeLog(),
            (Lines{"assert 1", "addRule R1[1]", "addRule R0[1]"}));
  QelInfo* record = static_cast<QelInfo*>(h.ctx.objectTable->find(obj));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->classMem, h.ctx.classMems[1]);
  EXPECT_EQ(h.ctx.classMems[1]->infos.count, 1);
  EXPECT_EQ(h.ctx.classMems[0]->infos.count, 0);
  EXPECT_TRUE(h.ctx.discMems[0]->matches.contains(record));

  // An update goes through both, own class first; class hooks stay quiet.
  h.trail.clear();
  h.ctx.updateObject(obj, 0);
  EXPECT_EQ(h.trail, (Lines{"test C", "test B"}));

  // Retracting the superclass leaves the subclass object in place.
  Fact* base = new Fact{2};
  h.ctx.assertObject(0, base);
  h.ctx.takeLog();
  h.trail.clear();
  h.ctx.retractClass(0);
  EXPECT_EQ(h.ctx.takeLog(), (Lines{"retract 2", "removeRule R0[2]"}));
  EXPECT_EQ(h.b->deleted, 1);
  EXPECT_NE(h.ctx.objectTable->find(obj), nullptr);
  EXPECT_EQ(h.ctx.agendaLines(), (Lines{"R0[1]:0", "R1[1]:0"}));

  h.trail.clear();
  h.ctx.retractClass("C");
  EXPECT_EQ(h.trail, (Lines{"doRetract C", "doRetract B"}));
  EXPECT_EQ(h.ctx.takeLog(),
            (Lines{"retract 1", "removeRule R1[1]", "removeRule R0[1]"}));
  EXPECT_EQ(h.c->deleted, 1);
  EXPECT_EQ(h.b->deleted, 1);  // deleted through its own class node only
  EXPECT_EQ(h.ctx.discMems[0]->matches.count, 0);
}

TEST(ContextWorkingMemory, ResetWalksTheSuperclassChainForSubclassObjects) {
  Hierarchy h;
  h.ctx.assertObject(1, new Fact{1});
  h.ctx.takeLog();
  h.trail.clear();
  h.ctx.reset();
  EXPECT_EQ(h.trail, (Lines{"doRetract C", "doRetract B"}));
  EXPECT_TRUE(h.ctx.takeLog().empty());
  EXPECT_EQ(h.c->deleted, 1);
}

}  // namespace
