// Node operations that call back into a context: tests, counts, keys, wait
// times, priorities and actions, and the null callbacks they skip.
#include <gtest/gtest.h>

#include "qel_context.h"
#include "qel_network.h"
#include "qel_partial.h"
#include "qel_table.h"

namespace {

// Records every callback it receives.
class ProbeContext : public QelContext {
 public:
  const char* getRulesetName() const override { return "probe"; }

  unsigned char disc(QelInfo* info) {
    ++calls;
    lastInfo = info;
    return result;
  }
  unsigned char join(QelPartial* partial, QelInfo* info) {
    ++calls;
    lastPartial = partial;
    lastInfo = info;
    return result;
  }
  unsigned char alphaCount(int count) {
    ++calls;
    lastCount = count;
    return result;
  }
  unsigned char alphaCollect(const QelOrderedSet* set) {
    ++calls;
    lastSet = set;
    return result;
  }
  unsigned char joinCount(QelPartial* partial, int count) {
    ++calls;
    lastPartial = partial;
    lastCount = count;
    return result;
  }
  unsigned char joinCollect(QelPartial* partial, QelOrderedSet* set) {
    ++calls;
    lastPartial = partial;
    lastSet = set;
    return result;
  }
  void* key(QelPartial* partial) {
    ++calls;
    lastPartial = partial;
    return &keyValue;
  }
  int wait(QelPartial* partial) {
    ++calls;
    lastPartial = partial;
    return 250;
  }
  int priority(QelPartial* partial) {
    ++calls;
    lastPartial = partial;
    return 1000;
  }
  void action(QelPartial* partial) {
    ++calls;
    lastPartial = partial;
  }

