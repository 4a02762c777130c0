#include "parser.h"

#include <utility>

namespace qelc {

std::string Sexp::head() const {
  if (!isList || items.empty() || items[0].isList || items[0].atom != TokenKind::kSymbol) return "";
  return items[0].text;
}

std::string Sexp::print() const {
  if (!isList) {
    switch (atom) {
      case TokenKind::kString: return "\"" + text + "\"";
      case TokenKind::kVariable: return "?" + text;
      default: return text;
    }
  }
  std::string s = "(";
  for (size_t i = 0; i < items.size(); ++i) s += (i ? " " : "") + items[i].print();
  return s + ")";
}

namespace {

std::string printTerm(const Term& t) {
  std::string s = t.negated ? "~" : "";
  if (t.kind == Term::kPredicate) return s + ":" + t.value.print();
  if (t.kind == Term::kReturnValue) return s + "=" + t.value.print();
  return s + t.value.print();
}

}  // namespace

std::string Constraint::print() const {
  if (isWildcard()) return "?";
  std::string s = lead ? printTerm(*lead) : "";
  if (lead && !alternatives.empty()) s += "&";
  if (lead && alternatives.size() > 1) s += "{";
  for (size_t a = 0; a < alternatives.size(); ++a) {
    if (a) s += "|";
    for (size_t t = 0; t < alternatives[a].size(); ++t) {
      s += (t ? "&" : "") + printTerm(alternatives[a][t]);
    }
  }
  if (lead && alternatives.size() > 1) s += "}";
  return s;
}

std::string Condition::print() const {
  switch (kind) {
    case kPattern: {
      std::string s = factVariable.empty() ? "" : "?" + factVariable + " <- ";
      s += "(" + relation;
      for (const Constraint& c : fields) s += " " + c.print();
      for (const SlotConstraint& c : slots) s += " (" + c.slot + " " + c.constraint.print() + ")";
      return s + ")";
    }
    case kTest: return "(test " + test.print() + ")";
    default: break;
  }
  static const char* names[] = {"", "", "not", "exists", "and", "or"};
  std::string s = std::string("(") + names[kind];
  for (const Condition& c : children) s += " " + c.print();
  return s + ")";
}

std::string SourceFile::print() const {
  std::string s;
  for (const TemplateDecl& t : templates) {
    s += "(deftemplate " + t.name;
    for (const SlotDecl& d : t.slots) {
      s += " (slot " + d.name + (d.hasDefault ? " (default " + d.defaultValue.print() + ")" : "") + ")";
    }
    s += ")\n";
  }
  for (const FactsDecl& d : deffacts) {
    s += "(deffacts " + d.name;
    for (const Sexp& f : d.facts) s += " " + f.print();
    s += ")\n";
  }
  for (const RuleDecl& r : rules) {
    s += "(defrule " + r.name;
    if (r.hasSalience) s += " (salience " + r.salience.print() + ")";
    for (const Condition& c : r.conditions) s += " " + c.print();
    s += " =>";
    for (const Sexp& a : r.actions) s += " " + a.print();
    s += ")\n";
  }
  for (const Sexp& f : facts) s += f.print() + "\n";
  return s;
}

namespace {

class SexpReader {
 public:
  explicit SexpReader(const std::vector<Token>& tokens) : tokens_(tokens) {}

  bool readAll(std::vector<Sexp>& forms, Error& error) {
    while (tokens_[pos_].kind != TokenKind::kEnd) {
      if (tokens_[pos_].kind != TokenKind::kOpen) {
        error = Error{tokens_[pos_].where, tokens_[pos_].kind == TokenKind::kClose
                                               ? std::string("unexpected ')'")
                                               : "expected '(' to start a construct, found " +
                                                     describe(tokens_[pos_])};
        return false;
      }
      Sexp form;
      if (!read(form, error)) return false;
      forms.push_back(std::move(form));
    }
    return true;
  }

 private:
  static std::string describe(const Token& t) {
    if (t.kind == TokenKind::kEnd || t.kind == TokenKind::kOpen || t.kind == TokenKind::kClose) {
      return tokenKindName(t.kind);
    }
    return std::string(tokenKindName(t.kind)) + " '" + t.text + "'";
  }

  bool read(Sexp& out, Error& error) {
    const Token& t = tokens_[pos_];
    out.where = t.where;
    if (t.kind == TokenKind::kClose) {
      error = Error{t.where, "unexpected ')'"};
      return false;
    }
    if (t.kind != TokenKind::kOpen) {
      out.atom = t.kind;
      out.text = t.text;
      ++pos_;
      return true;
    }
    out.isList = true;
    ++pos_;
    while (tokens_[pos_].kind != TokenKind::kClose) {
      if (tokens_[pos_].kind == TokenKind::kEnd) {
        error = Error{t.where, "'(' is never closed"};
        return false;
      }
      Sexp item;
      if (!read(item, error)) return false;
      out.items.push_back(std::move(item));
    }
    ++pos_;
    return true;
  }

