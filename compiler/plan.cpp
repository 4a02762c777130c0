#include "plan.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace qelc {

namespace {

// Sorted conjunct texts: conjunctions are pure, so their order is free.
std::string testsKey(const std::vector<const Expr*>& tests, int self) {
  std::vector<std::string> texts;
  for (const Expr* t : tests) texts.push_back(t->print(self));
  std::sort(texts.begin(), texts.end());
  std::string key;
  for (const std::string& t : texts) key += t + " ";
  return key;
}

unsigned long long linksRead(const std::vector<const Expr*>& tests) {
  unsigned long long links = 0;
  for (const Expr* t : tests) t->collectLinks(links);
  return links;
}

// An equality between a slot of the new object (link k) and a value of
// earlier links is an equality key.
bool keyOf(const Expr* test, int k, KeyPair& pair) {
  if (test->kind != Expr::kCall || test->name != "eq" || test->args.size() != 2) return false;
  for (int side = 0; side < 2; ++side) {
    const Expr& mine = test->args[side];
    const Expr& other = test->args[1 - side];
    if (mine.kind != Expr::kRef || mine.link != k || mine.slot < 0) continue;
    unsigned long long links = 0;
    other.collectLinks(links);
    if (links != 0 && (links >> k) == 0) {
      pair = KeyPair{&other, &mine};
      return true;
    }
  }
  return false;
}

class Planner {
 public:
  Planner(const Model& model, Plan& plan) : model_(model), plan_(plan) {}

  void run() {
    for (size_t r = 0; r < model_.rules.size(); ++r) addRule(static_cast<int>(r));
    putFirstLinksFirst();
    computeMasks();
  }

 private:
  int discFor(const Link& link, int r, int k) {
    std::vector<const Expr*> tests;
    for (const Expr& t : link.objectTests) tests.push_back(&t);
    const int templ = link.kind == Link::kRoot ? rootClass() : link.templ;
    // A pattern's first link and its later links use separate nodes even
    // for the same tests: a new object then reaches every first link (left
    // activations) before any join's right input, as in CLIPS.
    std::string key = std::string(k == 0 ? "first " : "later ") + std::to_string(templ) + ":" +
                      (link.kind == Link::kRoot ? "group " + std::to_string(link.templ) + " " : "") +
                      testsKey(tests, k);
    auto it = discs_.find(key);
    int d;
    if (it != discs_.end()) {
      d = it->second;
    } else {
      d = static_cast<int>(plan_.discs.size());
      DiscPlan disc;
      disc.templ = templ;
      disc.group = link.kind == Link::kRoot ? link.templ : -1;
      disc.tests = tests;
      disc.key = key;
      plan_.discs.push_back(std::move(disc));
      discs_[key] = d;
    }
    plan_.discs[d].origins.push_back(Origin{r, k});
    return d;
  }

  // A class memory visits its discrimination nodes in index order.
  void putFirstLinksFirst() {
    std::vector<int> order;
    for (int pass = 0; pass < 2; ++pass) {
      for (size_t d = 0; d < plan_.discs.size(); ++d) {
        if ((plan_.discs[d].alpha >= 0) == (pass == 0)) order.push_back(static_cast<int>(d));
      }
    }
    std::vector<int> number(order.size());
    std::vector<DiscPlan> discs;
    for (size_t n = 0; n < order.size(); ++n) {
      number[order[n]] = static_cast<int>(n);
      discs.push_back(std::move(plan_.discs[order[n]]));
    }
    plan_.discs.swap(discs);
    for (AlphaPlan& a : plan_.alphas) a.disc = number[a.disc];
    for (int& d : plan_.rights) d = number[d];
  }

  int rootClass() const { return static_cast<int>(model_.templates.size()); }

  void addRule(int r) {
    const RuleModel& rule = model_.rules[r];
    const int d0 = discFor(rule.links[0], r, 0);
    if (plan_.discs[d0].alpha < 0) {
      plan_.discs[d0].alpha = static_cast<int>(plan_.alphas.size());
      plan_.alphas.push_back(AlphaPlan{d0, -1});
    }
    bool leftIsJoin = false;
    int left = plan_.discs[d0].alpha;
    for (size_t k = 1; k < rule.links.size(); ++k) {
      const Link& link = rule.links[k];
      const int d = discFor(link, r, static_cast<int>(k));
      if (plan_.discs[d].right < 0) {
        plan_.discs[d].right = static_cast<int>(plan_.rights.size());
        plan_.rights.push_back(d);
      }
      JoinPlan join;
      join.kind = link.kind == Link::kNot ? JoinPlan::kNot
                  : link.kind == Link::kExists ? JoinPlan::kExists
                                               : JoinPlan::kPlain;
      join.link = static_cast<int>(k);
      join.leftIsJoin = leftIsJoin;
      join.left = left;
      join.right = plan_.discs[d].right;
      for (const Expr& t : link.joinTests) join.tests.push_back(&t);
      join.key = std::to_string(leftIsJoin) + ":" + std::to_string(left) + ":" +
                 std::to_string(join.right) + ":" + std::to_string(join.kind) + ":" +
                 testsKey(join.tests, -1);
      auto it = joins_.find(join.key);
      int j;
      if (it != joins_.end()) {
        j = it->second;
      } else {
        j = static_cast<int>(plan_.joins.size());
        for (const Expr* t : join.tests) {
          KeyPair pair;
          if (join.keys.size() < 3 && keyOf(t, join.link, pair)) join.keys.push_back(pair);
        }
        if (leftIsJoin) plan_.joins[left].successors.push_back(j);
        joins_[join.key] = j;
        plan_.joins.push_back(std::move(join));
      }
      plan_.joins[j].origins.push_back(Origin{r, static_cast<int>(k)});
      leftIsJoin = true;
      left = j;
    }
    plan_.rules.push_back(RulePlan{leftIsJoin, left});
  }

