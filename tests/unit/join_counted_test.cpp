// Counted joins after a first pattern: J0 of the rule A(x), B(y), C(z) is
// an exists, not, count or collect join whose test is x.a == y.a; J1 joins
// every C. Count tests log "N0 [x] n" and collect tests "G0 [x] n".
#include "join/join_counted.h"

#include <gtest/gtest.h>

#include <regex>

#include "memory/class_mem.h"
#include "qel_iterator.h"
#include "support/chain.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

struct Counted {
  Chain ch;

  static ChainShape shape(QelPatternType type, int indep, int noUpdate,
                          int j1Indep, bool nullCollect) {
    ChainShape s;
    s.joins[0].type = type;
    s.joins[0].independenceMask = indep;
    s.joins[0].noUpdateMask = noUpdate;
    s.joins[0].nullCollect = nullCollect;
    s.joins[1].independenceMask = j1Indep;
    return s;
  }

  explicit Counted(QelPatternType type, int indep = 0, int noUpdate = 0,
                   int j1Indep = 0, bool nullCollect = false)
      : ch(shape(type, indep, noUpdate, j1Indep, nullCollect)) {
    ch.ctx.joinFns[0] = [this](QelPartial* p, QelInfo* i) {
      ch.say("J0 " + pairText(p, i));
      return factAt(p, 1, 0)->a == factOf(i)->a;
    };
    ch.ctx.joinCountFns[0] = [this](QelPartial* p, int n) {
      ch.say("N0 " + tupleOf(p) + " " + std::to_string(n));
      return n >= 1;
    };
    ch.ctx.joinCollectFns[0] = [this](QelPartial* p, QelOrderedSet* s) {
      ch.say("G0 " + tupleOf(p) + " " + std::to_string(s->count));
      return s->count >= 2;
    };
  }
  QelJoinMemCounted* j0() const {
    return static_cast<QelJoinMemCounted*>(ch.j0());
  }
  // The match set of the alpha partial printed as `head`.
  QelOrderedSet* setOf(const std::string& head) const {
    return partialOf(ch.alpha(), head)->findChildSet(ch.j0());
  }
  // A parent's match set is made with its first match: none means empty.
  int matchCount(const std::string& head) const {
    const QelOrderedSet* set = setOf(head);
    return set != nullptr ? set->count : 0;
  }
  QelInfo* recordOf(Fact* f) const {
    return static_cast<QelInfo*>(ch.ctx.objectTable->find(f));
  }
  void assertAll(int cls, std::initializer_list<Fact*> facts) {
    for (Fact* f : facts) ch.ctx.assertObject(cls, f);
  }
};

TEST(NotJoin, NewParentGetsItsChildAtOnce) {
  Counted k(QelPatternNot);
  Fact a1{1, 1}, b1{10, 1}, b2{11, 2}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.ch.log();
  k.ch.ctx.assertObject(kA, &a1);
  EXPECT_EQ(k.ch.log(), (Lines{"assert 1", "J1 [1,_]+20", "P0 [1,_,20]",
                               "addRule R0[1,_,20]"}));
  k.ch.ctx.assertObject(kB, &b2);
  EXPECT_EQ(k.ch.log(), (Lines{"assert 11", "J0 [1]+11"}));
  k.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(k.ch.log(),
            (Lines{"assert 10", "J0 [1]+10", "removeRule R0[1,_,20]"}));
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  EXPECT_EQ(k.j0()->childTable.size(), 0u);
  // The last blocking object goes: a new child, new downstream as well.
  k.ch.ctx.retractObject(&b1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 10", "J1 [1,_]+20", "P0 [1,_,20]",
                               "addRule R0[1,_,20]"}));
  EXPECT_EQ(k.j0()->childTable.size(), 1u);
}

