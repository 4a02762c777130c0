// Driver of the differential test: random rulesets and operations checked
// against the oracle, with shrinking of failures; also the soak and the
// multi-threaded run.
//
//   model_test [--seeds N] [--ops M] [--start S]   N rulesets from seed S,
//                                                  M operations each
//   model_test --long                              2,000,000 operations
//   model_test --seed S --replay "A1 U2.0=3r G0"   one sequence, verbosely
//   model_test --threads T [--ops M]               T contexts on one network,
//                                                  one thread each
//   model_test --soak CYCLES                       memory must stay flat
// QEL_MODEL_SEEDS and QEL_MODEL_OPS set the defaults of --seeds and --ops.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "model/model.h"

using namespace qelmodel;

namespace {

long residentKb() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  long size = 0, resident = 0;
  if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = -1;
  std::fclose(f);
  return resident * 4;
}

// A plan built twice: with its equality keys, and without them as the twin
// whose hooks and agenda the keyed run must reproduce.
struct Nets {
  std::unique_ptr<QelNetwork> keyed, plain;
  explicit Nets(const NetPlan& plan)
      : keyed(buildNetwork(plan, true)), plain(buildNetwork(plan, false)) {}
};

bool fails(const NetPlan& plan, const Nets& nets,
           const std::vector<Operation>& ops, std::string* message,
           int* at, Stats* stats = nullptr) {
  int failedAt = 0;
  std::string m = runOps(plan, nets.keyed.get(), ops, &failedAt, stats,
                         nets.plain.get());
  if (m.empty()) return false;
  if (message != nullptr) *message = m;
  if (at != nullptr) *at = failedAt;
  return true;
}

// Removes chunks of operations, then single ones, while the run still fails.
std::vector<Operation> shrink(const NetPlan& plan, const Nets& net,
                              std::vector<Operation> ops) {
  for (size_t chunk = ops.size() / 2; chunk >= 1; chunk /= 2) {
    bool progress = true;
    while (progress) {
      progress = false;
      for (size_t i = 0; i + chunk <= ops.size(); ++i) {
        std::vector<Operation> fewer(ops.begin(), ops.begin() + i);
        fewer.insert(fewer.end(), ops.begin() + i + chunk, ops.end());
        if (fails(plan, net, fewer, nullptr, nullptr)) {
          ops = fewer;
          progress = true;
          break;
        }
      }
    }
    if (chunk == 1) break;
  }
  return ops;
}

void report(uint64_t seed, const NetPlan& plan, const Nets& net,
            const std::vector<Operation>& ops) {
  std::vector<Operation> small = shrink(plan, net, ops);
  std::string message;
  int at = 0;
  fails(plan, net, small, &message, &at);
  std::printf("MISMATCH seed %llu: %s\n", static_cast<unsigned long long>(seed),
              message.c_str());
  std::printf("ruleset:\n%s", plan.describe().c_str());
  std::printf("shortest sequence (%zu operations, fails at %d):\n",
              small.size(), at);
  std::printf("  model_test --seed %llu --replay \"%s\"\n",
              static_cast<unsigned long long>(seed), formatOps(small).c_str());
}

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != 0 ? std::atoi(v) : fallback;
}

