// The lexer of the rule language: turns source text into tokens that
// carry their file, line and column.
#ifndef QELC_LEXER_H
#define QELC_LEXER_H

#include <string>
#include <vector>

#include "diagnostic.h"

namespace qelc {

enum class TokenKind {
  kOpen,       // (
  kClose,      // )
  kSymbol,     // also the connectives' neighbours ":" "=" "<-"
  kString,     // text holds the contents, escapes resolved
  kInteger,
  kFloat,
  kVariable,   // ?name: text holds the name without "?"
  kWildcard,   // ?
  kMultiVariable,  // $?name or $? (refused by the parser)
  kAnd,        // &
  kOr,         // |
  kNot,        // ~
  kEnd,
};

struct Token {
  TokenKind kind;
  std::string text;
  Location where;
};

// Reads the whole of `source`. On a lexical error (an unterminated string)
// returns false with `error` set; `tokens` then holds what came before.
bool lex(const std::string& source, const std::string* file, std::vector<Token>& tokens,
         Error& error);

const char* tokenKindName(TokenKind kind);

}  // namespace qelc

#endif  // QELC_LEXER_H
