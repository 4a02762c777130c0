// Context lifecycle: the tables initialize builds, the hooks it calls, the
// seeding of the alpha memories, several contexts on one network, and what
// destroying a context releases.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "join/join_mem.h"
#include "join/join_obj_unique.h"
#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "memory/disc_mem.h"
#include "unit/context_rulesets.h"

using namespace qeltest;
using namespace ctxtest;

namespace {

template <typename T>
void expectTerminated(T** table, int count) {
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table[count], nullptr);
}

TEST(ContextLifecycle, EmptyNetworkGivesTerminatorsOnlyAndNoHook) {
  QelNetwork net(nm("empty"));
  net.init(0, 0, 0, 0, 0, 0, 0);
  TestContext ctx;
  ctx.init(&net);

  EXPECT_TRUE(ctx.takeLog().empty());
  EXPECT_EQ(ctx.network, &net);
  EXPECT_EQ(ctx.internalConstantCount, 0);
  EXPECT_EQ(ctx.classMemCount, 0);
  EXPECT_EQ(ctx.packetMemCount, 0);
  EXPECT_EQ(ctx.ruleMemCount, 0);
  EXPECT_EQ(ctx.discMemCount, 0);
  EXPECT_EQ(ctx.alphaMemCount, 0);
  EXPECT_EQ(ctx.joinMemCount, 0);
  EXPECT_EQ(ctx.rightMemCount, 0);
  expectTerminated(ctx.internalConstants, 0);
  expectTerminated(ctx.classMems, 0);
  expectTerminated(ctx.packetMems, 0);
  expectTerminated(ctx.ruleMems, 0);
  expectTerminated(ctx.discMems, 0);
  expectTerminated(ctx.alphaMems, 0);
  expectTerminated(ctx.joinMems, 0);
  expectTerminated(ctx.rightMems, 0);
  ASSERT_NE(ctx.agenda, nullptr);
  EXPECT_EQ(ctx.agenda->first, nullptr);
  EXPECT_EQ(ctx.agenda->changeCount, 0);
  EXPECT_EQ(ctx.agenda->context, &ctx);
  ASSERT_NE(ctx.objectTable, nullptr);
  EXPECT_EQ(ctx.objectTable->count, 0);
  EXPECT_EQ(ctx.objectTable->bucketCount, 17);
  EXPECT_EQ(ctx.justification, nullptr);
  EXPECT_EQ(ctx.time, 0);

  // Working-memory operations on an empty context stay silent.
  EXPECT_EQ(ctx.agenda->fireAllRules(), 0);
  ctx.reset();
  EXPECT_EQ(ctx.takeLog(), (Lines{"checkBeginCycle"}));
}

TEST(ContextLifecycle, ThreePacketsAreAnnouncedInIndexOrderOnceBound) {
  QelNetwork net(nm("packets"));
  net.init(0, 3, 0, 0, 0, 0, 0);
  net.initPacket(packetAt(net, 0), nm("first"), 0, 0);
  net.initPacket(packetAt(net, 1), nm("second"), 0, 0);
  net.initPacket(packetAt(net, 2), nm("third"), 0, 0);
  TestContext ctx;
  ctx.init(&net);

  // The hook prints the bound packet's name, so each call came after its
  // memory was bound.
  EXPECT_EQ(ctx.takeLog(), (Lines{"addPacket first state 0",
                                  "addPacket second state 0",
                                  "addPacket third state 0"}));
  ASSERT_EQ(ctx.packetMemCount, 3);
  expectTerminated(ctx.packetMems, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ctx.packetMems[i]->packet, packetAt(net, i));
    EXPECT_EQ(ctx.packetMems[i]->pendingCount, 0);
  }
}

TEST(ContextLifecycle, ClassMemoryKindFollowsTheClassNode) {
  QelNetwork net(nm("kinds"));
  net.init(0, 0, 0, 0, 0, 0, 0);
  addClass(net, "Internal", 0);
  addClass(net, "External", 1);
  addClass(net, "Logical", 2);
  TestContext ctx;
  ctx.init(&net);

  ASSERT_EQ(ctx.classMemCount, 3);
  expectTerminated(ctx.classMems, 3);
  EXPECT_EQ(dynamic_cast<QelLogicalMem*>(ctx.classMems[0]), nullptr);
  EXPECT_EQ(dynamic_cast<QelLogicalMem*>(ctx.classMems[1]), nullptr);
  EXPECT_NE(dynamic_cast<QelLogicalMem*>(ctx.classMems[2]), nullptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ctx.classMems[i]->classNode, net.classes[i]);
    EXPECT_EQ(ctx.classMems[i]->context, &ctx);
  }
  EXPECT_EQ(ctx.getClassIndex("Logical"), 2);
  EXPECT_EQ(ctx.getClassIndex("logical"), -1);
  EXPECT_EQ(ctx.getClassIndex(nullptr), -1);
}

