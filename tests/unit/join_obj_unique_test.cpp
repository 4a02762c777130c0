// Object-unique joins: J0 of the rule A(x), B(y), C(z) takes its partner
// through the key function: x.b names the B object (by id) that may extend
// x. The join test agrees with the key and also wants y.a >= 0, so a B can
// be switched off by its `a` slot.
#include "join/join_obj_unique.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "support/chain.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

struct Unique {
  Chain ch;
  std::map<int, Fact*> objects;  // what the key function can name, by id

  static ChainShape shape(int indep, int noUpdate) {
    ChainShape s;
    s.joins[0].type = QelPatternPlainObjUnique;
    s.joins[0].independenceMask = indep;
    s.joins[0].noUpdateMask = noUpdate;
    return s;
  }

  explicit Unique(int indep = 0, int noUpdate = 0)
      : ch(shape(indep, noUpdate)) {
    ch.ctx.keyFns[0] = [this](QelPartial* p) -> void* {
      ch.say("K0 " + tupleOf(p));
      auto it = objects.find(factAt(p, 1, 0)->b);
      return it == objects.end() ? nullptr : it->second;
    };
    ch.ctx.joinFns[0] = [this](QelPartial* p, QelInfo* i) {
      ch.say("J0 " + pairText(p, i));
      return factAt(p, 1, 0)->b == factOf(i)->id && factOf(i)->a >= 0;
    };
  }
  QelJoinMemPlainObjUnique* j0() const {
    return static_cast<QelJoinMemPlainObjUnique*>(ch.j0());
  }
  QelJoinMem* j1() const { return ch.j1(); }
  void known(Fact* f) { objects[f->id] = f; }
};

// Parents [1] -> 10, [2] no key, [3] -> 11, [4] -> 11, J1 with C 20.
struct Populated : Unique {
  Fact a1{1, 0, 10}, a2{2, 0, 0}, a3{3, 0, 11}, a4{4, 0, 11};
  Fact b1{10}, b2{11}, c1{20};

  explicit Populated(int indep = 0, int noUpdate = 0)
      : Unique(indep, noUpdate) {
    known(&b1);
    known(&b2);
    ch.ctx.assertObject(kC, &c1);
    for (Fact* a : {&a1, &a2, &a3}) ch.ctx.assertObject(kA, a);
    ch.ctx.assertObject(kB, &b1);
    ch.ctx.assertObject(kB, &b2);
    ch.ctx.assertObject(kA, &a4);
    ch.log();
  }
};

TEST(ObjUniqueInsert, KeyOnTheLeftTestOnTheRight) {
  Unique u;
  Fact a1{1, 0, 10}, a2{2, 0, 0}, a3{3, 0, 11}, a4{4, 0, 11}, a5{5, 0, 12};
  Fact b1{10}, b2{11}, b3{12, -1}, c1{20};
  for (Fact* b : {&b1, &b2, &b3}) u.known(b);
  u.ch.ctx.assertObject(kC, &c1);
  u.ch.log();

  // Partners not in the right input yet, and a null key: no child, no test.
  for (Fact* a : {&a1, &a2, &a3}) u.ch.ctx.assertObject(kA, a);
  EXPECT_EQ(u.ch.log(), (Lines{"assert 1", "K0 [1]", "assert 2", "K0 [2]",
                               "assert 3", "K0 [3]"}));

  // A right insertion tests every parent without a child; the key is not
  // asked.
  u.ch.ctx.assertObject(kB, &b1);
  EXPECT_EQ(u.ch.log(),
            (Lines{"assert 10", "J0 [3]+10", "J0 [2]+10", "J0 [1]+10",
                   "J1 [1,10]+20", "P0 [1,10,20]", "addRule R0[1,10,20]"}));
  // A parent that already has its child is not tested again.
  u.ch.ctx.assertObject(kB, &b2);
  EXPECT_EQ(u.ch.log(),
            (Lines{"assert 11", "J0 [3]+11", "J1 [3,11]+20", "P0 [3,11,20]",
                   "addRule R0[3,11,20]", "J0 [2]+11"}));

  // A new parent finds its partner by key.
  u.ch.ctx.assertObject(kA, &a4);
  EXPECT_EQ(u.ch.log(),
            (Lines{"assert 4", "K0 [4]", "J0 [4]+11", "J1 [4,11]+20",
                   "P0 [4,11,20]", "addRule R0[4,11,20]"}));

  // A partner whose test fails: the key is asked and the test run again
  // by the later steps of the left activation, still without a child.
  u.ch.ctx.assertObject(kB, &b3);
  u.ch.log();
  u.ch.ctx.assertObject(kA, &a5);
  EXPECT_EQ(u.ch.log(),
            (Lines{"assert 5", "K0 [5]", "J0 [5]+12", "K0 [5]", "J0 [5]+12"}));

  EXPECT_EQ(tuples(u.j0()), (Lines{"[4,11]", "[3,11]", "[1,10]"}));
  EXPECT_EQ(u.j0()->childTable.size(), 3u);
  EXPECT_EQ(u.j0()->rightIndex.size(), 3u);
}

