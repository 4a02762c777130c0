// Validates a printed seating against its data file: seats 1..N hold every
// guest exactly once, sexes alternate and neighbours share a hobby.
// Reads "seat S NAME" lines from the output and ignores everything else.
//
// Usage: manners_check DATA-FILE OUTPUT-FILE
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

struct GuestInfo {
  std::string sex;
  std::set<std::string> hobbies;
};

int fail(const std::string& why) {
  std::cerr << "manners_check: " << why << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: manners_check DATA-FILE OUTPUT-FILE\n";
    return 2;
  }
  std::ifstream dataFile(argv[1]);
  std::ifstream outFile(argv[2]);
  if (!dataFile || !outFile) return fail("cannot open the input files");

  std::map<std::string, GuestInfo> guests;
  int lastSeat = 0;
  std::string line;
  while (std::getline(dataFile, line)) {
    for (char& ch : line) {
      if (ch == '(' || ch == ')') ch = ' ';
    }
    std::istringstream in(line);
    std::string kind, a, b, c, d;
    in >> kind;
    if (kind == "guest") {
      in >> a >> b >> c;
      if (a == "name") {  // slot form: name X sex Y hobby Z
        in >> d;
        std::string hobby, e;
        in >> e >> hobby;
        a = b;
        b = d;
        c = hobby;
      }
      GuestInfo& g = guests[a];
      if (!g.sex.empty() && g.sex != b) return fail("guest " + a + " has two sexes");
      g.sex = b;
      g.hobbies.insert(c);
    } else if (kind == "last_seat") {
      in >> a;
      if (a == "seat") in >> a;
      lastSeat = std::stoi(a);
    }
  }
  if (lastSeat <= 0) return fail("no last_seat in the data");

  std::map<int, std::string> seats;
  std::set<std::string> seated;
  while (std::getline(outFile, line)) {
    std::istringstream in(line);
    std::string word, name;
    int seat = 0;
    if (!(in >> word) || word != "seat" || !(in >> seat >> name)) continue;
    if (seat < 1 || seat > lastSeat) return fail("seat out of range: " + line);
    if (!seats.emplace(seat, name).second) return fail("seat given twice: " + line);
    if (guests.count(name) == 0) return fail("unknown guest: " + line);
    if (!seated.insert(name).second) return fail("guest seated twice: " + name);
  }
  if (static_cast<int>(seats.size()) != lastSeat) {
    return fail("expected " + std::to_string(lastSeat) + " seats, got " +
                std::to_string(seats.size()));
  }
  for (int s = 1; s < lastSeat; ++s) {
    const GuestInfo& left = guests[seats[s]];
    const GuestInfo& right = guests[seats[s + 1]];
    if (left.sex == right.sex) {
      return fail("seats " + std::to_string(s) + " and " + std::to_string(s + 1) +
                  " have the same sex");
    }
    bool shared = false;
    for (const std::string& h : left.hobbies) shared = shared || right.hobbies.count(h) > 0;
    if (!shared) {
      return fail("seats " + std::to_string(s) + " and " + std::to_string(s + 1) +
                  " share no hobby");
    }
  }
  std::cout << "seating of " << lastSeat << " guests is valid\n";
  return 0;
}