TEST(ContextLifecycle, InternalConstantsAreListedInNetworkOrder) {
  QelNetwork net(nm("constants"));
  net.init(3, 0, 0, 0, 0, 0, 0);
  net.initInternalConstant(net.constants[0], nm("k0"), nullptr);
  net.initExternalConstant(net.constants[1], nm("k1"), nullptr);
  net.initInternalConstant(net.constants[2], nm("k2"), nullptr);
  TestContext ctx;
  ctx.init(&net);

  ASSERT_EQ(ctx.internalConstantCount, 2);
  EXPECT_EQ(ctx.internalConstants[0], net.constants[0]);
  EXPECT_EQ(ctx.internalConstants[1], net.constants[2]);
  EXPECT_EQ(ctx.internalConstants[2], nullptr);
}

// Alpha nodes of pattern types 1 and 7 and a join node of type 7 have no
// memory. Binding and seeding, at initialize and after qelRetractAll, must
// step over their null entries; the rest of the network works as usual.
struct NullEntryNet {
  QelNetwork net{nm("holes")};
  TestContext ctx;

  NullEntryNet() {
    // Alphas: 0 type 1, 1 type 7, 2 not (rule 0), 3 plain (rule 1),
    // 4 plain feeding join 0 (type 7) and join 1 (type 1, rule 3).
    net.init(0, 0, 4, 2, 5, 1, 2);
    addClass(net, "A");
    addClass(net, "B");
    disc(net, 0, 0);
    disc(net, 1, 1, 0);
    alpha(net, 0, 0, QelPatternPlainObjUnique);
    alpha(net, 0, 1, patternType(7));
    alpha(net, 0, 2, QelPatternNot);
    alpha(net, 0, 3);
    alpha(net, 0, 4);
    net.initJoin(joinAt(net, 0), 0, 4, 0, GetQelNullJoin(), 0, -1,
                 patternType(7));
    net.initJoin(joinAt(net, 1), 0, 4, 0, GetQelNullJoin(), 0, -1,
                 QelPatternPlainObjUnique, TestContext::key(0));
    rule(net, 0, 2);
    rule(net, 1, 3);
    // A rule whose action hangs on the join without a memory.
    rule(net, 2, 0, 0, GetQelNullPrio(), true);
    // Behind the join without a memory in both successor lists.
    rule(net, 3, 1, 0, GetQelNullPrio(), true);
    ctx.keyFns[0] = [](QelPartial*) -> void* { return nullptr; };
    ctx.init(&net);
  }
};

TEST(ContextLifecycle, PatternTypesWithoutMemoryLeaveNullEntries) {
  NullEntryNet n;
  TestContext& ctx = n.ctx;

  ASSERT_EQ(ctx.alphaMemCount, 5);
  EXPECT_EQ(ctx.alphaMems[0], nullptr);
  EXPECT_EQ(ctx.alphaMems[1], nullptr);
  EXPECT_NE(dynamic_cast<QelAlphaMemNot*>(ctx.alphaMems[2]), nullptr);
  EXPECT_NE(dynamic_cast<QelAlphaMemPlain*>(ctx.alphaMems[3]), nullptr);
  EXPECT_EQ(ctx.alphaMems[5], nullptr);
  ASSERT_EQ(ctx.joinMemCount, 2);
  EXPECT_EQ(ctx.joinMems[0], nullptr);
  EXPECT_NE(dynamic_cast<QelJoinMemPlainObjUnique*>(ctx.joinMems[1]), nullptr);
  EXPECT_EQ(ctx.joinMems[2], nullptr);
  // The discrimination memory lists only the memories that exist.
  EXPECT_EQ(ctx.discMems[0]->alphaMems.length(), 3);
  EXPECT_EQ(ctx.discMems[0]->alphaMems[0], ctx.alphaMems[2]);
  // Seeding went past the two null entries to the not pattern.
  EXPECT_EQ(ctx.takeLog(), (Lines{"addRule R0[_]"}));
}

