// Plain joins end to end, on the rule A(x), B(y), C(z) of support/chain.h:
// how updates travel through J0 and J1 under their masks, which join tests
// they cost, which instances they refresh, and what retractions take away.
//
// The rule's priority function is the sum of the `a` slots of its tuple, so
// an update that reaches the rule shows as a "P0" line (and an updateRule
// when the sum moved); one that does not reach it leaves the instance with
// its old priority.
#include <gtest/gtest.h>

#include "support/chain.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

ChainShape masks(int j0Indep, int j0NoUpdate, int j1Indep, int j1NoUpdate) {
  ChainShape shape;
  shape.joins[0].independenceMask = j0Indep;
  shape.joins[0].noUpdateMask = j0NoUpdate;
  shape.joins[1].independenceMask = j1Indep;
  shape.joins[1].noUpdateMask = j1NoUpdate;
  return shape;
}

// ------------------------------------------------------------ left updates

// A change of A reaches J1 at depth 2; with bit 2 of J1's independence mask
// set the children are emitted without J1's test.
TEST(PlainLeftUpdate, IndependentBitEmitsEveryChildWithoutTest) {
  Chain ch(masks(0, 0, 0b100, 0));
  Fact a1{1, 1}, b1{10}, c1{20}, c2{21};
  ch.ctx.assertObject(kA, &a1);
  ch.ctx.assertObject(kB, &b1);
  ch.ctx.assertObject(kC, &c1);
  ch.ctx.assertObject(kC, &c2);
  ch.fireAll();

  // Mode 1 makes the fired rule fire again.
  ch.ctx.updateObject(&a1, 1);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 1", "J0 [1]+10", "P0 [1,10,21]",
                             "addRule R0[1,10,21]", "P0 [1,10,20]",
                             "addRule R0[1,10,20]", "endUpdate 1"}));

  // Mode 2 (bit 2 of noUpdateMask clear) re-prioritises, makes nothing.
  a1.a = 5;
  ch.ctx.updateObject(&a1, 0);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 1", "J0 [1]+10", "P0 [1,10,21]",
                             "updateRule R0[1,10,21]:5", "P0 [1,10,20]",
                             "updateRule R0[1,10,20]:5", "endUpdate 1"}));
}

TEST(PlainLeftUpdate, NoUpdateBitStopsModeTwoButNotModeOne) {
  Chain ch(masks(0, 0, 0b100, 0b100));
  Fact a1{1, 1}, b1{10}, c1{20};
  ch.ctx.assertObject(kA, &a1);
  ch.ctx.assertObject(kB, &b1);
  ch.ctx.assertObject(kC, &c1);
  ch.log();

  a1.a = 5;
  ch.ctx.updateObject(&a1, 0);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 1", "J0 [1]+10", "endUpdate 1"}));
  EXPECT_EQ(ch.ctx.agendaLines(), (Lines{"R0[1,10,20]:1"}));

  ch.ctx.updateObject(&a1, 1);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 1", "J0 [1]+10", "P0 [1,10,20]",
                             "updateRule R0[1,10,20]:5", "endUpdate 1"}));
}

