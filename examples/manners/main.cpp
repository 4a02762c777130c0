// Runs the Miss Manners ruleset on a data file.
//
//   manners DATA
//
// Asserts the facts of DATA in file order, fires the agenda until all_done
// halts it, and prints what the rules print, then the number of rules fired
// and the time the firing took.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "facts.h"
#include "manners_ruleset.h"

namespace {

using manners::Fact;

// Makes the object of one fact and asserts it; false for an unknown
// relation.
bool assertFact(manners::MannersContext& context,
                manners::SymbolTable& symbols, const Fact& fact) {
  auto sym = [&](const char* slot) { return symbols.intern(fact.get(slot)); };
  if (fact.relation == "guest") {
    context.assertObject(manners::kGuest,
                         new manners::Guest{sym("name"), sym("sex"),
                                            sym("hobby")});
  } else if (fact.relation == "last_seat") {
    context.assertObject(manners::kLastSeat,
                         new manners::LastSeat{fact.getInt("seat")});
  } else if (fact.relation == "count") {
    context.assertObject(manners::kCount, new manners::Count{fact.getInt("c")});
  } else if (fact.relation == "context") {
    context.assertObject(manners::kContext, new manners::Context{sym("state")});
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DATA\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1]);
  std::vector<Fact> facts;
  int badLine = 0;
  if (!in) {
    std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[1]);
    return 2;
  }
  if (!manners::readFacts(in, facts, &badLine)) {
    std::fprintf(stderr, "%s:%d: not a fact\n", argv[1], badLine);
    return 2;
  }

  manners::SymbolTable symbols;
  manners::MannersNetwork network;
  manners::MannersContext context(&network, &symbols, stdout);
  for (const Fact& fact : facts) {
    if (!assertFact(context, symbols, fact)) {
      std::fprintf(stderr, "%s: unknown relation %s\n", argv[1],
                   fact.relation.c_str());
      return 2;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  const int fired = context.run();
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("%d rules fired\n", fired);
  std::printf("Run time is %.6f seconds.\n", elapsed.count());
  return 0;
}