  // Bit d of a node's masks describes the object d links above the
  // join's own object (0 for a join's right object; an alpha's own object
  // is at depth 0 as well).
  static int maskWithout(unsigned long long links, int k) {
    int mask = -1;
    for (int d = 0; d <= k && d < 31; ++d) {
      if (links & (1ull << (k - d))) mask &= ~(1 << d);
    }
    return mask;
  }

  // Links read by the tests of every join below join j (or below the
  // alpha node when j is -1 and `alpha` names it).
  unsigned long long readBelow(const std::vector<int>& successors) {
    unsigned long long links = 0;
    for (int s : successors) links |= linksRead(plan_.joins[s].tests) | readBelow(plan_.joins[s].successors);
    return links;
  }

  void computeMasks() {
    std::vector<std::vector<int>> alphaSuccessors(plan_.alphas.size());
    for (size_t j = 0; j < plan_.joins.size(); ++j) {
      if (!plan_.joins[j].leftIsJoin) alphaSuccessors[plan_.joins[j].left].push_back(static_cast<int>(j));
    }
    for (size_t a = 0; a < plan_.alphas.size(); ++a) {
      plan_.alphas[a].noUpdateMask = maskWithout(readBelow(alphaSuccessors[a]), 0);
    }
    for (JoinPlan& join : plan_.joins) {
      // A join without a test pairs a new right object with every parent
      // unseen; with a test bit 0 stays clear, so that it is called.
      unsigned long long read = linksRead(join.tests);
      if (!join.tests.empty()) read |= 1ull << join.link;
      join.independenceMask = maskWithout(read, join.link);
      join.noUpdateMask = maskWithout(readBelow(join.successors), join.link);
    }
  }

  const Model& model_;
  Plan& plan_;
  std::map<std::string, int> discs_;
  std::map<std::string, int> joins_;
};

std::string hex(int mask) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(mask));
  return buffer;
}

}  // namespace

void buildPlan(const Model& model, Plan& plan) { Planner(model, plan).run(); }

std::string Plan::print() const {
  std::string s;
  for (size_t d = 0; d < discs.size(); ++d) {
    const DiscPlan& disc = discs[d];
    s += "disc " + std::to_string(d) + " class " + std::to_string(disc.templ);
    if (disc.group >= 0) s += " group " + std::to_string(disc.group);
    for (const Expr* t : disc.tests) s += " " + t->print(disc.origins[0].link);
    if (disc.right >= 0) s += " right " + std::to_string(disc.right);
    if (disc.alpha >= 0) s += " alpha " + std::to_string(disc.alpha);
    s += "\n";
  }
  for (size_t a = 0; a < alphas.size(); ++a) {
    s += "alpha " + std::to_string(a) + " noupdate " + hex(alphas[a].noUpdateMask) + "\n";
  }
  static const char* kinds[] = {"plain", "not", "exists"};
  for (size_t j = 0; j < joins.size(); ++j) {
    const JoinPlan& join = joins[j];
    s += "join " + std::to_string(j) + " " + kinds[join.kind] + " link " + std::to_string(join.link) +
         " left " + (join.leftIsJoin ? "join " : "alpha ") + std::to_string(join.left) + " right " +
         std::to_string(join.right);
    for (const Expr* t : join.tests) s += " " + t->print();
    for (const KeyPair& k : join.keys) s += " key " + k.left->print() + "=" + k.right->print();
    s += " indep " + hex(join.independenceMask) + " noupdate " + hex(join.noUpdateMask) + "\n";
  }
  for (size_t r = 0; r < rules.size(); ++r) {
    s += "rule " + std::to_string(r) + " at " + (rules[r].lastIsJoin ? "join " : "alpha ") +
         std::to_string(rules[r].last) + "\n";
  }
  return s;
}

}  // namespace qelc