TEST(ObjUniqueLeftUpdate, KeyNamingAnotherObjectReplacesTheChild) {
  Populated p;
  p.a1.b = 11;
  p.ch.ctx.updateObject(&p.a1, 0);
  EXPECT_EQ(p.ch.log(),
            (Lines{"beginUpdate 1", "K0 [1]", "removeRule R0[1,10,20]",
                   "J0 [1]+11", "J1 [1,11]+20", "P0 [1,11,20]",
                   "addRule R0[1,11,20]", "endUpdate 1"}));
  p.a1.b = 0;
  p.ch.ctx.updateObject(&p.a1, 1);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 1", "K0 [1]",
                               "removeRule R0[1,11,20]", "endUpdate 1"}));
  EXPECT_EQ(p.j0()->childTable.find(partialOf(p.ch.alpha(), "[1]")), nullptr);
  EXPECT_EQ(sorted(tuples(p.j0())), (Lines{"[3,11]", "[4,11]"}));
  EXPECT_EQ(p.j0()->childTable.size(), 2u);
}

TEST(ObjUniqueLeftUpdate, SameKeyPassesTheUpdateOnUnderNoUpdateMask) {
  Populated p(0, 0b10);
  p.ch.ctx.updateObject(&p.a3, 1);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 3", "K0 [3]", "J0 [3]+11",
                               "J1 [3,11]+20", "P0 [3,11,20]", "endUpdate 3"}));
  p.ch.ctx.updateObject(&p.a3, 0);
  EXPECT_EQ(p.ch.log(),
            (Lines{"beginUpdate 3", "K0 [3]", "J0 [3]+11", "endUpdate 3"}));
}

TEST(ObjUniqueLeftUpdate, IndependentBitEmitsTheChildWithoutKeyOrTest) {
  Populated p(0b10, 0);
  p.ch.ctx.updateObject(&p.a3, 1);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 3", "J1 [3,11]+20", "P0 [3,11,20]",
                               "endUpdate 3"}));
  p.ch.ctx.updateObject(&p.a2, 1);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 2", "endUpdate 2"}));
}

// Parents bound to another object are neither tested nor told.
TEST(ObjUniqueRightUpdate, ParentsBoundElsewhereAreLeftAlone) {
  Populated p;
  p.ch.ctx.updateObject(&p.b2, 0);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 11", "J0 [4]+11", "J1 [4,11]+20",
                               "P0 [4,11,20]", "J0 [3]+11", "J1 [3,11]+20",
                               "P0 [3,11,20]", "J0 [2]+11", "endUpdate 11"}));

  p.b1.a = -1;
  p.ch.ctx.updateObject(&p.b1, 0);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 10", "J0 [2]+10", "J0 [1]+10",
                               "removeRule R0[1,10,20]", "endUpdate 10"}));
  p.b1.a = 0;
  p.ch.ctx.updateObject(&p.b1, 1);
  EXPECT_EQ(p.ch.log(),
            (Lines{"beginUpdate 10", "J0 [2]+10", "J0 [1]+10", "J1 [1,10]+20",
                   "P0 [1,10,20]", "addRule R0[1,10,20]", "endUpdate 10"}));
  EXPECT_EQ(p.j0()->childTable.size(), 3u);
}

TEST(ObjUniqueRightRetract, LeavesTheIndexAndDropsItsChildren) {
  Populated p;
  p.ch.ctx.retractObject(&p.b2, 0);
  EXPECT_EQ(p.ch.log(), (Lines{"retract 11", "removeRule R0[4,11,20]",
                               "removeRule R0[3,11,20]"}));
  EXPECT_EQ(p.j0()->rightIndex.find(&p.b2), nullptr);
  EXPECT_EQ(p.j0()->rightIndex.size(), 1u);
  EXPECT_EQ(p.j0()->childTable.size(), 1u);

  // The object is gone from the index: its key finds nothing.
  Fact a6{6, 0, 11};
  p.ch.ctx.assertObject(kA, &a6);
  EXPECT_EQ(p.ch.log(), (Lines{"assert 6", "K0 [6]"}));

  // Asserted again it pairs with every waiting parent.
  p.ch.ctx.assertObject(kB, &p.b2);
  EXPECT_EQ(sorted(tuples(p.j0())),
            (Lines{"[1,10]", "[3,11]", "[4,11]", "[6,11]"}));
  EXPECT_EQ(p.j0()->rightIndex.size(), 2u);
}