  const std::vector<Token>& tokens_;
  size_t pos_ = 0;
};

bool isConstant(const Sexp& s) {
  return !s.isList && (s.atom == TokenKind::kSymbol || s.atom == TokenKind::kString ||
                       s.atom == TokenKind::kInteger || s.atom == TokenKind::kFloat);
}

Error unsupported(const Location& where, const std::string& what) {
  return Error{where, what + " is not supported"};
}

// Parses constructs out of s-expressions.
class ConstructParser {
 public:
  explicit ConstructParser(Error& error) : error_(error) {}

  bool parseFile(std::vector<Sexp>& forms, SourceFile& out) {
    for (Sexp& form : forms) {
      const std::string head = form.head();
      if (head == "deftemplate") {
        out.templates.emplace_back();
        if (!parseTemplate(form, out.templates.back())) return false;
      } else if (head == "deffacts") {
        out.deffacts.emplace_back();
        if (!parseDeffacts(form, out.deffacts.back())) return false;
      } else if (head == "defrule") {
        out.rules.emplace_back();
        if (!parseRule(form, out.rules.back())) return false;
      } else if (head.compare(0, 3, "def") == 0) {
        return fail(unsupported(form.items[0].where, head));
      } else if (!head.empty()) {
        out.facts.push_back(std::move(form));
      } else {
        return fail(Error{form.where, "expected a construct or a fact"});
      }
    }
    if (!out.facts.empty() && (!out.rules.empty() || !out.templates.empty() || !out.deffacts.empty())) {
      return fail(Error{out.facts[0].where,
                        "'" + out.facts[0].head() + "' is not a construct (a data file holds facts only)"});
    }
    return true;
  }

 private:
  bool fail(Error e) {
    error_ = std::move(e);
    return false;
  }

  bool expectName(const Sexp& form, size_t index, std::string& name, const char* what) {
    if (index >= form.items.size() || form.items[index].isList ||
        form.items[index].atom != TokenKind::kSymbol) {
      const Location& at = index < form.items.size() ? form.items[index].where : form.where;
      return fail(Error{at, std::string("expected the name of the ") + what});
    }
    name = form.items[index].text;
    return true;
  }

  // Skips the optional comment string after a construct's name.
  static size_t skipComment(const Sexp& form, size_t index) {
    if (index < form.items.size() && !form.items[index].isList &&
        form.items[index].atom == TokenKind::kString) {
      return index + 1;
    }
    return index;
  }

  bool parseTemplate(const Sexp& form, TemplateDecl& out) {
    out.where = form.where;
    if (!expectName(form, 1, out.name, "template")) return false;
    for (size_t i = skipComment(form, 2); i < form.items.size(); ++i) {
      const Sexp& slot = form.items[i];
      const std::string kind = slot.head();
      if (kind == "multislot") return fail(unsupported(slot.items[0].where, "multislot"));
      if (kind != "slot" && kind != "field") {
        return fail(Error{slot.where, "expected (slot NAME ...) in deftemplate " + out.name});
      }
      SlotDecl decl;
      decl.where = slot.where;
      if (!expectName(slot, 1, decl.name, "slot")) return false;
      for (size_t a = 2; a < slot.items.size(); ++a) {
        const Sexp& attribute = slot.items[a];
        const std::string name = attribute.head();
        if (name == "default" && attribute.items.size() == 2 && isConstant(attribute.items[1])) {
          decl.hasDefault = true;
          decl.defaultValue = attribute.items[1];
        } else if (name == "type" || name == "allowed-symbols" || name == "allowed-values") {
          // Type declarations only restrict what may be asserted; the
          // programs compiled here are assumed to respect them.
        } else {
          return fail(unsupported(attribute.where, "slot attribute " + attribute.print()));
        }
      }
      out.slots.push_back(std::move(decl));
    }
    return true;
  }

  bool parseDeffacts(Sexp& form, FactsDecl& out) {
    out.where = form.where;
    if (!expectName(form, 1, out.name, "deffacts")) return false;
    for (size_t i = skipComment(form, 2); i < form.items.size(); ++i) {
      if (form.items[i].head().empty()) return fail(Error{form.items[i].where, "expected a fact"});
      out.facts.push_back(std::move(form.items[i]));
    }
    return true;
  }

