// Reading and writing the Manners data files.
//
// One fact a line, in the syntax the peer engine's load-facts reads:
//   (guest (name n1) (sex m) (hobby h2))
// The same file feeds both engines, so it is the only data format.
#ifndef MANNERS_FACTS_H
#define MANNERS_FACTS_H

#include <cstdlib>
#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace manners {

struct Fact {
  std::string relation;
  std::vector<std::pair<std::string, std::string>> slots;

  // The value of a slot, or an empty string.
  const std::string& get(const std::string& slot) const {
    static const std::string none;
    for (const auto& entry : slots) {
      if (entry.first == slot) return entry.second;
    }
    return none;
  }
  int getInt(const std::string& slot) const {
    return std::atoi(get(slot).c_str());
  }
};

namespace detail {

inline void skipSpace(const std::string& s, size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
}

inline bool readToken(const std::string& s, size_t& i, std::string& token) {
  skipSpace(s, i);
  const size_t start = i;
  while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '(' &&
         s[i] != ')' && s[i] != '\r') {
    ++i;
  }
  token.assign(s, start, i - start);
  return !token.empty();
}

inline bool expect(const std::string& s, size_t& i, char c) {
  skipSpace(s, i);
  if (i >= s.size() || s[i] != c) return false;
  ++i;
  return true;
}

}  // namespace detail

// Parses one line; false when it is not a fact of single-valued slots.
inline bool parseFact(const std::string& line, Fact& fact) {
  using namespace detail;
  size_t i = 0;
  fact.relation.clear();
  fact.slots.clear();
  if (!expect(line, i, '(') || !readToken(line, i, fact.relation)) return false;
  for (;;) {
    skipSpace(line, i);
    if (i < line.size() && line[i] == ')') return true;
    std::string slot, value;
    if (!expect(line, i, '(') || !readToken(line, i, slot) ||
        !readToken(line, i, value) || !expect(line, i, ')')) {
      return false;
    }
    fact.slots.emplace_back(std::move(slot), std::move(value));
  }
}

// Reads every fact; blank lines are skipped. On a malformed line, stores
// its number in `badLine` and returns false.
inline bool readFacts(std::istream& in, std::vector<Fact>& facts,
                      int* badLine) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    size_t i = 0;
    detail::skipSpace(line, i);
    if (i == line.size()) continue;
    Fact fact;
    if (!parseFact(line, fact)) {
      if (badLine != nullptr) *badLine = number;
      return false;
    }
    facts.push_back(std::move(fact));
  }
  return true;
}

}  // namespace manners

#endif  // MANNERS_FACTS_H
