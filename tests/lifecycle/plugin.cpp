// Generated ruleset code as a plugin: a shared object linked to libqel.so,
// loaded with dlopen by a program that does not link the library.
#include "pairs.h"

extern "C" __attribute__((visibility("default"))) int qel_plugin_run(int n) {
  pairs::PairsNetwork network;
  pairs::Obj* as = new pairs::Obj[n];
  pairs::Obj* bs = new pairs::Obj[n];
  int fired;
  {
    pairs::PairsContext context(&network);
    fired = pairs::run(context, as, bs, n);
  }
  delete[] as;
  delete[] bs;
  return fired;
}
