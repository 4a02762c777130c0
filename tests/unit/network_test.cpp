// QelNetwork construction calls and the node objects they link together.
// Callbacks here are only stored and compared, never called.
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "qel_class.h"
#include "qel_context.h"
#include "qel_network.h"

namespace {

char kName[] = "rules";

template <typename T>
T* at(const QelList& list, int i) {
  return static_cast<T*>(list[i]);
}

// Supplies callback values to store; never instantiated or called.
class StoredCallbacks : public QelContext {
 public:
  const char* getRulesetName() const override { return "stored"; }
  void act(QelPartial*) {}
  void* keyOf(QelPartial*) { return nullptr; }
  int rank(QelPartial*) { return 0; }
};

QelActionFunction fakeAction() {
  return static_cast<QelActionFunction>(&StoredCallbacks::act);
}
QelKeyFunction fakeKey() {
  return static_cast<QelKeyFunction>(&StoredCallbacks::keyOf);
}

TEST(QelNetworkInit, NothingButTheDefaultPacket) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(net.rulesetName, kName);
  ASSERT_NE(net.defaultPacket, nullptr);
  EXPECT_EQ(net.defaultPacket->index, -1);
  EXPECT_EQ(net.defaultPacket->network, &net);
  EXPECT_EQ(net.defaultPacket->name, nullptr);
  EXPECT_EQ(net.constants.length(), 0);
  EXPECT_EQ(net.slots.length(), 0);
  EXPECT_EQ(net.packets.length(), 0);
  EXPECT_EQ(net.classes.length(), 0);
  EXPECT_EQ(net.discs.length(), 0);
  EXPECT_EQ(net.alphas.length(), 0);
  EXPECT_EQ(net.joins.length(), 0);
  EXPECT_EQ(net.rights.length(), 0);
  EXPECT_EQ(net.rules.length(), 0);
  EXPECT_EQ(net.contexts.length(), 0);
  EXPECT_EQ(net.internalConstantCount(), 0);
}

TEST(QelNetworkInit, NegativeCountsCreateNothing) {
  QelNetwork net(kName);
  net.init(-1, -2, -3, -4, -5, -6, -7);
  EXPECT_EQ(net.constants.head, nullptr);
  EXPECT_EQ(net.packets.head, nullptr);
  EXPECT_EQ(net.rules.head, nullptr);
  EXPECT_EQ(net.discs.head, nullptr);
  EXPECT_EQ(net.alphas.head, nullptr);
  EXPECT_EQ(net.rights.head, nullptr);
  EXPECT_EQ(net.joins.head, nullptr);
}

TEST(QelNetworkInit, SmallCounts) {
  QelNetwork net(kName);
  net.init(2, 1, 3, 0, 0, 0, 0);
  ASSERT_NE(net.constants[1], nullptr);
  EXPECT_EQ(net.constants[2], nullptr);
  EXPECT_EQ(at<QelPacket>(net.packets, 0)->index, 0);
  EXPECT_EQ(at<QelRuleNode>(net.rules, 2)->index, 2);
  EXPECT_EQ(net.rules[3], nullptr);
  EXPECT_EQ(net.discs.length(), 0);
}

TEST(QelNetworkInit, EveryListIsInIndexOrder) {
  QelNetwork net(kName);
  net.init(3, 4, 5, 6, 7, 8, 9);
  ASSERT_EQ(net.constants.length(), 3);
  ASSERT_EQ(net.packets.length(), 4);
  ASSERT_EQ(net.rules.length(), 5);
  ASSERT_EQ(net.discs.length(), 6);
  ASSERT_EQ(net.alphas.length(), 7);
  ASSERT_EQ(net.rights.length(), 8);
  ASSERT_EQ(net.joins.length(), 9);
  for (int i = 0; i < 3; ++i) {
    QelConstant* c = at<QelConstant>(net.constants, i);
    EXPECT_EQ(c->network, &net);
    EXPECT_EQ(c->name, nullptr);
    EXPECT_EQ(c->external, 0);
    EXPECT_EQ(c->value, nullptr);
    EXPECT_EQ(c->reserved, 0);
  }
  for (int i = 0; i < 4; ++i) {
    QelPacket* p = at<QelPacket>(net.packets, i);
    EXPECT_EQ(p->index, i);
    EXPECT_EQ(p->network, &net);
  }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(at<QelRuleNode>(net.rules, i)->index, i);
    EXPECT_EQ(at<QelRuleNode>(net.rules, i)->network, &net);
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(at<QelDiscNode>(net.discs, i)->index, i);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(at<QelAlphaNode>(net.alphas, i)->index, i);
    EXPECT_EQ(at<QelAlphaNode>(net.alphas, i)->network, &net);
  }
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(at<QelRightNode>(net.rights, i)->index, i);
    EXPECT_EQ(at<QelRightNode>(net.rights, i)->network, &net);
  }
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(at<QelJoinNode>(net.joins, i)->index, i);
    EXPECT_EQ(at<QelJoinNode>(net.joins, i)->network, &net);
  }
}

