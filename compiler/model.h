// The rule model: templates with slot indices, rules as chains of links
// whose tests read slots of earlier links, and actions as typed
// expression trees. Variables are resolved here: a variable of the
// conditions becomes a reference to a slot of one link, so that later
// passes never see names. A rule with `or` becomes one rule per branch.
#ifndef QELC_MODEL_H
#define QELC_MODEL_H

#include <string>
#include <vector>

#include "diagnostic.h"
#include "parser.h"

namespace qelc {

struct Literal {
  TokenKind type = TokenKind::kSymbol;  // kSymbol, kString, kInteger or kFloat
  std::string text;

  bool operator==(const Literal& o) const { return type == o.type && text == o.text; }
  std::string print() const { return type == TokenKind::kString ? "\"" + text + "\"" : text; }
};

// An expression of a test or an action.
struct Expr {
  enum Kind {
    kLiteral,
    kRef,       // slot `slot` of the fact at link `link`; slot -1: the fact itself
    kLocal,     // a variable bound on the right-hand side with bind
    kCall,      // function `name` applied to `args`
    kFactForm,  // a fact of template `templ`: args[i] is the value of slots[i]
  };
  Kind kind = kLiteral;
  Location where;
  Literal literal;
  int link = -1;
  int slot = -1;
  std::string name;
  int templ = -1;
  std::vector<Expr> args;
  std::vector<int> slots;

  // Canonical text: equal texts mean equal expressions. `self` names the
  // link printed as "$" (a test of one object); -1 prints every link.
  std::string print(int self = -1) const;
  // Adds every link this expression reads to `links` (a bit set).
  void collectLinks(unsigned long long& links) const;
};

struct TemplateModel {
  std::string name;
  Location where;
  bool ordered = false;  // implied by an ordered fact: slots are fields
  std::vector<std::string> slots;
  std::vector<Literal> defaults;
  // A witness records that a conjunction under not or exists holds for
  // the facts of its slots; its objects are logical, supported by the
  // matches of an auxiliary rule.
  bool witness = false;

  int slotIndex(const std::string& slot) const;
};

// One link of a rule's chain: the object a pattern matches, a token for
// not and exists, or the root object that starts rules whose first
// condition is not a pattern.
struct Link {
  enum Kind { kRoot, kPattern, kNot, kExists };
  Kind kind = kPattern;
  int templ = -1;  // template index; for kRoot the root group
  Location where;
  // Conjuncts reading this link's own object only (and constants).
  std::vector<Expr> objectTests;
  // Conjuncts reading earlier links too.
  std::vector<Expr> joinTests;
};

struct RuleModel {
  std::string name;
  Location where;
  int salience = 0;
  int branch = 0;  // index of the or-branch it came from
  // An auxiliary rule asserts the witness of a (not (and ...)) or
  // (exists (and ...)) of another rule; it fires before any user rule and
  // is not counted as a firing.
  bool auxiliary = false;
  std::vector<Link> links;
  std::vector<Expr> actions;
  std::vector<std::string> locals;  // bind variables of the actions
  // The value each local starts with: nil, or the pattern variable it
  // rebinds (which keeps its value until the bind runs).
  std::vector<Expr> localStarts;

  std::string print() const;
};

// Rules whose first condition is not a pattern start with the root
// object of their group; groups are numbered in the order in which their
// rules fire after a reset.
struct RootGroup {
  std::string key;  // the first condition's text; "" when the rule has none
  Location where;
};

struct Model {
  std::vector<TemplateModel> templates;
  std::vector<RuleModel> rules;  // rule index order
  std::vector<Expr> deffacts;    // fact forms, in reset order
  std::vector<RootGroup> groups;
  std::vector<RuleModel> auxiliaries;  // appended to rules once all are built
  int initialFact = -1;          // template of (initial-fact)

  std::string print() const;
  // The template of an ordered relation with `arity` fields; made when new.
  int orderedTemplate(const std::string& name, size_t arity);
  int findTemplate(const std::string& name) const;  // slot templates only
};

// Builds the model of the given files (constructs in file order).
bool buildModel(const std::vector<SourceFile>& files, Model& model, Error& error);

// Builds a fact form out of a fact written as data (constants only).
bool buildFact(Model& model, const Sexp& fact, Expr& out, Error& error);

}  // namespace qelc

#endif  // QELC_MODEL_H
