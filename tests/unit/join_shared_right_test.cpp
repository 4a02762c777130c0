// Joins fed by one right memory and chained one after the other, built in
// chain order: a change of one object reaches the upstream join first, and
// each combination of objects is made exactly once.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "support/chain.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

// Rule 0: A(x1), A(x2), ..., A(xk) over one class, every join on right
// memory 0. With `ascending` each join passes only when the new object's
// `a` is above that of the object before it; otherwise the joins are null.
struct SelfJoin {
  char name[8] = "self";
  QelNetwork net{name};
  TestContext ctx;
  int patterns;

  SelfJoin(int k, bool ascending) : patterns(k) {
    const int joins = k - 1;
    net.init(0, 0, 1, 1, 1, 1, joins);
    addClass(net, "A");
    net.initDisc(discAt(net, 0), 0, 0, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    for (int j = 0; j < joins; ++j) {
      net.initJoin(joinAt(net, j), j > 0, j > 0 ? j - 1 : 0, 0,
                   ascending ? TestContext::join(0) : GetQelNullJoin(), 0, 0,
                   QelPatternPlain);
    }
    net.initRule(ruleAt(net, 0), -1, const_cast<char*>("self"),
                 GetQelNullPrio(), 0, joins - 1, -1);
    net.initAction(0, TestContext::action(0), 0, 1, joins - 1);
    ctx.joinFns[0] = [](QelPartial* p, QelInfo* i) {
      return factOf(p->record)->a < factOf(i)->a;
    };
    ctx.logging = false;
    ctx.init(&net);
  }

  QelJoinMem* last() const { return ctx.joinMems[patterns - 2]; }
  int instances() const {
    int n = 0;
    for (QelInstance* i = ctx.agenda->first; i; i = i->next) ++n;
    return n;
  }
};

int power(int n, int k) {
  int r = 1;
  while (k-- > 0) r *= n;
  return r;
}

// Every tuple of k facts drawn from `facts` whose `a` slots ascend (or all
// tuples), as tupleOf would print them.
void tuplesOver(const std::vector<Fact*>& facts, int k, bool ascending,
                std::vector<Fact*>& prefix, std::set<std::string>& out) {
  if (static_cast<int>(prefix.size()) == k) {
    std::string s = "[";
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (i) s += ",";
      s += std::to_string(prefix[i]->id);
    }
    out.insert(s + "]");
    return;
  }
  for (Fact* f : facts) {
    if (ascending && !prefix.empty() && !(prefix.back()->a < f->a)) continue;
    prefix.push_back(f);
    tuplesOver(facts, k, ascending, prefix, out);
    prefix.pop_back();
  }
}

std::set<std::string> expectedTuples(const std::vector<Fact*>& facts, int k,
                                     bool ascending) {
  std::set<std::string> out;
  std::vector<Fact*> prefix;
  tuplesOver(facts, k, ascending, prefix, out);
  return out;
}

// The tuples of the last join, checked free of duplicates.
std::set<std::string> held(const SelfJoin& s) {
  const Lines list = tuples(s.last());
  std::set<std::string> set(list.begin(), list.end());
  EXPECT_EQ(set.size(), list.size()) << "a combination was made twice";
  return set;
}

TEST(SharedRight, EveryCombinationOnceWithNullJoins) {
  for (int k = 3; k <= 4; ++k) {
    SelfJoin s(k, false);
    std::vector<std::unique_ptr<Fact>> facts;
    std::vector<Fact*> live;
    for (int n = 1; n <= 4; ++n) {
      facts.push_back(std::make_unique<Fact>(Fact{n}));
      live.push_back(facts.back().get());
      s.ctx.assertObject(0, live.back());
      EXPECT_EQ(s.instances(), power(n, k)) << "k=" << k << " n=" << n;
      EXPECT_EQ(held(s), expectedTuples(live, k, false));
    }
    // Retracting takes away exactly the combinations holding the object.
    while (!live.empty()) {
      s.ctx.retractObject(live.front(), 0);
      live.erase(live.begin());
      EXPECT_EQ(s.instances(), power(static_cast<int>(live.size()), k));
      EXPECT_EQ(held(s), expectedTuples(live, k, false));
    }
    EXPECT_EQ(s.last()->partials, nullptr);
  }
}

TEST(SharedRight, EveryCombinationOnceWithTestsAndUpdates) {
  SelfJoin s(3, true);
  std::vector<std::unique_ptr<Fact>> facts;
  std::vector<Fact*> live;
  const int slots[] = {3, 1, 4, 1, 5};
  for (int n = 0; n < 5; ++n) {
    facts.push_back(std::make_unique<Fact>(Fact{n + 1, slots[n]}));
    live.push_back(facts.back().get());
    s.ctx.assertObject(0, live.back());
  }
  EXPECT_EQ(held(s), expectedTuples(live, 3, true));
  EXPECT_EQ(held(s).size(), 7u);  // ids 2|4, 1, 3|5; 2|4, 3, 5; 1, 3, 5

  // Changes that move objects past each other, in both update modes.
  struct Step {
    int index;
    int a;
    unsigned char refresh;
  };
  const Step steps[] = {{1, 9, 1}, {4, 0, 0}, {0, 2, 1}, {3, 6, 0},
                        {2, 7, 1}, {1, 1, 0}, {4, 8, 0}, {0, 5, 1}};
  for (const Step& step : steps) {
    live[step.index]->a = step.a;
    s.ctx.updateObject(live[step.index], step.refresh);
    EXPECT_EQ(held(s), expectedTuples(live, 3, true))
        << "after fact " << live[step.index]->id << ".a = " << step.a;
    EXPECT_EQ(s.instances(), static_cast<int>(held(s).size()));
  }
}