TEST(ContextLifecycle, NetworkWithNullEntriesRunsAndRetractsAll) {
  NullEntryNet n;
  TestContext& ctx = n.ctx;
  ctx.takeLog();
  Fact a{1};
  Fact b{2};
  ctx.assertObject(0, &a);
  ctx.assertObject(1, &b);
  EXPECT_EQ(ctx.takeLog(), (Lines{"assert 1", "removeRule R0[_]",
                                  "addRule R1[1]", "assert 2",
                                  "addRule R3[1,2]"}));
  ctx.retractObject(&b, 0);
  ctx.retractObject(&a, 0);
  // The not memory comes before the plain one on the discrimination list.
  EXPECT_EQ(ctx.takeLog(), (Lines{"retract 2", "removeRule R3[1,2]",
                                  "retract 1", "addRule R0[_]",
                                  "removeRule R1[1]"}));

  Fact* c = new Fact{3};
  ctx.assertObject(0, c);
  ctx.takeLog();
  ctx.retractAll();
  EXPECT_EQ(ctx.takeLog(),
            (Lines{"beginRetractAll", "endRetractAll", "addRule R0[_]"}));
  EXPECT_EQ(static_cast<TestClassNode*>(n.net.classes[0])->deleted, 1);
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[_]:0"}));
}

TEST(ContextLifecycle, SeedingMakesInstancesInAlphaIndexOrder) {
  QelNetwork net(nm("seed"));
  net.init(0, 0, 3, 1, 3, 0, 0);
  addClass(net, "A");
  disc(net, 0, 0);
  alpha(net, 0, 0, QelPatternNot);
  alpha(net, 0, 1, QelPatternCount);
  alpha(net, 0, 2, QelPatternExists);
  rule(net, 2, 0);  // alpha 0 feeds rule 2
  rule(net, 0, 1);  // alpha 1 feeds rule 0
  rule(net, 1, 2);  // alpha 2 feeds rule 1: exists has nothing to seed
  alphaAt(net, 1)->countTest = TestContext::alphaCount(0);
  TestContext ctx;
  std::vector<int> counts;
  ctx.alphaCountFns[0] = [&](int n) {
    counts.push_back(n);
    return n == 0;
  };
  ctx.init(&net);

  EXPECT_EQ(ctx.takeLog(), (Lines{"addRule R2[_]", "addRule R0[_]"}));
  EXPECT_EQ(counts, (std::vector<int>{0}));
  // One recency for both; the lower rule index fires first.
  EXPECT_EQ(ctx.agendaLines(), (Lines{"R0[_]:0", "R2[_]:0"}));
  EXPECT_EQ(ctx.agenda->fireAllRules(), 2);
}

TEST(ContextLifecycle, RulesetNameIsAPrivateCopy) {
  char name[] = "original";
  QelNetwork net(name);
  net.init(0, 0, 0, 0, 0, 0, 0);
  TestContext ctx;
  ctx.init(&net);
  ASSERT_NE(ctx.rulesetName, nullptr);
  EXPECT_NE(ctx.rulesetName, name);
  std::strcpy(name, "changed!");
  EXPECT_STREQ(ctx.rulesetName, "original");
}

// Rule 0: A(x). Two contexts share the network and nothing else.
TEST(ContextLifecycle, TwoContextsAreDisjointAndListedInOrder) {
  QelNetwork net(nm("shared"));
  net.init(0, 1, 1, 1, 1, 0, 0);
  net.initPacket(packetAt(net, 0), nm("p"), 0, 0);
  addClass(net, "A");
  disc(net, 0, 0);
  alpha(net, 0, 0);
  rule(net, 0, 0);
  auto first = std::make_unique<TestContext>();
  auto second = std::make_unique<TestContext>();
  first->init(&net);
  second->init(&net);

  ASSERT_EQ(net.contexts.length(), 2);
  EXPECT_EQ(net.contexts[0], first.get());
  EXPECT_EQ(net.contexts[1], second.get());
  EXPECT_NE(first->agenda, second->agenda);
  EXPECT_NE(first->objectTable, second->objectTable);
  EXPECT_NE(first->classMems[0], second->classMems[0]);
  EXPECT_NE(first->discMems[0], second->discMems[0]);
  EXPECT_NE(first->alphaMems[0], second->alphaMems[0]);
  EXPECT_NE(first->ruleMems[0], second->ruleMems[0]);
  EXPECT_NE(first->packetMems[0], second->packetMems[0]);
  EXPECT_EQ(first->ruleMems[0]->context, first.get());
  EXPECT_EQ(second->ruleMems[0]->context, second.get());

  Fact x{1};
  first->takeLog();
  second->takeLog();
  first->assertObject(0, &x);
  EXPECT_EQ(first->agendaLines(), (Lines{"R0[1]:0"}));
  EXPECT_TRUE(second->agendaLines().empty());
  EXPECT_TRUE(second->takeLog().empty());
  EXPECT_EQ(second->objectTable->find(&x), nullptr);
  second->assertObject(0, &x);
  EXPECT_EQ(second->agendaLines(), (Lines{"R0[1]:0"}));
  first->retractObject(&x, 0);
  EXPECT_TRUE(first->agendaLines().empty());
  EXPECT_EQ(second->agendaLines(), (Lines{"R0[1]:0"}));

  // A destroyed context leaves the list; the other one goes on working.
  first.reset();
  ASSERT_EQ(net.contexts.length(), 1);
  EXPECT_EQ(net.contexts[0], second.get());
  EXPECT_EQ(second->agenda->fireAllRules(), 1);
  second.reset();
  EXPECT_EQ(net.contexts.length(), 0);
}

