// Keyed joins must behave exactly like the same joins without keys: the
// same hooks in the same order, the same agenda, after every operation.
// Each case runs one random operation sequence through a keyed and an
// unkeyed copy of one network and compares the two hook logs.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "join/join_keys.h"
#include "join/join_mem.h"
#include "support/harness.h"

using namespace qeltest;

namespace {

// Rule 0: A(x), T(y) [join kind under test] with y.a == x.a (key: a).
// Rule 1: A(x), A(y) plain self-join with x.b == y.b (key: b), then a
//         third pattern T(z) with z.a == y.a (key: a).
// A priority function on rule 1 makes updates that reach it visible.
struct KeyedNet {
  char name[8] = "keyed";
  QelNetwork net{name};
  TestContext ctx;
  std::vector<std::unique_ptr<Fact>> facts;  // owned here; classes kind 1

  // With `tIsA`, T is a subclass of A: its records also enter A's
  // discrimination memory and so the key index of join 1's right input.
  KeyedNet(QelPatternType kind, bool keyed, int independence, int noUpdate,
           bool tIsA = false) {
    net.init(0, 0, 2, 2, 2, 2, 3);
    TestClassNode* a = addClass(net, "A", 1);
    addClass(net, "T", 1, tIsA ? a : nullptr);
    net.initDisc(discAt(net, 0), 0, 0, GetQelNullDisc());
    net.initDisc(discAt(net, 1), 1, 1, TestContext::disc(0));
    net.addAlphaNode(discAt(net, 0), 0, -1, QelPatternPlain);
    net.addAlphaNode(discAt(net, 0), 1, -1, QelPatternPlain);
    // Join 0: rule 0's second pattern over T.
    net.initJoin(joinAt(net, 0), 0, 0, 1, TestContext::join(0), independence,
                 noUpdate, kind);
    // Joins 1 and 2: rule 1's chain; join 1 shares A's right node.
    net.initJoin(joinAt(net, 1), 0, 1, 0, TestContext::join(1), 0, noUpdate,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 2), 1, 1, 1, TestContext::join(2), 0, noUpdate,
                 QelPatternPlain);
    if (kind == QelPatternCount) {
      joinAt(net, 0)->countTest = TestContext::joinCount(0);
    }
    if (kind == QelPatternCollect) {
      joinAt(net, 0)->collectTest = TestContext::joinCollect(0);
    }
    if (keyed) {
      net.initJoinKeys(joinAt(net, 0), TestContext::key(0),
                       TestContext::recordKey(0));
      net.initJoinKeys(joinAt(net, 1), TestContext::key(1),
                       TestContext::recordKey(1));
      net.initJoinKeys(joinAt(net, 2), TestContext::key(2),
                       TestContext::recordKey(0));
    }
    net.initRule(ruleAt(net, 0), -1, const_cast<char*>("r0"), GetQelNullPrio(),
                 0, 0, -1);
    net.initRule(ruleAt(net, 1), -1, const_cast<char*>("r1"), TestContext::prio(0),
                 0, 2, -1);
    net.initAction(0, TestContext::action(0), 0, 1, 0);
    net.initAction(1, TestContext::action(1), 0, 1, 2);

    ctx.discFns[0] = [](QelInfo* i) { return factOf(i)->c != 3; };
    ctx.joinFns[0] = [](QelPartial* p, QelInfo* i) {
      return factAt(p, 1, 0)->a == factOf(i)->a;
    };
    ctx.joinFns[1] = [](QelPartial* p, QelInfo* i) {
      return factAt(p, 1, 0)->b == factOf(i)->b;
    };
    ctx.joinFns[2] = [](QelPartial* p, QelInfo* i) {
      return factAt(p, 2, 1)->a == factOf(i)->a;
    };
    ctx.keyFns[0] = [](QelPartial* p) { return keyOf(factAt(p, 1, 0)->a); };
    ctx.keyFns[1] = [](QelPartial* p) { return keyOf(factAt(p, 1, 0)->b); };
    ctx.keyFns[2] = [](QelPartial* p) { return keyOf(factAt(p, 2, 1)->a); };
    ctx.recordKeyFns[0] = [](QelInfo* i) { return keyOf(factOf(i)->a); };
    ctx.recordKeyFns[1] = [](QelInfo* i) { return keyOf(factOf(i)->b); };
    // Depends on the parent only through its immutable id, so recounting
    // fewer parents cannot change an answer.
    ctx.joinCountFns[0] = [](QelPartial* p, int n) {
      return n >= 1 + factAt(p, 1, 0)->id % 2;
    };
    ctx.joinCollectFns[0] = [](QelPartial*, QelOrderedSet* s) {
      return s->count != 1;
    };
    ctx.prioFns[0] = [](QelPartial* p) {
      return factAt(p, 3, 0)->c + factAt(p, 3, 2)->c;
    };
    ctx.init(&net);
  }