TEST(ExistsJoin, FirstMatchMakesTheChildLastMatchTakesItAway) {
  Counted k(QelPatternExists);
  Fact a1{1, 1}, b1{10, 1}, b2{11, 1}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.ch.ctx.assertObject(kA, &a1);
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  k.ch.log();
  k.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(k.ch.log(), (Lines{"assert 10", "J0 [1]+10", "J1 [1,_]+20",
                               "P0 [1,_,20]", "addRule R0[1,_,20]"}));
  k.ch.ctx.assertObject(kB, &b2);
  EXPECT_EQ(k.ch.log(), (Lines{"assert 11", "J0 [1]+11"}));
  EXPECT_EQ(k.matchCount("[1]"), 2);
  k.ch.ctx.retractObject(&b1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 10"}));
  k.ch.ctx.retractObject(&b2, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 11", "removeRule R0[1,_,20]"}));
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  EXPECT_EQ(k.ch.j1()->partials, nullptr);
}

// Every parent is recounted on a right retraction, whether its set held
// the record or not.
TEST(CountJoin, EveryRightRetractionRecountsEveryParent) {
  Counted k(QelPatternCount);
  Fact a1{1, 1}, a2{2, 2}, b1{10, 1}, b2{11, 5}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.ch.log();
  k.assertAll(kA, {&a1, &a2});
  EXPECT_EQ(k.ch.log(),
            (Lines{"assert 1", "N0 [1] 0", "assert 2", "N0 [2] 0"}));
  k.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(k.ch.log(),
            (Lines{"assert 10", "J0 [2]+10", "J0 [1]+10", "N0 [1] 1",
                   "J1 [1,_]+20", "P0 [1,_,20]", "addRule R0[1,_,20]"}));
  k.ch.ctx.assertObject(kB, &b2);
  EXPECT_EQ(k.ch.log(), (Lines{"assert 11", "J0 [2]+11", "J0 [1]+11"}));

  k.ch.ctx.retractObject(&b2, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 11", "N0 [2] 0", "N0 [1] 1"}));
  k.ch.ctx.retractObject(&b1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 10", "N0 [2] 0", "N0 [1] 0",
                               "removeRule R0[1,_,20]"}));
}

// Bit 0 clear: a record that keeps matching changes no set and is not
// passed on; one that starts or stops matching is counted in or out.
TEST(CountJoin, RightUpdateRecountsOnlyChangedMemberships) {
  Counted k(QelPatternCount);
  Fact a1{1, 1}, a2{2, 2}, b1{10, 1}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.assertAll(kA, {&a1, &a2});
  k.ch.ctx.assertObject(kB, &b1);
  k.ch.log();
  k.ch.ctx.updateObject(&b1, 1);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 10", "J0 [2]+10", "J0 [1]+10",
                               "endUpdate 10"}));
  b1.a = 2;
  k.ch.ctx.updateObject(&b1, 0);
  EXPECT_EQ(k.ch.log(),
            (Lines{"beginUpdate 10", "J0 [2]+10", "N0 [2] 1", "J1 [2,_]+20",
                   "P0 [2,_,20]", "addRule R0[2,_,20]", "J0 [1]+10", "N0 [1] 0",
                   "removeRule R0[1,_,20]", "endUpdate 10"}));
  EXPECT_TRUE(k.setOf("[2]")->contains(k.recordOf(&b1)));
  EXPECT_FALSE(k.setOf("[1]")->contains(k.recordOf(&b1)));
}

// Bit 0 set: every child of the memory is emitted, also the one whose set
// does not hold the updated record; the test is not called.
TEST(ExistsJoin, IndependentRightUpdateEmitsEveryChild) {
  Counted k(QelPatternExists, 0b1, 0b1);
  Fact a1{1, 1}, a2{2, 2}, b1{10, 1}, b2{11, 2}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.assertAll(kB, {&b1, &b2});
  k.assertAll(kA, {&a1, &a2});
  EXPECT_EQ(k.matchCount("[2]"), 1);
  EXPECT_FALSE(k.setOf("[2]")->contains(k.recordOf(&b1)));
  k.ch.log();
  k.ch.ctx.updateObject(&b1, 1);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 10", "J1 [2,_]+20", "P0 [2,_,20]",
                               "J1 [1,_]+20", "P0 [1,_,20]", "endUpdate 10"}));
  k.ch.ctx.updateObject(&b1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 10", "endUpdate 10"}));
}

// Bit d clear on a left update: the set is rebuilt from the right input and
// a staying child goes on in mode 2 whatever mode came in. J1 passes
// updates on without testing, and the rule has fired, so a mode-1
// emission would make a new instance and a mode-2 one only the priority
// call.
TEST(ExistsJoin, LeftUpdateRebuildsTheSetAndEmitsModeTwo) {
  Counted k(QelPatternExists, 0, 0, -1);
  Fact a1{1, 1}, b1{10, 1}, b2{11, 2}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.assertAll(kB, {&b1, &b2});
  k.ch.ctx.assertObject(kA, &a1);
  k.ch.fireAll();
  QelPartial* child = k.ch.j0()->partials;

  a1.a = 2;
  k.ch.ctx.updateObject(&a1, 1);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 1", "J0 [1]+11", "J0 [1]+10",
                               "P0 [1,_,20]", "endUpdate 1"}));
  EXPECT_EQ(k.ch.j0()->partials, child);
  EXPECT_EQ(k.matchCount("[1]"), 1);
  EXPECT_TRUE(k.setOf("[1]")->contains(k.recordOf(&b2)));
  EXPECT_EQ(k.ch.ctx.agenda->first, nullptr);

  // The condition fails: the child goes with its successors.
  a1.a = 3;
  k.ch.ctx.updateObject(&a1, 1);
  EXPECT_EQ(k.ch.log(),
            (Lines{"beginUpdate 1", "J0 [1]+11", "J0 [1]+10", "endUpdate 1"}));
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  EXPECT_EQ(k.ch.j1()->partials, nullptr);
  EXPECT_EQ(k.matchCount("[1]"), 0);
}