// ------------------------------------------------------------ node defaults

TEST(QelNodes, FreshAlphaNode) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 0, 1, 0, 0);
  QelAlphaNode* a = at<QelAlphaNode>(net.alphas, 0);
  EXPECT_EQ(a->noUpdateMask, -1);
  EXPECT_EQ(a->packetState, QelPacketActive);
  EXPECT_EQ(a->discNode, nullptr);
  EXPECT_EQ(a->countTest, nullptr);
  EXPECT_EQ(a->successors.head, nullptr);
  EXPECT_EQ(a->mainActions.head, nullptr);
  EXPECT_EQ(a->watchdogActions.head, nullptr);
  EXPECT_EQ(a->level(), 0);
  EXPECT_EQ(a->headAlphaNode(), a);
}

TEST(QelNodes, FreshJoinRightDiscRulePacket) {
  QelNetwork net(kName);
  net.init(0, 1, 1, 1, 0, 1, 1);
  QelJoinNode* j = at<QelJoinNode>(net.joins, 0);
  EXPECT_EQ(j->left, nullptr);
  EXPECT_EQ(j->right, nullptr);
  EXPECT_EQ(j->independenceMask, -1);
  EXPECT_EQ(j->noUpdateMask, -1);
  EXPECT_EQ(j->packetState, QelPacketActive);
  EXPECT_EQ(j->disablingRules.head, nullptr);
  EXPECT_EQ(j->watchdogRules.head, nullptr);

  QelRightNode* r = at<QelRightNode>(net.rights, 0);
  EXPECT_EQ(r->discNode, nullptr);
  EXPECT_EQ(r->successors.head, nullptr);

  QelDiscNode* d = at<QelDiscNode>(net.discs, 0);
  EXPECT_EQ(d->classNode, nullptr);
  EXPECT_EQ(d->rightNode, nullptr);
  EXPECT_EQ(d->alphaNodes.head, nullptr);

  QelRuleNode* rule = at<QelRuleNode>(net.rules, 0);
  EXPECT_EQ(rule->name, nullptr);
  EXPECT_EQ(rule->packet, nullptr);
  EXPECT_EQ(rule->priorityFunction, nullptr);
  EXPECT_EQ(rule->staticPriority, 0);
  EXPECT_EQ(rule->waitDepth, -1);
  EXPECT_EQ(rule->lastJoin, nullptr);
  EXPECT_EQ(rule->mainAction, nullptr);
  EXPECT_EQ(rule->watchdogAction, nullptr);
  EXPECT_EQ(rule->extensionCode(), 0);

  QelPacket* p = at<QelPacket>(net.packets, 0);
  EXPECT_EQ(p->name, nullptr);
  EXPECT_EQ(p->packetData1, 0);
  EXPECT_EQ(p->packetData2, 0);
  EXPECT_EQ(p->rules.head, nullptr);
  EXPECT_EQ(p->alphaNodes.head, nullptr);
  EXPECT_EQ(p->joinNodes.head, nullptr);
}

TEST(QelNodes, StandaloneActionNode) {
  QelRuleNode rule(nullptr, 4);
  QelActionNode action(&rule);
  EXPECT_EQ(action.rule, &rule);
  EXPECT_EQ(action.parent, nullptr);
  EXPECT_EQ(action.action, nullptr);
}