int runRandom(uint64_t start, int seeds, int opsPerSeed) {
  long total = 0;
  int failures = 0;
  Stats stats;
  for (int s = 0; s < seeds; ++s) {
    uint64_t seed = start + static_cast<uint64_t>(s);
    NetPlan plan = generateNet(seed);
    Nets nets(plan);
    std::vector<Operation> ops = generateOps(plan, seed, opsPerSeed);
    std::string message;
    int at = 0;
    if (fails(plan, nets, ops, &message, &at, &stats)) {
      ops.resize(static_cast<size_t>(at + 1));
      report(seed, plan, nets, ops);
      if (++failures >= 3) break;
    }
    total += opsPerSeed;
  }
  std::printf("model: seeds %llu..%llu, %ld operations checked, %d mismatching seeds\n",
              static_cast<unsigned long long>(start),
              static_cast<unsigned long long>(start + seeds - 1), total,
              failures);
  std::printf("model: compared %ld matches and %ld instances; %ld instances "
              "made again by refreshes, %ld re-prioritised; %ld ambiguous "
              "continuing matches, %ld of them re-created\n",
              stats.matches, stats.instances, stats.refires,
              stats.reprioritised, stats.ambiguous, stats.fresh);
  std::printf("model: keyed and unkeyed twins agreed on %ld hook and test "
              "lines, %ld of them join tests on pairs of equal keys\n",
              stats.twinLines, stats.keyedTests);
  std::printf("model: %ld logical facts asserted by actions, %ld of them gone "
              "with their last support\n",
              stats.justified, stats.unsupported);
  std::printf("model: %ld checks of the order of two instances of one rule "
              "with equal recency\n", stats.ties);
  std::printf("model: %ld time windows opened, %ld expired, %ld completed "
              "in time; %ld watchdog instances\n",
              stats.waits, stats.expiries, stats.completed, stats.watchdogs);
  std::printf("%d passed, %d failed\n", seeds - failures, failures);
  return failures == 0 ? 0 : 1;
}

int runReplay(uint64_t seed, const std::string& text) {
  NetPlan plan = generateNet(seed);
  std::vector<Operation> ops;
  if (!parseOps(text, &ops)) {
    std::printf("cannot parse the operations\n");
    return 2;
  }
  std::printf("ruleset:\n%s", plan.describe().c_str());
  auto net = buildNetwork(plan);
  ModelRun run(plan, net.get(), true);
  std::printf("start:%s\n", run.agendaText().c_str());
  for (size_t i = 0; i < ops.size(); ++i) {
    std::vector<Operation> one(1, ops[i]);
    std::string message = run.apply(ops[i]);
    std::printf("%s:%s\n", formatOps(one).c_str(), run.agendaText().c_str());
    if (!message.empty()) {
      std::printf("MISMATCH at operation %zu: %s\n", i, message.c_str());
      return 1;
    }
  }
  std::printf("%zu operations agree\n", ops.size());
  return 0;
}

// Contexts are initialized one after another on one network, then each runs
// its own operations on its own thread, checked by its own oracle, while
// other threads create and destroy contexts over the same network.
int runThreads(int threads, int opsPerThread, uint64_t seed) {
  int failures = 0;
  for (int round = 0; round < 2; ++round) {
    NetPlan plan = round == 0 ? soakNet() : generateNet(seed);
    auto net = buildNetwork(plan);
    std::vector<std::unique_ptr<ModelRun>> runs;
    for (int t = 0; t < threads; ++t) {
      runs.emplace_back(new ModelRun(plan, net.get(), true));
    }
    std::vector<std::string> results(threads + 2);
    std::vector<std::thread> pool;
    // Two more threads keep creating and destroying contexts over the same
    // network while the others run, each checked for a few operations.
    std::atomic<bool> running(true);
    for (int c = 0; c < 2; ++c) {
      pool.emplace_back([&, c]() {
        for (uint64_t k = 0; running.load(std::memory_order_relaxed); ++k) {
          ModelRun churn(plan, net.get(), true);
          for (const Operation& op : generateOps(plan, seed * 977 + k * 2 + c, 20)) {
            std::string m = churn.apply(op);
            if (!m.empty()) {
              results[threads + c] = "churn thread " + std::to_string(c) + ": " + m;
              running = false;
              return;
            }
          }
        }
      });
    }
    const size_t churners = pool.size();
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t]() {
        std::vector<Operation> ops =
            generateOps(plan, seed * 131 + static_cast<uint64_t>(t), opsPerThread);
        for (size_t i = 0; i < ops.size(); ++i) {
          std::string m = runs[t]->apply(ops[i]);
          if (!m.empty()) {
            results[t] = "thread " + std::to_string(t) + " op " +
                         std::to_string(i) + ": " + m;
            return;
          }
        }
      });
    }
    for (size_t i = churners; i < pool.size(); ++i) pool[i].join();
    running = false;
    for (size_t i = 0; i < churners; ++i) pool[i].join();
    for (auto& r : results) {
      if (!r.empty()) {
        std::printf("MISMATCH %s\n", r.c_str());
        ++failures;
      }
    }
    runs.clear();
  }
  std::printf("threads: %d contexts x %d operations x 2 networks, %d mismatches\n",
              threads, opsPerThread, failures);
  std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
  return failures == 0 ? 0 : 1;
}

