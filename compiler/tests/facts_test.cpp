// The generated programs' fact store: one fact per content, through a run
// of assertions and retractions long enough to grow its table and to move
// entries back on removal, checked against a count per content.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "qelrt_facts.h"

namespace qelrt {
namespace {

TEST(FactStore, RefusesEqualFactsAndForgetsRetractedOnes) {
  const Value defaults[2] = {Value::integer(0), Value::integer(0)};
  const char* names[2] = {"a", "b"};
  const Template pair = {"pair", 0, false, 2, names, defaults};
  FactStore store;
  std::map<std::pair<int, int>, Fact*> held;
  unsigned seed = 11;
  for (int step = 0; step < 20000; ++step) {
    seed = seed * 1103515245u + 12345u;
    const std::pair<int, int> content{static_cast<int>(seed >> 16) % 60, static_cast<int>(seed >> 8) % 50};
    auto at = held.find(content);
    if ((seed >> 28) % 3 != 0) {
      Fact* f = Fact::make(&pair);
      f->slot[0] = Value::integer(content.first);
      f->slot[1] = Value::integer(content.second);
      Fact* added = store.add(f);
      ASSERT_EQ(added != nullptr, at == held.end()) << "step " << step;
      if (added != nullptr) held[content] = added;
    } else if (at != held.end()) {
      EXPECT_TRUE(store.remove(at->second));
      EXPECT_FALSE(store.remove(at->second));
      held.erase(at);
    }
    ASSERT_EQ(store.size(), held.size());
    if (step % 1000 == 0) store.collect();
  }
}

}  // namespace
}  // namespace qelrt