// Destroying a context with live objects, partials, instances, collect
// tokens and logical supports frees them (the sanitizer build reports any
// leak) and leaves the application objects alone.
//
// Classes A (0), B (1), L (2, logical). Rules: 0 A(x) asserts a supported
// L; 1 not A; 2 collect A; 3 A(x), B(y); 4 A(x), exists B; 5 L(z); 6 count
// A with waitDepth 0.
unsigned char sameA(void* held, void* asserted) {
  return static_cast<Fact*>(held)->a == static_cast<Fact*>(asserted)->a;
}

TEST(ContextLifecycle, DestroyingALiveContextReleasesItsStructures) {
  QelNetwork net(nm("live"));
  net.init(0, 0, 7, 3, 5, 1, 2);
  TestClassNode* a = addClass(net, "A");
  TestClassNode* b = addClass(net, "B");
  TestClassNode* l = addClass(net, "L", 2);
  l->equality = &sameA;
  disc(net, 0, 0);
  disc(net, 1, 1, 0);
  disc(net, 2, 2);
  alpha(net, 0, 0);
  alpha(net, 0, 1, QelPatternNot);
  alpha(net, 0, 2, QelPatternCollect);
  alpha(net, 2, 3);
  alpha(net, 0, 4, QelPatternCount);
  alphaAt(net, 2)->collectTest = GetQelNullAlphaCollect();
  alphaAt(net, 4)->countTest = TestContext::alphaCount(0);
  net.initJoin(joinAt(net, 0), 0, 0, 0, GetQelNullJoin(), 0, -1,
               QelPatternPlain);
  net.initJoin(joinAt(net, 1), 0, 0, 0, GetQelNullJoin(), 0, -1,
               QelPatternExists);
  rule(net, 0, 0, 10);
  rule(net, 1, 1);
  rule(net, 2, 2);
  rule(net, 3, 0, 0, GetQelNullPrio(), true);
  rule(net, 4, 1, 0, GetQelNullPrio(), true);
  rule(net, 5, 3);
  net.initRule(ruleAt(net, 6), -1, nm("nowait"), GetQelNullPrio(), 0, -1, 0);
  net.initAction(6, TestContext::action(6), 0, 0, 4);

  auto* ctx = new TestContext();
  ctx->alphaCountFns[0] = [](int n) { return n >= 1; };
  std::vector<Fact*> logical;
  ctx->actionFns[0] = [&](QelPartial* p) {
    ctx->justification = p;
    Fact* z = new Fact{100, factAt(p, 1, 0)->a};
    logical.push_back(static_cast<Fact*>(ctx->assertObject(2, z)));
    ctx->justification = nullptr;
  };
  ctx->init(&net);
  Fact x1{1, 7}, x2{2, 8}, y{3};
  ctx->assertObject(0, &x1);
  ctx->assertObject(0, &x2);
  ctx->assertObject(1, &y);
  EXPECT_EQ(ctx->agenda->fireRule(), 0);
  ASSERT_EQ(logical.size(), 1u);
  Fact* z = logical[0];
  ASSERT_NE(ctx->objectTable->find(z), nullptr);
  EXPECT_FALSE(ctx->agendaLines().empty());

  delete ctx;
  EXPECT_EQ(net.contexts.length(), 0);
  EXPECT_EQ(a->deleted, 0);
  EXPECT_EQ(b->deleted, 0);
  EXPECT_EQ(l->deleted, 0);
  // Still a valid application object (made for x2, the later assert).
  EXPECT_EQ(z->a, 8);
  delete z;
}

TEST(ContextLifecycle, DestroyingAConstructedContextIsHarmless) {
  QelNetwork net(nm("unused"));
  net.init(0, 0, 0, 0, 0, 0, 0);
  auto* ctx = new TestContext();
  EXPECT_EQ(ctx->network, nullptr);
  ASSERT_NE(ctx->auxiliaryRecord, nullptr);
  EXPECT_EQ(ctx->auxiliaryRecord->words[0], 0);
  EXPECT_EQ(ctx->auxiliaryRecord->words[2], 0);
  delete ctx;
  EXPECT_EQ(net.contexts.length(), 0);
}

}  // namespace