// Bit 1 of J1's masks describes B, bit 2 describes A; J0 passes an A change
// on with depth 2 (its own bit 1 describes A).
TEST(PlainLeftUpdate, DepthSelectsTheMaskBit) {
  {
    // J1 independent of A only.
    Chain ch(masks(0b10, 0, 0b100, 0));
    Fact a1{1}, b1{10}, c1{20}, c2{21};
    ch.ctx.assertObject(kA, &a1);
    ch.ctx.assertObject(kB, &b1);
    ch.ctx.assertObject(kC, &c1);
    ch.ctx.assertObject(kC, &c2);
    ch.log();
    ch.ctx.updateObject(&a1, 1);
    EXPECT_EQ(ch.log(), (Lines{"beginUpdate 1", "P0 [1,10,21]", "P0 [1,10,20]",
                               "endUpdate 1"}));
    ch.ctx.updateObject(&b1, 1);
    EXPECT_EQ(ch.log(), (Lines{"beginUpdate 10", "J0 [1]+10", "J1 [1,10]+21",
                               "P0 [1,10,21]", "J1 [1,10]+20", "P0 [1,10,20]",
                               "endUpdate 10"}));
  }
  {
    // J1 independent of B only.
    Chain ch(masks(0b10, 0, 0b010, 0));
    Fact a1{1}, b1{10}, c1{20}, c2{21};
    ch.ctx.assertObject(kA, &a1);
    ch.ctx.assertObject(kB, &b1);
    ch.ctx.assertObject(kC, &c1);
    ch.ctx.assertObject(kC, &c2);
    ch.log();
    ch.ctx.updateObject(&a1, 1);
    EXPECT_EQ(ch.log(), (Lines{"beginUpdate 1", "J1 [1,10]+21", "P0 [1,10,21]",
                               "J1 [1,10]+20", "P0 [1,10,20]", "endUpdate 1"}));
    ch.ctx.updateObject(&b1, 1);
    EXPECT_EQ(ch.log(), (Lines{"beginUpdate 10", "J0 [1]+10", "P0 [1,10,21]",
                               "P0 [1,10,20]", "endUpdate 10"}));
  }
}

// Re-match of J1 after a change of A: each right record is tested once;
// a pair that passes only now gets a new child (mode 0), one that no longer
// passes loses its child and instance, one that still passes is refreshed
// only in mode 1 here (bit 2 of noUpdateMask set).
struct LeftRematch {
  Chain ch;
  Fact a1{1, 1}, b1{10}, c1{20}, c2{21}, c3{22}, c4{23};

  explicit LeftRematch(int j1NoUpdate = 0b100)
      : ch(masks(0, 0, 0, j1NoUpdate)) {
    ch.fail[1] = {"[1,10]+22", "[1,10]+23"};
    ch.ctx.assertObject(kA, &a1);
    ch.ctx.assertObject(kB, &b1);
    for (Fact* c : {&c1, &c2, &c3, &c4}) ch.ctx.assertObject(kC, c);
    EXPECT_EQ(tuples(ch.j1()), (Lines{"[1,10,21]", "[1,10,20]"}));
    ch.log();
    ch.fail[1] = {"[1,10]+20", "[1,10]+23"};
    a1.a = 7;
  }
};

TEST(PlainLeftUpdate, RematchInModeTwo) {
  LeftRematch r;
  r.ch.ctx.updateObject(&r.a1, 0);
  EXPECT_EQ(r.ch.log(),
            (Lines{"beginUpdate 1", "J0 [1]+10", "J1 [1,10]+23", "J1 [1,10]+22",
                   "P0 [1,10,22]", "addRule R0[1,10,22]", "J1 [1,10]+21",
                   "J1 [1,10]+20", "removeRule R0[1,10,20]", "endUpdate 1"}));
  // The staying instance was not re-prioritised.
  EXPECT_EQ(r.ch.ctx.agendaLines(), (Lines{"R0[1,10,22]:7", "R0[1,10,21]:1"}));
  EXPECT_EQ(tuples(r.ch.j1()), (Lines{"[1,10,22]", "[1,10,21]"}));
}

TEST(PlainLeftUpdate, RematchInModeOne) {
  LeftRematch r;
  r.ch.ctx.updateObject(&r.a1, 1);
  EXPECT_EQ(r.ch.log(),
            (Lines{"beginUpdate 1", "J0 [1]+10", "J1 [1,10]+23", "J1 [1,10]+22",
                   "P0 [1,10,22]", "addRule R0[1,10,22]", "J1 [1,10]+21",
                   "P0 [1,10,21]", "updateRule R0[1,10,21]:7", "J1 [1,10]+20",
                   "removeRule R0[1,10,20]", "endUpdate 1"}));
  // Equal priority: the reordered (older) instance goes before.
  EXPECT_EQ(r.ch.ctx.agendaLines(), (Lines{"R0[1,10,21]:7", "R0[1,10,22]:7"}));
}

