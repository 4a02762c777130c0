// Validates a printed Miss Manners seating:
//
//   manners_check DATA OUTPUT [--print]
//
// OUTPUT is what either engine printed; its lines "NAME SEAT", where NAME
// is a guest of DATA, are the seating (other lines are ignored). The
// seating is valid when every guest has exactly one seat, the seats are 1
// to N, sexes alternate and neighbours share a hobby. --print writes the
// seating in seat order, one "SEAT NAME" a line, for comparing engines.
// Exits 0 for a valid seating, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "facts.h"

namespace {

struct GuestData {
  std::string sex;
  std::set<std::string> hobbies;
};

int fail(const std::string& message) {
  std::fprintf(stderr, "invalid seating: %s\n", message.c_str());
  return 1;
}

bool isNumber(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool print = argc == 4 && std::string(argv[3]) == "--print";
  if (argc != 3 && !print) {
    std::fprintf(stderr, "usage: %s DATA OUTPUT [--print]\n", argv[0]);
    return 2;
  }
  std::ifstream data(argv[1]);
  std::vector<manners::Fact> facts;
  int badLine = 0;
  if (!data || !manners::readFacts(data, facts, &badLine)) {
    std::fprintf(stderr, "%s: cannot read data (line %d)\n", argv[1], badLine);
    return 2;
  }
  std::map<std::string, GuestData> guests;
  for (const manners::Fact& fact : facts) {
    if (fact.relation != "guest") continue;
    GuestData& guest = guests[fact.get("name")];
    guest.sex = fact.get("sex");
    guest.hobbies.insert(fact.get("hobby"));
  }
  const int n = static_cast<int>(guests.size());

  std::ifstream output(argv[2]);
  if (!output) {
    std::fprintf(stderr, "%s: cannot open\n", argv[2]);
    return 2;
  }
  std::vector<std::string> seatOf(n + 1);
  std::set<std::string> seated;
  std::string line;
  while (std::getline(output, line)) {
    std::istringstream words(line);
    std::string name, seat, extra;
    if (!(words >> name >> seat) || (words >> extra)) continue;
    if (guests.count(name) == 0 || !isNumber(seat)) continue;
    const int s = std::atoi(seat.c_str());
    if (s < 1 || s > n) return fail(name + " has seat " + seat);
    if (!seated.insert(name).second) return fail(name + " is seated twice");
    if (!seatOf[s].empty()) return fail("seat " + seat + " is taken twice");
    seatOf[s] = name;
  }
  if (n == 0) return fail("no guests in the data");
  if (static_cast<int>(seated.size()) != n) {
    return fail(std::to_string(seated.size()) + " of " + std::to_string(n) +
                " guests seated");
  }
  for (int s = 1; s < n; ++s) {
    const GuestData& left = guests[seatOf[s]];
    const GuestData& right = guests[seatOf[s + 1]];
    const std::string pair = seatOf[s] + " and " + seatOf[s + 1];
    if (left.sex == right.sex) return fail(pair + " are of one sex");
    bool share = false;
    for (const std::string& hobby : left.hobbies) {
      share = share || right.hobbies.count(hobby) != 0;
    }
    if (!share) return fail(pair + " share no hobby");
  }
  if (print) {
    for (int s = 1; s <= n; ++s) std::printf("%d %s\n", s, seatOf[s].c_str());
  } else {
    std::printf("valid seating of %d guests\n", n);
  }
  return 0;
}