  static void* keyOf(int v) { return reinterpret_cast<void*>(intptr_t(v) + 1); }
};

// Applies one random operation to both nets; both get the same object ids.
class Driver {
 public:
  Driver(KeyedNet& k, KeyedNet& u, unsigned seed) : k_(k), u_(u), rng_(seed) {}

  void step() {
    const int op = pick(10);
    const int live = static_cast<int>(ids_.size());
    if (op <= 3 || live < 2) {
      const int cls = pick(2);
      Fact f{next_++, pick(3), pick(3), pick(4)};
      add(k_, f, cls);
      add(u_, f, cls);
      ids_.push_back(f.id);
      return;
    }
    const int which = pick(live);
    const int id = ids_[which];
    if (op <= 5) {
      const int slot = pick(3);
      const int value = pick(4);
      const int mode = pick(2);
      for (KeyedNet* n : {&k_, &u_}) {
        Fact* f = find(*n, id);
        (slot == 0 ? f->a : slot == 1 ? f->b : f->c) = value;
        n->ctx.updateObject(f, mode);
      }
    } else if (op == 6) {
      for (KeyedNet* n : {&k_, &u_}) n->ctx.assertObject(0, find(*n, id));
    } else if (op <= 8) {
      for (KeyedNet* n : {&k_, &u_}) n->ctx.retractObject(find(*n, id), 0);
      ids_.erase(ids_.begin() + which);
    } else {
      for (KeyedNet* n : {&k_, &u_}) n->ctx.agenda->fireRule();
    }
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % unsigned(n)); }
  static void add(KeyedNet& n, const Fact& f, int cls) {
    n.facts.push_back(std::make_unique<Fact>(f));
    n.ctx.assertObject(cls, n.facts.back().get());
  }
  static Fact* find(KeyedNet& n, int id) {
    for (auto& f : n.facts) {
      if (f->id == id) return f.get();
    }
    return nullptr;
  }
  KeyedNet& k_;
  KeyedNet& u_;
  std::mt19937 rng_;
  std::vector<int> ids_;
  int next_ = 1;
};

void runSame(QelPatternType kind, int independence, int noUpdate,
             bool tIsA = false, unsigned seeds = 20) {
  for (unsigned seed = 1; seed <= seeds; ++seed) {
    KeyedNet keyed(kind, true, independence, noUpdate, tIsA);
    KeyedNet plain(kind, false, independence, noUpdate, tIsA);
    ASSERT_EQ(keyed.ctx.takeLog(), plain.ctx.takeLog());
    Driver driver(keyed, plain, seed);
    for (int i = 0; i < 150; ++i) {
      driver.step();
      ASSERT_EQ(keyed.ctx.takeLog(), plain.ctx.takeLog())
          << "seed " << seed << " step " << i;
      ASSERT_EQ(keyed.ctx.agendaLines(), plain.ctx.agendaLines())
          << "seed " << seed << " step " << i;
    }
  }
}

TEST(KeyedJoin, PlainBehavesAsUnkeyed) { runSame(QelPatternPlain, 0, -1); }
TEST(KeyedJoin, PlainWithUpdatesPassedOn) { runSame(QelPatternPlain, 0, 0); }
TEST(KeyedJoin, ExistsBehavesAsUnkeyed) { runSame(QelPatternExists, 0, 0); }
TEST(KeyedJoin, NotBehavesAsUnkeyed) { runSame(QelPatternNot, 0, 0); }
TEST(KeyedJoin, CountBehavesAsUnkeyed) { runSame(QelPatternCount, 0, 0); }
TEST(KeyedJoin, CollectBehavesAsUnkeyed) { runSame(QelPatternCollect, 0, 0); }
TEST(KeyedJoin, SubclassRecordsInIndexesOfTwoClasses) {
  runSame(QelPatternPlain, 0, 0, true, 6);
  runSame(QelPatternNot, 0, 0, true, 6);
  runSame(QelPatternCount, 0, 0, true, 6);
}