  bool parseRule(Sexp& form, RuleDecl& out) {
    out.where = form.where;
    if (!expectName(form, 1, out.name, "rule")) return false;
    size_t i = skipComment(form, 2);
    if (i < form.items.size() && form.items[i].head() == "declare") {
      if (!parseDeclare(form.items[i], out)) return false;
      ++i;
    }
    for (; i < form.items.size() && !form.items[i].isSymbol("=>"); ++i) {
      out.conditions.emplace_back();
      if (!parseCondition(form.items, i, out.conditions.back())) return false;
    }
    if (i == form.items.size()) return fail(Error{form.where, "rule " + out.name + " has no '=>'"});
    for (++i; i < form.items.size(); ++i) {
      if (!form.items[i].isList) {
        return fail(Error{form.items[i].where, "expected an action, found " + form.items[i].print()});
      }
      out.actions.push_back(std::move(form.items[i]));
    }
    return true;
  }

  bool parseDeclare(const Sexp& declare, RuleDecl& out) {
    for (size_t i = 1; i < declare.items.size(); ++i) {
      const Sexp& d = declare.items[i];
      if (d.head() != "salience" || d.items.size() != 2) {
        return fail(unsupported(d.where, "declaration " + d.print()));
      }
      out.hasSalience = true;
      out.salience = d.items[1];
    }
    return true;
  }

  // Parses the conditional element at items[i]; a fact-address binding
  // ?f <- (...) takes three items and moves i to the last.
  bool parseCondition(const std::vector<Sexp>& items, size_t& i, Condition& out) {
    const Sexp& first = items[i];
    out.where = first.where;
    if (!first.isList && first.atom == TokenKind::kVariable) {
      if (i + 2 >= items.size() || !items[i + 1].isSymbol("<-") || !items[i + 2].isList) {
        return fail(Error{first.where, "expected ?" + first.text + " <- (pattern)"});
      }
      i += 2;
      if (!parsePattern(items[i], out)) return false;
      out.factVariable = first.text;
      return true;
    }
    return parseElement(first, out);
  }

  bool parseElement(const Sexp& form, Condition& out) {
    out.where = form.where;
    if (!form.isList || form.items.empty()) {
      return fail(Error{form.where, "expected a pattern or a conditional element, found " + form.print()});
    }
    const std::string head = form.head();
    if (head == "test") {
      if (form.items.size() != 2 || !form.items[1].isList) {
        return fail(Error{form.where, "test takes one function call"});
      }
      out.kind = Condition::kTest;
      out.test = form.items[1];
      return true;
    }
    if (head == "not" || head == "exists" || head == "and" || head == "or") {
      out.kind = head == "not" ? Condition::kNot
                 : head == "exists" ? Condition::kExists
                 : head == "and" ? Condition::kAnd
                                 : Condition::kOr;
      for (size_t i = 1; i < form.items.size(); ++i) {
        out.children.emplace_back();
        if (!parseCondition(form.items, i, out.children.back())) return false;
      }
      if (out.children.empty()) return fail(Error{form.where, head + " needs a conditional element"});
      if (out.kind == Condition::kNot && out.children.size() != 1) {
        return fail(Error{form.where, "not takes one conditional element; use (not (and ...))"});
      }
      return true;
    }
    if (head == "forall" || head == "logical" || head == "accumulate" || head == "object") {
      return fail(unsupported(form.items[0].where, "conditional element " + head));
    }
    return parsePattern(form, out);
  }

  bool parsePattern(const Sexp& form, Condition& out) {
    out.kind = Condition::kPattern;
    out.where = form.where;
    out.relation = form.head();
    if (!form.items.empty()) out.relationWhere = form.items[0].where;
    if (out.relation.empty()) {
      return fail(Error{form.where, "a pattern starts with a symbol, found " +
                                        (form.items.empty() ? std::string("()") : form.items[0].print())});
    }
    // Slot constraints are lists; ordered fields are atoms, with lists only
    // after : and =.
    const bool lists = form.items.size() > 1 && form.items[1].isList;
    for (size_t i = 1; lists && i < form.items.size(); ++i) {
      if (!form.items[i].isList) return fail(Error{form.items[i].where, "pattern mixes slots and fields"});
    }
    out.slotForm = lists;
    if (lists) {
      for (size_t i = 1; i < form.items.size(); ++i) {
        const Sexp& s = form.items[i];
        SlotConstraint sc;
        sc.where = s.items.empty() ? s.where : s.items[0].where;
        if (s.items.empty() || s.items[0].isList || s.items[0].atom != TokenKind::kSymbol) {
          return fail(Error{s.where, "expected (SLOT constraint)"});
        }
        sc.slot = s.items[0].text;
        if (s.items.size() == 1) return fail(Error{s.where, "slot " + sc.slot + " has no constraint"});
        size_t at = 1;
        if (!parseConstraint(s.items, at, sc.constraint)) return false;
        if (at != s.items.size()) {
          return fail(unsupported(s.items[at].where, "more than one field in slot " + sc.slot +
                                                         " (a multislot constraint)"));
        }
        out.slots.push_back(std::move(sc));
      }
      return true;
    }
    size_t at = 1;
    while (at < form.items.size()) {
      Constraint c;
      if (!parseConstraint(form.items, at, c)) return false;
      out.fields.push_back(std::move(c));
    }
    return true;
  }