// Bit 2 of noUpdateMask clear: the staying child goes on in mode 2, which
// re-prioritises but, the rule having fired, makes no new instance.
TEST(PlainLeftUpdate, RematchInModeTwoPassesStayingChildrenOn) {
  LeftRematch r(0);
  r.ch.fireAll();
  r.ch.ctx.updateObject(&r.a1, 0);
  EXPECT_EQ(r.ch.log(),
            (Lines{"beginUpdate 1", "J0 [1]+10", "J1 [1,10]+23", "J1 [1,10]+22",
                   "P0 [1,10,22]", "addRule R0[1,10,22]", "J1 [1,10]+21",
                   "P0 [1,10,21]", "J1 [1,10]+20", "endUpdate 1"}));
  EXPECT_EQ(r.ch.ctx.agendaLines(), (Lines{"R0[1,10,22]:7"}));
}

// ----------------------------------------------------------- right updates

// Re-match of J0 after a change of its right object B. J1 is independent of
// B (bit 1), so the J1 tests seen come from mode-0 children only.
struct RightRematch {
  Chain ch{masks(0, 0b1, 0b10, 0)};
  Fact a1{1, 1}, a2{2, 2}, a3{3, 3}, b1{10}, c1{20};

  RightRematch() {
    ch.fail[0] = {"[3]+10"};
    for (Fact* a : {&a1, &a2, &a3}) ch.ctx.assertObject(kA, a);
    ch.ctx.assertObject(kB, &b1);
    ch.ctx.assertObject(kC, &c1);
    EXPECT_EQ(tuples(ch.j0()), (Lines{"[1,10]", "[2,10]"}));
    ch.log();
    ch.fail[0] = {"[2]+10"};
    b1.a = 4;
  }
};

TEST(PlainRightUpdate, RematchInModeTwoWithNoUpdateBit) {
  RightRematch r;
  r.ch.ctx.updateObject(&r.b1, 0);
  // [3] passes only now: a new child, new to J1 as well; [2] fails: its
  // child goes with J1's child and the instance; [1] still passes: nothing.
  EXPECT_EQ(r.ch.log(),
            (Lines{"beginUpdate 10", "J0 [3]+10", "J1 [3,10]+20",
                   "P0 [3,10,20]", "addRule R0[3,10,20]", "J0 [2]+10",
                   "removeRule R0[2,10,20]", "J0 [1]+10", "endUpdate 10"}));
  EXPECT_EQ(tuples(r.ch.j0()), (Lines{"[3,10]", "[1,10]"}));
  EXPECT_EQ(tuples(r.ch.j1()), (Lines{"[3,10,20]", "[1,10,20]"}));
  EXPECT_EQ(r.ch.ctx.agendaLines(), (Lines{"R0[3,10,20]:7", "R0[1,10,20]:1"}));
}

TEST(PlainRightUpdate, RematchInModeOne) {
  RightRematch r;
  r.ch.ctx.updateObject(&r.b1, 1);
  // The staying child reaches J1 with depth 1: no J1 test.
  EXPECT_EQ(r.ch.log(),
            (Lines{"beginUpdate 10", "J0 [3]+10", "J1 [3,10]+20",
                   "P0 [3,10,20]", "addRule R0[3,10,20]", "J0 [2]+10",
                   "removeRule R0[2,10,20]", "J0 [1]+10", "P0 [1,10,20]",
                   "updateRule R0[1,10,20]:5", "endUpdate 10"}));
  EXPECT_EQ(r.ch.ctx.agendaLines(), (Lines{"R0[3,10,20]:7", "R0[1,10,20]:5"}));
}

TEST(PlainRightUpdate, IndependentBitEmitsChildrenOfTheRecordOnly) {
  Chain ch(masks(0b1, 0b1, 0, 0));
  Fact a1{1}, a2{2}, b1{10}, b2{11}, c1{20};
  ch.ctx.assertObject(kA, &a1);
  ch.ctx.assertObject(kA, &a2);
  ch.ctx.assertObject(kB, &b1);
  ch.ctx.assertObject(kB, &b2);
  ch.ctx.assertObject(kC, &c1);
  ch.log();
  ch.ctx.updateObject(&b1, 1);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 10", "J1 [1,10]+20", "P0 [1,10,20]",
                             "J1 [2,10]+20", "P0 [2,10,20]", "endUpdate 10"}));
  ch.ctx.updateObject(&b1, 0);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 10", "endUpdate 10"}));
}

