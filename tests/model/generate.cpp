// Random rulesets and operation sequences, and their text forms.
#include <cstdio>
#include <set>
#include <sstream>

#include "model/model.h"

namespace qelmodel {

namespace {

bool isCounted(Kind k) {
  return k == Kind::Exists || k == Kind::Not || k == Kind::Count ||
         k == Kind::Collect;
}
bool addsObject(Kind k) { return k == Kind::Plain || k == Kind::ObjUnique; }

// Positions a term, key or priority may read: those that hold a fact.
std::vector<int> objectPositions(const RulePlan& rule, int upTo) {
  std::vector<int> out;
  for (int i = 0; i < upTo; ++i) {
    if (addsObject(rule.pats[i].kind)) out.push_back(i);
  }
  return out;
}

Operand randomOperand(Rng& rng, const std::vector<int>& positions,
                      bool candidate) {
  Operand o;
  o.slot = rng.below(kSlotCount);
  o.constant = rng.below(kValues);
  int choice = rng.below(10);
  if (candidate && choice < 2) {
    o.pos = -1;
  } else if (!positions.empty() && choice < 8) {
    o.pos = positions[rng.below(static_cast<int>(positions.size()))];
  } else {
    o.pos = -2;
  }
  return o;
}

int newDisc(NetPlan& plan, Rng& rng, int cls) {
  DiscPlan d;
  d.cls = cls;
  d.nullTest = rng.chance(30);
  d.slot = rng.below(kSlotCount);
  d.op = rng.below(4);
  d.constant = rng.below(kValues);
  plan.discs.push_back(d);
  return static_cast<int>(plan.discs.size()) - 1;
}

int pickDisc(NetPlan& plan, Rng& rng, bool needsRight) {
  int cls = rng.below(static_cast<int>(plan.superOf.size()));
  int disc = -1;
  if (!plan.discs.empty() && rng.chance(30)) {
    int candidate = rng.below(static_cast<int>(plan.discs.size()));
    if (plan.discs[candidate].cls == cls) disc = candidate;
  }
  if (disc < 0) disc = newDisc(plan, rng, cls);
  if (needsRight && plan.discs[disc].right < 0) {
    plan.discs[disc].right = plan.rights++;
  }
  return disc;
}

// The tuple positions a pattern's test or key reads (the candidate excluded).
std::set<int> readsOf(const PatternPlan& p) {
  std::set<int> out;
  for (const Term& t : p.terms) {
    if (t.a.pos >= 0) out.insert(t.a.pos);
    if (t.b.pos >= 0) out.insert(t.b.pos);
  }
  if (p.keyPos >= 0) out.insert(p.keyPos);
  if (p.kind == Kind::Wait) out.insert(0);  // the deadline
  return out;
}

// Masks declare only what is true: independence bit d when the test does
// not read the fact at depth d (bit 0 only for a test that always holds),
// no-update bit d when neither a later test nor the priority reads it. A
// counted join declares exactly the bits its test allows and never bit 0:
// the bits decide there whether a refresh stays one, and the oracle predicts
// it from what the test reads.
void chooseMasks(RulePlan& rule, Rng& rng) {
  int n = static_cast<int>(rule.pats.size());
  std::vector<std::set<int>> reads(n);
  for (int j = 0; j < n; ++j) reads[j] = readsOf(rule.pats[j]);
  std::set<int> prioReads;
  for (auto& t : rule.prioTerms) prioReads.insert(t.first);
  for (int j = 0; j < n; ++j) {
    PatternPlan& p = rule.pats[j];
    std::set<int> later = prioReads;
    for (int k = j + 1; k < n; ++k) later.insert(reads[k].begin(), reads[k].end());
    int nu = -1;
    for (int d = 0; d <= j; ++d) {
      if (later.count(j - d)) nu &= ~(1 << d);
    }
    int style = rng.below(10);
    if (style < 3) {
      nu = 0;
    } else if (style < 6) {
      for (int d = 0; d <= j; ++d) {
        if (rng.chance(40)) nu &= ~(1 << d);
      }
    }
    p.noUpdateMask = nu;
    if (j == 0) continue;
    int indep = -1;
    for (int d = 1; d <= j; ++d) {
      if (reads[j].count(j - d)) indep &= ~(1 << d);
    }
    bool alwaysTrue = p.terms.empty() && p.kind != Kind::ObjUnique;
    if (!alwaysTrue || isCounted(p.kind)) indep &= ~1;
    style = isCounted(p.kind) ? 9 : rng.below(10);
    if (style < 4) {
      indep = 0;
    } else if (style < 7) {
      for (int d = 0; d <= j; ++d) {
        if (rng.chance(40)) indep &= ~(1 << d);
      }
    }
    p.indepMask = indep;
  }
}

bool related(const NetPlan& plan, int a, int b) {
  for (int c = a; c >= 0; c = plan.superOf[c]) {
    if (c == b) return true;
  }
  for (int c = b; c >= 0; c = plan.superOf[c]) {
    if (c == a) return true;
  }
  return false;
}

// A rule may justify logical facts when no operation can remove and make
// again one of its matches: its patterns add objects or test them, and no
// object can stand in two of them.
bool canJustify(const NetPlan& plan, const RulePlan& rule) {
  std::vector<int> classes;
  for (const PatternPlan& p : rule.pats) {
    if (isCounted(p.kind)) return false;
    if (p.disc < 0) continue;
    int c = plan.discs[p.disc].cls;
    for (int other : classes) {
      if (related(plan, c, other)) return false;
    }
    classes.push_back(c);
  }
  return true;
}

// A third of the rulesets favour keyed counted and object-unique joins:
// their equality key first, and a discrimination test on a slot of the
// key, so that one update both moves a record out and changes a key; now
// and then on the very discrimination of the fact that gives the left key,
// so that the update reaches the join through both inputs. An object-unique
// join's partner is then that fact itself.
void focusOnKeys(NetPlan& plan, const RulePlan& rule, PatternPlan& p,
                 Rng& rng, const std::vector<int>& positions) {
  const bool keyable = isCounted(p.kind) || p.kind == Kind::ObjUnique;
  if (!keyable || positions.empty()) return;
  Term term;
  term.a.pos = -1;
  term.a.slot = rng.below(kSlotCount);
  term.op = kEq;
  term.b.pos = positions[rng.below(static_cast<int>(positions.size()))];
  term.b.slot = rng.below(kSlotCount);
  p.terms.insert(p.terms.begin(), term);
  p.eqTerm = rng.chance(90) ? 0 : -1;
  p.nullJoin = false;
  if (p.kind == Kind::ObjUnique) p.keyPos = term.b.pos;
  if (rng.chance(40)) {
    p.disc = rule.pats[term.b.pos].disc;
    if (plan.discs[p.disc].right < 0) plan.discs[p.disc].right = plan.rights++;
  }
  DiscPlan& d = plan.discs[p.disc];
  if (!d.nullTest && rng.chance(70)) {
    d.slot = rng.chance(50) ? term.a.slot : term.b.slot;
  }
}

// The join test (or inline test) of a pattern after the first, over the
// positions that hold a fact; an equality key now and then.
void addTerms(PatternPlan& p, Rng& rng, const std::vector<int>& positions) {
  int terms = p.kind == Kind::Inline ? 1 + rng.below(2) : rng.below(3);
  for (int t = 0; t < terms; ++t) {
    Term term;
    term.op = rng.below(3);
    if (p.kind == Kind::Inline) {
      term.a.pos = positions[rng.below(static_cast<int>(positions.size()))];
      term.a.slot = rng.below(kSlotCount);
      term.b = randomOperand(rng, positions, false);
    } else {
      term.a.pos = -1;
      term.a.slot = rng.below(kSlotCount);
      term.b = randomOperand(rng, positions, true);
    }
    p.terms.push_back(term);
  }
  if (p.kind == Kind::ObjUnique) {
    p.keyPos = positions[rng.below(static_cast<int>(positions.size()))];
  }
  p.nullJoin = p.terms.empty() && p.kind != Kind::ObjUnique && rng.chance(50);
  bool keyable = p.kind == Kind::Plain || p.kind == Kind::ObjUnique ||
                 isCounted(p.kind);
  for (int t = 0; keyable && t < static_cast<int>(p.terms.size()); ++t) {
    const Term& term = p.terms[t];
    if (term.op == kEq && term.a.pos == -1 && term.b.pos >= 0 && rng.chance(50)) {
      p.eqTerm = t;
      break;
    }
  }
}

void countTest(PatternPlan& p, Rng& rng) {
  if (p.kind != Kind::Count && p.kind != Kind::Collect) return;
  p.countOp = rng.below(2) == 0 ? kGe : (rng.chance(50) ? kEq : kLt);
  p.countK = rng.below(3);
  p.nullCollect = p.kind == Kind::Collect && rng.chance(30);
}

// A rule with a time window on its first fact, then up to two patterns of
// classes unrelated to each other and to the first one's.
RulePlan waitRule(NetPlan& plan, Rng& rng, int tickDisc,
                  const std::set<int>& packetsOfAlphas) {
  std::vector<int> free;
  for (int c = 0; c < static_cast<int>(plan.kind.size()); ++c) {
    if (plan.kind[c] != 2 && c != plan.tick) free.push_back(c);
  }
  auto takeClass = [&]() {
    if (free.empty()) return -1;
    int c = free[rng.below(static_cast<int>(free.size()))];
    std::vector<int> left;
    for (int o : free) {
      if (!related(plan, c, o)) left.push_back(o);
    }
    free = left;
    return c;
  };
  RulePlan rule;
  PatternPlan head;
  head.kind = Kind::Plain;
  head.node = static_cast<int>(plan.rules.size());
  head.disc = newDisc(plan, rng, takeClass());
  rule.pats.push_back(head);
  PatternPlan wait;
  wait.kind = Kind::Wait;
  wait.disc = tickDisc;
  wait.waitSlot = rng.below(kSlotCount);
  wait.waitOffset = rng.below(2);
  wait.node = plan.joins++;
  rule.pats.push_back(wait);
  rule.wait = 1;
  const std::vector<int> positions(1, 0);
  int more = rng.below(3);
  for (int j = 0; j < more; ++j) {
    static const Kind kinds[] = {Kind::Plain, Kind::Plain, Kind::ObjUnique,
                                 Kind::Exists, Kind::Not, Kind::Count,
                                 Kind::Collect, Kind::Inline};
    PatternPlan p;
    p.kind = kinds[rng.below(8)];
    int c = p.kind == Kind::Inline ? -1 : takeClass();
    if (c < 0) p.kind = Kind::Inline;
    p.node = plan.joins++;
    if (c >= 0) {
      p.disc = newDisc(plan, rng, c);
      plan.discs[p.disc].right = plan.rights++;
    }
    countTest(p, rng);
    addTerms(p, rng, positions);
    rule.pats.push_back(p);
  }
  rule.dynamic = rng.chance(35);
  if (rule.dynamic) {
    rule.prioTerms.push_back({0, rng.below(kSlotCount)});
    rule.prioOffset = rng.below(3) - 1;
  }
  rule.staticPrio = rng.chance(70) ? 0 : rng.below(3);
  rule.watchdog = rng.chance(85);
  chooseMasks(rule, rng);
  // A wait join that stopped an update would stop a refresh as well.
  rule.pats[1].noUpdateMask = 0;
  if (plan.packets > 0 && rng.chance(30)) {
    int p = rng.below(plan.packets);
    if (!packetsOfAlphas.count(p)) rule.packet = p;
  }
  return rule;
}

}  // namespace

NetPlan generateNet(uint64_t seed) {
  Rng rng(seed);
  NetPlan plan;
  const bool keyFocus = rng.chance(33);
  int classes = 1 + rng.below(3);
  for (int c = 0; c < classes; ++c) {
    plan.superOf.push_back(c > 0 && rng.chance(30) ? rng.below(c) : -1);
    plan.kind.push_back(rng.chance(30) ? 1 : 0);
  }
  // Half the rulesets have a logical class, the last: no class derives
  // from it.
  const int logical = rng.chance(50) ? classes : -1;
  if (logical >= 0) {
    plan.superOf.push_back(-1);
    plan.kind.push_back(2);
  }
  plan.packets = rng.below(3);
  std::set<int> packetsOfAlphas;
  int rules = 1 + rng.below(6);
  int alphas = 0;
  for (int r = 0; r < rules; ++r) {
    RulePlan rule;
    int n = 1 + rng.below(4);
    for (int j = 0; j < n; ++j) {
      PatternPlan p;
      int k = rng.below(100);
      if (j == 0) {
        p.kind = k < 50 ? Kind::Plain
                 : k < 60 ? Kind::Exists
                 : k < 70 ? Kind::Not
                 : k < 80 ? Kind::Count
                 : k < 90 ? Kind::Collect
                          : Kind::Packet;
      } else if (keyFocus && k < 55) {
        p.kind = k < 15 ? Kind::Exists
                 : k < 25 ? Kind::Not
                 : k < 35 ? Kind::Count
                 : k < 45 ? Kind::Collect
                          : Kind::ObjUnique;
      } else {
        p.kind = k < 35 ? Kind::Plain
                 : k < 45 ? Kind::ObjUnique
                 : k < 55 ? Kind::Exists
                 : k < 65 ? Kind::Not
                 : k < 75 ? Kind::Count
                 : k < 85 ? Kind::Collect
                 : k < 93 ? Kind::Inline
                          : Kind::Packet;
      }
      if (p.kind == Kind::Packet && plan.packets == 0) p.kind = Kind::Plain;
      std::vector<int> positions = objectPositions(rule, j);
      if (p.kind == Kind::ObjUnique && positions.empty()) p.kind = Kind::Plain;
      if (p.kind == Kind::Inline && positions.empty()) p.kind = Kind::Exists;
      if (j == 0) {
        p.node = alphas++;
      } else {
        p.node = plan.joins++;
      }
      if (p.kind == Kind::Packet) {
        p.packet = rng.below(plan.packets);
        p.packetState = rng.chance(30) ? 0 : 1;
        if (j == 0) packetsOfAlphas.insert(p.packet);
      } else if (p.kind != Kind::Inline) {
        p.disc = pickDisc(plan, rng, j > 0);
      }
      countTest(p, rng);
      if (j > 0 && p.kind != Kind::Packet) {
        addTerms(p, rng, positions);
        if (keyFocus) focusOnKeys(plan, rule, p, rng, positions);
      }
      rule.pats.push_back(p);
    }
    std::vector<int> positions = objectPositions(rule, n);
    rule.dynamic = !positions.empty() && rng.chance(35);
    if (rule.dynamic) {
      int terms = 1 + rng.below(2);
      for (int t = 0; t < terms; ++t) {
        rule.prioTerms.push_back(
            {positions[rng.below(static_cast<int>(positions.size()))],
             rng.below(kSlotCount)});
      }
      rule.prioOffset = rng.below(3) - 1;
    }
    rule.staticPrio = rng.chance(70) ? 0 : rng.below(3);
    chooseMasks(rule, rng);
    if (logical >= 0 && canJustify(plan, rule) && rng.chance(70)) {
      rule.asserts = logical;
    }
    plan.rules.push_back(rule);
  }
  // A packet whose state a first pattern tests holds no rules (see README:
  // its alpha tokens would otherwise be re-evaluated at unpredictable points
  // of an operation after a reset).
  for (RulePlan& rule : plan.rules) {
    if (plan.packets > 0 && rng.chance(40)) {
      int p = rng.below(plan.packets);
      if (!packetsOfAlphas.count(p)) rule.packet = p;
    }
  }
  int handles = 5 + rng.below(6);
  for (int h = 0; h < handles; ++h) {
    plan.handleClass.push_back(rng.below(static_cast<int>(plan.superOf.size())));
  }
  for (int h = 0; logical >= 0 && h < 4; ++h) plan.handleClass.push_back(logical);
  // Rulesets with time windows: their own generator, so that the others stay
  // as they were.
  Rng waits(seed ^ 0xA5A5F00Dull);
  if (waits.chance(40)) {
    plan.tick = static_cast<int>(plan.superOf.size());
    plan.superOf.push_back(-1);
    plan.kind.push_back(1);
    int tickDisc = newDisc(plan, waits, plan.tick);
    plan.discs[tickDisc].nullTest = true;
    plan.discs[tickDisc].right = plan.rights++;
    for (int r = 1 + waits.below(2); r > 0; --r) {
      plan.rules.push_back(waitRule(plan, waits, tickDisc, packetsOfAlphas));
    }
  }
  return plan;
}

NetPlan soakNet() {
  NetPlan plan;
  plan.superOf = {-1, 0};
  plan.kind = {0, 0};
  plan.packets = 1;
  auto disc = [&plan](int cls, int slot, int op, int constant) {
    DiscPlan d;
    d.cls = cls;
    d.nullTest = slot < 0;
    d.slot = slot < 0 ? 0 : slot;
    d.op = op;
    d.constant = constant;
    d.right = plan.rights++;
    plan.discs.push_back(d);
    return static_cast<int>(plan.discs.size()) - 1;
  };
  int all0 = disc(0, -1, kEq, 0);
  int all1 = disc(1, -1, kEq, 0);
  int low = disc(0, 0, kLt, 2);
  auto eq = [](int slot, int pos, int slot2) {
    Term t;
    t.a.pos = -1;
    t.a.slot = slot;
    t.op = kEq;
    t.b.pos = pos;
    t.b.slot = slot2;
    return t;
  };
  int alphas = 0;
  const Kind kinds[] = {Kind::Plain, Kind::ObjUnique, Kind::Exists, Kind::Not,
                        Kind::Count, Kind::Collect, Kind::Inline, Kind::Packet};
  for (Kind k : kinds) {
    RulePlan rule;
    PatternPlan head;
    head.kind = Kind::Plain;
    head.disc = all0;
    head.node = alphas++;
    head.noUpdateMask = 0;
    rule.pats.push_back(head);
    PatternPlan p;
    p.kind = k;
    p.node = plan.joins++;
    p.indepMask = 0;
    p.noUpdateMask = 0;
    if (k == Kind::Packet) {
      p.packet = 0;
    } else if (k == Kind::Inline) {
      Term t;
      t.a.pos = 0;
      t.a.slot = 1;
      t.op = kLt;
      t.b.pos = -2;
      t.b.constant = 2;
      p.terms.push_back(t);
    } else {
      p.disc = k == Kind::Plain ? all1 : low;
      p.terms.push_back(eq(1, 0, 1));
      p.eqTerm = 0;
      if (k == Kind::ObjUnique) p.keyPos = 0;
      p.countOp = kGe;
      p.countK = 1;
    }
    rule.pats.push_back(p);
    rule.dynamic = k == Kind::Plain;
    if (rule.dynamic) rule.prioTerms.push_back({0, 2});
    plan.rules.push_back(rule);
  }
  // First patterns of the token kinds.
  const Kind heads[] = {Kind::Exists, Kind::Not, Kind::Count, Kind::Collect};
  for (Kind k : heads) {
    RulePlan rule;
    PatternPlan head;
    head.kind = k;
    head.disc = low;
    head.node = alphas++;
    head.countOp = kGe;
    head.countK = 2;
    rule.pats.push_back(head);
    plan.rules.push_back(rule);
  }
  for (int h = 0; h < 24; ++h) plan.handleClass.push_back(h % 3 == 2 ? 1 : 0);
  return plan;
}

std::string NetPlan::describe() const {
  static const char* kinds[] = {"plain", "unique", "exists", "not",
                                "count", "collect", "inline", "packet",
                                "wait"};
  static const char* ops[] = {"==", "!=", "<", ">="};
  std::ostringstream out;
  for (size_t c = 0; c < superOf.size(); ++c) {
    out << "class " << c << " super " << superOf[c] << " kind " << kind[c]
        << "\n";
  }
  for (size_t d = 0; d < discs.size(); ++d) {
    const DiscPlan& s = discs[d];
    out << "disc " << d << " class " << s.cls << " right " << s.right;
    if (s.nullTest) {
      out << " null\n";
    } else {
      out << " s" << s.slot << ops[s.op] << s.constant << "\n";
    }
  }
  auto operand = [](const Operand& o) {
    if (o.pos == -2) return std::to_string(o.constant);
    return (o.pos == -1 ? std::string("I") : "t" + std::to_string(o.pos)) +
           ".s" + std::to_string(o.slot);
  };
  for (size_t r = 0; r < rules.size(); ++r) {
    const RulePlan& rule = rules[r];
    out << "rule " << r << " packet " << rule.packet << " prio "
        << rule.staticPrio;
    if (rule.asserts >= 0) out << " asserts " << rule.asserts;
    if (rule.watchdog) out << " watchdog";
    if (rule.dynamic) {
      out << " dynamic(";
      for (auto& t : rule.prioTerms) out << " t" << t.first << ".s" << t.second;
      out << " +" << rule.prioOffset << ")";
    }
    out << "\n";
    for (const PatternPlan& p : rule.pats) {
      out << "  " << kinds[static_cast<int>(p.kind)] << " node " << p.node
          << " disc " << p.disc << " indep " << p.indepMask << " noupd "
          << p.noUpdateMask;
      for (const Term& t : p.terms) {
        out << " [" << operand(t.a) << ops[t.op] << operand(t.b) << "]";
      }
      if (p.kind == Kind::Count || p.kind == Kind::Collect) {
        out << (p.nullCollect ? " nullcollect" : "") << " n" << ops[p.countOp]
            << p.countK;
      }
      if (p.kind == Kind::Packet) {
        out << " packet " << p.packet << " state " << p.packetState;
      }
      if (p.kind == Kind::Wait) {
        out << " until t0.s" << p.waitSlot << "+" << p.waitOffset;
      }
      if (p.keyPos >= 0) out << " key t" << p.keyPos;
      if (p.eqTerm >= 0) out << " eqkeys " << p.eqTerm;
      if (p.nullJoin) out << " nulljoin";
      out << "\n";
    }
  }
  if (tick >= 0) out << "clock class " << tick << "\n";
  out << "handles";
  for (int c : handleClass) out << " " << c;
  out << "\n";
  return out.str();
}

std::string formatOps(const std::vector<Operation>& ops) {
  std::string out;
  for (const Operation& op : ops) {
    if (!out.empty()) out += ' ';
    out += op.kind;
    switch (op.kind) {
      case 'A':
      case 'U':
        out += std::to_string(op.a);
        if (op.slot >= 0) {
          out += '.' + std::to_string(op.slot) + '=' + std::to_string(op.value);
        }
        if (op.kind == 'U' && op.flag) out += 'r';
        break;
      case 'R':
        out += std::to_string(op.a);
        if (op.flag) out += 'd';
        break;
      case 'G':
        out += std::to_string(op.flag);
        break;
      case 'T':
        out += std::to_string(op.value);
        break;
      case 'P':
      case 'Q':
        out += std::to_string(op.a);
        break;
      default:
        break;
    }
  }
  return out;
}

bool parseOps(const std::string& text, std::vector<Operation>* ops) {
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    Operation op;
    op.kind = word[0];
    const char* p = word.c_str() + 1;
    auto number = [&p]() {
      int v = 0;
      while (*p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
      return v;
    };
    switch (op.kind) {
      case 'A':
      case 'U':
        op.a = number();
        if (*p == '.') {
          ++p;
          op.slot = number();
          if (*p != '=') return false;
          ++p;
          op.value = number();
        }
        if (*p == 'r') {
          op.flag = 1;
          ++p;
        }
        break;
      case 'R':
        op.a = number();
        if (*p == 'd') {
          op.flag = 1;
          ++p;
        }
        break;
      case 'G':
        op.flag = number();
        break;
      case 'T':
        op.value = number();
        break;
      case 'P':
      case 'Q':
        op.a = number();
        break;
      case 'F':
      case 'X':
      case 'Z':
        break;
      default:
        return false;
    }
    if (*p != 0) return false;
    ops->push_back(op);
  }
  return true;
}

namespace {

Operation randomOp(const NetPlan& plan, Rng& rng) {
  Operation op;
  int handles = static_cast<int>(plan.handleClass.size());
  int k = rng.below(1000);
  op.a = rng.below(handles);
  if (k < 280) {
    op.kind = 'A';
    if (rng.chance(30)) {
      op.slot = rng.below(kSlotCount);
      op.value = rng.below(kValues);
    }
  } else if (k < 560) {
    op.kind = 'U';
    op.flag = rng.chance(50);
    if (rng.chance(85)) {
      op.slot = rng.below(kSlotCount);
      op.value = rng.below(kValues);
    }
  } else if (k < 700) {
    op.kind = 'R';
    op.flag = rng.chance(50);
  } else if (k < 800) {
    op.kind = 'F';
  } else if (k < 850) {
    op.kind = 'G';
    op.flag = rng.below(4);
  } else if (k < 865) {
    op.kind = 'X';
  } else if (k < 880) {
    op.kind = 'Z';
  } else if (plan.packets > 0) {
    op.kind = rng.chance(55) ? 'P' : 'Q';
    op.a = rng.below(plan.packets);
  } else {
    op.kind = 'A';
  }
  return op;
}

}  // namespace

std::vector<Operation> generateOps(const NetPlan& plan, uint64_t seed,
                                   int count) {
  Rng rng(seed ^ 0x5DEECE66Dull);
  // The clock moves forward, on a generator of its own (rulesets without a
  // clock keep their sequences).
  Rng clock(seed ^ 0x7C10C4ull);
  int time = 0;
  std::vector<Operation> ops;
  for (int i = 0; i < count; ++i) {
    if (plan.tick >= 0 && clock.chance(12)) {
      Operation t;
      t.kind = 'T';
      time += 1 + clock.below(2);
      t.value = time;
      ops.push_back(t);
    }
    ops.push_back(randomOp(plan, rng));
  }
  return ops;
}

std::vector<Operation> decodeOps(const NetPlan& plan, const uint8_t* data,
                                 size_t size) {
  std::vector<Operation> ops;
  int handles = static_cast<int>(plan.handleClass.size());
  int time = 0;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint8_t k = data[i], v = data[i + 1];
    Operation op;
    op.a = v % handles;
    int choice = k % 16;
    if (choice < 4) {
      op.kind = 'A';
      if (k & 0x80) {
        op.slot = (v >> 4) % kSlotCount;
        op.value = (v >> 6) % kValues;
      }
    } else if (choice < 8) {
      op.kind = 'U';
      op.flag = (k >> 4) & 1;
      if (k & 0x80) {
        op.slot = (v >> 4) % kSlotCount;
        op.value = (v >> 6) % kValues;
      }
    } else if (choice < 10) {
      op.kind = 'R';
      op.flag = (k >> 4) & 1;
    } else if (choice < 12) {
      op.kind = 'F';
    } else if (choice == 12) {
      op.kind = 'G';
      op.flag = v % 4;
    } else if (choice == 13 && plan.tick >= 0 && (k & 0x20)) {
      op.kind = 'T';
      time += 1 + v % 3;
      op.value = time;
    } else if (choice == 13) {
      op.kind = (k & 0x10) ? 'X' : 'Z';
    } else if (plan.packets > 0) {
      op.kind = choice == 14 ? 'P' : 'Q';
      op.a = v % plan.packets;
    } else {
      op.kind = 'F';
    }
    ops.push_back(op);
  }
  return ops;
}

}  // namespace qelmodel