// Rule 0: A(x), not B(y) [y.a == x.a], B(z) with J0 (not) and J1 (plain,
// null test) on the same right memory, J0 initialized first. Retracting
// the last B that blocks x makes a new not child while that B is still in
// the right input; J1 pairs it with the B, and then J1's own right
// retraction takes that pair away again.
struct NotThenPlain {
  char name[8] = "notjoin";
  QelNetwork net{name};
  TestClassNode* b;
  TestContext ctx;

  explicit NotThenPlain(QelPatternType first) {
    net.init(0, 0, 1, 2, 1, 1, 2);
    addClass(net, "A");
    b = addClass(net, "B");
    net.initDisc(discAt(net, 0), 0, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 0, GetQelNullDisc());
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    net.initJoin(joinAt(net, 0), 0, 0, 0, TestContext::join(0), 0, 0, first);
    net.initJoin(joinAt(net, 1), 1, 0, 0, GetQelNullJoin(), 0, 0,
                 QelPatternPlain);
    net.initRule(ruleAt(net, 0), -1, const_cast<char*>("r"), GetQelNullPrio(),
                 0, 1, -1);
    net.initAction(0, TestContext::action(0), 0, 1, 1);
    ctx.joinFns[0] = [](QelPartial* p, QelInfo* i) {
      return factOf(p->record)->a == factOf(i)->a;
    };
    ctx.init(&net);
  }
};

TEST(SharedRight, RetractionThroughNotJoinLeavesNoMatchOfTheRecord) {
  NotThenPlain n(QelPatternNot);
  Fact a1{1, 1};
  Fact* b1 = new Fact{10, 1};
  Fact* b2 = new Fact{11, 2};
  n.ctx.assertObject(0, &a1);
  EXPECT_EQ(tuples(n.ctx.joinMems[0]), (Lines{"[1,_]"}));
  n.ctx.assertObject(1, b1);
  n.ctx.assertObject(1, b2);
  EXPECT_EQ(n.ctx.joinMems[0]->partials, nullptr);
  n.ctx.takeLog();

  n.ctx.retractObject(b1, 1);  // deletes the object and its record
  EXPECT_EQ(n.ctx.takeLog(),
            (Lines{"retract 10", "addRule R0[1,_,11]", "addRule R0[1,_,10]",
                   "removeRule R0[1,_,10]"}));
  EXPECT_EQ(n.b->deleted, 1);
  EXPECT_EQ(tuples(n.ctx.joinMems[1]), (Lines{"[1,_,11]"}));
  EXPECT_EQ(n.ctx.agendaLines(), (Lines{"R0[1,_,11]:0"}));

  // Later walks over J1 and the agenda touch only live records.
  Fact* b3 = new Fact{12, 1};
  n.ctx.assertObject(1, b3);
  EXPECT_EQ(n.ctx.joinMems[1]->partials, nullptr);
  n.ctx.retractObject(b3, 1);
  EXPECT_EQ(tuples(n.ctx.joinMems[1]), (Lines{"[1,_,11]"}));
  n.ctx.retractObject(b2, 1);
  EXPECT_EQ(tuples(n.ctx.joinMems[1]), Lines{});
  EXPECT_EQ(n.ctx.agenda->first, nullptr);
  EXPECT_EQ(n.b->deleted, 3);
}

// The exists form: asserting the first matching B makes the child while
// the B is not yet in the right input; J1's right insertion pairs it once.
TEST(SharedRight, AssertionThroughExistsJoinPairsOnce) {
  NotThenPlain n(QelPatternExists);
  Fact a1{1, 1}, b1{10, 2}, b2{11, 1};
  n.ctx.assertObject(0, &a1);
  n.ctx.assertObject(1, &b1);
  EXPECT_EQ(n.ctx.joinMems[0]->partials, nullptr);
  n.ctx.assertObject(1, &b2);
  EXPECT_EQ(sorted(tuples(n.ctx.joinMems[1])), (Lines{"[1,_,10]", "[1,_,11]"}));
  n.ctx.retractObject(&b2, 0);
  EXPECT_EQ(n.ctx.joinMems[0]->partials, nullptr);
  EXPECT_EQ(n.ctx.joinMems[1]->partials, nullptr);
  EXPECT_EQ(n.ctx.agenda->first, nullptr);
}

}  // namespace
