#include "emit.h"

#include <cctype>
#include <functional>
#include <map>
#include <set>

namespace qelc {

namespace {

// C++ identifiers made of the rule language's names.
std::string identifier(const std::string& name) {
  std::string id;
  for (char c : name) id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0]))) id = "_" + id;
  return id;
}

std::string camel(const std::string& name) {
  std::string id;
  bool upper = true;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) {
      upper = true;
      continue;
    }
    id += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  if (id.empty() || std::isdigit(static_cast<unsigned char>(id[0]))) id = "R" + id;
  return id;
}

std::string cString(const std::string& text) {
  std::string s = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (c == '\n') {
      s += "\\n";
    } else if (c == '\t') {
      s += "\\t";
    } else {
      s += c;
    }
  }
  return s + "\"";
}

bool isBooleanCall(const Expr& e) {
  static const std::set<std::string> names = {"eq", "neq", "=",   "<>",  ">",
                                              "<",  ">=",  "<=",  "and", "or", "not"};
  return e.kind == Expr::kCall && names.count(e.name) > 0;
}

// How the code of one function reaches the fact of each link.
using FactAccess = std::function<std::string(int link)>;

class Emitter {
 public:
  Emitter(const Model& model, const Plan& plan, const EmitOptions& options)
      : model_(model), plan_(plan), options_(options) {}

  std::string run() {
    prefix_ = camel(options_.rulesetName);
    // Bodies first: they name the constants the header then declares.
    const std::string context = contextClass();
    const std::string network = networkClass();
    const std::string construction = networkConstructor();
    const std::string constants = constantsAndTemplates();
    return header() + constants + "class " + prefix_ + "Context;\n\n" + network + context + construction +
           mainFunction() + "}  // namespace\n\n" + "int main(int argc, char** argv) { return run(argc, argv); }\n";
  }

 private:
  // ---- Source comments ----

