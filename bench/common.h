// Pieces every microbenchmark shares: the casts generated code uses to hand
// member functions to the network, identity keys, a context base that
// counts what the agenda gains and loses (each benchmark checks those
// counts), and per-object counters so that costs compare across sizes.
#ifndef QEL_BENCH_COMMON_H
#define QEL_BENCH_COMMON_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "qel.h"

namespace qelbench {

template <typename T>
T* at(const QelList& list, int i) {
  return static_cast<T*>(list[i]);
}
template <typename T>
T* obj(QelInfo* i) {
  return static_cast<T*>(i->object);
}
template <typename T>
T* obj(QelPartial* p, int n) {
  return static_cast<T*>(p->tailn(n)->record->object);
}

template <typename F>
QelDiscTest disc(F f) {
  return static_cast<QelDiscTest>(f);
}
template <typename F>
QelJoinTest test(F f) {
  return static_cast<QelJoinTest>(f);
}
template <typename F>
QelKeyFunction lkey(F f) {
  return static_cast<QelKeyFunction>(f);
}
template <typename F>
QelRecordKeyFunction rkey(F f) {
  return static_cast<QelRecordKeyFunction>(f);
}
template <typename F>
QelPriorityFunction prio(F f) {
  return static_cast<QelPriorityFunction>(f);
}
template <typename F>
QelActionFunction act(F f) {
  return static_cast<QelActionFunction>(f);
}

// An integer as an identity key, offset so that no key is null.
inline void* intKey(int v) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(v) + 1);
}

// Appends `count` external classes (the application owns the objects).
inline void addClasses(QelNetwork* net, int count) {
  static char names[][4] = {"A", "B", "C", "D"};
  for (int c = 0; c < count; ++c) {
    QelClassNode* node = new QelClassNode(net, c);
    node->name = names[c];
    node->kind = 1;
    net->classes.append(node);
  }
}

// Counts instances through the agenda hooks the library calls anyway.
class CountingContext : public QelContext {
 public:
  long added = 0;
  long removed = 0;

  void resetCounts() { added = removed = 0; }
  long agendaLength() const {
    long n = 0;
    for (const QelInstance* i = agenda->first; i != nullptr; i = i->next) ++n;
    return n;
  }

 protected:
  void notifyAddRule(QelInstance*) override { ++added; }
  void notifyRemoveRule(QelInstance*) override { ++removed; }
};

// Fails the benchmark unless `actual == expected`; returns whether it held.
inline bool check(benchmark::State& state, const char* what, long actual,
                  long expected) {
  if (actual == expected) return true;
  const std::string message = std::string(what) + ": " +
                              std::to_string(actual) + " instead of " +
                              std::to_string(expected);
  state.SkipWithError(message.c_str());
  return false;
}

using Clock = std::chrono::steady_clock;

inline double nanosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start)
      .count();
}

// Wall time of one phase summed over all iterations, reported per unit
// (object, pair) and per iteration.
inline void perUnit(benchmark::State& state, const char* name,
                    double totalNanos, double units) {
  state.counters[name] =
      benchmark::Counter(totalNanos / units, benchmark::Counter::kAvgIterations);
}

// A fixed-seed permutation of 0..n-1, so every run sees the same order.
inline std::vector<int> shuffled(int n, unsigned seed) {
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  return order;
}

// Object counts 1k, 4k, 16k, 64k (or up to `largest`).
inline void sizes(benchmark::internal::Benchmark* b, int largest) {
  for (int n = 1000; n <= largest; n *= 4) b->Arg(n);
  b->Unit(benchmark::kMillisecond);
}
inline void upTo64k(benchmark::internal::Benchmark* b) { sizes(b, 64000); }
inline void upTo16k(benchmark::internal::Benchmark* b) { sizes(b, 16000); }
// 1k, 10k, 100k, 1M: for the cases whose cost per unit should not grow.
inline void toMillion(benchmark::internal::Benchmark* b) {
  for (int n = 1000; n <= 1000000; n *= 10) b->Arg(n);
  b->Unit(benchmark::kMillisecond);
}

}  // namespace qelbench

#endif  // QEL_BENCH_COMMON_H
