// End-to-end checks of the basic road of an object: discrimination, alpha
// memory, plain join, agenda, firing.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace qeltest;

namespace {

// Rule 0: A(x) ; rule 1: A(x), B(y) with y.a == x.a.
struct TwoRules {
  char name[8] = "chain";
  QelNetwork net{name};
  TestClassNode* a;
  TestClassNode* b;
  TestContext ctx;
  std::vector<std::string> fired;

  TwoRules() {
    net.init(0, 0, 2, 2, 1, 1, 1);
    a = addClass(net, "A");
    b = addClass(net, "B");
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 0, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, -1, QelPatternPlain);
    net.initJoin(joinAt(net, 0), 0, 0, 0, TestContext::join(0), 0, -1,
                 QelPatternPlain);
    net.initRule(ruleAt(net, 0), -1, const_cast<char*>("one"),
                 GetQelNullPrio(), 0, -1, -1);
    net.initRule(ruleAt(net, 1), -1, const_cast<char*>("two"),
                 GetQelNullPrio(), 0, 0, -1);
    net.initAction(0, TestContext::action(0), 0, 0, 0);
    net.initAction(1, TestContext::action(1), 0, 1, 0);
    ctx.joinFns[0] = [](QelPartial* p, QelInfo* i) {
      return factAt(p, 1, 0)->a == factOf(i)->a;
    };
    ctx.actionFns[0] = [this](QelPartial* p) { fired.push_back("one" + tupleOf(p)); };
    ctx.actionFns[1] = [this](QelPartial* p) { fired.push_back("two" + tupleOf(p)); };
    ctx.init(&net);
  }
};

TEST(RuleChain, AssertJoinFireRetract) {
  TwoRules r;
  Fact x{1, 5}, y{2, 5}, z{3, 6};
  r.ctx.assertObject(0, &x);
  r.ctx.assertObject(1, &y);
  r.ctx.assertObject(1, &z);
  EXPECT_EQ(r.ctx.agendaLines(),
            (std::vector<std::string>{"R1[1,2]:0", "R0[1]:0"}));
  EXPECT_EQ(r.ctx.agenda->fireAllRules(), 2);
  EXPECT_EQ(r.fired, (std::vector<std::string>{"two[1,2]", "one[1]"}));
  r.ctx.logging = true;
  r.ctx.takeLog();
  r.ctx.retractObject(&y, 0);
  EXPECT_EQ(r.ctx.takeLog(), (std::vector<std::string>{"retract 2"}));
  z.a = 5;
  r.ctx.updateObject(&z, 1);
  EXPECT_EQ(r.ctx.agendaLines(), (std::vector<std::string>{"R1[1,3]:0"}));
}

}  // namespace
