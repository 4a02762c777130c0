#include "lexer.h"

#include <cctype>
#include <cstdlib>

namespace qelc {

namespace {

// Characters that end a symbol or a number.
bool isDelimiter(char c) {
  return std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')' || c == '"' ||
         c == '&' || c == '|' || c == '~' || c == ';' || c == '\0';
}

bool isInteger(const std::string& s) {
  size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

bool isFloat(const std::string& s) {
  if (!std::isdigit(static_cast<unsigned char>(s.back())) && s.back() != '.') return false;
  bool digit = false;
  for (char c : s) digit = digit || std::isdigit(static_cast<unsigned char>(c));
  if (!digit) return false;
  char* end = nullptr;
  std::strtod(s.c_str(), &end);
  return *end == '\0';
}

class Lexer {
 public:
  Lexer(const std::string& source, const std::string* file) : src_(source), file_(file) {}

  bool run(std::vector<Token>& tokens, Error& error) {
    for (;;) {
      skipBlanks();
      Location at = here();
      if (pos_ >= src_.size()) {
        tokens.push_back(Token{TokenKind::kEnd, "", at});
        return true;
      }
      const char c = src_[pos_];
      if (c == '(' || c == ')' || c == '&' || c == '|' || c == '~') {
        advance();
        tokens.push_back(Token{punctuation(c), std::string(1, c), at});
      } else if (c == '"') {
        std::string text;
        if (!readString(text)) {
          error = Error{at, "unterminated string"};
          return false;
        }
        tokens.push_back(Token{TokenKind::kString, text, at});
      } else if (c == '\0') {
        // A delimiter that no token takes: reading a word would not advance.
        error = Error{at, "unexpected NUL character"};
        return false;
      } else {
        tokens.push_back(word(at));
      }
    }
  }

 private:
  static TokenKind punctuation(char c) {
    switch (c) {
      case '(': return TokenKind::kOpen;
      case ')': return TokenKind::kClose;
      case '&': return TokenKind::kAnd;
      case '|': return TokenKind::kOr;
      default: return TokenKind::kNot;
    }
  }

  Location here() const { return Location{file_, line_, column_}; }

  void advance() {
    if (src_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    ++pos_;
  }

  void skipBlanks() {
    while (pos_ < src_.size()) {
      if (src_[pos_] == ';') {
        while (pos_ < src_.size() && src_[pos_] != '\n') advance();
      } else if (std::isspace(static_cast<unsigned char>(src_[pos_]))) {
        advance();
      } else {
        return;
      }
    }
  }

  bool readString(std::string& text) {
    advance();  // the opening quote
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == '"') {
        advance();
        return true;
      }
      if (c == '\\' && pos_ + 1 < src_.size()) {
        advance();
        c = src_[pos_];
      }
      text += c;
      advance();
    }
    return false;
  }

  Token word(const Location& at) {
    std::string text;
    while (pos_ < src_.size() && !isDelimiter(src_[pos_])) {
      text += src_[pos_];
      advance();
    }
    if (text[0] == '?') {
      if (text.size() == 1) return Token{TokenKind::kWildcard, text, at};
      return Token{TokenKind::kVariable, text.substr(1), at};
    }
    if (text.size() >= 2 && text[0] == '$' && text[1] == '?') {
      return Token{TokenKind::kMultiVariable, text, at};
    }
    if (isInteger(text)) return Token{TokenKind::kInteger, text, at};
    if (isFloat(text)) return Token{TokenKind::kFloat, text, at};
    return Token{TokenKind::kSymbol, text, at};
  }

  const std::string& src_;
  const std::string* file_;
  size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
};

}  // namespace

bool lex(const std::string& source, const std::string* file, std::vector<Token>& tokens,
         Error& error) {
  return Lexer(source, file).run(tokens, error);
}

const char* tokenKindName(TokenKind kind) {
  switch (kind) {
    case TokenKind::kOpen: return "'('";
    case TokenKind::kClose: return "')'";
    case TokenKind::kSymbol: return "symbol";
    case TokenKind::kString: return "string";
    case TokenKind::kInteger: return "integer";
    case TokenKind::kFloat: return "float";
    case TokenKind::kVariable: return "variable";
    case TokenKind::kWildcard: return "'?'";
    case TokenKind::kMultiVariable: return "multifield variable";
    case TokenKind::kAnd: return "'&'";
    case TokenKind::kOr: return "'|'";
    case TokenKind::kNot: return "'~'";
    case TokenKind::kEnd: return "end of file";
  }
  return "token";
}

}  // namespace qelc
