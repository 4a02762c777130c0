// Built against an installed qel, through find_package or pkg-config.
#include <iostream>

#include "qel.h"

int main() {
  char name[] = "installed";
  QelNetwork network(name);
  network.init(0, 0, 0, 0, 0, 0, 0);
  network.describe(std::cout);
  return 0;
}
