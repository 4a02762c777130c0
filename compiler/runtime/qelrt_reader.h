// Reads facts from a data file, as load-facts does: "(name (slot value)
// ...)" for templates with slots and "(name value ...)" for ordered facts.
#ifndef QELRT_READER_H
#define QELRT_READER_H

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qelrt_facts.h"

namespace qelrt {

class FactReader {
 public:
  FactReader(const Template* const* templates, int count) : templates_(templates), count_(count) {}

  // Reads every fact of `path` into `facts`, in file order. On failure
  // returns false with "FILE:LINE:COL: error: ..." in `error`.
  bool read(const char* path, std::vector<Fact*>& facts, std::string& error) {
    std::FILE* in = std::fopen(path, "r");
    if (in == nullptr) {
      error = std::string(path) + ": error: cannot read the file";
      return false;
    }
    text_.clear();
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text_.append(buffer, n);
    std::fclose(in);
    path_ = path;
    pos_ = 0;
    line_ = 1;
    lineStart_ = 0;
    for (;;) {
      skipBlanks();
      if (pos_ >= text_.size()) return true;
      Fact* f = nullptr;
      if (!readFact(f, error)) {
        for (Fact* made : facts) Fact::destroy(made);
        facts.clear();
        return false;
      }
      facts.push_back(f);
    }
  }

 private:
  bool fail(const std::string& message, std::string& error) {
    error = path_ + ":" + std::to_string(line_) + ":" + std::to_string(pos_ - lineStart_ + 1) +
            ": error: " + message;
    return false;
  }

  void skipBlanks() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ';') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        if (c == '\n') {
          ++line_;
          lineStart_ = pos_ + 1;
        }
        ++pos_;
      } else {
        return;
      }
    }
  }

  bool expect(char c, std::string& error) {
    skipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != c) return fail(std::string("expected '") + c + "'", error);
    ++pos_;
    return true;
  }

  bool atClose() {
    skipBlanks();
    return pos_ < text_.size() && text_[pos_] == ')';
  }

  std::string word() {
    skipBlanks();
    std::string w;
    while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
           text_[pos_] != '(' && text_[pos_] != ')' && text_[pos_] != ';' && text_[pos_] != '"') {
      w += text_[pos_++];
    }
    return w;
  }

  bool readValue(Value& v, std::string& error) {
    skipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '"') {
      std::string s;
      for (++pos_; pos_ < text_.size() && text_[pos_] != '"'; ++pos_) {
        if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
        s += text_[pos_];
      }
      if (pos_ >= text_.size()) return fail("unterminated string", error);
      ++pos_;
      v = Value::string(s);
      return true;
    }
    const std::string w = word();
    if (w.empty()) return fail("expected a value", error);
    char* end = nullptr;
    const long long i = std::strtoll(w.c_str(), &end, 10);
    if (*end == '\0') {
      v = Value::integer(i);
      return true;
    }
    const double f = std::strtod(w.c_str(), &end);
    if (*end == '\0' && (std::isdigit(static_cast<unsigned char>(w.back())) || w.back() == '.')) {
      v = Value::real(f);
      return true;
    }
    v = Value::symbol(w);
    return true;
  }

  const Template* find(const std::string& name, bool ordered, int arity) const {
    for (int t = 0; t < count_; ++t) {
      const Template* tmpl = templates_[t];
      if (name == tmpl->name && tmpl->ordered == ordered && (!ordered || tmpl->slotCount == arity)) {
        return tmpl;
      }
    }
    return nullptr;
  }

  bool readFact(Fact*& out, std::string& error) {
    if (!expect('(', error)) return false;
    const std::string name = word();
    if (name.empty()) return fail("expected a relation name", error);
    skipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '(') return readSlots(name, out, error);
    std::vector<Value> values;
    while (!atClose()) {
      if (pos_ >= text_.size()) return fail("fact is never closed", error);
      Value v;
      if (!readValue(v, error)) return false;
      values.push_back(v);
    }
    ++pos_;
    const Template* tmpl = find(name, true, static_cast<int>(values.size()));
    if (tmpl == nullptr) return fail("no rule knows the relation " + name + " with this number of fields", error);
    out = Fact::make(tmpl);
    for (size_t s = 0; s < values.size(); ++s) out->slot[s] = values[s];
    return true;
  }

  bool readSlots(const std::string& name, Fact*& out, std::string& error) {
    const Template* tmpl = find(name, false, 0);
    if (tmpl == nullptr) return fail("unknown template " + name, error);
    Fact* f = Fact::make(tmpl);
    while (!atClose()) {
      if (pos_ >= text_.size() || !expect('(', error)) {
        Fact::destroy(f);
        return error.empty() ? fail("fact is never closed", error) : false;
      }
      const std::string slot = word();
      int s = 0;
      while (s < tmpl->slotCount && slot != tmpl->slotNames[s]) ++s;
      if (s == tmpl->slotCount) {
        Fact::destroy(f);
        return fail("template " + name + " has no slot " + slot, error);
      }
      if (!readValue(f->slot[s], error) || !expect(')', error)) {
        Fact::destroy(f);
        return false;
      }
    }
    ++pos_;
    out = f;
    return true;
  }

  const Template* const* templates_;
  int count_;
  std::string text_;
  std::string path_;
  size_t pos_ = 0;
  int line_ = 1;
  size_t lineStart_ = 0;
};

}  // namespace qelrt

#endif  // QELRT_READER_H