TEST(ExistsJoin, LeftUpdateUnderNoUpdateBit) {
  Counted k(QelPatternExists, 0, 0b10, -1);
  Fact a1{1, 1}, b1{10, 1}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.ch.ctx.assertObject(kB, &b1);
  k.ch.ctx.assertObject(kA, &a1);
  k.ch.fireAll();
  k.ch.ctx.updateObject(&a1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 1", "J0 [1]+10", "endUpdate 1"}));
  k.ch.ctx.updateObject(&a1, 1);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 1", "J0 [1]+10", "P0 [1,_,20]",
                               "endUpdate 1"}));
}

// Bit d set: the child is emitted with the received mode, without a test.
TEST(ExistsJoin, IndependentLeftUpdateKeepsTheMode) {
  Counted k(QelPatternExists, 0b10, 0, -1);
  Fact a1{1, 1}, b1{10, 1}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.ch.ctx.assertObject(kB, &b1);
  k.ch.ctx.assertObject(kA, &a1);
  k.ch.fireAll();
  k.ch.ctx.updateObject(&a1, 1);
  EXPECT_EQ(k.ch.log(), (Lines{"beginUpdate 1", "P0 [1,_,20]",
                               "addRule R0[1,_,20]", "endUpdate 1"}));
}

// The collect child's record carries the parent's live match set.
TEST(CollectJoin, ChildCarriesTheLiveMatchSet) {
  Counted k(QelPatternCollect);
  Fact a1{1, 1}, b1{10, 1}, b2{11, 1}, b3{12, 1}, b4{13, 2}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.ch.ctx.assertObject(kA, &a1);
  k.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(k.ch.log(), (Lines{"assert 20", "assert 1", "G0 [1] 0", "assert 10",
                               "J0 [1]+10", "G0 [1] 1"}));
  k.ch.ctx.assertObject(kB, &b2);
  EXPECT_EQ(k.ch.log(),
            (Lines{"assert 11", "J0 [1]+11", "G0 [1] 2", "J1 [1,{2}]+20",
                   "P0 [1,{2},20]", "addRule R0[1,{2},20]"}));

  QelPartial* child = k.ch.j0()->partials;
  ASSERT_NE(child, nullptr);
  QelOrderedSet* set = k.setOf("[1]");
  EXPECT_EQ(child->record->object, set);
  EXPECT_EQ(child->record->classMem, nullptr);
  // The rule's match reaches it the way generated code does.
  QelPartial* match = k.ch.j1()->partials;
  EXPECT_EQ(match->tailn(1)->record->object, set);

  {
    QelCollection direct(set, 0);
    QelCollection snapshot(set, 1);
    EXPECT_EQ(direct.next(), &b2);
    EXPECT_EQ(direct.next(), &b1);
    EXPECT_EQ(direct.next(), nullptr);

    // A third member: the test is asked again, nothing is propagated, and
    // the same child shows the larger set.
    k.ch.ctx.assertObject(kB, &b3);
    EXPECT_EQ(k.ch.log(), (Lines{"assert 12", "J0 [1]+12", "G0 [1] 3"}));
    k.ch.ctx.assertObject(kB, &b4);
    EXPECT_EQ(k.ch.log(), (Lines{"assert 13", "J0 [1]+13"}));
    EXPECT_EQ(k.ch.j0()->partials, child);
    EXPECT_EQ(direct.length(), 3);
    direct.reset();
    EXPECT_EQ(direct.next(), &b3);
    EXPECT_EQ(direct.next(), &b2);
    EXPECT_EQ(direct.next(), &b1);
    EXPECT_EQ(snapshot.length(), 2);
    EXPECT_EQ(snapshot.next(), &b2);
    EXPECT_EQ(snapshot.next(), &b1);
    EXPECT_EQ(snapshot.next(), nullptr);
  }

  k.ch.ctx.retractObject(&b1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 10", "G0 [1] 2"}));
  // Below two members the child goes (its record with it); the set stays
  // with the parent.
  k.ch.ctx.retractObject(&b2, 0);
  EXPECT_EQ(k.ch.log(),
            (Lines{"retract 11", "G0 [1] 1", "removeRule R0[1,{1},20]"}));
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  EXPECT_EQ(k.setOf("[1]"), set);
  EXPECT_EQ(set->count, 1);

  // A child that goes with its parent frees its record too (checked by
  // the leak detector of the sanitizer build).
  k.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(tuples(k.ch.j0()), (Lines{"[1,{2}]"}));
  k.ch.log();
  k.ch.ctx.retractObject(&a1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 1", "removeRule R0[1,{2},20]"}));
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  EXPECT_EQ(k.j0()->childTable.size(), 0u);
}

TEST(CollectJoin, NullCollectTestGivesEveryParentAChild) {
  Counted k(QelPatternCollect, 0, 0, 0, true);
  Fact a1{1, 1}, a2{2, 2}, b1{10, 1}, c1{20};
  k.ch.ctx.assertObject(kC, &c1);
  k.assertAll(kA, {&a1, &a2});
  EXPECT_EQ(tuples(k.ch.j0()), (Lines{"[2,{0}]", "[1,{0}]"}));
  EXPECT_EQ(sorted(tuples(k.ch.j1())), (Lines{"[1,{0},20]", "[2,{0},20]"}));
  QelPartial* child = partialOf(k.ch.j0(), "[1,{0}]");
  k.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(partialOf(k.ch.j0(), "[1,{1}]"), child);
  EXPECT_EQ(k.ch.ctx.agenda->first->partial->parent->record->object,
            k.setOf("[2]"));
}

// Removing the joins' contents and populating again gives the same
// children, whatever the counted kind.
TEST(CountedContents, RetractContentsThenPopulate) {
  struct Case {
    QelPatternType type;
    Lines before;
    Lines afterRetract;  // after b3 leaves
  };
  const Case cases[] = {
      {QelPatternExists, {"[1,_]", "[2,_]"}, {"[1,_]"}},
      {QelPatternNot, {"[3,_]"}, {"[2,_]", "[3,_]"}},
      {QelPatternCount, {"[1,_]", "[2,_]"}, {"[1,_]"}},
      {QelPatternCollect,
       {"[1,{2}]", "[2,{1}]", "[3,{0}]"},
       {"[1,{2}]", "[2,{0}]", "[3,{0}]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    Counted k(c.type, 0, 0, 0, true);
    Fact a1{1, 1}, a2{2, 2}, a3{3, 3}, b1{10, 1}, b2{11, 1}, b3{12, 2};
    Fact c1{20};
    k.ch.ctx.assertObject(kC, &c1);
    k.assertAll(kA, {&a1, &a2, &a3});
    k.assertAll(kB, {&b1, &b2, &b3});
    ASSERT_EQ(sorted(tuples(k.ch.j0())), c.before);
    const Lines j1Before = sorted(tuples(k.ch.j1()));
    const Lines agendaBefore = sorted(k.ch.ctx.agendaLines());
    k.ch.log();

    k.j0()->retractContents();
    EXPECT_EQ(k.ch.j0()->partials, nullptr);
    EXPECT_EQ(k.ch.j1()->partials, nullptr);
    EXPECT_EQ(k.j0()->childTable.size(), 0u);
    EXPECT_EQ(k.matchCount("[1]"), 0);
    // Instances below go with their tuples; a collect child still carries
    // its record then, but the match sets are already emptied.
    Lines removed;
    for (const std::string& line : agendaBefore) {
      const std::string tuple = std::regex_replace(
          line.substr(0, line.rfind(':')), std::regex("\\{[0-9]+\\}"), "{0}");
      removed.push_back("removeRule " + tuple);
    }
    EXPECT_EQ(sorted(k.ch.log()), removed);

    k.j0()->populate();
    EXPECT_EQ(sorted(tuples(k.ch.j0())), c.before);
    EXPECT_EQ(sorted(tuples(k.ch.j1())), j1Before);
    EXPECT_EQ(sorted(k.ch.ctx.agendaLines()), agendaBefore);
    EXPECT_EQ(k.matchCount("[1]"), 2);
    EXPECT_EQ(k.matchCount("[2]"), 1);
    EXPECT_EQ(k.matchCount("[3]"), 0);

    k.ch.ctx.retractObject(&b3, 0);
    EXPECT_EQ(sorted(tuples(k.ch.j0())), c.afterRetract);
  }
}

}  // namespace
