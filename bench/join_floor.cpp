// The cost floor of a join: N left x M right objects joined on L.id ==
// R.ref (each right object matches exactly one left one). A bare nested
// loop calls the join test member function through the same member
// pointer the network holds, over records of the same objects; the
// library's unkeyed plain join does the same join while the objects are
// asserted, lefts first (each right object walks the left memory) or
// rights first (each left object walks the right input). Both report the
// time per pair tested, so their ratio is the library's overhead per pair.
#include <deque>

#include "common.h"

namespace {

using namespace qelbench;

struct Left {
  int id;
};
struct Right {
  int ref;
};

char kName[] = "floor";
char kRuleName[] = "pair";

class FloorContext : public CountingContext {
 public:
  long tests = 0;

  explicit FloorContext(QelNetwork* net) { initialize(net); }
  const char* getRulesetName() const override { return "floor"; }

  unsigned char sameId(QelPartial* p, QelInfo* i) {
    ++tests;
    return obj<Left>(p, 0)->id == obj<Right>(i)->ref;
  }
  void paired(QelPartial*) {}
};

// L(x), R(y) with y.ref == x.id.
class FloorNetwork : public QelNetwork {
 public:
  FloorNetwork() : QelNetwork(kName) {
    init(0, 0, 1, 2, 1, 1, 1);
    addClasses(this, 2);
    initDisc(at<QelDiscNode>(discs, 0), 0, -1, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 1), 1, 0, GetQelNullDisc());
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    initJoin(at<QelJoinNode>(joins, 0), 0, 0, 0, test(&FloorContext::sameId),
             0, -1, QelPatternPlain);
    initRule(at<QelRuleNode>(rules, 0), -1, kRuleName, GetQelNullPrio(), 0, 0,
             -1);
    initAction(0, act(&FloorContext::paired), 0, 1, 0);
  }
};

struct FloorData {
  std::vector<Left> lefts;
  std::vector<Right> rights;
  long pairs;

  explicit FloorData(const benchmark::State& state)
      : lefts(state.range(0)), rights(state.range(1)) {
    const int n = static_cast<int>(lefts.size());
    for (int i = 0; i < n; ++i) lefts[i].id = i;
    for (size_t j = 0; j < rights.size(); ++j) {
      rights[j].ref = static_cast<int>(j) % n;
    }
    pairs = static_cast<long>(lefts.size()) * static_cast<long>(rights.size());
  }
};

void reportPairs(benchmark::State& state, double nanos, long pairs) {
  state.SetItemsProcessed(state.iterations() * pairs);
  perUnit(state, "ns/pair", nanos, static_cast<double>(pairs));
}

void BM_JoinFloor_BareLoop(benchmark::State& state) {
  FloorData data(state);
  FloorNetwork net;
  FloorContext ctx(&net);
  // Records and alpha partials built as the library builds them.
  std::deque<QelInfo> records;
  std::deque<QelPartial> partials;
  std::vector<QelPartial*> left;
  std::vector<QelInfo*> right;
  for (Left& l : data.lefts) {
    records.emplace_back(&l, nullptr);
    partials.emplace_back(&records.back());
    left.push_back(&partials.back());
  }
  for (Right& r : data.rights) {
    records.emplace_back(&r, nullptr);
    right.push_back(&records.back());
  }
  const QelJoinTest joinTest = at<QelJoinNode>(net.joins, 0)->joinTest;
  QelContext& context = ctx;
  double nanos = 0;
  for (auto _ : state) {
    ctx.tests = 0;
    long passed = 0;
    const Clock::time_point start = Clock::now();
    for (QelPartial* p : left) {
      for (QelInfo* i : right) passed += (context.*joinTest)(p, i) != 0;
    }
    nanos += nanosSince(start);
    if (!check(state, "pairs tested", ctx.tests, data.pairs) ||
        !check(state, "pairs passed", passed, data.rights.size())) {
      break;
    }
  }
  reportPairs(state, nanos, data.pairs);
}

void runLibrary(benchmark::State& state, bool leftsFirst) {
  FloorData data(state);
  FloorNetwork net;
  FloorContext ctx(&net);
  double nanos = 0;
  for (auto _ : state) {
    ctx.tests = 0;
    ctx.resetCounts();
    const Clock::time_point start = Clock::now();
    if (leftsFirst) {
      for (Left& l : data.lefts) ctx.assertObject(0, &l);
      for (Right& r : data.rights) ctx.assertObject(1, &r);
    } else {
      for (Right& r : data.rights) ctx.assertObject(1, &r);
      for (Left& l : data.lefts) ctx.assertObject(0, &l);
    }
    nanos += nanosSince(start);
    // Lefts go first, so the right retractions find an empty join memory.
    state.PauseTiming();
    for (Left& l : data.lefts) ctx.retractObject(&l, 0);
    for (Right& r : data.rights) ctx.retractObject(&r, 0);
    state.ResumeTiming();
    if (!check(state, "pairs tested", ctx.tests, data.pairs) ||
        !check(state, "matches", ctx.added, data.rights.size()) ||
        !check(state, "matches removed", ctx.removed, data.rights.size())) {
      break;
    }
  }
  reportPairs(state, nanos, data.pairs);
}

void BM_JoinFloor_LibraryLeftsFirst(benchmark::State& state) {
  runLibrary(state, true);
}
void BM_JoinFloor_LibraryRightsFirst(benchmark::State& state) {
  runLibrary(state, false);
}

void floorSizes(benchmark::internal::Benchmark* b) {
  b->Args({1000, 1000})->Args({4000, 4000})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_JoinFloor_BareLoop)->Apply(floorSizes);
BENCHMARK(BM_JoinFloor_LibraryLeftsFirst)->Apply(floorSizes);
BENCHMARK(BM_JoinFloor_LibraryRightsFirst)->Apply(floorSizes);

}  // namespace
