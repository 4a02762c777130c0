// The usual-order find_seating in small: N left partials L(x) join one
// right object R (the count) with a test that reads it; every change of R
// passes through all N pairs below it.
//   modify    R is retracted and asserted again, as a rule language's
//             modify does: the N pairs and their instances are destroyed
//             and made anew.
//   refresh   R is updated with refresh: the N pairs are tested again and
//             their instances refreshed.
// A good implementation spends the same time per pair at any N.
#include "common.h"

namespace {

using namespace qelbench;

struct Left {
  int x;
};
struct Count {
  int c;
};

char kName[] = "rebuild";
char kRuleName[] = "below_count";

class RebuildContext : public CountingContext {
 public:
  long tests = 0;

  explicit RebuildContext(QelNetwork* net) { initialize(net); }
  const char* getRulesetName() const override { return "rebuild"; }

  // Holds for every pair while the count is positive, as the guard of
  // find_seating holds for one seating: the test must read the count.
  unsigned char belowCount(QelPartial* p, QelInfo* i) {
    ++tests;
    return obj<Left>(p, 0)->x >= 0 && obj<Count>(i)->c > 0;
  }
  void matched(QelPartial*) {}
};

class RebuildNetwork : public QelNetwork {
 public:
  RebuildNetwork() : QelNetwork(kName) {
    init(0, 0, 1, 2, 1, 1, 1);
    addClasses(this, 2);
    initDisc(at<QelDiscNode>(discs, 0), 0, -1, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 1), 1, 0, GetQelNullDisc());
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    initJoin(at<QelJoinNode>(joins, 0), 0, 0, 0, test(&RebuildContext::belowCount),
             0, -1, QelPatternPlain);
    initRule(at<QelRuleNode>(rules, 0), -1, kRuleName, GetQelNullPrio(), 0, 0,
             -1);
    initAction(0, act(&RebuildContext::matched), 0, 1, 0);
  }
};

constexpr int kChanges = 4;

void runRebuild(benchmark::State& state, bool modify) {
  const int n = static_cast<int>(state.range(0));
  std::vector<Left> lefts(n);
  for (int k = 0; k < n; ++k) lefts[k].x = k;
  Count count{1};
  RebuildNetwork net;
  RebuildContext ctx(&net);
  for (Left& l : lefts) ctx.assertObject(0, &l);
  ctx.assertObject(1, &count);
  double changeNs = 0;
  for (auto _ : state) {
    ctx.tests = 0;
    ctx.resetCounts();
    const Clock::time_point start = Clock::now();
    for (int k = 0; k < kChanges; ++k) {
      ++count.c;
      if (modify) {
        ctx.retractObject(&count, 0);
        ctx.assertObject(1, &count);
      } else {
        ctx.updateObject(&count, 1);
      }
    }
    changeNs += nanosSince(start);
    const long pairs = static_cast<long>(n) * kChanges;
    if (!check(state, "join tests", ctx.tests, pairs) ||
        !check(state, "instances made", ctx.added, modify ? pairs : 0) ||
        !check(state, "instances left", ctx.agendaLength(), n)) {
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * n * kChanges);
  perUnit(state, "ns/partial", changeNs, static_cast<double>(n) * kChanges);
}

void BM_Rebuild_Modify(benchmark::State& state) { runRebuild(state, true); }
void BM_Rebuild_Refresh(benchmark::State& state) { runRebuild(state, false); }

BENCHMARK(BM_Rebuild_Modify)->Apply(toMillion);
BENCHMARK(BM_Rebuild_Refresh)->Apply(toMillion);

}  // namespace