TEST(PlainRightUpdate, IndependentBitPassesModeTwoOnWithoutNoUpdateBit) {
  Chain ch(masks(0b1, 0, 0, 0));
  Fact a1{1}, a2{2}, b1{10, 3}, c1{20};
  ch.ctx.assertObject(kA, &a1);
  ch.ctx.assertObject(kA, &a2);
  ch.ctx.assertObject(kB, &b1);
  ch.ctx.assertObject(kC, &c1);
  ch.log();
  b1.a = 4;
  ch.ctx.updateObject(&b1, 0);
  EXPECT_EQ(ch.log(),
            (Lines{"beginUpdate 10", "J1 [1,10]+20", "P0 [1,10,20]",
                   "updateRule R0[1,10,20]:4", "J1 [2,10]+20", "P0 [2,10,20]",
                   "updateRule R0[2,10,20]:4", "endUpdate 10"}));
}

TEST(PlainRightUpdate, OnlyInstancesHoldingTheRecordAreReprioritised) {
  Chain ch;
  Fact a1{1, 1}, b1{10}, c1{20}, c2{21};
  ch.ctx.assertObject(kA, &a1);
  ch.ctx.assertObject(kB, &b1);
  ch.ctx.assertObject(kC, &c1);
  ch.ctx.assertObject(kC, &c2);
  ch.log();
  c1.a = 3;
  ch.ctx.updateObject(&c1, 0);
  EXPECT_EQ(ch.log(), (Lines{"beginUpdate 20", "J1 [1,10]+20", "P0 [1,10,20]",
                             "updateRule R0[1,10,20]:4", "endUpdate 20"}));
  EXPECT_EQ(ch.ctx.agendaLines(), (Lines{"R0[1,10,20]:4", "R0[1,10,21]:1"}));
}

// --------------------------------------------------------- right insertion

// Bit 0 of the independence mask: a right insertion pairs without the test
// (even a failing one); a left insertion still tests.
TEST(PlainRightInsert, IndependentBitPairsWithoutTest) {
  Chain ch(masks(0b1, 0, 0, 0));
  ch.fail[0] = {"[1]+10", "[2]+10", "[3]+10"};
  Fact a1{1}, a2{2}, a3{3}, b1{10};
  ch.ctx.assertObject(kA, &a1);
  ch.ctx.assertObject(kA, &a2);
  ch.log();
  ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(ch.log(), (Lines{"assert 10"}));
  EXPECT_EQ(tuples(ch.j0()), (Lines{"[1,10]", "[2,10]"}));
  ch.ctx.assertObject(kA, &a3);
  EXPECT_EQ(ch.log(), (Lines{"assert 3", "J0 [3]+10"}));
  EXPECT_EQ(tuples(ch.j0()), (Lines{"[1,10]", "[2,10]"}));
}

// ------------------------------------------------------- removal cascades

// Rule 0 ends at J1, rule 1 at J0; each fired action asserts a logical L
// object (500 + x for rule 0, 600 + x for rule 1) justified by its partial.
struct Cascade {
  ChainShape shape() {
    ChainShape s;
    s.priorityFunction = false;
    s.ruleAtJ0 = true;
    return s;
  }
  Chain ch{shape()};
  Fact a1{1}, a2{2}, b1{10}, c1{20}, c2{21};

  void justify(QelPartial* p, int length, int base) {
    ch.ctx.justification = p;
    ch.ctx.assertObject(kL, new Fact{base + factAt(p, length, 0)->id});
    ch.ctx.justification = nullptr;
  }