TEST(QelNodes, RestrictNoUpdateMask) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 0, 1, 0, 1);
  QelLeftNode* a = at<QelAlphaNode>(net.alphas, 0);
  a->restrictNoUpdateMask(6);
  EXPECT_EQ(a->noUpdateMask, 3);
  a->restrictNoUpdateMask(2);
  EXPECT_EQ(a->noUpdateMask, 1);
  a->restrictNoUpdateMask(0xFF);
  EXPECT_EQ(a->noUpdateMask, 1);
  a->restrictNoUpdateMask(1);
  EXPECT_EQ(a->noUpdateMask, 0);

  // The shift is arithmetic: a negative argument keeps its sign bit.
  QelLeftNode* j = at<QelJoinNode>(net.joins, 0);
  j->restrictNoUpdateMask(-4);
  EXPECT_EQ(j->noUpdateMask, -2);
  j->noUpdateMask = -1;
  j->restrictNoUpdateMask(INT_MIN);
  EXPECT_EQ(j->noUpdateMask, INT_MIN >> 1);
  EXPECT_LT(j->noUpdateMask, 0);
}

// ------------------------------------------------------------ joins

// alpha 0 <- join 0 <- join 1 <- join 2, each join with right node i.
void buildChain(QelNetwork& net) {
  net.init(0, 0, 0, 0, 1, 3, 3);
  net.initJoin(net.joins[0], 0, 0, 0, GetQelNullJoin(), -1, -1,
               QelPatternPlain);
  net.initJoin(net.joins[1], 1, 0, 1, GetQelNullJoin(), -1, -1,
               QelPatternPlain);
  net.initJoin(net.joins[2], 1, 1, 2, GetQelNullJoin(), -1, -1,
               QelPatternPlain);
}

TEST(QelNetworkJoins, LevelsAndHeadAlpha) {
  QelNetwork net(kName);
  buildChain(net);
  QelAlphaNode* a = at<QelAlphaNode>(net.alphas, 0);
  QelJoinNode* j0 = at<QelJoinNode>(net.joins, 0);
  QelJoinNode* j1 = at<QelJoinNode>(net.joins, 1);
  QelJoinNode* j2 = at<QelJoinNode>(net.joins, 2);
  EXPECT_EQ(j0->left, a);
  EXPECT_EQ(j1->left, j0);
  EXPECT_EQ(j2->left, j1);
  EXPECT_EQ(j0->level(), 1);
  EXPECT_EQ(j1->level(), 2);
  EXPECT_EQ(j2->level(), 3);
  EXPECT_EQ(j0->headAlphaNode(), a);
  EXPECT_EQ(j1->headAlphaNode(), a);
  EXPECT_EQ(j2->headAlphaNode(), a);
  // Through the base class, as memories call them.
  QelLeftNode* base = j1;
  EXPECT_EQ(base->level(), 2);
  EXPECT_EQ(base->headAlphaNode(), a);
}

TEST(QelNetworkJoins, InitJoinLinksBothInputs) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 0, 2, 2, 3);
  QelAlphaNode* a0 = at<QelAlphaNode>(net.alphas, 0);
  QelAlphaNode* a1 = at<QelAlphaNode>(net.alphas, 1);
  QelRightNode* r1 = at<QelRightNode>(net.rights, 1);
  QelJoinNode* j0 = at<QelJoinNode>(net.joins, 0);
  QelJoinNode* j1 = at<QelJoinNode>(net.joins, 1);
  QelJoinNode* j2 = at<QelJoinNode>(net.joins, 2);

  net.initJoin(j0, 0, 1, 1, GetQelNullJoin(), 5, 6, QelPatternExists);
  EXPECT_EQ(j0->left, a1);
  EXPECT_EQ(j0->right, r1);
  EXPECT_EQ(j0->joinTest, GetQelNullJoin());
  EXPECT_EQ(j0->independenceMask, 5);
  EXPECT_EQ(j0->noUpdateMask, 6);
  EXPECT_EQ(j0->patternType, QelPatternExists);
  EXPECT_EQ(a1->successors[0], j0);
  EXPECT_EQ(r1->successors[0], j0);
  EXPECT_EQ(a0->successors.head, nullptr);

  // A second join on the same inputs follows the first in both lists.
  net.initJoin(j1, 0, 1, 1, GetQelNullJoin(), 0, 0, QelPatternNot);
  EXPECT_EQ(a1->successors.length(), 2);
  EXPECT_EQ(a1->successors[1], j1);
  EXPECT_EQ(r1->successors[1], j1);

  // Left input a join; no right input.
  net.initJoin(j2, 1, 0, -1, GetQelNullJoin(), 0, 0, QelPatternWait);
  EXPECT_EQ(j2->left, j0);
  EXPECT_EQ(j2->right, nullptr);
  EXPECT_EQ(j0->successors[0], j2);
  EXPECT_EQ(at<QelRightNode>(net.rights, 0)->successors.head, nullptr);
  EXPECT_EQ(r1->successors.length(), 2);
  EXPECT_EQ(j2->patternType, QelPatternWait);
}