// Assert, update and retract cycles through rules of every join kind,
// without the oracle; resident memory must not creep.
int runSoak(long cycles) {
  NetPlan plan = soakNet();
  auto net = buildNetwork(plan);
  ModelRun run(plan, net.get(), false);
  Rng rng(12345);
  int handles = static_cast<int>(plan.handleClass.size());
  long early = -1;
  long peakFacts = 0;
  for (long c = 1; c <= cycles; ++c) {
    Operation a;
    a.kind = 'A';
    a.a = rng.below(handles);
    a.slot = rng.below(kSlotCount);
    a.value = rng.below(kValues);
    run.apply(a);
    Operation u;
    u.kind = 'U';
    u.a = rng.below(handles);
    u.slot = rng.below(kSlotCount);
    u.value = rng.below(kValues);
    u.flag = rng.below(2);
    run.apply(u);
    Operation r;
    r.kind = 'R';
    r.a = rng.below(handles);
    r.flag = rng.below(2);
    run.apply(r);
    if (c % 1000 == 0) {
      Operation g;
      g.kind = 'G';
      run.apply(g);
    }
    peakFacts = std::max<long>(peakFacts, static_cast<long>(run.liveFacts()));
    if (c == 100000) early = residentKb();
    if (c % 1000000 == 0) {
      std::printf("soak: %ld cycles, resident %ld kB\n", c, residentKb());
      std::fflush(stdout);
    }
  }
  long late = residentKb();
  if (early < 0) early = late;
  double growth = early > 0 ? 100.0 * (late - early) / early : 0.0;
  std::printf("soak: %ld cycles; resident %ld kB after 100000, %ld kB at the end "
              "(%+.2f%%); at most %ld facts alive\n",
              cycles, early, late, growth, peakFacts);
  bool flat = late <= early * 105 / 100;
  std::printf("%d passed, %d failed\n", flat ? 1 : 0, flat ? 0 : 1);
  return flat ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = envInt("QEL_MODEL_SEEDS", 300);
  int ops = envInt("QEL_MODEL_OPS", 150);
  uint64_t start = 1;
  uint64_t seed = 0;
  bool haveSeed = false;
  std::string replay;
  bool haveReplay = false;
  int threads = 0;
  long soak = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (a == "--seeds") {
      seeds = std::atoi(next().c_str());
    } else if (a == "--ops") {
      ops = std::atoi(next().c_str());
    } else if (a == "--start") {
      start = std::strtoull(next().c_str(), nullptr, 10);
    } else if (a == "--seed") {
      seed = std::strtoull(next().c_str(), nullptr, 10);
      haveSeed = true;
    } else if (a == "--replay") {
      replay = next();
      haveReplay = true;
    } else if (a == "--long") {
      seeds = 8000;
      ops = 250;
    } else if (a == "--threads") {
      threads = std::atoi(next().c_str());
    } else if (a == "--soak") {
      soak = std::atol(next().c_str());
    } else {
      std::printf("unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (soak > 0) return runSoak(soak);
  if (threads > 0) return runThreads(threads, ops, haveSeed ? seed : 7);
  if (haveReplay) return runReplay(seed, replay);
  if (haveSeed) return runRandom(seed, 1, ops);
  return runRandom(start, seeds, ops);
}
