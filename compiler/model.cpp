#include "model.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace qelc {

std::string Expr::print(int self) const {
  switch (kind) {
    case kLiteral: return literal.print();
    case kRef: {
      std::string base = link == self ? "$" : "$" + std::to_string(link);
      return slot < 0 ? base : base + "." + std::to_string(slot);
    }
    case kLocal: return "?" + name;
    case kCall:
    case kFactForm: {
      std::string s = "(" + (kind == kCall ? name : "fact#" + std::to_string(templ));
      for (size_t i = 0; i < args.size(); ++i) {
        s += " ";
        if (kind == kFactForm) s += std::to_string(slots[i]) + "=";
        s += args[i].print(self);
      }
      return s + ")";
    }
  }
  return "";
}

void Expr::collectLinks(unsigned long long& links) const {
  if (kind == kRef) links |= 1ull << link;
  for (const Expr& a : args) a.collectLinks(links);
}

int TemplateModel::slotIndex(const std::string& slot) const {
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i] == slot) return static_cast<int>(i);
  }
  return -1;
}

int Model::orderedTemplate(const std::string& name, size_t arity) {
  for (size_t i = 0; i < templates.size(); ++i) {
    if (templates[i].ordered && templates[i].name == name && templates[i].slots.size() == arity) {
      return static_cast<int>(i);
    }
  }
  TemplateModel t;
  t.name = name;
  t.ordered = true;
  for (size_t f = 0; f < arity; ++f) {
    t.slots.push_back("f" + std::to_string(f + 1));
    t.defaults.push_back(Literal{TokenKind::kSymbol, "nil"});
  }
  templates.push_back(std::move(t));
  return static_cast<int>(templates.size()) - 1;
}