// A T record carries an entry for the index of A's right input and one for
// its own class's, each listed while the record is in that input.
TEST(KeyedJoin, SubclassRecordsCarryAnEntryPerIndex) {
  KeyedNet k(QelPatternPlain, true, 0, -1, true);
  const QelRightKeyIndex* ofA = k.ctx.joinMems[1]->keys->right;
  const QelRightKeyIndex* ofT = k.ctx.joinMems[0]->keys->right;
  ASSERT_NE(ofA, ofT);
  EXPECT_NE(ofA->offset, ofT->offset);
  Fact t{1, 2, 5, 0}, hidden{2, 2, 5, 3};  // T's disc test drops c == 3
  k.ctx.assertObject(1, &t);
  k.ctx.assertObject(1, &hidden);
  auto* rt = static_cast<QelInfo*>(k.ctx.objectTable->find(&t));
  auto* rh = static_cast<QelInfo*>(k.ctx.objectTable->find(&hidden));
  ASSERT_TRUE(rt && rh);
  EXPECT_EQ(ofA->find(rt)->key, KeyedNet::keyOf(5));
  EXPECT_EQ(ofT->find(rt)->key, KeyedNet::keyOf(2));
  EXPECT_NE(ofA->find(rh), nullptr);
  EXPECT_EQ(ofT->find(rh), nullptr);
  hidden.c = 0;  // now passes T's test: enters its index, newest
  k.ctx.updateObject(&hidden, 0);
  ASSERT_NE(ofT->find(rh), nullptr);
  EXPECT_EQ(ofT->newest(KeyedNet::keyOf(2))->item, rh);
  EXPECT_EQ(ofT->newest(KeyedNet::keyOf(2))->older->item, rt);
  k.ctx.retractObject(&t, 0);
  EXPECT_EQ(ofT->newest(KeyedNet::keyOf(2))->older, nullptr);
  EXPECT_EQ(ofA->newest(KeyedNet::keyOf(5))->item, rh);
}

// Keys must not hide anything the unkeyed join would see: with keys the
// join test runs only for pairs of equal keys, so it runs less.
TEST(KeyedJoin, TestsOnlyPairsOfEqualKeys) {
  KeyedNet keyed(QelPatternPlain, true, 0, -1);
  KeyedNet plain(QelPatternPlain, false, 0, -1);
  Driver driver(keyed, plain, 7);
  for (int i = 0; i < 200; ++i) driver.step();
  EXPECT_EQ(keyed.ctx.agendaLines(), plain.ctx.agendaLines());
  EXPECT_LT(keyed.ctx.joinCalls, plain.ctx.joinCalls);
}

// Joins 0 and 2 index the same right input by the same right key function
// and share one index of it; join 1 indexes another input by another key.
// The twins above check that sharing changes nothing observable.
TEST(KeyedJoin, JoinsOfOneInputAndKeyShareTheRightIndex) {
  for (QelPatternType kind : {QelPatternPlain, QelPatternNot}) {
    KeyedNet k(kind, true, 0, -1);
    const QelJoinKeys* k0 = k.ctx.joinMems[0]->keys;
    const QelJoinKeys* k1 = k.ctx.joinMems[1]->keys;
    const QelJoinKeys* k2 = k.ctx.joinMems[2]->keys;
    ASSERT_TRUE(k0 && k1 && k2);
    EXPECT_EQ(k0->right, k2->right);
    EXPECT_NE(k0->right, k1->right);
    Fact t{1, 2, 0, 0};
    k.ctx.assertObject(1, &t);
    EXPECT_NE(k0->right->find(static_cast<QelInfo*>(k.ctx.objectTable->find(&t))), nullptr);
    k.ctx.retractObject(&t, 0);
    EXPECT_EQ(k0->right->newest(KeyedNet::keyOf(2)), nullptr);
  }
}

// Join 1 walks its parents once before it indexes them, and drops the
// index when its left memory empties; the twins above check that both
// ways find the same parents.
TEST(KeyedJoin, ParentsAreIndexedAtTheSecondWalkAndDroppedWhenGone) {
  KeyedNet k(QelPatternPlain, true, 0, -1);
  const QelJoinKeys* keys = k.ctx.joinMems[1]->keys;
  Fact a1{1, 0, 5}, a2{2, 0, 5}, a3{3, 0, 6};
  k.ctx.assertObject(0, &a1);  // no parent to walk yet
  k.ctx.assertObject(0, &a2);  // walks a1
  EXPECT_FALSE(keys->leftIndexed);
  EXPECT_EQ(keys->left.size(), 0u);
  k.ctx.assertObject(0, &a3);  // the second walk indexes a1 and a2
  EXPECT_TRUE(keys->leftIndexed);
  EXPECT_EQ(keys->left.size(), 3u);
  EXPECT_NE(keys->left.newest(KeyedNet::keyOf(6)), nullptr);
  for (Fact* f : {&a1, &a2, &a3}) k.ctx.retractObject(f, 0);
  EXPECT_FALSE(keys->leftIndexed);
  EXPECT_EQ(keys->left.size(), 0u);
}

}  // namespace