// A right insertion whose test holds for a parent that already has its
// child (bound to the object its key names) must not give it a second
// child: the child table holds one child per parent, and retractions
// would otherwise remove the wrong one and leave a child of a freed
// parent behind.
TEST(ObjUniqueSecondPartner, NoSecondChildForAParent) {
  for (int order = 0; order < 3; ++order) {
    Unique u;
    u.ch.ctx.joinFns[0] = [](QelPartial*, QelInfo*) { return true; };
    Fact* p = new Fact{1, 0, 10};
    Fact* x = new Fact{10};
    Fact* y = new Fact{11};
    Fact* c = new Fact{20};
    u.known(x);
    u.known(y);
    u.ch.ctx.assertObject(kC, c);
    u.ch.ctx.assertObject(kA, p);
    u.ch.ctx.assertObject(kB, x);
    u.ch.ctx.assertObject(kB, y);
    EXPECT_EQ(tuples(u.j0()), (Lines{"[1,10]"}));
    EXPECT_EQ(u.j0()->childTable.size(), 1u);
    EXPECT_EQ(u.ch.ctx.agendaLines(), (Lines{"R0[1,10,20]:0"}));

    switch (order) {
      case 0:  // parent first
        u.ch.ctx.retractObject(p, 1);
        EXPECT_EQ(u.j0()->partials, nullptr);
        u.ch.ctx.retractObject(x, 1);
        u.ch.ctx.retractObject(y, 1);
        break;
      case 1:  // the partner first, then the parent
        u.ch.ctx.retractObject(x, 1);
        EXPECT_EQ(u.j0()->partials, nullptr);
        EXPECT_EQ(u.j0()->childTable.size(), 0u);
        u.ch.ctx.retractObject(p, 1);
        u.ch.ctx.retractObject(y, 1);
        break;
      default:  // the other object first
        u.ch.ctx.retractObject(y, 1);
        EXPECT_EQ(tuples(u.j0()), (Lines{"[1,10]"}));
        u.ch.ctx.retractObject(x, 1);
        EXPECT_EQ(u.j0()->partials, nullptr);
        u.ch.ctx.retractObject(p, 1);
        break;
    }
    EXPECT_EQ(u.j0()->partials, nullptr);
    EXPECT_EQ(u.j1()->partials, nullptr);
    EXPECT_EQ(u.j0()->childTable.size(), 0u);
    EXPECT_EQ(u.j0()->rightIndex.size(), 0u);
    EXPECT_EQ(u.ch.ctx.agenda->first, nullptr);
    u.ch.ctx.retractObject(c, 1);
  }
}

TEST(ObjUniqueContents, RetractContentsThenPopulate) {
  Populated p;
  const Lines j0Before = sorted(tuples(p.j0()));
  const Lines j1Before = sorted(tuples(p.j1()));
  ASSERT_EQ(j0Before, (Lines{"[1,10]", "[3,11]", "[4,11]"}));

  p.j0()->retractContents();
  EXPECT_EQ(p.j0()->partials, nullptr);
  EXPECT_EQ(p.j1()->partials, nullptr);
  EXPECT_EQ(p.j0()->childTable.size(), 0u);
  EXPECT_EQ(p.ch.ctx.agenda->first, nullptr);
  p.ch.log();

  p.j0()->populate();
  EXPECT_EQ(sorted(tuples(p.j0())), j0Before);
  EXPECT_EQ(sorted(tuples(p.j1())), j1Before);
  EXPECT_EQ(p.j0()->childTable.size(), 3u);
  EXPECT_EQ(p.j0()->rightIndex.size(), 2u);
  EXPECT_EQ(sorted(p.ch.ctx.agendaLines()),
            (Lines{"R0[1,10,20]:0", "R0[3,11,20]:0", "R0[4,11,20]:0"}));

  // Each record is indexed once: after its retraction no key finds it.
  p.ch.ctx.retractObject(&p.b1, 0);
  EXPECT_EQ(p.j0()->rightIndex.find(&p.b1), nullptr);
  EXPECT_EQ(sorted(tuples(p.j0())), (Lines{"[3,11]", "[4,11]"}));
  p.ch.log();
  p.ch.ctx.updateObject(&p.a1, 0);
  EXPECT_EQ(p.ch.log(), (Lines{"beginUpdate 1", "K0 [1]", "endUpdate 1"}));
}

}  // namespace
