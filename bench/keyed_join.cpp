// The two-pattern equality join L(x), R(y) with y.group == x.group, with
// and without equality keys (the group, as an identity key, on the left
// partial and on the right record). N objects in groups of three L and
// three R, so each object has three partners; they are asserted in one
// fixed-seed random order and retracted in another. Keyed, the join tests
// only pairs of equal keys and the cost per object should not depend on
// N; unkeyed, it tests every pair and grows with N (shown up to 16k). Both
// check the number of join tests, which tells whether the keys were used.
#include "common.h"

namespace {

using namespace qelbench;

struct Member {
  int group;
};

struct Entry {
  int classIndex;
  Member* member;
};

char kName[] = "keyed";
char kRuleName[] = "same_group";

class KeyedContext : public CountingContext {
 public:
  long tests = 0;

  explicit KeyedContext(QelNetwork* net) { initialize(net); }
  const char* getRulesetName() const override { return "keyed"; }

  unsigned char sameGroup(QelPartial* p, QelInfo* i) {
    ++tests;
    return obj<Member>(p, 0)->group == obj<Member>(i)->group;
  }
  void* leftGroup(QelPartial* p) { return intKey(obj<Member>(p, 0)->group); }
  void* rightGroup(QelInfo* i) { return intKey(obj<Member>(i)->group); }
  void matched(QelPartial*) {}
};

class KeyedNetwork : public QelNetwork {
 public:
  explicit KeyedNetwork(bool keyed) : QelNetwork(kName) {
    init(0, 0, 1, 2, 1, 1, 1);
    addClasses(this, 2);
    initDisc(at<QelDiscNode>(discs, 0), 0, -1, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 1), 1, 0, GetQelNullDisc());
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    QelJoinNode* join = at<QelJoinNode>(joins, 0);
    initJoin(join, 0, 0, 0, test(&KeyedContext::sameGroup), 0, -1,
             QelPatternPlain);
    if (keyed) {
      initJoinKeys(join, lkey(&KeyedContext::leftGroup),
                   rkey(&KeyedContext::rightGroup));
    }
    initRule(at<QelRuleNode>(rules, 0), -1, kRuleName, GetQelNullPrio(), 0, 0,
             -1);
    initAction(0, act(&KeyedContext::matched), 0, 1, 0);
  }
};

constexpr int kPerSide = 3;

void runKeyed(benchmark::State& state, bool keyed) {
  const int groups = static_cast<int>(state.range(0)) / (2 * kPerSide);
  const int objects = groups * 2 * kPerSide;
  const long matches = static_cast<long>(groups) * kPerSide * kPerSide;
  const long sideSize = static_cast<long>(groups) * kPerSide;
  // Each pair is tested once, when the later of its two objects arrives.
  const long expectedTests = keyed ? matches : sideSize * sideSize;
  std::vector<Member> members(objects);
  std::vector<Entry> entries(objects);
  for (int k = 0; k < objects; ++k) {
    members[k].group = k / (2 * kPerSide);
    entries[k] = Entry{k % 2, &members[k]};
  }
  const std::vector<int> assertOrder = shuffled(objects, 1);
  const std::vector<int> retractOrder = shuffled(objects, 2);
  KeyedNetwork net(keyed);
  KeyedContext ctx(&net);
  double assertNs = 0, retractNs = 0;
  for (auto _ : state) {
    ctx.tests = 0;
    ctx.resetCounts();
    Clock::time_point start = Clock::now();
    for (int k : assertOrder) {
      ctx.assertObject(entries[k].classIndex, entries[k].member);
    }
    assertNs += nanosSince(start);
    start = Clock::now();
    for (int k : retractOrder) ctx.retractObject(entries[k].member, 0);
    retractNs += nanosSince(start);
    if (!check(state, "join tests", ctx.tests, expectedTests) ||
        !check(state, "matches", ctx.added, matches) ||
        !check(state, "matches removed", ctx.removed, matches) ||
        !check(state, "instances left", ctx.agendaLength(), 0)) {
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * objects);
  perUnit(state, "assert_ns/obj", assertNs, objects);
  perUnit(state, "retract_ns/obj", retractNs, objects);
  state.counters["tests/obj"] = static_cast<double>(ctx.tests) / objects;
}

void BM_EqualityJoin_Keyed(benchmark::State& state) { runKeyed(state, true); }
void BM_EqualityJoin_Unkeyed(benchmark::State& state) {
  runKeyed(state, false);
}

BENCHMARK(BM_EqualityJoin_Keyed)->Apply(toMillion);
// Quadratic by nature; 64k alone would take minutes.
BENCHMARK(BM_EqualityJoin_Unkeyed)->Apply(upTo16k);

}  // namespace
