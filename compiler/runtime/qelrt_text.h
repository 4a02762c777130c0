// Text functions of the rule language for generated code: printout's
// output, format, str-cat and sym-cat.
#ifndef QELRT_TEXT_H
#define QELRT_TEXT_H

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "qelrt_value.h"

namespace qelrt {

inline void print(const char* text) { std::fputs(text, stdout); }
inline void print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }
inline void print(const Value& v) { print(toText(v)); }

inline Value strCat(std::initializer_list<Value> parts) {
  std::string s;
  for (const Value& v : parts) s += toText(v);
  return Value::string(s);
}
inline Value symCat(std::initializer_list<Value> parts) {
  std::string s;
  for (const Value& v : parts) s += toText(v);
  return Value::symbol(s);
}

// One directive of format: %[flags][width][.precision]c with c one of
// d f g e s; %n is a newline, %r a carriage return, %% a percent sign.
inline std::string formatOne(const std::string& directive, char conversion, const Value& v) {
  char buffer[512];
  switch (conversion) {
    case 'd':
      std::snprintf(buffer, sizeof buffer, (directive + "lld").c_str(),
                    static_cast<long long>(v.asInteger()));
      break;
    case 'f':
    case 'g':
    case 'e':
      std::snprintf(buffer, sizeof buffer, (directive + conversion).c_str(), v.asFloat());
      break;
    default:
      std::snprintf(buffer, sizeof buffer, (directive + 's').c_str(), toText(v).c_str());
      break;
  }
  return buffer;
}

inline std::string format(const std::string& control, std::initializer_list<Value> args) {
  std::string out;
  const Value* next = args.begin();
  for (std::size_t i = 0; i < control.size(); ++i) {
    if (control[i] != '%' || i + 1 == control.size()) {
      out += control[i];
      continue;
    }
    std::size_t end = i + 1;
    while (end < control.size() && std::strchr("-+ #0123456789.", control[end])) ++end;
    if (end == control.size()) break;
    const char c = control[end];
    if (c == 'n') {
      out += '\n';
    } else if (c == 'r') {
      out += '\r';
    } else if (c == '%') {
      out += '%';
    } else {
      const Value v = next != args.end() ? *next++ : Value();
      out += formatOne(control.substr(i, end - i), c, v);
    }
    i = end;
  }
  return out;
}

}  // namespace qelrt

#endif  // QELRT_TEXT_H