  // constraint := '?' | conjunction ('|' conjunction)*, and a leading
  // variable followed by '&' kept apart (see Constraint).
  bool parseConstraint(const std::vector<Sexp>& items, size_t& at, Constraint& out) {
    out.where = items[at].where;
    if (isAtom(items[at], TokenKind::kWildcard)) {
      ++at;
      return true;
    }
    if (isAtom(items[at], TokenKind::kMultiVariable)) {
      return fail(unsupported(items[at].where, "multifield variable " + items[at].text));
    }
    std::vector<Term> conjunction;
    if (!parseConjunction(items, at, conjunction)) return false;
    if (conjunction[0].kind == Term::kVariable && !conjunction[0].negated) {
      out.lead.reset(new Term(std::move(conjunction[0])));
      conjunction.erase(conjunction.begin());
      if (conjunction.empty() && at < items.size() && isAtom(items[at], TokenKind::kAnd)) {
        ++at;
        if (!parseConjunction(items, at, conjunction)) return false;
      }
    }
    if (!conjunction.empty()) out.alternatives.push_back(std::move(conjunction));
    // ?x|y without & is not a binding: ?x is one alternative, a test of
    // its earlier binding.
    if (out.alternatives.empty() && out.lead && at < items.size() &&
        isAtom(items[at], TokenKind::kOr)) {
      out.alternatives.push_back({std::move(*out.lead)});
      out.lead.reset();
    }
    while (at < items.size() && isAtom(items[at], TokenKind::kOr)) {
      ++at;
      std::vector<Term> next;
      if (!parseConjunction(items, at, next)) return false;
      out.alternatives.push_back(std::move(next));
    }
    return true;
  }

  bool parseConjunction(const std::vector<Sexp>& items, size_t& at, std::vector<Term>& out) {
    for (;;) {
      Term t;
      if (!parseTerm(items, at, t)) return false;
      out.push_back(std::move(t));
      if (at < items.size() && isAtom(items[at], TokenKind::kAnd) &&
          !(out.size() == 1 && out[0].kind == Term::kVariable && !out[0].negated)) {
        ++at;
        continue;
      }
      return true;
    }
  }

  bool parseTerm(const std::vector<Sexp>& items, size_t& at, Term& out) {
    if (at >= items.size()) {
      return fail(Error{items.back().where, "constraint ends after " + items.back().print()});
    }
    if (isAtom(items[at], TokenKind::kNot)) {
      out.negated = true;
      ++at;
      if (at >= items.size()) return fail(Error{items[at - 1].where, "'~' needs a term"});
    }
    const Sexp& s = items[at];
    if ((s.isSymbol(":") || s.isSymbol("=")) && at + 1 < items.size() && items[at + 1].isList) {
      out.kind = s.text == ":" ? Term::kPredicate : Term::kReturnValue;
      out.value = items[at + 1];
      at += 2;
      return true;
    }
    if (isAtom(s, TokenKind::kVariable)) {
      out.kind = Term::kVariable;
    } else if (isConstant(s)) {
      out.kind = Term::kConstant;
    } else if (isAtom(s, TokenKind::kMultiVariable)) {
      return fail(unsupported(s.where, "multifield variable " + s.text));
    } else {
      return fail(Error{s.where, "expected a constant, a variable, :(...) or =(...), found " +
                                     (s.isList ? std::string("a list") : s.print())});
    }
    out.value = s;
    ++at;
    return true;
  }

  static bool isAtom(const Sexp& s, TokenKind kind) { return !s.isList && s.atom == kind; }

  Error& error_;
};

}  // namespace

bool readSexps(const std::string& source, const std::string* file, std::vector<Sexp>& forms,
               Error& error) {
  std::vector<Token> tokens;
  if (!lex(source, file, tokens, error)) return false;
  return SexpReader(tokens).readAll(forms, error);
}

bool parseSource(const std::string& source, const std::string* file, SourceFile& out,
                 Error& error) {
  std::vector<Sexp> forms;
  if (!readSexps(source, file, forms, error)) return false;
  return ConstructParser(error).parseFile(forms, out);
}

}  // namespace qelc
