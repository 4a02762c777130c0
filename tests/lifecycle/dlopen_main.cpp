// Loads libqel.so and a ruleset built against it with dlopen, runs the
// ruleset on this thread and on another, closes both and does it again,
// this time with the library loaded only as the ruleset's dependency.
//   test_dlopen LIBQEL PLUGIN
// ctest runs it with the least spare static TLS glibc allows
// (glibc.rtld.optional_static_tls=0), and checks apart that libqel.so does
// not ask for static TLS at all (the `initial-exec` model does, and then
// dlopen fails once the spare room is taken).
#include <dlfcn.h>

#include <cstdio>
#include <thread>

namespace {

using RunFunction = int (*)(int);

bool runOnce(const char* plugin, int round) {
  void* handle = dlopen(plugin, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::printf("round %d: dlopen failed: %s\n", round, dlerror());
    return false;
  }
  RunFunction run = reinterpret_cast<RunFunction>(dlsym(handle, "qel_plugin_run"));
  if (run == nullptr) {
    std::printf("round %d: no qel_plugin_run: %s\n", round, dlerror());
    return false;
  }
  int here = run(500);
  int there = -1;
  std::thread worker([&there, run] { there = run(300); });
  worker.join();
  dlclose(handle);
  if (here != 500 || there != 300) {
    std::printf("round %d: fired %d and %d, expected 500 and 300\n", round, here, there);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: %s LIBQEL PLUGIN\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) {
    std::printf("dlopen %s failed: %s\n", argv[1], dlerror());
    return 1;
  }
  if (!runOnce(argv[2], 1)) return 1;
  dlclose(library);
  if (!runOnce(argv[2], 2)) return 1;
  std::printf("ruleset run through a dlopen'ed libqel.so, twice\n");
  return 0;
}