int Model::findTemplate(const std::string& name) const {
  for (size_t i = 0; i < templates.size(); ++i) {
    if (!templates[i].ordered && templates[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

std::string RuleModel::print() const {
  static const char* kinds[] = {"root", "pattern", "not", "exists"};
  std::string s = "rule " + name + (branch ? "#" + std::to_string(branch) : "") +
                  " salience " + std::to_string(salience) + "\n";
  for (size_t k = 0; k < links.size(); ++k) {
    const Link& l = links[k];
    s += "  " + std::to_string(k) + " " + kinds[l.kind] + " " + std::to_string(l.templ);
    for (const Expr& t : l.objectTests) s += " " + t.print(static_cast<int>(k));
    if (!l.joinTests.empty()) s += " |";
    for (const Expr& t : l.joinTests) s += " " + t.print(static_cast<int>(k));
    s += "\n";
  }
  for (const Expr& a : actions) s += "  => " + a.print() + "\n";
  return s;
}

std::string Model::print() const {
  std::string s;
  for (size_t i = 0; i < templates.size(); ++i) {
    s += "template " + std::to_string(i) + " " + templates[i].name + (templates[i].ordered ? " ordered" : "");
    for (const std::string& slot : templates[i].slots) s += " " + slot;
    s += "\n";
  }
  for (size_t g = 0; g < groups.size(); ++g) s += "group " + std::to_string(g) + " " + groups[g].key + "\n";
  for (const Expr& f : deffacts) s += "fact " + f.print() + "\n";
  for (const RuleModel& r : rules) s += r.print();
  return s;
}

namespace {

// Above every salience a program may declare (CLIPS allows up to 10000).
const int kAuxiliarySalience = 1 << 20;

struct Function {
  const char* name;
  int minArgs;
  int maxArgs;  // -1: any number
  bool action;  // only on the right-hand side
};

const Function kFunctions[] = {
    {"+", 1, -1, false},      {"-", 1, -1, false},     {"*", 1, -1, false},
    {"/", 1, -1, false},      {"div", 2, -1, false},   {"mod", 2, 2, false},
    {"abs", 1, 1, false},     {"min", 1, -1, false},   {"max", 1, -1, false},
    {"=", 2, -1, false},      {"<>", 2, -1, false},    {">", 2, -1, false},
    {"<", 2, -1, false},      {">=", 2, -1, false},    {"<=", 2, -1, false},
    {"eq", 2, -1, false},     {"neq", 2, -1, false},   {"and", 1, -1, false},
    {"or", 1, -1, false},     {"not", 1, 1, false},    {"str-cat", 0, -1, false},
    {"sym-cat", 0, -1, false}, {"format", 2, -1, false}, {"printout", 1, -1, true},
    {"halt", 0, 0, true},
};

const Function* findFunction(const std::string& name) {
  for (const Function& f : kFunctions) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

Expr literal(const Sexp& atom) {
  Expr e;
  e.kind = Expr::kLiteral;
  e.where = atom.where;
  e.literal = Literal{atom.atom, atom.text};
  return e;
}

Expr call(const std::string& name, std::vector<Expr> args, const Location& where) {
  Expr e;
  e.kind = Expr::kCall;
  e.name = name;
  e.where = where;
  e.args = std::move(args);
  return e;
}

Expr ref(int link, int slot, const Location& where) {
  Expr e;
  e.kind = Expr::kRef;
  e.link = link;
  e.slot = slot;
  e.where = where;
  return e;
}

// A variable of the conditions: the slot it was bound to, or the fact.
struct Binding {
  int link;
  int slot;
  int templ;  // the template of the fact at `link`
};

class RuleBuilder {
 public:
  RuleBuilder(Model& model, Error& error) : model_(model), error_(error) {}

  bool build(const RuleDecl& decl, int salience, int branch,
             const std::vector<const Condition*>& conditions, RuleModel& out,
             std::vector<std::pair<std::string, bool>>& groupKeys, std::vector<int>& groupOf) {
    out.name = decl.name;
    out.where = decl.where;
    out.salience = salience;
    out.branch = branch;
    rule_ = &out;
    if (conditions.empty() || conditions[0]->kind != Condition::kPattern) {
      const Condition* first = conditions.empty() ? nullptr : conditions[0];
      const std::string key = first ? first->print() : "";
      const bool quantified = first && (first->kind == Condition::kNot || first->kind == Condition::kExists);
      size_t g = 0;
      while (g < groupKeys.size() && groupKeys[g].first != key) ++g;
      if (g == groupKeys.size()) groupKeys.emplace_back(key, quantified);
      groupOf.push_back(static_cast<int>(g));
      Link root;
      root.kind = Link::kRoot;
      root.templ = static_cast<int>(g);  // renumbered once every group is known
      root.where = first ? first->where : decl.where;
      out.links.push_back(std::move(root));
    } else {
      groupOf.push_back(-1);
    }
    for (const Condition* c : conditions) {
      if (!addCondition(*c)) return false;
    }
    for (const Sexp& action : decl.actions) {
      Expr e;
      if (!compileAction(action, e)) return false;
      out.actions.push_back(std::move(e));
    }
    return true;
  }

  // Compiles an expression of an action (or of a fact in deffacts, with no
  // bindings at all).
  bool compileExpr(const Sexp& s, Expr& out, bool inAction) {
    if (!s.isList) {
      switch (s.atom) {
        case TokenKind::kSymbol:
        case TokenKind::kString:
        case TokenKind::kInteger:
        case TokenKind::kFloat:
          out = literal(s);
          return true;
        case TokenKind::kVariable: return resolveVariable(s, out);
        case TokenKind::kMultiVariable: return fail(s.where, "multifield variable " + s.text + " is not supported");
        default: return fail(s.where, "unexpected " + s.print() + " in an expression");
      }
    }
    const std::string name = s.head();
    if (name.empty()) return fail(s.where, "expected a function name");
    const Function* f = findFunction(name);
    if (f == nullptr) {
      if (name == "assert" || name == "retract" || name == "modify" || name == "duplicate" ||
          name == "bind" || name == "if") {
        if (!inAction) return fail(s.where, name + " is not supported in a condition");
        return compileAction(s, out);
      }
      return fail(s.items[0].where, "function " + name + " is not supported");
    }
    if (f->action && !inAction) return fail(s.where, name + " is not supported in a condition");
    const int n = static_cast<int>(s.items.size()) - 1;
    if (n < f->minArgs || (f->maxArgs >= 0 && n > f->maxArgs)) {
      return fail(s.where, "wrong number of arguments to " + name);
    }
    std::vector<Expr> args;
    for (size_t i = 1; i < s.items.size(); ++i) {
      Expr a;
      const Sexp& item = s.items[i];
      if ((name == "printout" || name == "format") && i == 1) {
        if (!(item.isSymbol("t") || (name == "format" && item.isSymbol("nil")))) {
          return fail(item.where, "output to " + item.print() + " is not supported (only t)");
        }
        a = literal(item);
      } else if (name == "printout" && (item.isSymbol("crlf") || item.isSymbol("tab"))) {
        a = literal(item);
        a.name = item.text;  // marks the layout symbols
      } else if (!compileExpr(item, a, inAction)) {
        return false;
      }
      args.push_back(std::move(a));
    }
    out = call(name, std::move(args), s.where);
    return true;
  }

  bool compileFact(const Sexp& s, Expr& out, bool inAction) {
    out.kind = Expr::kFactForm;
    out.where = s.where;
    const std::string name = s.head();
    if (name.empty()) return fail(s.where, "expected a fact");
    bool lists = false;
    for (size_t i = 1; i < s.items.size(); ++i) lists = lists || s.items[i].isList;
    const int declared = model_.findTemplate(name);
    if (declared >= 0) {
      const TemplateModel& t = model_.templates[declared];
      out.templ = declared;
      for (size_t i = 1; i < s.items.size(); ++i) {
        const Sexp& item = s.items[i];
        if (!item.isList || item.head().empty()) {
          return fail(item.where, "expected (SLOT value) in a fact of template " + name);
        }
        const int slot = t.slotIndex(item.head());
        if (slot < 0) return fail(item.items[0].where, "unknown slot " + item.head() + " in template " + name);
        if (item.items.size() != 2) {
          return fail(item.where, "slot " + item.head() + " takes one value (multislots are not supported)");
        }
        Expr v;
        if (!compileExpr(item.items[1], v, inAction)) return false;
        out.slots.push_back(slot);
        out.args.push_back(std::move(v));
      }
      return true;
    }
    if (lists && s.items.size() > 1 && s.items[1].isList && !s.items[1].head().empty() &&
        s.items[1].items.size() == 2 && !inActionFunction(s.items[1].head())) {
      return fail(s.items[0].where, "unknown template " + name);
    }
    out.templ = model_.orderedTemplate(name, s.items.size() - 1);
    for (size_t i = 1; i < s.items.size(); ++i) {
      Expr v;
      if (!compileExpr(s.items[i], v, inAction)) return false;
      out.slots.push_back(static_cast<int>(i) - 1);
      out.args.push_back(std::move(v));
    }
    return true;
  }

 private:
  static bool inActionFunction(const std::string& name) { return findFunction(name) != nullptr; }

  bool fail(const Location& where, const std::string& message) {
    error_ = Error{where, message};
    return false;
  }

  bool resolveVariable(const Sexp& s, Expr& out) {
    if (std::find(locals_.begin(), locals_.end(), s.text) != locals_.end()) {
      out = Expr();
      out.kind = Expr::kLocal;
      out.name = s.text;
      out.where = s.where;
      return true;
    }
    auto it = env_.find(s.text);
    if (it == env_.end()) return fail(s.where, "unbound variable ?" + s.text);
    out = ref(it->second.link, it->second.slot, s.where);
    return true;
  }

  int currentLink() const { return static_cast<int>(rule_->links.size()) - 1; }

  bool addCondition(const Condition& c) {
    switch (c.kind) {
      case Condition::kPattern: return addPattern(c, Link::kPattern);
      case Condition::kTest: return addTest(c);
      case Condition::kNot:
      case Condition::kExists: {
        const Condition* inner = &c.children[0];
        if (c.children.size() == 1 && inner->kind == Condition::kAnd && inner->children.size() == 1) {
          inner = &inner->children[0];
        }
        if (c.children.size() == 1 && inner->kind == Condition::kAnd) {
          return addConjunction(c, inner->children);
        }
        if (inner->kind != Condition::kPattern) {
          return addConjunction(c, c.children);
        }
        if (!inner->factVariable.empty()) {
          return fail(inner->where, "a fact address inside not or exists is not supported");
        }
        const std::map<std::string, Binding> outer = env_;
        const bool ok = addPattern(*inner, c.kind == Condition::kNot ? Link::kNot : Link::kExists);
        env_ = outer;  // variables first bound inside stay inside
        return ok;
      }
      default: return fail(c.where, "conditional element " + c.print() + " is not supported here");
    }
  }

  // (not (and C...)) and (exists (and C...)): an auxiliary rule made of
  // this rule's links so far and C... asserts a witness of the facts so
  // far; this rule then tests for the witness with a not or exists link.
  bool addConjunction(const Condition& c, const std::vector<Condition>& inner) {
    const int k = currentLink() + 1;
    TemplateModel w;
    w.name = "qelc-witness-" + std::to_string(model_.templates.size());
    w.witness = true;
    for (int j = 0; j < k; ++j) {
      w.slots.push_back("link" + std::to_string(j));
      w.defaults.push_back(Literal{TokenKind::kSymbol, "nil"});
    }
    model_.templates.push_back(std::move(w));
    const int witness = static_cast<int>(model_.templates.size()) - 1;

    RuleModel aux;
    aux.name = rule_->name + "~" + std::to_string(model_.auxiliaries.size());
    aux.where = c.where;
    aux.salience = kAuxiliarySalience;
    aux.auxiliary = true;
    aux.links = rule_->links;
    RuleBuilder sub(model_, error_);
    sub.rule_ = &aux;
    sub.env_ = env_;
    for (const Condition& child : inner) {
      if (!sub.addCondition(child)) return false;
    }
    Expr record;
    record.kind = Expr::kFactForm;
    record.where = c.where;
    record.templ = witness;
    Link check;
    check.kind = c.kind == Condition::kNot ? Link::kNot : Link::kExists;
    check.templ = witness;
    check.where = c.where;
    for (int j = 0; j < k; ++j) {
      if (rule_->links[j].kind == Link::kNot || rule_->links[j].kind == Link::kExists) continue;
      record.slots.push_back(j);
      record.args.push_back(ref(j, -1, c.where));
      check.joinTests.push_back(call("eq", {ref(k, j, c.where), ref(j, -1, c.where)}, c.where));
    }
    aux.actions.push_back(call("witness", {std::move(record)}, c.where));
    model_.auxiliaries.push_back(std::move(aux));
    rule_->links.push_back(std::move(check));
    return true;
  }

  bool addTest(const Condition& c) {
    Expr test;
    if (!compileExpr(c.test, test, false)) return false;
    unsigned long long links = 0;
    test.collectLinks(links);
    // A test is evaluated with the last pattern whose variables it reads:
    // moving it before later not and exists links changes no match.
    int at = 0;
    for (int k = 0; k <= currentLink(); ++k) {
      if (links & (1ull << k)) at = k;
    }
    if (links == 0) at = 0;
    addConjuncts(rule_->links[at], at, test);
    return true;
  }

  // Splits a test into conjuncts and files each as an object or join test.
  void addConjuncts(Link& link, int k, Expr test) {
    if (test.kind == Expr::kCall && test.name == "and") {
      for (Expr& a : test.args) addConjuncts(link, k, std::move(a));
      return;
    }
    unsigned long long links = 0;
    test.collectLinks(links);
    if ((links & ~(1ull << k)) == 0) {
      link.objectTests.push_back(std::move(test));
    } else {
      link.joinTests.push_back(std::move(test));
    }
  }

  bool addPattern(const Condition& c, Link::Kind kind) {
    Link link;
    link.kind = kind;
    link.where = c.where;
    const int k = currentLink() + 1;
    if (k >= 62) return fail(c.where, "more than 61 patterns in one rule is not supported");
    const int declared = model_.findTemplate(c.relation);
    if (c.slotForm || (declared >= 0 && c.fields.empty())) {
      if (declared < 0) return fail(c.relationWhere, "unknown template " + c.relation);
      link.templ = declared;
    } else {
      if (declared >= 0) {
        return fail(c.where, "template " + c.relation + " has named slots: write (" + c.relation + " (SLOT value) ...)");
      }
      link.templ = model_.orderedTemplate(c.relation, c.fields.size());
    }
    rule_->links.push_back(std::move(link));
    if (!c.factVariable.empty()) {
      if (env_.count(c.factVariable)) return fail(c.where, "variable ?" + c.factVariable + " is bound twice");
      env_[c.factVariable] = Binding{k, -1, rule_->links[k].templ};
    }
    std::vector<Expr> tests;
    const TemplateModel& t = model_.templates[rule_->links[k].templ];
    if (c.slotForm) {
      std::set<int> seen;
      for (const SlotConstraint& sc : c.slots) {
        const int slot = t.slotIndex(sc.slot);
        if (slot < 0) return fail(sc.where, "unknown slot " + sc.slot + " in template " + t.name);
        if (!seen.insert(slot).second) return fail(sc.where, "slot " + sc.slot + " is constrained twice");
        if (!addConstraint(sc.constraint, k, slot, tests)) return false;
      }
    } else {
      for (size_t f = 0; f < c.fields.size(); ++f) {
        if (!addConstraint(c.fields[f], k, static_cast<int>(f), tests)) return false;
      }
    }
    for (Expr& test : tests) addConjuncts(rule_->links[k], k, std::move(test));
    return true;
  }

  bool addConstraint(const Constraint& c, int k, int slot, std::vector<Expr>& tests) {
    if (c.lead) {
      const std::string& name = c.lead->value.text;
      auto it = env_.find(name);
      if (it == env_.end()) {
        env_[name] = Binding{k, slot, rule_->links[k].templ};
      } else {
        if (it->second.slot < 0) return fail(c.lead->value.where, "?" + name + " is a fact address, not a value");
        tests.push_back(call("eq", {ref(k, slot, c.where), ref(it->second.link, it->second.slot, c.where)}, c.where));
      }
    }
    std::vector<Expr> alternatives;
    for (const std::vector<Term>& conjunction : c.alternatives) {
      std::vector<Expr> terms;
      for (const Term& term : conjunction) {
        Expr e;
        if (!compileTerm(term, k, slot, e)) return false;
        terms.push_back(std::move(e));
      }
      alternatives.push_back(terms.size() == 1 ? std::move(terms[0]) : call("and", std::move(terms), c.where));
    }
    if (alternatives.size() == 1) {
      tests.push_back(std::move(alternatives[0]));
    } else if (!alternatives.empty()) {
      tests.push_back(call("or", std::move(alternatives), c.where));
    }
    return true;
  }

  bool compileTerm(const Term& term, int k, int slot, Expr& out) {
    const Expr field = ref(k, slot, term.value.where);
    switch (term.kind) {
      case Term::kConstant:
        out = call(term.negated ? "neq" : "eq", {field, literal(term.value)}, term.value.where);
        return true;
      case Term::kVariable: {
        auto it = env_.find(term.value.text);
        if (it == env_.end()) return fail(term.value.where, "unbound variable ?" + term.value.text);
        out = call(term.negated ? "neq" : "eq", {field, ref(it->second.link, it->second.slot, term.value.where)},
                   term.value.where);
        return true;
      }
      case Term::kPredicate: {
        Expr e;
        if (!compileExpr(term.value, e, false)) return false;
        out = term.negated ? call("not", {std::move(e)}, term.value.where) : std::move(e);
        return true;
      }
      case Term::kReturnValue: {
        Expr e;
        if (!compileExpr(term.value, e, false)) return false;
        out = call(term.negated ? "neq" : "eq", {field, std::move(e)}, term.value.where);
        return true;
      }
    }
    return false;
  }

  bool compileAction(const Sexp& s, Expr& out) {
    const std::string name = s.head();
    if (name == "assert") {
      std::vector<Expr> facts;
      for (size_t i = 1; i < s.items.size(); ++i) {
        Expr f;
        if (!compileFact(s.items[i], f, true)) return false;
        facts.push_back(std::move(f));
      }
      out = call("assert", std::move(facts), s.where);
      return true;
    }
    if (name == "retract") {
      std::vector<Expr> facts;
      for (size_t i = 1; i < s.items.size(); ++i) {
        Expr f;
        if (!factAddress(s.items[i], f)) return false;
        facts.push_back(std::move(f));
      }
      out = call("retract", std::move(facts), s.where);
      return true;
    }
    if (name == "modify" || name == "duplicate") {
      if (s.items.size() < 2) return fail(s.where, name + " needs a fact address");
      Expr address;
      if (!factAddress(s.items[1], address)) return false;
      Expr changes;
      changes.kind = Expr::kFactForm;
      changes.where = s.where;
      changes.templ = env_[s.items[1].text].templ;
      const TemplateModel& t = model_.templates[changes.templ];
      if (t.ordered && s.items.size() > 2) return fail(s.where, name + " of an ordered fact is not supported");
      for (size_t i = 2; i < s.items.size(); ++i) {
        const Sexp& item = s.items[i];
        if (!item.isList || item.head().empty() || item.items.size() != 2) {
          return fail(item.where, "expected (SLOT value)");
        }
        const int slot = t.slotIndex(item.head());
        if (slot < 0) return fail(item.items[0].where, "unknown slot " + item.head() + " in template " + t.name);
        Expr v;
        if (!compileExpr(item.items[1], v, true)) return false;
        changes.slots.push_back(slot);
        changes.args.push_back(std::move(v));
      }
      out = call(name, {std::move(address), std::move(changes)}, s.where);
      return true;
    }
    if (name == "bind") {
      if (s.items.size() != 3 || s.items[1].isList || s.items[1].atom != TokenKind::kVariable) {
        return fail(s.where, "expected (bind ?variable expression)");
      }
      Expr value;
      if (!compileExpr(s.items[2], value, true)) return false;
      const std::string& var = s.items[1].text;
      if (std::find(locals_.begin(), locals_.end(), var) == locals_.end()) {
        Expr start;
        start.literal = Literal{TokenKind::kSymbol, "nil"};
        auto bound = env_.find(var);
        if (bound != env_.end()) start = ref(bound->second.link, bound->second.slot, s.items[1].where);
        locals_.push_back(var);
        rule_->locals.push_back(var);
        rule_->localStarts.push_back(std::move(start));
      }
      Expr target;
      target.kind = Expr::kLocal;
      target.name = var;
      target.where = s.items[1].where;
      out = call("bind", {std::move(target), std::move(value)}, s.where);
      return true;
    }
    if (name == "if") {
      if (s.items.size() < 3 || !s.items[2].isSymbol("then")) return fail(s.where, "expected (if CONDITION then ...)");
      Expr condition, thenBlock = call("progn", {}, s.where), elseBlock = call("progn", {}, s.where);
      if (!compileExpr(s.items[1], condition, true)) return false;
      Expr* block = &thenBlock;
      for (size_t i = 3; i < s.items.size(); ++i) {
        if (s.items[i].isSymbol("else") && block == &thenBlock) {
          block = &elseBlock;
          continue;
        }
        Expr a;
        if (!compileExpr(s.items[i], a, true)) return false;
        block->args.push_back(std::move(a));
      }
      out = call("if", {std::move(condition), std::move(thenBlock), std::move(elseBlock)}, s.where);
      return true;
    }
    if (!s.isList || name.empty()) return fail(s.where, "expected an action");
    if (findFunction(name) == nullptr) return fail(s.items[0].where, "function " + name + " is not supported");
    return compileExpr(s, out, true);
  }

  bool factAddress(const Sexp& s, Expr& out) {
    if (s.isList || s.atom != TokenKind::kVariable) {
      return fail(s.where, "expected a fact-address variable (fact indices are not supported)");
    }
    auto it = env_.find(s.text);
    if (it == env_.end() || it->second.slot >= 0) {
      return fail(s.where, "?" + s.text + " is not bound to a fact (bind it with ?" + s.text + " <- pattern)");
    }
    out = ref(it->second.link, -1, s.where);
    return true;
  }

  Model& model_;
  Error& error_;
  RuleModel* rule_ = nullptr;
  std::map<std::string, Binding> env_;
  std::vector<std::string> locals_;
};

// Expands `or` into branches: every branch is a list of conditions without
// `or` and without nested `and`. The pointers point into the rule's tree.
using Branches = std::vector<std::vector<const Condition*>>;

std::vector<const Condition*> pointers(const std::vector<Condition>& conditions) {
  std::vector<const Condition*> out;
  for (const Condition& c : conditions) out.push_back(&c);
  return out;
}

void expandOr(const std::vector<const Condition*>& conditions, Branches& branches) {
  branches.assign(1, {});
  for (const Condition* c : conditions) {
    Branches alternatives;
    if (c->kind == Condition::kOr) {
      for (const Condition& child : c->children) {
        Branches sub;
        expandOr(child.kind == Condition::kAnd ? pointers(child.children)
                                               : std::vector<const Condition*>{&child},
                 sub);
        for (auto& b : sub) alternatives.push_back(std::move(b));
      }
    } else if (c->kind == Condition::kAnd) {
      expandOr(pointers(c->children), alternatives);
    } else {
      alternatives.push_back({c});
    }
    Branches next;
    for (const auto& b : branches) {
      for (const auto& a : alternatives) {
        std::vector<const Condition*> joined = b;
        joined.insert(joined.end(), a.begin(), a.end());
        next.push_back(std::move(joined));
      }
    }
    branches.swap(next);
  }
}

int parseSalience(const RuleDecl& decl, Error& error, bool& ok) {
  ok = true;
  if (!decl.hasSalience) return 0;
  if (decl.salience.isList || decl.salience.atom != TokenKind::kInteger) {
    error = Error{decl.salience.where, "salience other than an integer is not supported"};
    ok = false;
    return 0;
  }
  return std::atoi(decl.salience.text.c_str());
}

}  // namespace

bool buildModel(const std::vector<SourceFile>& files, Model& model, Error& error) {
  model.initialFact = model.orderedTemplate("initial-fact", 0);
  for (const SourceFile& file : files) {
    for (const TemplateDecl& decl : file.templates) {
      if (model.findTemplate(decl.name) >= 0) {
        error = Error{decl.where, "template " + decl.name + " is defined twice"};
        return false;
      }
      TemplateModel t;
      t.name = decl.name;
      t.where = decl.where;
      for (const SlotDecl& slot : decl.slots) {
        if (t.slotIndex(slot.name) >= 0) {
          error = Error{slot.where, "slot " + slot.name + " is declared twice"};
          return false;
        }
        t.slots.push_back(slot.name);
        t.defaults.push_back(slot.hasDefault ? Literal{slot.defaultValue.atom, slot.defaultValue.text}
                                             : Literal{TokenKind::kSymbol, "nil"});
      }
      model.templates.push_back(std::move(t));
    }
  }
  std::vector<std::pair<std::string, bool>> groupKeys;  // key, quantified first condition
  std::vector<int> groupOf;                              // per rule, -1 without root
  std::set<std::string> ruleNames;
  for (const SourceFile& file : files) {
    for (const FactsDecl& decl : file.deffacts) {
      for (const Sexp& fact : decl.facts) {
        Expr f;
        RuleBuilder builder(model, error);
        if (!builder.compileFact(fact, f, false)) return false;
        model.deffacts.push_back(std::move(f));
      }
    }
    for (const RuleDecl& decl : file.rules) {
      if (!ruleNames.insert(decl.name).second) {
        error = Error{decl.where, "rule " + decl.name + " is defined twice"};
        return false;
      }
      bool ok;
      const int salience = parseSalience(decl, error, ok);
      if (!ok) return false;
      Branches branches;
      expandOr(pointers(decl.conditions), branches);
      for (size_t b = 0; b < branches.size(); ++b) {
        RuleModel rule;
        RuleBuilder builder(model, error);
        if (!builder.build(decl, salience, static_cast<int>(b), branches[b], rule, groupKeys, groupOf)) {
          return false;
        }
        model.rules.push_back(std::move(rule));
      }
    }
  }
  for (RuleModel& aux : model.auxiliaries) {
    groupOf.push_back(aux.links[0].kind == Link::kRoot ? aux.links[0].templ : -1);
    model.rules.push_back(std::move(aux));
  }
  model.auxiliaries.clear();
  // After a reset the rules that start with not or exists fire first, then
  // the others, each set in the order its first conditions appeared.
  std::vector<int> order;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t g = 0; g < groupKeys.size(); ++g) {
      if (groupKeys[g].second == (pass == 0)) order.push_back(static_cast<int>(g));
    }
  }
  std::vector<int> number(groupKeys.size());
  for (size_t n = 0; n < order.size(); ++n) {
    number[order[n]] = static_cast<int>(n);
    model.groups.push_back(RootGroup{groupKeys[order[n]].first, Location{}});
  }
  for (size_t r = 0; r < model.rules.size(); ++r) {
    if (groupOf[r] >= 0) model.rules[r].links[0].templ = number[groupOf[r]];
  }
  return true;
}

bool buildFact(Model& model, const Sexp& fact, Expr& out, Error& error) {
  RuleBuilder builder(model, error);
  return builder.compileFact(fact, out, false);
}

}  // namespace qelc