  Cascade() {
    ch.ctx.actionFns[0] = [this](QelPartial* p) { justify(p, 3, 500); };
    ch.ctx.actionFns[1] = [this](QelPartial* p) { justify(p, 2, 600); };
    ch.fail[1] = {"[1,10]+21", "[2,10]+21"};
    ch.ctx.assertObject(kA, &a1);
    ch.ctx.assertObject(kB, &b1);
    ch.ctx.assertObject(kC, &c1);
    ch.ctx.assertObject(kC, &c2);
    ch.ctx.agenda->fireAllRules();
    EXPECT_EQ(ch.ctx.classMems[kL]->infos.count, 2);
    ch.ctx.assertObject(kA, &a2);
    EXPECT_EQ(ch.ctx.agendaLines(), (Lines{"R0[2,10,20]:0", "R1[2,10]:0"}));
    ch.log();
  }
  // Logical objects still supported are deleted with their class.
  ~Cascade() { ch.ctx.retractClass(kL); }
};

TEST(PlainRemoval, RetractingTheRightObjectOfJ0) {
  Cascade k;
  k.ch.ctx.retractObject(&k.b1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 10", "removeRule R0[2,10,20]",
                               "removeRule R1[2,10]", "removeTmsLink 501",
                               "retractLogical 501", "removeTmsLink 601",
                               "retractLogical 601"}));
  EXPECT_EQ(k.ch.j0()->partials, nullptr);
  EXPECT_EQ(k.ch.j1()->partials, nullptr);
  EXPECT_EQ(k.ch.ctx.agenda->first, nullptr);
  EXPECT_EQ(k.ch.l->deleted, 2);
}

TEST(PlainRemoval, RetractingTheHeadObject) {
  Cascade k;
  k.ch.ctx.retractObject(&k.a1, 0);
  EXPECT_EQ(k.ch.log(),
            (Lines{"retract 1", "removeTmsLink 501", "retractLogical 501",
                   "removeTmsLink 601", "retractLogical 601"}));
  EXPECT_EQ(tuples(k.ch.j0()), (Lines{"[2,10]"}));
  EXPECT_EQ(tuples(k.ch.j1()), (Lines{"[2,10,20]"}));
  EXPECT_EQ(k.ch.ctx.agendaLines(), (Lines{"R0[2,10,20]:0", "R1[2,10]:0"}));
}

