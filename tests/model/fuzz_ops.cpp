// libFuzzer target: the first two bytes choose the ruleset, the rest are
// decoded into operations that run under the oracle's checks. A mismatch
// aborts with the command that replays it through model_test.
#include <cstdio>
#include <cstdlib>

#include "model/model.h"

using namespace qelmodel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint64_t seed = static_cast<uint64_t>(data[0]) | (static_cast<uint64_t>(data[1]) << 8);
  NetPlan plan = generateNet(seed);
  auto net = buildNetwork(plan, true);
  auto twin = buildNetwork(plan, false);
  std::vector<Operation> ops = decodeOps(plan, data + 2, size - 2);
  int at = 0;
  std::string message = runOps(plan, net.get(), ops, &at, nullptr, twin.get());
  if (!message.empty()) {
    ops.resize(static_cast<size_t>(at + 1));
    std::fprintf(stderr, "MISMATCH seed %llu at operation %d: %s\n"
                 "  model_test --seed %llu --replay \"%s\"\n",
                 static_cast<unsigned long long>(seed), at, message.c_str(),
                 static_cast<unsigned long long>(seed), formatOps(ops).c_str());
    std::abort();
  }
  return 0;
}
