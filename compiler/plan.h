// The network plan: the nodes the generated network builds, with sharing
// decided, equality keys chosen and masks computed.
//
// Sharing: patterns of one template with the same tests on their own
// object use one discrimination node, and with it one alpha node and one
// right node; joins are shared along common rule prefixes when their left
// node, right node, kind and tests are the same. Tests are compared by
// their canonical text (Expr::print), which names slots by link number, so
// equal texts mean equal tests for every rule through the node.
#ifndef QELC_PLAN_H
#define QELC_PLAN_H

#include <string>
#include <vector>

#include "model.h"

namespace qelc {

// Where a test comes from, for the comments of generated code.
struct Origin {
  int rule;
  int link;
};

struct DiscPlan {
  int templ;           // class index
  int group = -1;      // root group for the root class, else -1
  std::vector<const Expr*> tests;  // conjuncts on the object
  int right = -1;      // right node index, -1 when no join reads it
  int alpha = -1;      // alpha node index, -1 when no rule starts here
  std::vector<Origin> origins;
  std::string key;
};

struct AlphaPlan {
  int disc;
  int noUpdateMask = -1;
};

struct KeyPair {
  const Expr* left;   // reads the left partial only
  const Expr* right;  // a slot of the new object
};

struct JoinPlan {
  enum Kind { kPlain, kNot, kExists };
  Kind kind = kPlain;
  int link;          // position of its object in every rule through it
  bool leftIsJoin;
  int left;
  int right;
  std::vector<const Expr*> tests;
  std::vector<KeyPair> keys;  // at most three equalities
  int independenceMask = -1;
  int noUpdateMask = -1;
  std::vector<Origin> origins;
  std::vector<int> successors;  // joins whose left node it is
  std::string key;
};

struct RulePlan {
  bool lastIsJoin;
  int last;  // alpha or join index of the rule's last link
};

struct Plan {
  std::vector<DiscPlan> discs;
  std::vector<AlphaPlan> alphas;
  std::vector<int> rights;  // disc index of each right node
  std::vector<JoinPlan> joins;
  std::vector<RulePlan> rules;

  std::string print() const;
};

// Plans the network of `model`, which must outlive the plan.
void buildPlan(const Model& model, Plan& plan);

}  // namespace qelc

#endif  // QELC_PLAN_H
