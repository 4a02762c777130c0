// Values of the rule language for generated code: integers, floats,
// interned symbols and strings, and fact addresses, with the language's
// arithmetic, comparisons and printed forms.
//
// Header-only: generated code includes it with qel.h and links nothing
// besides libqel.so.
#ifndef QELRT_VALUE_H
#define QELRT_VALUE_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>

namespace qelrt {

struct Fact;

// Symbols and strings are interned: equal texts share one address for the
// life of the process, so comparing them is comparing pointers.
inline const std::string* intern(const std::string& text) {
  static std::unordered_set<std::string>* table = new std::unordered_set<std::string>;
  return &*table->insert(text).first;
}

enum class Type : std::uint8_t { kInteger, kFloat, kSymbol, kString, kFact };

class Value {
 public:
  Value() : type_(Type::kSymbol), text_(intern("nil")) {}
  static Value integer(std::int64_t i) { Value v(Type::kInteger); v.integer_ = i; return v; }
  static Value real(double f) { Value v(Type::kFloat); v.real_ = f; return v; }
  static Value symbol(const std::string* s) { Value v(Type::kSymbol); v.text_ = s; return v; }
  static Value string(const std::string* s) { Value v(Type::kString); v.text_ = s; return v; }
  static Value symbol(const std::string& s) { return symbol(intern(s)); }
  static Value string(const std::string& s) { return string(intern(s)); }
  static Value fact(Fact* f) { Value v(Type::kFact); v.fact_ = f; return v; }
  static Value boolean(bool b) { return symbol(b ? trueSymbol() : falseSymbol()); }

  Type type() const { return type_; }
  bool isNumber() const { return type_ == Type::kInteger || type_ == Type::kFloat; }
  bool isText() const { return type_ == Type::kSymbol || type_ == Type::kString; }
  std::int64_t asInteger() const {
    return type_ == Type::kFloat ? static_cast<std::int64_t>(real_) : integer_;
  }
  double asFloat() const {
    return type_ == Type::kFloat ? real_ : static_cast<double>(integer_);
  }
  const std::string& text() const { return *text_; }
  Fact* factAddress() const { return fact_; }
  // Every value is true except the symbol FALSE.
  bool truthy() const { return !(type_ == Type::kSymbol && text_ == falseSymbol()); }

  // The identity the language's eq tests: same type and same value.
  bool operator==(const Value& other) const {
    if (type_ != other.type_) return false;
    switch (type_) {
      case Type::kInteger: return integer_ == other.integer_;
      case Type::kFloat: return real_ == other.real_;
      case Type::kFact: return fact_ == other.fact_;
      default: return text_ == other.text_;
    }
  }
  bool operator!=(const Value& other) const { return !(*this == other); }

  // A hash consistent with ==, never 0.
  std::uint64_t hash() const {
    std::uint64_t bits;
    switch (type_) {
      case Type::kInteger: bits = static_cast<std::uint64_t>(integer_); break;
      case Type::kFloat: std::memcpy(&bits, &real_, sizeof bits); break;
      case Type::kFact: bits = reinterpret_cast<std::uintptr_t>(fact_); break;
      default: bits = reinterpret_cast<std::uintptr_t>(text_); break;
    }
    std::uint64_t h = (bits ^ (static_cast<std::uint64_t>(type_) << 59)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    return h | 1;
  }

  static const std::string* trueSymbol() { static const std::string* s = intern("TRUE"); return s; }
  static const std::string* falseSymbol() { static const std::string* s = intern("FALSE"); return s; }

 private:
  explicit Value(Type type) : type_(type), integer_(0) {}
  Type type_;
  union {
    std::int64_t integer_;
    double real_;
    const std::string* text_;
    Fact* fact_;
  };
};

// Keys of keyed joins: equal values give equal keys (Value::hash).
inline void* key(const Value& v) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(v.hash())); }
inline void* key(const Value& a, const Value& b) {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>((a.hash() * 31 + b.hash()) | 1));
}
inline void* key(const Value& a, const Value& b, const Value& c) {
  return reinterpret_cast<void*>(
      static_cast<std::uintptr_t>(((a.hash() * 31 + b.hash()) * 31 + c.hash()) | 1));
}

// Arithmetic: integers stay integers, a float operand makes a float;
// division always gives a float.
inline Value add(const Value& a, const Value& b) {
  if (a.type() == Type::kInteger && b.type() == Type::kInteger) return Value::integer(a.asInteger() + b.asInteger());
  return Value::real(a.asFloat() + b.asFloat());
}
inline Value subtract(const Value& a, const Value& b) {
  if (a.type() == Type::kInteger && b.type() == Type::kInteger) return Value::integer(a.asInteger() - b.asInteger());
  return Value::real(a.asFloat() - b.asFloat());
}
inline Value multiply(const Value& a, const Value& b) {
  if (a.type() == Type::kInteger && b.type() == Type::kInteger) return Value::integer(a.asInteger() * b.asInteger());
  return Value::real(a.asFloat() * b.asFloat());
}
inline Value divide(const Value& a, const Value& b) { return Value::real(a.asFloat() / b.asFloat()); }
inline Value modulo(const Value& a, const Value& b) {
  if (a.type() == Type::kInteger && b.type() == Type::kInteger) {
    return b.asInteger() == 0 ? Value::integer(0) : Value::integer(a.asInteger() % b.asInteger());
  }
  return Value::real(std::fmod(a.asFloat(), b.asFloat()));
}
inline Value absolute(const Value& a) {
  if (a.type() == Type::kInteger) return Value::integer(a.asInteger() < 0 ? -a.asInteger() : a.asInteger());
  return Value::real(std::fabs(a.asFloat()));
}

inline Value integerDivide(const Value& a, const Value& b) {
  const std::int64_t d = b.asInteger();
  return Value::integer(d == 0 ? 0 : a.asInteger() / d);
}

inline int compare(const Value& a, const Value& b);
inline Value minimum(const Value& a, const Value& b) { return compare(b, a) < 0 ? b : a; }
inline Value maximum(const Value& a, const Value& b) { return compare(b, a) > 0 ? b : a; }

// Numeric comparisons (=, <>, <, ...) compare integers exactly and mix
// integers with floats as floats.
inline int compare(const Value& a, const Value& b) {
  if (a.type() == Type::kInteger && b.type() == Type::kInteger) {
    return a.asInteger() < b.asInteger() ? -1 : a.asInteger() > b.asInteger();
  }
  const double x = a.asFloat(), y = b.asFloat();
  return x < y ? -1 : x > y;
}

// The printed form of a float: 15 significant digits, and ".0" when that
// alone would read as an integer.
inline std::string formatFloat(double f) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", f);
  if (std::strpbrk(buffer, ".eEn") == nullptr) std::strcat(buffer, ".0");
  return buffer;
}

std::string factAddressText(const Fact* fact);

// What printout writes for a value (strings without their quotes).
inline std::string toText(const Value& v) {
  switch (v.type()) {
    case Type::kInteger: return std::to_string(v.asInteger());
    case Type::kFloat: return formatFloat(v.asFloat());
    case Type::kFact: return factAddressText(v.factAddress());
    default: return v.text();
  }
}

}  // namespace qelrt

#endif  // QELRT_VALUE_H
