// Agenda insertion and firing: N objects matching the one-pattern rule
// A(x) are asserted, then fireAllRules fires the N instances. With one
// static priority every new instance is the most recent and goes first;
// with a priority function over the object's priority slot (fixed-seed
// random values, or few distinct levels as real rulesets have) an instance
// must find its place among those already listed. The action checks that
// instances fire in non-increasing priority.
#include <climits>

#include "common.h"

namespace {

using namespace qelbench;

struct Task {
  int priority;
};

char kName[] = "agenda";
char kRuleName[] = "run";

class AgendaContext : public CountingContext {
 public:
  long fired = 0;
  long outOfOrder = 0;
  int lastPriority = INT_MAX;

  explicit AgendaContext(QelNetwork* net) { initialize(net); }
  const char* getRulesetName() const override { return "agenda"; }

  int priorityOf(QelPartial* p) { return obj<Task>(p, 0)->priority; }
  void run(QelPartial* p) {
    const int priority = obj<Task>(p, 0)->priority;
    if (priority > lastPriority) ++outOfOrder;
    lastPriority = priority;
    ++fired;
  }
  void reset() {
    resetCounts();
    fired = outOfOrder = 0;
    lastPriority = INT_MAX;
  }
};

class AgendaNetwork : public QelNetwork {
 public:
  explicit AgendaNetwork(bool dynamic) : QelNetwork(kName) {
    init(0, 0, 1, 1, 1, 0, 0);
    addClasses(this, 1);
    initDisc(at<QelDiscNode>(discs, 0), 0, -1, GetQelNullDisc());
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    const QelPriorityFunction function =
        dynamic ? prio(&AgendaContext::priorityOf) : GetQelNullPrio();
    initRule(at<QelRuleNode>(rules, 0), -1, kRuleName, function, 0, -1, -1);
    initAction(0, act(&AgendaContext::run), 0, 0, 0);
  }
};

// `levels` 0: one static priority; otherwise priorities drawn from
// 0..levels-1 by a priority function.
void runAgenda(benchmark::State& state, int levels) {
  const int n = static_cast<int>(state.range(0));
  std::vector<Task> tasks(n, Task{0});
  std::mt19937 random(12345);
  if (levels > 0) {
    for (Task& t : tasks) t.priority = static_cast<int>(random() % levels);
  }
  AgendaNetwork net(levels > 0);
  AgendaContext ctx(&net);
  double assertNs = 0, fireNs = 0;
  for (auto _ : state) {
    ctx.reset();
    Clock::time_point start = Clock::now();
    for (Task& t : tasks) ctx.assertObject(0, &t);
    assertNs += nanosSince(start);
    start = Clock::now();
    const int result = ctx.agenda->fireAllRules();
    fireNs += nanosSince(start);
    state.PauseTiming();
    for (Task& t : tasks) ctx.retractObject(&t, 0);
    state.ResumeTiming();
    if (!check(state, "instances", ctx.added, n) ||
        !check(state, "fireAllRules result", result, n) ||
        !check(state, "actions run", ctx.fired, n) ||
        !check(state, "fired out of priority order", ctx.outOfOrder, 0)) {
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
  perUnit(state, "assert_ns/obj", assertNs, n);
  perUnit(state, "fire_ns/obj", fireNs, n);
}

void BM_Agenda_StaticPriority(benchmark::State& state) { runAgenda(state, 0); }
void BM_Agenda_EightPriorityLevels(benchmark::State& state) {
  runAgenda(state, 8);
}
void BM_Agenda_RandomPriorities(benchmark::State& state) {
  runAgenda(state, 1 << 20);
}

BENCHMARK(BM_Agenda_StaticPriority)->Apply(upTo64k);
BENCHMARK(BM_Agenda_EightPriorityLevels)->Apply(upTo64k);
BENCHMARK(BM_Agenda_RandomPriorities)->Apply(upTo64k);

}  // namespace