  std::string sourceLine(const Location& where) const {
    if (where.file == nullptr) return "";
    std::string text;
    auto it = options_.lines.find(*where.file);
    if (it != options_.lines.end() && where.line >= 1 && where.line <= static_cast<int>(it->second.size())) {
      text = it->second[where.line - 1];
      size_t start = text.find_first_not_of(" \t");
      text = start == std::string::npos ? "" : text.substr(start);
    }
    std::string file = *where.file;
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos) file = file.substr(slash + 1);
    return file + ":" + std::to_string(where.line) + (text.empty() ? "" : ": " + text);
  }

  std::string originComments(const std::vector<Origin>& origins, const std::string& indent) const {
    std::string s;
    std::set<std::string> seen;
    for (const Origin& o : origins) {
      const RuleModel& rule = model_.rules[o.rule];
      const std::string line = "// " + rule.name + ", " + sourceLine(rule.links[o.link].where);
      if (seen.insert(line).second) s += indent + line + "\n";
    }
    return s;
  }

  // ---- Constants ----

  std::string constant(const Literal& literal) {
    const std::string key = std::to_string(static_cast<int>(literal.type)) + ":" + literal.text;
    auto it = constants_.find(key);
    if (it != constants_.end()) return it->second;
    std::string name;
    std::string init;
    switch (literal.type) {
      case TokenKind::kInteger:
        name = "kInt" + identifier(literal.text[0] == '-' ? "m" + literal.text.substr(1) : literal.text);
        init = "Value::integer(" + literal.text + "LL)";
        break;
      case TokenKind::kFloat:
        name = "kFloat" + identifier(literal.text);
        init = "Value::real(" + literal.text + (literal.text.find_first_of(".eE") == std::string::npos ? ".0" : "") + ")";
        break;
      case TokenKind::kString:
        name = "kStr" + std::to_string(constants_.size());
        init = "Value::string(" + cString(literal.text) + ")";
        break;
      default:
        name = "k" + camel(literal.text);
        if (name == "k") name = "kSym";
        init = "Value::symbol(" + cString(literal.text) + ")";
        break;
    }
    while (constantNames_.count(name)) name += "_";
    constantNames_.insert(name);
    constants_[key] = name;
    constantDecls_ += "const Value " + name + " = " + init + ";\n";
    return name;
  }

  // ---- Expressions ----

  std::string slotRef(const Expr& e, const FactAccess& fact) const {
    if (e.slot < 0) return "Value::fact(" + fact(e.link) + ")";
    return fact(e.link) + "->slot[" + std::to_string(e.slot) + "]";
  }

  std::string value(const Expr& e, const FactAccess& fact) {
    switch (e.kind) {
      case Expr::kLiteral: return constant(e.literal);
      case Expr::kRef: return slotRef(e, fact);
      case Expr::kLocal: return "v_" + identifier(e.name);
      case Expr::kFactForm: return "Value()";
      case Expr::kCall: break;
    }
    if (isBooleanCall(e)) return "Value::boolean(" + boolean(e, fact) + ")";
    std::vector<std::string> a;
    for (const Expr& arg : e.args) a.push_back(value(arg, fact));
    const std::string& n = e.name;
    if (n == "+" || n == "-" || n == "*" || n == "/" || n == "div" || n == "min" || n == "max") {
      static const std::map<std::string, std::string> fns = {
          {"+", "qelrt::add"},        {"-", "qelrt::subtract"}, {"*", "qelrt::multiply"},
          {"/", "qelrt::divide"},     {"div", "qelrt::integerDivide"},
          {"min", "qelrt::minimum"},  {"max", "qelrt::maximum"}};
      std::string s = a[0];
      for (size_t i = 1; i < a.size(); ++i) s = fns.at(n) + "(" + s + ", " + a[i] + ")";
      return s;
    }
    if (n == "mod") return "qelrt::modulo(" + a[0] + ", " + a[1] + ")";
    if (n == "abs") return "qelrt::absolute(" + a[0] + ")";
    if (n == "str-cat" || n == "sym-cat") {
      std::string s = n == "str-cat" ? "qelrt::strCat({" : "qelrt::symCat({";
      for (size_t i = 0; i < a.size(); ++i) s += (i ? ", " : "") + a[i];
      return s + "})";
    }
    if (n == "format") return "Value::string(" + formatCall(e, fact) + ")";
    return "Value()";
  }

  std::string formatCall(const Expr& e, const FactAccess& fact) {
    std::string s = "qelrt::format(" + value(e.args[1], fact) + ".text(), {";
    for (size_t i = 2; i < e.args.size(); ++i) s += (i > 2 ? ", " : "") + value(e.args[i], fact);
    return s + "})";
  }

  std::string boolean(const Expr& e, const FactAccess& fact) {
    if (!isBooleanCall(e)) return value(e, fact) + ".truthy()";
    const std::string& n = e.name;
    std::vector<std::string> parts;
    if (n == "and" || n == "or") {
      for (const Expr& arg : e.args) parts.push_back(boolean(arg, fact));
      return join(parts, n == "and" ? " && " : " || ");
    }
    if (n == "not") return "!(" + boolean(e.args[0], fact) + ")";
    std::vector<std::string> a;
    for (const Expr& arg : e.args) a.push_back(value(arg, fact));
    if (n == "eq" || n == "neq") {
      for (size_t i = 1; i < a.size(); ++i) parts.push_back(a[0] + (n == "eq" ? " == " : " != ") + a[i]);
      return join(parts, " && ");
    }
    if (n == "=" || n == "<>") {
      for (size_t i = 1; i < a.size(); ++i) {
        parts.push_back("qelrt::compare(" + a[0] + ", " + a[i] + ")" + (n == "=" ? " == 0" : " != 0"));
      }
      return join(parts, " && ");
    }
    static const std::map<std::string, std::string> order = {{">", " > 0"}, {"<", " < 0"},
                                                             {">=", " >= 0"}, {"<=", " <= 0"}};
    for (size_t i = 1; i < a.size(); ++i) {
      parts.push_back("qelrt::compare(" + a[i - 1] + ", " + a[i] + ")" + order.at(n));
    }
    return join(parts, " && ");
  }

  static std::string join(const std::vector<std::string>& parts, const char* glue) {
    if (parts.size() == 1) return parts[0];
    std::string s = "(";
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? glue : "") + parts[i];
    return s + ")";
  }

  // ---- Actions ----

  void statement(const Expr& e, const FactAccess& fact, const std::string& indent, std::string& out) {
    if (e.kind != Expr::kCall) {
      out += indent + "(void)" + value(e, fact) + ";\n";
      return;
    }
    const std::string& n = e.name;
    if (n == "printout") {
      for (size_t i = 1; i < e.args.size(); ++i) {
        const Expr& a = e.args[i];
        if (a.kind == Expr::kLiteral && a.name == "crlf") {
          out += indent + "qelrt::print(\"\\n\");\n";
        } else if (a.kind == Expr::kLiteral && a.name == "tab") {
          out += indent + "qelrt::print(\"\\t\");\n";
        } else if (a.kind == Expr::kLiteral && a.literal.type != TokenKind::kInteger &&
                   a.literal.type != TokenKind::kFloat) {
          out += indent + "qelrt::print(" + cString(a.literal.text) + ");\n";
        } else {
          out += indent + "qelrt::print(" + value(a, fact) + ");\n";
        }
      }
    } else if (n == "format") {
      if (e.args[0].literal.text == "t") {
        out += indent + "qelrt::print(" + formatCall(e, fact) + ");\n";
      } else {
        out += indent + "(void)" + formatCall(e, fact) + ";\n";
      }
    } else if (n == "assert") {
      for (const Expr& f : e.args) {
        out += indent + "{\n" + indent + "  Fact* made = Fact::make(&" + templateName(f.templ) + ");\n";
        fillSlots(f, fact, indent + "  ", out);
        out += indent + "  assertFact(made);\n" + indent + "}\n";
      }
    } else if (n == "retract") {
      for (const Expr& f : e.args) out += indent + "retractFact(" + fact(f.link) + ");\n";
    } else if (n == "modify" || n == "duplicate") {
      const std::string old = fact(e.args[0].link);
      out += indent + "{\n" + indent + "  Fact* made = " + old + "->copy();\n";
      fillSlots(e.args[1], fact, indent + "  ", out);
      out += indent + (n == "modify" ? "  modifyFact(" + old + ", made);\n" : "  assertFact(made);\n") + indent + "}\n";
    } else if (n == "bind") {
      out += indent + "v_" + identifier(e.args[0].name) + " = " + value(e.args[1], fact) + ";\n";
    } else if (n == "if") {
      out += indent + "if (" + boolean(e.args[0], fact) + ") {\n";
      for (const Expr& a : e.args[1].args) statement(a, fact, indent + "  ", out);
      if (!e.args[2].args.empty()) {
        out += indent + "} else {\n";
        for (const Expr& a : e.args[2].args) statement(a, fact, indent + "  ", out);
      }
      out += indent + "}\n";
    } else if (n == "witness") {
      const Expr& f = e.args[0];
      out += indent + "{\n" + indent + "  Fact* made = Fact::make(&" + templateName(f.templ) + ");\n";
      fillSlots(f, fact, indent + "  ", out);
      out += indent + "  // Held while this match lasts; an equal witness held already gains a support.\n";
      out += indent + "  justification = p;\n" + indent + "  const void* outer = ties_.enter(made);\n" + indent +
             "  assertObject(" + std::to_string(f.templ) + ", made);\n" + indent + "  ties_.enter(outer);\n" + indent +
             "  justification = nullptr;\n" + indent + "}\n";
    } else if (n == "halt") {
      out += indent + "halted_ = true;\n";
    } else if (n == "progn") {
      for (const Expr& a : e.args) statement(a, fact, indent, out);
    } else {
      out += indent + "(void)" + value(e, fact) + ";\n";
    }
  }

  void fillSlots(const Expr& form, const FactAccess& fact, const std::string& indent, std::string& out) {
    const TemplateModel& t = model_.templates[form.templ];
    for (size_t i = 0; i < form.args.size(); ++i) {
      out += indent + "made->slot[" + std::to_string(form.slots[i]) + "] = " + value(form.args[i], fact) +
             ";  // " + t.slots[form.slots[i]] + "\n";
    }
  }

  std::string templateName(int t) const {
    if (t == rootClass()) return "kRoot";
    return "kTemplate" + std::to_string(t);
  }
  int rootClass() const { return static_cast<int>(model_.templates.size()); }

  // ---- The parts of the file ----

  std::string header() const {
    std::string s = "// Generated by qelc from";
    for (const std::string& f : options_.sources) s += " " + f;
    s += ".\n// Edit the rules, not this file.\n";
    s += "#include <cstdio>\n#include <cstdlib>\n#include <cstring>\n#include <ctime>\n#include <string>\n#include <vector>\n\n";
    s += "#include \"qel.h\"\n#include \"qelrt_facts.h\"\n#include \"qelrt_reader.h\"\n#include \"qelrt_text.h\"\n#include \"qelrt_ties.h\"\n\n";
    s += "namespace {\n\nusing qelrt::Fact;\nusing qelrt::Value;\n\n";
    return s;
  }

  std::string constantsAndTemplates() {
    std::string t = "// Templates; the class of each is its index, the root class comes last.\n";
    const int n = static_cast<int>(model_.templates.size());
    for (int i = 0; i <= n; ++i) {
      const bool root = i == n;
      const std::string name = templateName(i);
      const int slots = root ? 1 : static_cast<int>(model_.templates[i].slots.size());
      std::string names, defaults;
      for (int s = 0; s < slots; ++s) {
        names += std::string(s ? ", " : "") + cString(root ? "group" : model_.templates[i].slots[s]);
        defaults += std::string(s ? ", " : "") + (root ? constant(Literal{TokenKind::kInteger, "0"})
                                                        : constant(model_.templates[i].defaults[s]));
      }
      if (slots > 0) {
        t += "const char* const " + name + "Slots[] = {" + names + "};\n";
        t += "const Value " + name + "Defaults[] = {" + defaults + "};\n";
      }
      const std::string label = root ? "qelc-root" : model_.templates[i].name;
      t += "const qelrt::Template " + name + " = {" + cString(label) + ", " + std::to_string(i) + ", " +
           (root || model_.templates[i].ordered ? "true" : "false") + ", " + std::to_string(slots) + ", " +
           (slots ? name + "Slots, " + name + "Defaults" : "nullptr, nullptr") + "};\n";
    }
    t += "const qelrt::Template* const kTemplates[] = {";
    for (int i = 0; i < n; ++i) t += std::string(i ? ", " : "") + "&" + templateName(i);
    t += "};\nconst int kTemplateCount = " + std::to_string(n) + ";\n\n";
    return "// Constants.\n" + constantDecls_ + "\n" + t;
  }

  std::string networkClass() const {
    return "class " + prefix_ + "Network : public QelNetwork {\n public:\n  " + prefix_ + "Network();\n"
           "  QelActionNode* newActionNode(QelRuleNode* rule) override;\n};\n\n";
  }

  // The fact of each link, seen from a function that has the partial `p`
  // of `length` links and maybe the new object `i` at link `length`.
  FactAccess partialAccess(int length, bool* usesPartial, bool* usesObject) const {
    return [=](int link) {
      if (link == length) {
        *usesObject = true;
        return std::string("fact(i)");
      }
      *usesPartial = true;
      return "fact(p, " + std::to_string(length - 1 - link) + ")";
    };
  }

  std::string discFunction(int d) {
    const DiscPlan& disc = plan_.discs[d];
    bool usesPartial = false, usesObject = false;
    // Every test of a discrimination node reads the new object only.
    FactAccess fact = [&](int) {
      usesObject = true;
      return std::string("fact(i)");
    };
    std::vector<std::string> parts;
    if (disc.group >= 0) {
      parts.push_back(fact(0) + "->slot[0] == " + constant(Literal{TokenKind::kInteger, std::to_string(disc.group)}));
    }
    for (const Expr* t : disc.tests) parts.push_back(boolean(*t, fact));
    (void)usesPartial;
    if (parts.empty()) return "";
    std::string s = originComments(disc.origins, "  ");
    s += "  unsigned char disc" + std::to_string(d) + "(QelInfo* i) { return " + join(parts, " && ") + "; }\n";
    return s;
  }

  std::string joinFunctions(int j) {
    const JoinPlan& join = plan_.joins[j];
    std::string s;
    if (!join.tests.empty()) {
      bool usesPartial = false, usesObject = false;
      FactAccess fact = partialAccess(join.link, &usesPartial, &usesObject);
      std::vector<std::string> parts;
      for (const Expr* t : join.tests) parts.push_back(boolean(*t, fact));
      s += originComments(join.origins, "  ");
      s += "  unsigned char join" + std::to_string(j) + "(QelPartial*" + (usesPartial ? " p" : "") +
           ", QelInfo*" + (usesObject ? " i" : "") + ") {\n    return " + Emitter::join(parts, "\n        && ") +
           ";\n  }\n";
    }
    if (!join.keys.empty()) {
      bool usesPartial = false, usesObject = false;
      FactAccess fact = partialAccess(join.link, &usesPartial, &usesObject);
      std::string left, right;
      for (size_t k = 0; k < join.keys.size(); ++k) {
        left += std::string(k ? ", " : "") + value(*join.keys[k].left, fact);
        right += std::string(k ? ", " : "") + value(*join.keys[k].right, fact);
      }
      s += "  void* leftKey" + std::to_string(j) + "(QelPartial* p) { return qelrt::key(" + left + "); }\n";
      s += "  void* rightKey" + std::to_string(j) + "(QelInfo* i) { return qelrt::key(" + right + "); }\n";
    }
    return s;
  }

  // An auxiliary rule asserts its witness as soon as its match appears (from
  // notifyAddRule), so that the not or exists link above it changes in the
  // same working-memory operation as the conjunction; its action is empty.
  std::string witnessFunction(int r) {
    const RuleModel& rule = model_.rules[r];
    const int length = static_cast<int>(rule.links.size());
    FactAccess fact = [length](int link) { return "fact(p, " + std::to_string(length - 1 - link) + ")"; };
    std::string s = "  // " + rule.name + ", " + sourceLine(rule.where) + "\n";
    s += "  void witness" + std::to_string(r) + "(QelPartial* p) {\n";
    for (const Expr& a : rule.actions) statement(a, fact, "    ", s);
    return s + "  }\n  void " + actionName(r) + "(QelPartial*) {}\n";
  }

  std::string actionFunction(int r) {
    const RuleModel& rule = model_.rules[r];
    if (rule.auxiliary) return witnessFunction(r);
    const int length = static_cast<int>(rule.links.size());
    std::set<int> used;
    FactAccess local = [&](int link) {
      used.insert(link);
      return "f" + std::to_string(link);
    };
    std::string locals;
    for (size_t l = 0; l < rule.locals.size(); ++l) {
      const Expr& start = rule.localStarts[l];
      locals += "    Value v_" + identifier(rule.locals[l]) +
                (start.kind == Expr::kRef ? " = " + value(start, local) : std::string()) + ";\n";
    }
    std::string body;
    for (const Expr& a : rule.actions) {
      body += "    // " + sourceLine(a.where) + "\n";
      statement(a, local, "    ", body);
    }
    std::string s = "  // " + rule.name + ", " + sourceLine(rule.where) + "\n";
    s += "  void " + actionName(r) + "(QelPartial*" + (used.empty() ? "" : " p") + ") {\n";
    if (!used.empty()) {
      s += "    // The facts are read before the first change, which may delete the match.\n";
    }
    for (int link : used) {
      s += "    Fact* const f" + std::to_string(link) + " = fact(p, " + std::to_string(length - 1 - link) + ");\n";
    }
    return s + locals + body + "  }\n";
  }

  std::string actionName(int r) const {
    const RuleModel& rule = model_.rules[r];
    return "fire" + camel(rule.name) + (rule.branch ? std::to_string(rule.branch) : "");
  }

  std::string contextClass() {
    const std::string name = prefix_ + "Context";
    std::string tests;
    for (size_t d = 0; d < plan_.discs.size(); ++d) tests += discFunction(static_cast<int>(d));
    for (size_t j = 0; j < plan_.joins.size(); ++j) tests += joinFunctions(static_cast<int>(j));
    std::string actions;
    for (size_t r = 0; r < model_.rules.size(); ++r) actions += actionFunction(static_cast<int>(r));
    std::string reset;
    FactAccess none = [](int) { return std::string("nullptr"); };
    reset += "    // Rules without a first pattern start from root objects, asserted so that\n"
             "    // the group that fires first after a reset is the most recent.\n";
    for (int g = static_cast<int>(model_.groups.size()) - 1; g >= 0; --g) {
      reset += "    assertRoot(" + constant(Literal{TokenKind::kInteger, std::to_string(g)}) + ");  // " +
               (model_.groups[g].key.empty() ? "no conditions" : model_.groups[g].key) + "\n";
    }
    reset += "    assertFact(Fact::make(&" + templateName(model_.initialFact) + "));\n";
    for (const Expr& f : model_.deffacts) {
      reset += "    {\n      Fact* made = Fact::make(&" + templateName(f.templ) + ");\n";
      fillSlots(f, none, "      ", reset);
      reset += "      assertFact(made);\n    }\n";
    }
    std::string s;
    s += "class " + name + " : public QelContext {\n public:\n";
    s += "  explicit " + name + "(" + prefix_ + "Network* network) : ties_(" + std::to_string(model_.rules.size()) +
         ") { initialize(network); }\n";
    if (hasWitnesses()) {
      s += "  ~" + name + "() override {\n"
           "    qelRetractAll();  // deletes the witnesses still held\n"
           "    for (Fact* root : roots_) Fact::destroy(root);\n  }\n";
    } else {
      s += "  ~" + name + "() override { for (Fact* root : roots_) Fact::destroy(root); }\n";
    }
    s += "  const char* getRulesetName() const override { return " + cString(options_.rulesetName) + "; }\n\n";
    s += "  // (reset): working memory emptied, then the root objects, (initial-fact)\n"
         "  // and the deffacts in order, numbered from 0 again.\n";
    s += "  void reset() {\n    qelRetractAll();\n    facts_.clear();\n"
         "    for (Fact* root : roots_) Fact::destroy(root);\n    roots_.clear();\n"
         "    halted_ = false;\n    ties_.forget();\n" + reset + "  }\n\n";
    s += "  bool load(const char* path) {\n"
         "    std::vector<Fact*> facts;\n"
         "    std::string error;\n"
         "    qelrt::FactReader reader(kTemplates, kTemplateCount);\n"
         "    if (!reader.read(path, facts, error)) {\n"
         "      std::fprintf(stderr, \"%s\\n\", error.c_str());\n"
         "      return false;\n"
         "    }\n"
         "    for (Fact* f : facts) assertFact(f);\n"
         "    return true;\n"
         "  }\n\n";
    s += "  void run() { agenda->fireAllRules(); }\n";
    s += "  bool halted() const { return halted_; }\n";
    s += "  long fired() const { return fired_; }\n";
    s += "  // Frees the facts retracted by the action that just ran.\n";
    s += "  void endAction() { facts_.collect(); }\n\n";
    s += "  // Tests and keys.\n" + tests + "\n  // Actions.\n" + actions + "\n";
    s += " protected:\n";
    if (firstAuxiliary() < static_cast<int>(model_.rules.size())) {
      s += "  // Auxiliary rules (from " + std::to_string(firstAuxiliary()) + " on) are not counted as firings.\n";
      s += "  void notifyBeginRule(QelInstance* instance) override {\n"
           "    ties_.removed(instance);\n"
           "    if (instance->ruleIndex() < " + std::to_string(firstAuxiliary()) + ") ++fired_;\n  }\n";
      s += "  void notifyRemoveRule(QelInstance* instance) override { ties_.removed(instance); }\n";
      s += "  void notifyAddRule(QelInstance* instance) override {\n    ties_.added(instance);\n"
           "    switch (instance->ruleIndex()) {\n";
      for (size_t r = firstAuxiliary(); r < model_.rules.size(); ++r) {
        s += "      case " + std::to_string(r) + ": witness" + std::to_string(r) + "(instance->partial); break;\n";
      }
      s += "      default: break;\n    }\n  }\n\n private:\n";
    } else {
      s += "  void notifyBeginRule(QelInstance* instance) override {\n    ties_.removed(instance);\n    ++fired_;\n  }\n";
      s += "  void notifyRemoveRule(QelInstance* instance) override { ties_.removed(instance); }\n";
      s += "  void notifyAddRule(QelInstance* instance) override { ties_.added(instance); }\n\n private:\n";
    }
    s += "  static Fact* fact(QelInfo* i) { return static_cast<Fact*>(i->object); }\n";
    s += "  static Fact* fact(QelPartial* p, int n) { return static_cast<Fact*>(p->tailn(n)->record->object); }\n\n";
    s += "  // A fact equal to one in working memory is not asserted again.\n";
    s += "  void assertFact(Fact* f) {\n    if (facts_.add(f) == nullptr) return;\n"
         "    const void* outer = ties_.enter(f);\n    assertObject(f->tmpl->classIndex, f);\n    ties_.enter(outer);\n  }\n";
    s += "  void retractFact(Fact* f) {\n    if (facts_.remove(f)) retractObject(f, 0);\n  }\n";
    s += "  // modify: the old fact goes, a new one with a new index comes.\n";
    s += "  void modifyFact(Fact* old, Fact* changed) {\n"
         "    if (old->retracted) {\n      Fact::destroy(changed);\n      return;\n    }\n"
         "    retractFact(old);\n    assertFact(changed);\n  }\n";
    s += "  void assertRoot(const Value& group) {\n"
         "    Fact* root = Fact::make(&kRoot);\n    root->slot[0] = group;\n"
         "    roots_.push_back(root);\n    const void* outer = ties_.enter(root);\n"
         "    assertObject(kRoot.classIndex, root);\n    ties_.enter(outer);\n  }\n\n";
    s += "  qelrt::FactStore facts_;\n  std::vector<Fact*> roots_;\n"
         "  // Puts the instances one change makes for a rule in the rule language's order.\n"
         "  qelrt::TieOrder ties_;\n  bool halted_ = false;\n  long fired_ = 0;\n};\n\n";
    return s;
  }

  std::string networkConstructor() {
    const std::string net = prefix_ + "Network";
    const std::string ctx = prefix_ + "Context";
    std::string s;
    s += "// Stops the run after an action that called (halt), and frees the facts\n"
         "// the action retracted.\n";
    s += "class FiringAction : public QelActionNode {\n public:\n"
         "  explicit FiringAction(QelRuleNode* rule) : QelActionNode(rule) {}\n"
         "  int execute(QelContext* context, QelPartial* partial) override {\n"
         "    QelActionNode::execute(context, partial);\n"
         "    " + ctx + "* c = static_cast<" + ctx + "*>(context);\n"
         "    c->endAction();\n"
         "    return c->halted() ? -2 : 0;\n  }\n};\n\n";
    s += "QelActionNode* " + net + "::newActionNode(QelRuleNode* rule) { return new FiringAction(rule); }\n\n";
    if (hasWitnesses()) {
      s += "// Witnesses are logical objects: equal when they record the same facts,\n"
           "// deleted by the library when their last support ends.\n"
           "class WitnessClass : public QelClassNode {\n public:\n"
           "  WitnessClass(QelNetwork* network, int index) : QelClassNode(network, index) {\n"
           "    kind = 2;\n    equality = &sameFacts;\n  }\n"
           "  void deleteInstance(void* object) override { Fact::destroy(static_cast<Fact*>(object)); }\n\n"
           " private:\n"
           "  static unsigned char sameFacts(void* held, void* asserted) {\n"
           "    const Fact* a = static_cast<const Fact*>(held);\n"
           "    const Fact* b = static_cast<const Fact*>(asserted);\n"
           "    for (int s = 0; s < a->tmpl->slotCount; ++s) {\n"
           "      if (a->slot[s] != b->slot[s]) return 0;\n    }\n    return 1;\n  }\n};\n\n";
    }
    s += "char kRulesetName[] = " + cString(options_.rulesetName) + ";\n";
    s += "char kClassNames[][" + std::to_string(longestClassName() + 1) + "] = {";
    for (size_t t = 0; t <= model_.templates.size(); ++t) {
      s += std::string(t ? ", " : "") + cString(t == model_.templates.size() ? "qelc-root" : model_.templates[t].name);
    }
    s += "};\n";
    for (size_t r = 0; r < model_.rules.size(); ++r) {
      s += "char kRuleName" + std::to_string(r) + "[] = " + cString(model_.rules[r].name) + ";\n";
    }
    s += "\n" + net + "::" + net + "() : QelNetwork(kRulesetName) {\n";
    s += "  init(/*constants*/ 0, /*packets*/ 0, /*rules*/ " + std::to_string(model_.rules.size()) +
         ", /*discs*/ " + std::to_string(plan_.discs.size()) + ", /*alphas*/ " + std::to_string(plan_.alphas.size()) +
         ", /*rights*/ " + std::to_string(plan_.rights.size()) + ", /*joins*/ " + std::to_string(plan_.joins.size()) +
         ");\n";
      std::string witnesses;
    for (size_t t = 0; t < model_.templates.size(); ++t) {
      if (model_.templates[t].witness) witnesses += std::string(witnesses.empty() ? "" : " || ") + "c == " + std::to_string(t);
    }
    s += "  for (int c = 0; c <= " + std::to_string(model_.templates.size()) + "; ++c) {\n";
    if (witnesses.empty()) {
      s += "    QelClassNode* node = new QelClassNode(this, c);\n"
           "    node->kind = 1;  // the context's fact store owns the facts\n";
    } else {
      s += "    const bool witness = " + witnesses + ";\n"
           "    QelClassNode* node = witness ? new WitnessClass(this, c) : new QelClassNode(this, c);\n"
           "    if (!witness) node->kind = 1;  // the context's fact store owns the facts\n";
    }
    s += "    node->name = kClassNames[c];\n    classes.append(node);\n  }\n";
    const std::string usingC = "  using C = " + ctx + ";\n";
    const size_t usingAt = s.size();
    s += usingC;
    for (size_t d = 0; d < plan_.discs.size(); ++d) {
      const DiscPlan& disc = plan_.discs[d];
      const bool tested = disc.group >= 0 || !disc.tests.empty();
      s += "  initDisc(static_cast<QelDiscNode*>(discs[" + std::to_string(d) + "]), " + std::to_string(disc.templ) +
           ", " + std::to_string(disc.right) + ", " +
           (tested ? "static_cast<QelDiscTest>(&C::disc" + std::to_string(d) + ")" : std::string("GetQelNullDisc()")) +
           ");\n";
    }
    for (size_t a = 0; a < plan_.alphas.size(); ++a) {
      s += "  addAlphaNode(static_cast<QelDiscNode*>(discs[" + std::to_string(plan_.alphas[a].disc) + "]), " +
           std::to_string(a) + ", " + std::to_string(plan_.alphas[a].noUpdateMask) + ", QelPatternPlain);\n";
    }
    static const char* types[] = {"QelPatternPlain", "QelPatternNot", "QelPatternExists"};
    for (size_t j = 0; j < plan_.joins.size(); ++j) {
      const JoinPlan& join = plan_.joins[j];
      const std::string js = std::to_string(j);
      s += "  initJoin(joins[" + js + "], " + (join.leftIsJoin ? "1" : "0") + ", " + std::to_string(join.left) +
           ", " + std::to_string(join.right) + ", " +
           (join.tests.empty() ? std::string("GetQelNullJoin()") : "static_cast<QelJoinTest>(&C::join" + js + ")") +
           ", " + std::to_string(join.independenceMask) + ", " + std::to_string(join.noUpdateMask) + ", " +
           types[join.kind] + ");\n";
      if (!join.keys.empty()) {
        s += "  initJoinKeys(joins[" + js + "], static_cast<QelKeyFunction>(&C::leftKey" + js +
             "), static_cast<QelRecordKeyFunction>(&C::rightKey" + js + "));\n";
      }
    }
    for (size_t r = 0; r < model_.rules.size(); ++r) {
      const RulePlan& rp = plan_.rules[r];
      const std::string rs = std::to_string(r);
      s += "  initRule(rules[" + rs + "], -1, kRuleName" + rs + ", GetQelNullPrio(), " +
           std::to_string(model_.rules[r].salience) + ", " + (rp.lastIsJoin ? std::to_string(rp.last) : "-1") +
           ", -1);\n";
      s += "  initAction(" + rs + ", static_cast<QelActionFunction>(&C::" + actionName(static_cast<int>(r)) +
           "), 0, " + (rp.lastIsJoin ? "1" : "0") + ", " + std::to_string(rp.last) + ");\n";
    }
    s += "}\n\n";
    // A ruleset without rules names no member function.
    if (s.find("&C::", usingAt) == std::string::npos) s.erase(usingAt, usingC.size());
    return s;
  }

  int firstAuxiliary() const {
    int r = 0;
    while (r < static_cast<int>(model_.rules.size()) && !model_.rules[r].auxiliary) ++r;
    return r;
  }

  bool hasWitnesses() const {
    for (const TemplateModel& t : model_.templates) {
      if (t.witness) return true;
    }
    return false;
  }

  size_t longestClassName() const {
    size_t n = std::string("qelc-root").size();
    for (const TemplateModel& t : model_.templates) n = std::max(n, t.name.size());
    return n;
  }

  std::string mainFunction() const {
    return "double cpuMilliseconds() {\n"
           "  timespec t;\n  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);\n"
           "  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;\n}\n\n"
           "// Usage: PROGRAM [--stats] [--repeat N] [FACTS-FILE...]: (reset), the facts\n"
           "// of the files, then (run); N times over with --repeat. --stats prints the\n"
           "// rules fired and the CPU time of all the runs.\n"
           "int run(int argc, char** argv) {\n"
           "  bool stats = false;\n  long repeat = 1;\n  std::vector<const char*> files;\n"
           "  for (int a = 1; a < argc; ++a) {\n"
           "    if (std::strcmp(argv[a], \"--stats\") == 0) {\n      stats = true;\n"
           "    } else if (std::strcmp(argv[a], \"--repeat\") == 0 && a + 1 < argc) {\n"
           "      repeat = std::strtol(argv[++a], nullptr, 10);\n    } else {\n"
           "      files.push_back(argv[a]);\n    }\n  }\n"
           "  long fired = 0;\n  double milliseconds = 0;\n  {\n"
           "    " + prefix_ + "Network network;\n    " + prefix_ + "Context context(&network);\n"
           "    const double start = cpuMilliseconds();\n"
           "    for (long r = 0; r < repeat; ++r) {\n      context.reset();\n"
           "      for (const char* file : files) {\n        if (!context.load(file)) return 1;\n      }\n"
           "      context.run();\n    }\n    milliseconds = cpuMilliseconds() - start;\n    fired = context.fired();\n  }\n"
           "  std::fflush(stdout);\n"
           "  if (stats) {\n    std::fprintf(stderr, \"%ld rules fired\\n\", fired);\n"
           "    std::fprintf(stderr, \"run cpu ms %.3f\\n\", milliseconds);\n  }\n"
           "  return 0;\n}\n\n";
  }

  const Model& model_;
  const Plan& plan_;
  const EmitOptions& options_;
  std::string prefix_;
  std::map<std::string, std::string> constants_;  // literal key -> name
  std::set<std::string> constantNames_;
  std::string constantDecls_;
};

}  // namespace

std::string emitProgram(const Model& model, const Plan& plan, const EmitOptions& options) {
  return Emitter(model, plan, options).run();
}

}  // namespace qelc