TEST(QelNetworkJoins, RightIndexOutOfRangeGivesNoRightInput) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 0, 1, 1, 1);
  net.initJoin(net.joins[0], 0, 0, 7, GetQelNullJoin(), 0, 0,
               QelPatternInline);
  EXPECT_EQ(at<QelJoinNode>(net.joins, 0)->right, nullptr);
  EXPECT_EQ(at<QelRightNode>(net.rights, 0)->successors.head, nullptr);
}

TEST(QelNetworkJoins, KeyAndCollectVariants) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 0, 1, 1, 2);
  net.initJoin(net.joins[0], 0, 0, 0, GetQelNullJoin(), 1, 2,
               QelPatternPlainObjUnique, fakeKey());
  net.initJoin(net.joins[1], 1, 0, 0, GetQelNullJoin(), 3, 4,
               QelPatternCollect, GetQelNullJoinCollect());
  QelJoinNode* j0 = at<QelJoinNode>(net.joins, 0);
  QelJoinNode* j1 = at<QelJoinNode>(net.joins, 1);
  EXPECT_EQ(j0->keyFunction, fakeKey());
  EXPECT_EQ(j0->patternType, QelPatternPlainObjUnique);
  EXPECT_EQ(j0->independenceMask, 1);
  EXPECT_EQ(j0->noUpdateMask, 2);
  EXPECT_EQ(j0->left, at<QelAlphaNode>(net.alphas, 0));
  EXPECT_EQ(j1->collectTest, GetQelNullJoinCollect());
  EXPECT_EQ(j1->patternType, QelPatternCollect);
  EXPECT_EQ(j1->left, j0);
  EXPECT_EQ(j1->independenceMask, 3);
  EXPECT_EQ(j1->noUpdateMask, 4);
  EXPECT_EQ(at<QelRightNode>(net.rights, 0)->successors.length(), 2);
}

// ------------------------------------------------------------ rules

TEST(QelNetworkRules, PacketAndFields) {
  QelNetwork net(kName);
  net.init(0, 2, 3, 0, 0, 0, 0);
  char n0[] = "r0";
  char n1[] = "r1";
  char n2[] = "r2";
  QelRuleNode* r0 = at<QelRuleNode>(net.rules, 0);
  QelRuleNode* r1 = at<QelRuleNode>(net.rules, 1);
  QelRuleNode* r2 = at<QelRuleNode>(net.rules, 2);
  QelPacket* p0 = at<QelPacket>(net.packets, 0);
  QelPacket* p1 = at<QelPacket>(net.packets, 1);

  net.initRule(r0, -1, n0, GetQelNullPrio(), 7, -1, 0);
  net.initRule(r1, 0, n1, GetQelNullPrio(), -3, -1, -1);
  net.initRule(r2, -1, n2, GetQelNullPrio(), 0, -1, 0);

  EXPECT_EQ(r0->name, n0);
  EXPECT_EQ(r0->packet, net.defaultPacket);
  EXPECT_EQ(r0->priorityFunction, GetQelNullPrio());
  EXPECT_EQ(r0->staticPriority, 7);
  EXPECT_EQ(r0->waitDepth, 0);
  EXPECT_EQ(r0->lastJoin, nullptr);
  EXPECT_EQ(r1->packet, p0);
  EXPECT_EQ(r1->staticPriority, -3);
  EXPECT_EQ(r1->waitDepth, -1);

  EXPECT_EQ(net.defaultPacket->rules.length(), 2);
  EXPECT_EQ(net.defaultPacket->rules[0], r0);
  EXPECT_EQ(net.defaultPacket->rules[1], r2);
  EXPECT_EQ(p0->rules.length(), 1);
  EXPECT_EQ(p0->rules[0], r1);
  EXPECT_EQ(p1->rules.head, nullptr);
}

