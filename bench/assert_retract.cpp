// Assert then retract N objects through a one-pattern rule and through
// three-pattern chains, to show how the cost per object grows with N.
//
// The chains match A(x), B(y), C(z) over triples where each B points at
// one A and each C at one B (and, the other way round, each A names its B
// and each B its C), so there are N/3 matches and a good implementation
// does work linear in N:
//   plain keyed     J0: y.a == x, J1: z.b == y, with equality keys on both
//                   joins (x | y.a, y | z.b)
//   plain unkeyed   the same joins without keys: every pair is tested, so
//                   this one is quadratic by nature (shown up to 16k)
//   object-unique   J0 takes the B that x.b names, J1 the C that y.c
//                   names, through the joins' key functions; a right
//                   object arriving after its parents tests every parent,
//                   so with its parents first it is quadratic (up to 16k)
//   obj-unique keyed the same with equality keys (x.b | y, y.c | z): the
//                   right object visits only the parents that name it
// Objects are asserted triple by triple (A, B, C), or, "partners first",
// every C, then every B, then every A, so that each object finds the
// partner it names already there. Either way they are retracted triple by
// triple, A, B, C.
#include "common.h"

namespace {

using namespace qelbench;

struct B;
struct C;
struct A {
  B* b;
  int live;
};
struct B {
  A* a;
  C* c;
};
struct C {
  B* b;
};

enum ChainKind { kPlainKeyed, kPlainUnkeyed, kObjUnique, kObjUniqueKeyed };

char kOneName[] = "one_pattern";
char kChainName[] = "chain";
char kRuleName[] = "r";

class ChainContext : public CountingContext {
 public:
  explicit ChainContext(QelNetwork* net) { initialize(net); }
  const char* getRulesetName() const override { return "chain"; }

  unsigned char isLive(QelInfo* i) { return obj<A>(i)->live != 0; }

  // Plain joins: the right object points back at the left one.
  unsigned char bPointsAtA(QelPartial* p, QelInfo* i) {
    return obj<B>(i)->a == obj<A>(p, 0);
  }
  unsigned char cPointsAtB(QelPartial* p, QelInfo* i) {
    return obj<C>(i)->b == obj<B>(p, 0);
  }
  void* leftA(QelPartial* p) { return obj<A>(p, 0); }
  void* aOfB(QelInfo* i) { return obj<B>(i)->a; }
  void* leftB(QelPartial* p) { return obj<B>(p, 0); }
  void* bOfC(QelInfo* i) { return obj<C>(i)->b; }

  // Object-unique joins: the left object names its one partner.
  void* bNamedByA(QelPartial* p) { return obj<A>(p, 0)->b; }
  unsigned char isBNamedByA(QelPartial* p, QelInfo* i) {
    return obj<A>(p, 0)->b == obj<B>(i);
  }
  void* cNamedByB(QelPartial* p) { return obj<B>(p, 0)->c; }
  void* itself(QelInfo* i) { return i->object; }
  unsigned char isCNamedByB(QelPartial* p, QelInfo* i) {
    return obj<B>(p, 0)->c == obj<C>(i);
  }

  void matched(QelPartial*) {}
};

using Ctx = ChainContext;

// A(x) with a discrimination test every object passes.
class OnePatternNetwork : public QelNetwork {
 public:
  OnePatternNetwork() : QelNetwork(kOneName) {
    init(0, 0, 1, 1, 1, 0, 0);
    addClasses(this, 1);
    initDisc(at<QelDiscNode>(discs, 0), 0, -1, disc(&Ctx::isLive));
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    initRule(at<QelRuleNode>(rules, 0), -1, kRuleName, GetQelNullPrio(), 0,
             -1, -1);
    initAction(0, act(&Ctx::matched), 0, 0, 0);
  }
};

class ChainNetwork : public QelNetwork {
 public:
  explicit ChainNetwork(ChainKind kind) : QelNetwork(kChainName) {
    init(0, 0, 1, 3, 1, 2, 2);
    addClasses(this, 3);
    initDisc(at<QelDiscNode>(discs, 0), 0, -1, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 1), 1, 0, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 2), 2, 1, GetQelNullDisc());
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    QelJoinNode* j0 = at<QelJoinNode>(joins, 0);
    QelJoinNode* j1 = at<QelJoinNode>(joins, 1);
    if (kind == kObjUnique || kind == kObjUniqueKeyed) {
      initJoin(j0, 0, 0, 0, test(&Ctx::isBNamedByA), 0, -1,
               QelPatternPlainObjUnique, lkey(&Ctx::bNamedByA));
      initJoin(j1, 1, 0, 1, test(&Ctx::isCNamedByB), 0, -1,
               QelPatternPlainObjUnique, lkey(&Ctx::cNamedByB));
      if (kind == kObjUniqueKeyed) {
        initJoinKeys(j0, lkey(&Ctx::bNamedByA), rkey(&Ctx::itself));
        initJoinKeys(j1, lkey(&Ctx::cNamedByB), rkey(&Ctx::itself));
      }
    } else {
      initJoin(j0, 0, 0, 0, test(&Ctx::bPointsAtA), 0, -1, QelPatternPlain);
      initJoin(j1, 1, 0, 1, test(&Ctx::cPointsAtB), 0, -1, QelPatternPlain);
      if (kind == kPlainKeyed) {
        initJoinKeys(j0, lkey(&Ctx::leftA), rkey(&Ctx::aOfB));
        initJoinKeys(j1, lkey(&Ctx::leftB), rkey(&Ctx::bOfC));
      }
    }
    initRule(at<QelRuleNode>(rules, 0), -1, kRuleName, GetQelNullPrio(), 0, 1,
             -1);
    initAction(0, act(&Ctx::matched), 0, 1, 1);
  }
};

