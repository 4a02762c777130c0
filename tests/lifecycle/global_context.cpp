// A network and contexts at namespace scope, still holding matches and
// instances when the program ends: the contexts are destroyed by the
// static destructors, after the library's own end-of-program work (the
// order is up to the linker), so the library must not have returned their
// memory to the system by then. One context was made on a thread that has
// ended, one on the main thread, and the main thread leaves work on the
// agenda. Built against libqel.so and against the static archive.
#include <cstdio>
#include <memory>
#include <thread>

#include "pairs.h"

namespace {

constexpr int kObjects = 2000;
// Declared first, destroyed last: they outlive the contexts.
pairs::Obj gAs[kObjects];
pairs::Obj gBs[kObjects];
pairs::Obj gWorkerAs[kObjects];
pairs::Obj gWorkerBs[kObjects];

pairs::PairsNetwork gNetwork;
pairs::PairsContext gContext(&gNetwork);
std::unique_ptr<pairs::PairsContext> gWorkerContext;

}  // namespace

int main() {
  int workerFired = -1;
  std::thread worker([&workerFired] {
    gWorkerContext.reset(new pairs::PairsContext(&gNetwork));
    workerFired = pairs::run(*gWorkerContext, gWorkerAs, gWorkerBs, kObjects);
  });
  worker.join();
  const int fired = pairs::run(gContext, gAs, gBs, kObjects);
  // More matches, left unfired on the agenda.
  gContext.assertObject(pairs::kB, &gWorkerBs[0]);
  if (fired != kObjects || workerFired != kObjects) {
    std::printf("fired %d and %d, expected %d\n", fired, workerFired, kObjects);
    return 1;
  }
  std::printf("fired %d and %d; exiting with both contexts alive\n", fired, workerFired);
  return 0;
}
