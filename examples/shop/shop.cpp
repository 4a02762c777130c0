// The smallest complete ruleset: one class, one discrimination test, one
// rule. "review" fires for every order above 100.
#include <cstdio>

#include "qel.h"

struct Order {
  int id;
  int amount;
};

class ShopNetwork : public QelNetwork {
 public:
  ShopNetwork();

 private:
  static char name_[], orderName_[], ruleName_[];
};

class ShopContext : public QelContext {
 public:
  explicit ShopContext(ShopNetwork* net) { initialize(net); }
  const char* getRulesetName() const override { return "shop"; }

  // The rule's test and action.
  unsigned char isBig(QelInfo* info) {
    return static_cast<Order*>(info->object)->amount > 100;
  }
  void review(QelPartial* match) {
    const Order* order = static_cast<Order*>(match->record->object);
    std::printf("review order %d (amount %d)\n", order->id, order->amount);
  }
};

char ShopNetwork::name_[] = "shop";
char ShopNetwork::orderName_[] = "Order";
char ShopNetwork::ruleName_[] = "review";

// Defined after ShopContext, whose member functions it names.
ShopNetwork::ShopNetwork() : QelNetwork(name_) {
  init(/*constants*/ 0, /*packets*/ 0, /*rules*/ 1, /*discs*/ 1,
       /*alphas*/ 1, /*rights*/ 0, /*joins*/ 0);
  QelClassNode* order = new QelClassNode(this, 0);
  order->name = orderName_;
  order->kind = 1;  // external: the application owns its objects
  classes.append(order);
  initDisc(static_cast<QelDiscNode*>(discs[0]), 0, -1,
           static_cast<QelDiscTest>(&ShopContext::isBig));
  addAlphaNode(static_cast<QelDiscNode*>(discs[0]), 0, -1, QelPatternPlain);
  initRule(static_cast<QelRuleNode*>(rules[0]), -1, ruleName_, GetQelNullPrio(),
           0, -1, -1);
  initAction(0, static_cast<QelActionFunction>(&ShopContext::review), 0, 0, 0);
}

int main() {
  ShopNetwork net;
  ShopContext ctx(&net);
  Order small{1, 40}, big{2, 250};
  ctx.assertObject(0, &small);
  ctx.assertObject(0, &big);
  ctx.agenda->fireAllRules();
  return 0;
}
