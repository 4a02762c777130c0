#include <cctype>

#include "qel_iterator.h"

namespace {

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

const char* skipWhite(const char* p) {
  while (isWhite(*p)) ++p;
  return p;
}

char lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Compares the pattern with the text from `start`, element by element: a
// non-white character, or a run of white space standing for one blank.
bool matchesAt(const char* pattern, const char* textStart, const char* start) {
  const char* p = pattern;
  const char* t = start;
  while (*p != '\0' && *t != '\0') {
    const bool pWhite = isWhite(*p);
    const bool tWhite = isWhite(*t);
    if (pWhite && tWhite) {
      p = skipWhite(p);
      t = skipWhite(t);
    } else if (pWhite) {
      // Leading white space of the pattern matches the start of the text.
      if (t != textStart) return false;
      p = skipWhite(p);
    } else if (!tWhite && lower(*p) == lower(*t)) {
      ++p;
      ++t;
    } else {
      return false;
    }
  }
  if (*p == '\0') return true;
  // The text ended: trailing white space of the pattern matches its end.
  return *skipWhite(p) == '\0';
}

}  // namespace

unsigned char QelSubString(const char* pattern, const char* text) {
  if (pattern == nullptr || text == nullptr) return 0;
  if (*pattern == '\0') return 1;
  if (*text == '\0') return 0;
  for (const char* start = text; *start != '\0'; ++start) {
    if (matchesAt(pattern, text, start)) return 1;
  }
  return 0;
}