  int calls = 0;
  unsigned char result = 0;
  int lastCount = -1;
  QelInfo* lastInfo = nullptr;
  QelPartial* lastPartial = nullptr;
  const QelOrderedSet* lastSet = nullptr;
  int keyValue = 0;
};

template <typename To, typename From>
To as(From f) {
  return static_cast<To>(f);
}

// A chain of four partials p[3] -> p[2] -> p[1] -> p[0].
struct Chain {
  QelInfo info[4] = {{nullptr, nullptr},
                     {nullptr, nullptr},
                     {nullptr, nullptr},
                     {nullptr, nullptr}};
  QelPartial p0{&info[0]};
  QelPartial p1{&info[1], &p0};
  QelPartial p2{&info[2], &p1};
  QelPartial p3{&info[3], &p2};
};

TEST(NullCallbacks, GettersReturnTheMembers) {
  EXPECT_EQ(GetQelNullDisc(), &QelContext::nullDisc);
  EXPECT_EQ(GetQelNullJoin(), &QelContext::nullJoin);
  EXPECT_EQ(GetQelNullPrio(), &QelContext::nullPrio);
}

TEST(DiscNodeEvaluate, NullTestPassesWithoutACall) {
  ProbeContext ctx;
  QelInfo info(nullptr, nullptr);
  // Called, nullDisc would reject the object.
  ASSERT_EQ(ctx.nullDisc(&info), 0);
  QelDiscNode node(0);
  node.test = GetQelNullDisc();
  EXPECT_EQ(node.evaluate(&ctx, &info), 1);
  node.test = &QelContext::nullDisc;
  EXPECT_EQ(node.evaluate(&ctx, &info), 1);
  EXPECT_EQ(ctx.calls, 0);
}

TEST(DiscNodeEvaluate, RealTestIsCalledWithTheRecord) {
  ProbeContext ctx;
  QelInfo info(&ctx, nullptr);
  QelDiscNode node(0);
  node.test = as<QelDiscTest>(&ProbeContext::disc);
  ctx.result = 0;
  EXPECT_EQ(node.evaluate(&ctx, &info), 0);
  EXPECT_EQ(ctx.lastInfo, &info);
  ctx.result = 9;
  EXPECT_EQ(node.evaluate(&ctx, &info), 9);
  EXPECT_EQ(ctx.calls, 2);
}

TEST(JoinNodeTests, NullJoinPassesWithoutACall) {
  ProbeContext ctx;
  Chain c;
  ASSERT_EQ(ctx.nullJoin(&c.p0, &c.info[1]), 0);
  QelJoinNode node(nullptr, 0);
  node.joinTest = GetQelNullJoin();
  EXPECT_EQ(node.testJoin(&ctx, &c.info[1], &c.p0), 1);
  EXPECT_EQ(ctx.calls, 0);
}

TEST(JoinNodeTests, ArgumentsReachTheCallbacksPartialFirst) {
  ProbeContext ctx;
  Chain c;
  QelOrderedSet set;
  QelJoinNode node(nullptr, 0);
  node.joinTest = as<QelJoinTest>(&ProbeContext::join);
  node.countTest = as<QelJoinCountTest>(&ProbeContext::joinCount);
  node.collectTest = as<QelJoinCollectTest>(&ProbeContext::joinCollect);
  node.keyFunction = as<QelKeyFunction>(&ProbeContext::key);
  node.waitTimeFunction = as<QelWaitTimeFunction>(&ProbeContext::wait);

  ctx.result = 0;
  EXPECT_EQ(node.testJoin(&ctx, &c.info[2], &c.p1), 0);
  EXPECT_EQ(ctx.lastPartial, &c.p1);
  EXPECT_EQ(ctx.lastInfo, &c.info[2]);

  ctx.result = 1;
  EXPECT_EQ(node.testCount(&ctx, 4, &c.p2), 1);
  EXPECT_EQ(ctx.lastCount, 4);
  EXPECT_EQ(ctx.lastPartial, &c.p2);

  EXPECT_EQ(node.testCollect(&ctx, &c.p0, &set), 1);
  EXPECT_EQ(ctx.lastPartial, &c.p0);
  EXPECT_EQ(ctx.lastSet, &set);

  EXPECT_EQ(node.key(&ctx, &c.p3), &ctx.keyValue);
  EXPECT_EQ(ctx.lastPartial, &c.p3);

  EXPECT_EQ(node.waitTime(&ctx, &c.p1), 250);
  EXPECT_EQ(ctx.lastPartial, &c.p1);
  EXPECT_EQ(ctx.calls, 5);
}

TEST(JoinNodeTests, NullJoinCollectIsReallyCalled) {
  ProbeContext ctx;
  Chain c;
  QelOrderedSet set;
  QelJoinNode node(nullptr, 0);
  node.collectTest = GetQelNullJoinCollect();
  EXPECT_EQ(node.testCollect(&ctx, &c.p0, &set), 1);
}

TEST(AlphaNodeTests, CountAndCollect) {
  ProbeContext ctx;
  QelOrderedSet set;
  QelAlphaNode node(nullptr, 0);
  node.countTest = as<QelAlphaCountTest>(&ProbeContext::alphaCount);
  node.collectTest = as<QelAlphaCollectTest>(&ProbeContext::alphaCollect);
  ctx.result = 1;
  EXPECT_EQ(node.testCount(&ctx, 3), 1);
  EXPECT_EQ(ctx.lastCount, 3);
  ctx.result = 0;
  EXPECT_EQ(node.testCount(&ctx, 0), 0);
  EXPECT_EQ(ctx.lastCount, 0);
  EXPECT_EQ(node.testCollect(&ctx, &set), 0);
  EXPECT_EQ(ctx.lastSet, &set);
  EXPECT_EQ(ctx.calls, 3);
  node.collectTest = GetQelNullAlphaCollect();
  EXPECT_EQ(node.testCollect(&ctx, &set), 1);
}

// ------------------------------------------------------------ priorities

class RulePriority : public ::testing::Test {
 protected:
  RulePriority() : rule(nullptr, 0) {
    rule.mainAction = new QelActionNode(&rule);
    rule.watchdogAction = new QelActionNode(&rule);
    rule.staticPriority = 9;
  }
  ProbeContext ctx;
  Chain c;
  QelRuleNode rule;
};

TEST_F(RulePriority, WithoutFunctionTheStaticPriority) {
  rule.priorityFunction = GetQelNullPrio();
  rule.waitDepth = 3;
  EXPECT_EQ(rule.hasPriorityFunction(), 0);
  EXPECT_EQ(rule.computePriority(&ctx, &c.p3, rule.mainAction), 9);
  EXPECT_EQ(rule.computePriority(&ctx, &c.p3, rule.watchdogAction), 9);
  EXPECT_EQ(rule.computePriority(&ctx, nullptr, nullptr), 9);
  EXPECT_EQ(ctx.calls, 0);
}

TEST_F(RulePriority, FunctionGetsThePartial) {
  rule.priorityFunction = as<QelPriorityFunction>(&ProbeContext::priority);
  rule.waitDepth = -1;
  EXPECT_EQ(rule.hasPriorityFunction(), 1);
  EXPECT_EQ(rule.computePriority(&ctx, &c.p3, rule.mainAction), 1000);
  EXPECT_EQ(ctx.lastPartial, &c.p3);
  rule.waitDepth = 0;
  EXPECT_EQ(rule.computePriority(&ctx, &c.p2, rule.mainAction), 1000);
  EXPECT_EQ(ctx.lastPartial, &c.p2);
  EXPECT_EQ(ctx.calls, 2);
}

TEST_F(RulePriority, WaitDepthShortensThePartialOnlyForTheMainAction) {
  rule.priorityFunction = as<QelPriorityFunction>(&ProbeContext::priority);
  rule.waitDepth = 3;
  EXPECT_EQ(rule.computePriority(&ctx, &c.p3, rule.mainAction), 1000);
  EXPECT_EQ(ctx.lastPartial, &c.p1);  // tailn(2)
  EXPECT_EQ(rule.computePriority(&ctx, &c.p3, rule.watchdogAction), 1000);
  EXPECT_EQ(ctx.lastPartial, &c.p3);
  // Any other action node counts as "not the main action".
  QelActionNode stranger(&rule);
  EXPECT_EQ(rule.computePriority(&ctx, &c.p2, &stranger), 1000);
  EXPECT_EQ(ctx.lastPartial, &c.p2);

  rule.waitDepth = 1;
  EXPECT_EQ(rule.computePriority(&ctx, &c.p3, rule.mainAction), 1000);
  EXPECT_EQ(ctx.lastPartial, &c.p3);  // tailn(0)
  rule.waitDepth = 2;
  rule.computePriority(&ctx, &c.p3, rule.mainAction);
  EXPECT_EQ(ctx.lastPartial, &c.p2);
}

// hasPriorityFunction is consulted through the virtual call.
class StaticOnlyRule : public QelRuleNode {
 public:
  StaticOnlyRule() : QelRuleNode(nullptr, 0) {}
  unsigned char hasPriorityFunction() override { return 0; }
};

TEST(RulePriorityOverride, DerivedRuleDecidesOnPriorityFunction) {
  ProbeContext ctx;
  Chain c;
  StaticOnlyRule rule;
  rule.staticPriority = -4;
  rule.priorityFunction = as<QelPriorityFunction>(&ProbeContext::priority);
  EXPECT_EQ(rule.computePriority(&ctx, &c.p0, nullptr), -4);
  EXPECT_EQ(ctx.calls, 0);
}

TEST(ActionNodeExecute, CallsTheActionAndReturnsZero) {
  ProbeContext ctx;
  Chain c;
  QelRuleNode rule(nullptr, 5);
  QelActionNode node(&rule);
  node.action = as<QelActionFunction>(&ProbeContext::action);
  EXPECT_EQ(node.execute(&ctx, &c.p2), 0);
  EXPECT_EQ(ctx.calls, 1);
  EXPECT_EQ(ctx.lastPartial, &c.p2);
}

TEST(ActionNodeExecute, ThroughTheNetworkConstructionCalls) {
  ProbeContext ctx;
  Chain c;
  char name[] = "net";
  QelNetwork net(name);
  net.init(0, 0, 1, 0, 1, 0, 0);
  net.initRule(net.rules[0], -1, name, GetQelNullPrio(), 3, -1, 0);
  net.initAction(0, as<QelActionFunction>(&ProbeContext::action), 0, 0, 0);
  QelRuleNode* rule = static_cast<QelRuleNode*>(net.rules[0]);
  EXPECT_EQ(rule->mainAction->execute(&ctx, &c.p1), 0);
  EXPECT_EQ(ctx.lastPartial, &c.p1);
  EXPECT_EQ(rule->computePriority(&ctx, &c.p1, rule->mainAction), 3);
  EXPECT_EQ(ctx.calls, 1);
}

}  // namespace
