// The parser: tokens to s-expressions, then s-expressions to the
// constructs of a ruleset (deftemplate, deffacts, defrule) and to the facts
// of a data file. The tree keeps every location and prints itself for
// tests.
#ifndef QELC_PARSER_H
#define QELC_PARSER_H

#include <memory>
#include <string>
#include <vector>

#include "diagnostic.h"
#include "lexer.h"

namespace qelc {

// An s-expression: a list or an atom. Atoms keep their token's kind.
struct Sexp {
  bool isList = false;
  TokenKind atom = TokenKind::kSymbol;  // for atoms
  std::string text;                     // for atoms, as in Token
  std::vector<Sexp> items;              // for lists
  Location where;

  bool isSymbol(const char* s) const { return !isList && atom == TokenKind::kSymbol && text == s; }
  // The head symbol of a list, or "" when there is none.
  std::string head() const;
  std::string print() const;
};

// One term of a field constraint: a constant, a variable, :(expr) or
// =(expr), maybe negated with ~.
struct Term {
  enum Kind { kConstant, kVariable, kPredicate, kReturnValue };
  Kind kind;
  bool negated = false;
  Sexp value;  // the atom, or the expression of :(...) and =(...)
};

// A constraint on one field: `lead` & (alternative | alternative ...),
// where each alternative is a conjunction of terms. `?` is the empty
// constraint. A constraint that starts with a variable followed by &
// keeps the variable as `lead`, so that ?x&red|blue binds ?x in both
// alternatives.
struct Constraint {
  Location where;
  std::unique_ptr<Term> lead;
  std::vector<std::vector<Term>> alternatives;

  bool isWildcard() const { return !lead && alternatives.empty(); }
  std::string print() const;
};

struct SlotConstraint {
  std::string slot;
  Location where;  // of the slot's name
  Constraint constraint;
};

// A conditional element.
struct Condition {
  enum Kind { kPattern, kTest, kNot, kExists, kAnd, kOr };
  Kind kind;
  Location where;
  // kPattern
  std::string factVariable;  // ?f <- ..., without "?"; empty when none
  std::string relation;
  Location relationWhere;
  bool slotForm = false;                 // (rel (slot c) ...) rather than (rel c ...)
  std::vector<Constraint> fields;        // ordered form
  std::vector<SlotConstraint> slots;     // slot form
  // kTest
  Sexp test;
  // kNot (one child), kExists, kAnd, kOr
  std::vector<Condition> children;

  std::string print() const;
};

struct SlotDecl {
  std::string name;
  Location where;
  bool hasDefault = false;
  Sexp defaultValue;
};

struct TemplateDecl {
  std::string name;
  Location where;
  std::vector<SlotDecl> slots;
};

struct FactsDecl {
  std::string name;
  Location where;
  std::vector<Sexp> facts;
};

struct RuleDecl {
  std::string name;
  Location where;
  bool hasSalience = false;
  Sexp salience;
  std::vector<Condition> conditions;
  std::vector<Sexp> actions;
};

// What one source file holds: either constructs or (for a data file)
// facts only, in file order.
struct SourceFile {
  std::vector<TemplateDecl> templates;
  std::vector<FactsDecl> deffacts;
  std::vector<RuleDecl> rules;
  std::vector<Sexp> facts;  // top-level facts of a data file

  std::string print() const;
};

// Reads every top-level form of `source`.
bool readSexps(const std::string& source, const std::string* file, std::vector<Sexp>& forms,
               Error& error);
// Parses a file of constructs or of facts. Refuses constructs other than
// deftemplate, deffacts and defrule.
bool parseSource(const std::string& source, const std::string* file, SourceFile& out,
                 Error& error);

}  // namespace qelc

#endif  // QELC_PARSER_H