TEST(PlainRemoval, RetractingTheRightObjectOfJ1) {
  Cascade k;
  // c2 matches nothing: its retraction touches no partial.
  k.ch.ctx.retractObject(&k.c2, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 21"}));
  k.ch.ctx.retractObject(&k.c1, 0);
  EXPECT_EQ(k.ch.log(), (Lines{"retract 20", "removeRule R0[2,10,20]",
                               "removeTmsLink 501", "retractLogical 501"}));
  EXPECT_EQ(tuples(k.ch.j0()), (Lines{"[2,10]", "[1,10]"}));
  EXPECT_EQ(k.ch.j1()->partials, nullptr);
  EXPECT_EQ(k.ch.ctx.agendaLines(), (Lines{"R1[2,10]:0"}));
  EXPECT_EQ(k.ch.l->deleted, 1);
}

// A right retraction walks J0's memory until one such walk has been long;
// from then on J0 finds the record's children by record. Both ways drop
// the children in the memory's order, newest first.
TEST(PlainRemoval, LongRetractionWalksStartGroupingByRecord) {
  Chain ch;
  std::vector<Fact> as(24);
  for (int i = 0; i < 24; ++i) as[i].id = 1 + i;
  Fact b1{100}, b2{101}, b3{102}, c1{200};
  ch.ctx.assertObject(kB, &b1);
  ch.ctx.assertObject(kC, &c1);
  for (Fact& f : as) ch.ctx.assertObject(kA, &f);
  EXPECT_EQ(ch.j0()->byRecord, nullptr);  // 24 partials, nothing walked
  ch.ctx.assertObject(kB, &b2);
  ch.ctx.assertObject(kB, &b3);
  auto removedOrder = [&ch]() {
    Lines removed;
    for (const std::string& line : ch.log()) {
      if (line.rfind("removeRule", 0) == 0) removed.push_back(line);
    }
    return removed;
  };
  // b1's children were made as the A objects came (the last is newest),
  // b3's by one walk of the parents, newest parent first (so the first A's
  // child is newest).
  auto expected = [&as](int b, bool lastNewest) {
    Lines lines;
    for (int k = 0; k < 24; ++k) {
      const int i = lastNewest ? 23 - k : k;
      lines.push_back("removeRule R0[" + std::to_string(as[i].id) + "," +
                      std::to_string(b) + ",200]");
    }
    return lines;
  };
  ch.log();
  ch.ctx.retractObject(&b1, 0);  // a walk of 72 partials
  EXPECT_EQ(removedOrder(), expected(100, true));
  ASSERT_NE(ch.j0()->byRecord, nullptr);
  ch.ctx.retractObject(&b3, 0);  // by record
  EXPECT_EQ(removedOrder(), expected(102, false));
  EXPECT_EQ(tuples(ch.j0()).size(), 24u);
  const QelInfo* r2 = static_cast<QelInfo*>(ch.ctx.objectTable->find(&b2));
  EXPECT_EQ(ch.j0()->byRecord->newest(r2), ch.j0()->partials);
}

// ------------------------------------------------- retractContents/populate

TEST(PlainContents, RetractContentsThenPopulateRebuildsTheSameChildren) {
  Chain ch;
  Fact a1{1}, a2{2}, b1{10}, b2{11}, c1{20};
  ch.fail[0] = {"[2]+11"};
  for (Fact* f : {&a1, &a2}) ch.ctx.assertObject(kA, f);
  for (Fact* f : {&b1, &b2}) ch.ctx.assertObject(kB, f);
  ch.ctx.assertObject(kC, &c1);
  const Lines j0Before = sorted(tuples(ch.j0()));
  const Lines j1Before = sorted(tuples(ch.j1()));
  const Lines agendaBefore = sorted(ch.ctx.agendaLines());
  ASSERT_EQ(j1Before, (Lines{"[1,10,20]", "[1,11,20]", "[2,10,20]"}));
  ch.log();

  ch.j0()->retractContents();
  EXPECT_EQ(sorted(ch.log()),
            (Lines{"removeRule R0[1,10,20]", "removeRule R0[1,11,20]",
                   "removeRule R0[2,10,20]"}));
  EXPECT_EQ(ch.j0()->partials, nullptr);
  EXPECT_EQ(ch.j1()->partials, nullptr);
  EXPECT_EQ(ch.ctx.agenda->first, nullptr);
  for (QelPartial* p = ch.alpha()->partials; p; p = p->nextInMemory) {
    const QelOrderedSet* set = p->findChildSet(ch.j0());
    EXPECT_TRUE(set == nullptr || set->count == 0);
  }

  ch.ctx.joinCalls = 0;
  ch.j0()->populate();
  EXPECT_EQ(ch.ctx.joinCalls, 4 + 3);
  EXPECT_EQ(sorted(tuples(ch.j0())), j0Before);
  EXPECT_EQ(sorted(tuples(ch.j1())), j1Before);
  EXPECT_EQ(sorted(ch.ctx.agendaLines()), agendaBefore);

  ch.j1()->retractContents();
  EXPECT_EQ(ch.j1()->partials, nullptr);
  ch.j1()->populate();
  EXPECT_EQ(sorted(tuples(ch.j1())), j1Before);
  EXPECT_EQ(sorted(ch.ctx.agendaLines()), agendaBefore);
  ch.log();

  // The rebuilt child sets serve later retractions.
  ch.ctx.retractObject(&b1, 0);
  EXPECT_EQ(tuples(ch.j0()), (Lines{"[1,11]"}));
  EXPECT_EQ(tuples(ch.j1()), (Lines{"[1,11,20]"}));
  ch.ctx.retractObject(&a1, 0);
  EXPECT_EQ(ch.j0()->partials, nullptr);
  EXPECT_EQ(ch.j1()->partials, nullptr);
  EXPECT_EQ(ch.ctx.agenda->first, nullptr);
}

}  // namespace
