// Placeholder demo: builds a small network and prints its description.
#include <iostream>

#include "qel.h"

int main() {
  static char name[] = "demo";
  QelNetwork network(name);
  network.init(0, 0, 0, 0, 0, 0, 0);
  network.describe(std::cout);
  return 0;
}