void BM_AssertRetract_OnePattern(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<A> as(n, A{nullptr, 1});
  OnePatternNetwork net;
  ChainContext ctx(&net);
  double assertNs = 0, retractNs = 0;
  for (auto _ : state) {
    ctx.resetCounts();
    Clock::time_point start = Clock::now();
    for (A& a : as) ctx.assertObject(0, &a);
    assertNs += nanosSince(start);
    if (!check(state, "instances after assert", ctx.added, n)) break;
    start = Clock::now();
    for (A& a : as) ctx.retractObject(&a, 0);
    retractNs += nanosSince(start);
    if (!check(state, "instances removed", ctx.removed, n) ||
        !check(state, "instances left", ctx.agendaLength(), 0)) {
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
  perUnit(state, "assert_ns/obj", assertNs, n);
  perUnit(state, "retract_ns/obj", retractNs, n);
}

void runChain(benchmark::State& state, ChainKind kind, bool partnersFirst) {
  const int triples = static_cast<int>(state.range(0)) / 3;
  const int objects = 3 * triples;
  std::vector<A> as(triples);
  std::vector<B> bs(triples);
  std::vector<C> cs(triples);
  for (int i = 0; i < triples; ++i) {
    as[i] = A{&bs[i], 1};
    bs[i] = B{&as[i], &cs[i]};
    cs[i] = C{&bs[i]};
  }
  ChainNetwork net(kind);
  ChainContext ctx(&net);
  double assertNs = 0, retractNs = 0;
  for (auto _ : state) {
    ctx.resetCounts();
    Clock::time_point start = Clock::now();
    if (partnersFirst) {
      for (C& c : cs) ctx.assertObject(2, &c);
      for (B& b : bs) ctx.assertObject(1, &b);
      for (A& a : as) ctx.assertObject(0, &a);
    } else {
      for (int i = 0; i < triples; ++i) {
        ctx.assertObject(0, &as[i]);
        ctx.assertObject(1, &bs[i]);
        ctx.assertObject(2, &cs[i]);
      }
    }
    assertNs += nanosSince(start);
    if (!check(state, "matches after assert", ctx.added, triples)) break;
    start = Clock::now();
    for (int i = 0; i < triples; ++i) {
      ctx.retractObject(&as[i], 0);
      ctx.retractObject(&bs[i], 0);
      ctx.retractObject(&cs[i], 0);
    }
    retractNs += nanosSince(start);
    if (!check(state, "matches removed", ctx.removed, triples) ||
        !check(state, "instances left", ctx.agendaLength(), 0)) {
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * objects);
  perUnit(state, "assert_ns/obj", assertNs, objects);
  perUnit(state, "retract_ns/obj", retractNs, objects);
}

void BM_AssertRetract_PlainChainKeyed(benchmark::State& state) {
  runChain(state, kPlainKeyed, false);
}
void BM_AssertRetract_PlainChainUnkeyed(benchmark::State& state) {
  runChain(state, kPlainUnkeyed, false);
}
void BM_AssertRetract_ObjUniqueChain(benchmark::State& state) {
  runChain(state, kObjUnique, false);
}
void BM_AssertRetract_ObjUniqueChainKeyed(benchmark::State& state) {
  runChain(state, kObjUniqueKeyed, false);
}
void BM_AssertRetract_ObjUniqueChainPartnersFirst(benchmark::State& state) {
  runChain(state, kObjUnique, true);
}

BENCHMARK(BM_AssertRetract_OnePattern)->Apply(toMillion);
BENCHMARK(BM_AssertRetract_PlainChainKeyed)->Apply(toMillion);
BENCHMARK(BM_AssertRetract_PlainChainUnkeyed)->Apply(upTo16k);
BENCHMARK(BM_AssertRetract_ObjUniqueChain)->Apply(upTo16k);
BENCHMARK(BM_AssertRetract_ObjUniqueChainKeyed)->Apply(toMillion);
BENCHMARK(BM_AssertRetract_ObjUniqueChainPartnersFirst)->Apply(toMillion);

}  // namespace