TEST(QelNetworkRules, SetPriorityReplacesBoth) {
  QelNetwork net(kName);
  net.init(0, 0, 1, 0, 0, 0, 0);
  QelRuleNode* r = at<QelRuleNode>(net.rules, 0);
  net.initRule(r, -1, kName, GetQelNullPrio(), 7, -1, 0);
  const QelPriorityFunction other =
      static_cast<QelPriorityFunction>(&StoredCallbacks::rank);
  net.setPriority(r, 42, other);
  EXPECT_EQ(r->staticPriority, 42);
  EXPECT_EQ(r->priorityFunction, other);
}

// A rule ending at join 2 of alpha 0 <- join 0 <- join 1 <- join 2 lists
// itself according to its wait depth.
class InitRuleWaitDepth : public ::testing::TestWithParam<int> {};

TEST_P(InitRuleWaitDepth, JoinListsOfTheRule) {
  const int w = GetParam();
  QelNetwork net(kName);
  net.init(0, 0, 1, 0, 1, 3, 3);
  net.initJoin(net.joins[0], 0, 0, 0, GetQelNullJoin(), -1, -1,
               QelPatternPlain);
  net.initJoin(net.joins[1], 1, 0, 1, GetQelNullJoin(), -1, -1,
               QelPatternWait);
  net.initJoin(net.joins[2], 1, 1, 2, GetQelNullJoin(), -1, -1,
               QelPatternPlain);
  QelRuleNode* r = at<QelRuleNode>(net.rules, 0);
  net.initRule(r, -1, kName, GetQelNullPrio(), 0, 2, w);

  QelJoinNode* j[3];
  for (int i = 0; i < 3; ++i) j[i] = at<QelJoinNode>(net.joins, i);
  EXPECT_EQ(r->lastJoin, j[2]);
  EXPECT_EQ(r->waitDepth, w);

  // Expected membership per join, for the depths the chain can hold.
  bool disabling[3] = {false, false, w > 1};
  bool watchdog[3] = {w == 3, w == 2, w == 1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(j[i]->disablingRules.length(), disabling[i] ? 1 : 0)
        << "join " << i;
    EXPECT_EQ(j[i]->watchdogRules.length(), watchdog[i] ? 1 : 0)
        << "join " << i;
    if (disabling[i]) {
      EXPECT_EQ(j[i]->disablingRules[0], r);
    }
    if (watchdog[i]) {
      EXPECT_EQ(j[i]->watchdogRules[0], r);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, InitRuleWaitDepth,
                         ::testing::Values(-1, 0, 1, 2, 3));

TEST(QelNetworkRules, SeveralRulesOnOneJoinKeepOrder) {
  QelNetwork other(kName);
  other.init(0, 0, 2, 0, 1, 0, 2);
  other.initJoin(other.joins[0], 0, 0, -1, GetQelNullJoin(), -1, -1,
                 QelPatternWait);
  other.initJoin(other.joins[1], 1, 0, -1, GetQelNullJoin(), -1, -1,
                 QelPatternPlain);
  other.initRule(other.rules[0], -1, kName, GetQelNullPrio(), 0, 1, 2);
  other.initRule(other.rules[1], -1, kName, GetQelNullPrio(), 0, 1, 2);
  QelJoinNode* j0 = at<QelJoinNode>(other.joins, 0);
  QelJoinNode* j1 = at<QelJoinNode>(other.joins, 1);
  ASSERT_EQ(j1->disablingRules.length(), 2);
  EXPECT_EQ(j1->disablingRules[0], other.rules[0]);
  EXPECT_EQ(j1->disablingRules[1], other.rules[1]);
  ASSERT_EQ(j0->watchdogRules.length(), 2);
  EXPECT_EQ(j0->watchdogRules[0], other.rules[0]);
  EXPECT_EQ(j0->watchdogRules[1], other.rules[1]);
}

// ------------------------------------------------------------ actions

TEST(QelNetworkActions, MainActionOnAlpha) {
  QelNetwork net(kName);
  net.init(0, 0, 1, 0, 2, 0, 0);
  QelRuleNode* r = at<QelRuleNode>(net.rules, 0);
  net.initRule(r, -1, kName, GetQelNullPrio(), 0, -1, 0);
  net.initAction(0, fakeAction(), 0, 0, 1);
  QelAlphaNode* a1 = at<QelAlphaNode>(net.alphas, 1);
  ASSERT_NE(r->mainAction, nullptr);
  EXPECT_EQ(r->watchdogAction, nullptr);
  EXPECT_EQ(r->mainAction->rule, r);
  EXPECT_EQ(r->mainAction->parent, a1);
  EXPECT_EQ(r->mainAction->action, fakeAction());
  EXPECT_EQ(a1->mainActions.length(), 1);
  EXPECT_EQ(a1->mainActions[0], r->mainAction);
  EXPECT_EQ(a1->watchdogActions.head, nullptr);
  EXPECT_EQ(at<QelAlphaNode>(net.alphas, 0)->mainActions.head, nullptr);
}

TEST(QelNetworkActions, WatchdogActionOnJoin) {
  QelNetwork net(kName);
  net.init(0, 0, 1, 0, 1, 0, 1);
  net.initJoin(net.joins[0], 0, 0, -1, GetQelNullJoin(), -1, -1,
               QelPatternWait);
  QelRuleNode* r = at<QelRuleNode>(net.rules, 0);
  net.initRule(r, -1, kName, GetQelNullPrio(), 0, 0, 1);
  net.initAction(0, fakeAction(), 0, 1, 0);
  net.initAction(0, fakeAction(), 1, 1, 0);
  QelJoinNode* j = at<QelJoinNode>(net.joins, 0);
  ASSERT_NE(r->watchdogAction, nullptr);
  ASSERT_NE(r->mainAction, nullptr);
  EXPECT_NE(r->watchdogAction, r->mainAction);
  EXPECT_EQ(r->watchdogAction->parent, j);
  EXPECT_EQ(j->watchdogActions.length(), 1);
  EXPECT_EQ(j->watchdogActions[0], r->watchdogAction);
  EXPECT_EQ(j->mainActions.length(), 1);
  EXPECT_EQ(j->mainActions[0], r->mainAction);
}

// A network whose action nodes are of its own class.
class TaggedActionNode : public QelActionNode {
 public:
  explicit TaggedActionNode(QelRuleNode* rule) : QelActionNode(rule) {}
  int tag = 77;
};

class TaggingNetwork : public QelNetwork {
 public:
  TaggingNetwork() : QelNetwork(kName) {}
  QelActionNode* newActionNode(QelRuleNode* rule) override {
    ++made;
    return new TaggedActionNode(rule);
  }
  int made = 0;
};

TEST(QelNetworkActions, InitActionUsesTheVirtualFactory) {
  TaggingNetwork net;
  net.init(0, 0, 1, 0, 1, 0, 0);
  net.initRule(net.rules[0], -1, kName, GetQelNullPrio(), 0, -1, 0);
  net.initAction(0, fakeAction(), 0, 0, 0);
  EXPECT_EQ(net.made, 1);
  QelRuleNode* r = at<QelRuleNode>(net.rules, 0);
  auto* tagged = dynamic_cast<TaggedActionNode*>(r->mainAction);
  ASSERT_NE(tagged, nullptr);
  EXPECT_EQ(tagged->tag, 77);
  EXPECT_EQ(tagged->rule, r);

  // The base factory makes a plain action node for the given rule.
  QelNetwork plain(kName);
  QelRuleNode rule(&plain, 0);
  QelActionNode* made = plain.newActionNode(&rule);
  EXPECT_EQ(made->rule, &rule);
  EXPECT_EQ(made->parent, nullptr);
  delete made;
}

// ------------------------------------------------------------ discs, alphas

TEST(QelNetworkDiscs, InitDiscAndAlphaNodes) {
  QelNetwork net(kName);
  net.init(0, 0, 0, 3, 3, 2, 0);
  QelClassNode* k0 = new QelClassNode(&net, 0);
  QelClassNode* k1 = new QelClassNode(&net, 1);
  net.classes.append(k0);
  net.classes.append(k1);
  QelDiscNode* d0 = at<QelDiscNode>(net.discs, 0);
  QelDiscNode* d1 = at<QelDiscNode>(net.discs, 1);
  QelDiscNode* d2 = at<QelDiscNode>(net.discs, 2);
  QelRightNode* r0 = at<QelRightNode>(net.rights, 0);
  QelRightNode* r1 = at<QelRightNode>(net.rights, 1);

  net.initDisc(d0, 1, -1, GetQelNullDisc());
  net.initDisc(d1, 1, 1, GetQelNullDisc());
  net.initDisc(d2, 0, 0, GetQelNullDisc());
  EXPECT_EQ(d0->classNode, k1);
  EXPECT_EQ(d0->test, GetQelNullDisc());
  EXPECT_EQ(d0->rightNode, nullptr);
  EXPECT_EQ(d1->rightNode, r1);
  EXPECT_EQ(r1->discNode, d1);
  EXPECT_EQ(d2->rightNode, r0);
  EXPECT_EQ(r0->discNode, d2);
  ASSERT_EQ(k1->discs.length(), 2);
  EXPECT_EQ(k1->discs[0], d0);
  EXPECT_EQ(k1->discs[1], d1);
  ASSERT_EQ(k0->discs.length(), 1);
  EXPECT_EQ(k0->discs[0], d2);

  QelAlphaNode* a0 = at<QelAlphaNode>(net.alphas, 0);
  QelAlphaNode* a1 = at<QelAlphaNode>(net.alphas, 1);
  QelAlphaNode* a2 = at<QelAlphaNode>(net.alphas, 2);
  net.addAlphaNode(d1, 2, 12, QelPatternCount);
  net.addAlphaNode(d1, 0, 0, QelPatternPlain);
  net.addAlphaNode(d0, 1, -1, QelPatternNot);
  EXPECT_EQ(a2->discNode, d1);
  EXPECT_EQ(a2->noUpdateMask, 12);
  EXPECT_EQ(a2->patternType, QelPatternCount);
  EXPECT_EQ(a0->noUpdateMask, 0);
  EXPECT_EQ(a1->patternType, QelPatternNot);
  ASSERT_EQ(d1->alphaNodes.length(), 2);
  EXPECT_EQ(d1->alphaNodes[0], a2);
  EXPECT_EQ(d1->alphaNodes[1], a0);
  EXPECT_EQ(d0->alphaNodes[0], a1);
  EXPECT_EQ(d2->alphaNodes.head, nullptr);
}

TEST(QelNetworkPackets, InitPacketAndPacketAlphaNodes) {
  QelNetwork net(kName);
  net.init(0, 2, 0, 0, 3, 0, 0);
  QelPacket* p1 = at<QelPacket>(net.packets, 1);
  char name[] = "phase";
  net.initPacket(p1, name, 11, 22);
  EXPECT_EQ(p1->name, name);
  EXPECT_EQ(p1->packetData1, 11);
  EXPECT_EQ(p1->packetData2, 22);

  p1->addAlphaNode(QelPacketIdle, 2);
  p1->addAlphaNode(QelPacketInactive, 0);
  QelAlphaNode* a0 = at<QelAlphaNode>(net.alphas, 0);
  QelAlphaNode* a2 = at<QelAlphaNode>(net.alphas, 2);
  EXPECT_EQ(a2->patternType, QelPatternPacket);
  EXPECT_EQ(a2->packetState, QelPacketIdle);
  EXPECT_EQ(a0->patternType, QelPatternPacket);
  EXPECT_EQ(a0->packetState, QelPacketInactive);
  ASSERT_EQ(p1->alphaNodes.length(), 2);
  EXPECT_EQ(p1->alphaNodes[0], a2);
  EXPECT_EQ(p1->alphaNodes[1], a0);
  EXPECT_EQ(at<QelPacket>(net.packets, 0)->alphaNodes.head, nullptr);
  EXPECT_EQ(at<QelAlphaNode>(net.alphas, 1)->packetState, QelPacketActive);
}

// ------------------------------------------------------------ constants

TEST(QelNetworkConstants, NamesFlagsAndCount) {
  QelNetwork net(kName);
  net.init(3, 0, 0, 0, 0, 0, 0);
  char a[] = "a";
  char b[] = "b";
  char c[] = "c";
  net.initInternalConstant(net.constants[0], a, nullptr);
  net.initExternalConstant(net.constants[1], b, nullptr);
  net.initInternalConstant(net.constants[2], c, nullptr);
  EXPECT_EQ(at<QelConstant>(net.constants, 0)->name, a);
  EXPECT_EQ(at<QelConstant>(net.constants, 0)->external, 0);
  EXPECT_EQ(at<QelConstant>(net.constants, 1)->external, 1);
  EXPECT_EQ(net.internalConstantCount(), 2);
  // Re-declaring flips the flag both ways.
  net.initInternalConstant(net.constants[1], b, nullptr);
  net.initExternalConstant(net.constants[0], a, nullptr);
  EXPECT_EQ(at<QelConstant>(net.constants, 0)->external, 1);
  EXPECT_EQ(at<QelConstant>(net.constants, 1)->external, 0);
  EXPECT_EQ(net.internalConstantCount(), 2);
  // Any non-zero flag counts as external.
  at<QelConstant>(net.constants, 2)->external = 5;
  EXPECT_EQ(net.internalConstantCount(), 1);
}

// ------------------------------------------------------------ misc

TEST(QelNetworkMisc, IsInterpretedAndExecCommand) {
  QelNetwork net(kName);
  net.init(1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(net.isInterpreted(), 0);
  std::ostringstream out;
  int argument = 5;
  net.execCommand(3, &argument, out);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(argument, 5);
  EXPECT_EQ(net.constants.length(), 1);
  EXPECT_EQ(net.rules.length(), 1);
}

TEST(QelNetworkMisc, DestructorLeavesContextsAlone) {
  int notAContext = 0;
  auto* net = new QelNetwork(kName);
  net->init(0, 0, 0, 0, 0, 0, 0);
  // Were the network to delete or touch its contexts, this would break.
  net->contexts.append(&notAContext);
  delete net;
  EXPECT_EQ(notAContext, 0);
}

// Class nodes and action nodes that count their destruction.
int classNodesDestroyed = 0;
int actionNodesDestroyed = 0;

class CountingClassNode : public QelClassNode {
 public:
  CountingClassNode(QelNetwork* net, int index) : QelClassNode(net, index) {}
  ~CountingClassNode() override { ++classNodesDestroyed; }
};

class CountingActionNode : public QelActionNode {
 public:
  explicit CountingActionNode(QelRuleNode* rule) : QelActionNode(rule) {}
  ~CountingActionNode() override { ++actionNodesDestroyed; }
};

class CountingNetwork : public QelNetwork {
 public:
  CountingNetwork() : QelNetwork(kName) {}
  QelActionNode* newActionNode(QelRuleNode* rule) override {
    return new CountingActionNode(rule);
  }
};

TEST(QelNetworkMisc, DestructorDeletesClassNodesAndActionNodes) {
  classNodesDestroyed = 0;
  actionNodesDestroyed = 0;
  auto* net = new CountingNetwork;
  net->init(0, 0, 2, 0, 1, 0, 1);
  net->initJoin(net->joins[0], 0, 0, -1, GetQelNullJoin(), -1, -1,
                QelPatternWait);
  for (int i = 0; i < 3; ++i) net->classes.append(new CountingClassNode(net, i));
  net->initRule(net->rules[0], -1, kName, GetQelNullPrio(), 0, 0, 1);
  net->initAction(0, fakeAction(), 0, 1, 0);
  net->initAction(0, fakeAction(), 1, 1, 0);
  net->initRule(net->rules[1], -1, kName, GetQelNullPrio(), 0, -1, 0);
  net->initAction(1, fakeAction(), 0, 0, 0);
  EXPECT_EQ(classNodesDestroyed, 0);
  delete net;
  EXPECT_EQ(classNodesDestroyed, 3);
  EXPECT_EQ(actionNodesDestroyed, 3);
}

TEST(QelNetworkMisc, RuleNodeDeletesBothActionNodes) {
  actionNodesDestroyed = 0;
  auto* rule = new QelRuleNode(nullptr, 0);
  rule->mainAction = new CountingActionNode(rule);
  rule->watchdogAction = new CountingActionNode(rule);
  delete rule;
  EXPECT_EQ(actionNodesDestroyed, 2);
  // Without action nodes nothing else is released.
  delete new QelRuleNode(nullptr, 1);
  EXPECT_EQ(actionNodesDestroyed, 2);
}

}  // namespace
