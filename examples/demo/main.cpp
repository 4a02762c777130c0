// A small ruleset, written the way a rule compiler emits one, that shows
// packets, a negated condition, a logical object and a watchdog at work.
//
//   no-orders      : not Order                      -> "no open orders"
//   flag-big-order : Order(amount > 100)            -> logical Flag(order)
//                    (in packet "review")
//   paid-in-time   : Order o, within 10 time units,
//                    Payment(order == o)            -> "paid in time"
//                    watchdog                       -> "not paid in time"
//   flag-seen      : Flag f                         -> "flagged"
#include <cstdio>
#include <iostream>

#include "qel.h"

namespace {

struct Order {
  int id;
  int amount;
  int placedAt;
};
struct Payment {
  int orderId;
};
struct Tick {};
struct Flag {
  const Order* order;
};

enum ClassIndex { kOrder, kPayment, kTick, kFlag };

unsigned char sameFlag(void* held, void* asserted) {
  return static_cast<Flag*>(held)->order == static_cast<Flag*>(asserted)->order;
}

class FlagClass : public QelClassNode {
 public:
  FlagClass(QelNetwork* net, int index) : QelClassNode(net, index) {}
  void deleteInstance(void* object) override { delete static_cast<Flag*>(object); }
};

class DemoContext;

class DemoNetwork : public QelNetwork {
 public:
  DemoNetwork();
};

const Order* orderOf(QelPartial* p) { return static_cast<Order*>(p->record->object); }

class DemoContext : public QelContext {
 public:
  explicit DemoContext(DemoNetwork* net) { initialize(net); }
  ~DemoContext() override = default;
  const char* getRulesetName() const override { return "orders"; }

  // Tests.
  unsigned char isBig(QelInfo* info) {
    return static_cast<Order*>(info->object)->amount > 100;
  }
  unsigned char paysOrder(QelPartial* p, QelInfo* info) {
    return static_cast<Payment*>(info->object)->orderId == orderOf(p->tailn(1))->id;
  }
  int deadline(QelPartial* p) { return orderOf(p)->placedAt + 10; }

  // Actions.
  void noOrders(QelPartial*) { std::printf("  fire no-orders: no open orders\n"); }
  void flagBigOrder(QelPartial* p) {
    const Order* order = orderOf(p);
    std::printf("  fire flag-big-order: order %d (amount %d)\n", order->id,
                order->amount);
    justification = p;
    assertObject(kFlag, new Flag{order});
    justification = nullptr;
  }
  void paidInTime(QelPartial* p) {
    std::printf("  fire paid-in-time: order %d\n", orderOf(p->tailn(2))->id);
  }
  void notPaidInTime(QelPartial* wait) {
    std::printf("  fire watchdog: order %d not paid in time\n",
                orderOf(wait->tailn(1))->id);
  }
  void flagSeen(QelPartial* p) {
    std::printf("  fire flag-seen: order %d is flagged\n",
                static_cast<Flag*>(p->record->object)->order->id);
  }

  void run(const char* what) {
    std::printf("%s\n", what);
    agenda->fireAllRules();
  }

 protected:
  static const char* label(const QelInstance* i) {
    const QelRuleMem* rule = i->action->ruleMem;
    return i->action == rule->watchdogAction ? "watchdog" : rule->ruleNode->name;
  }
  void notifyAddRule(QelInstance* i) override {
    std::printf("  agenda + %s\n", label(i));
  }
  void notifyRemoveRule(QelInstance* i) override {
    std::printf("  agenda - %s\n", label(i));
  }
  void notifyActivatePacket(QelPacketMem* p) override {
    std::printf("  packet %s active\n", p->packet->name);
  }
  void notifyBlockPacket(QelPacketMem* p) override {
    std::printf("  packet %s idle\n", p->packet->name);
  }
  void notifyDeblockPacket(QelPacketMem* p) override {
    std::printf("  packet %s has work\n", p->packet->name);
  }
  void notifyAssertLogical(QelInfo*) override { std::printf("  logical Flag asserted\n"); }
  void notifyRetractLogical(QelInfo*) override {
    std::printf("  logical Flag retracted: its support is gone\n");
  }
  void notifyAddWatchdog(QelRuleMem* r, QelWaitPartial* w) override {
    std::printf("  watchdog armed for %s until %d\n", r->ruleNode->name, w->deadline);
  }
  void notifyDisableWatchdog(QelRuleMem* r, QelPartial*) override {
    std::printf("  watchdog of %s disabled: completed in time\n", r->ruleNode->name);
  }
};

char kRuleset[] = "orders";
char kReview[] = "review";
char kNoOrders[] = "no-orders";
char kFlagBig[] = "flag-big-order";
char kPaid[] = "paid-in-time";
char kFlagSeen[] = "flag-seen";
char kOrderName[] = "Order";
char kPaymentName[] = "Payment";
char kTickName[] = "Tick";
char kFlagName[] = "Flag";
char kAmount[] = "amount";
char kInteger[] = "integer";
char kOrderSlot[] = "order";
char kPointer[] = "pointer";

template <typename T>
T* at(const QelList& list, int i) {
  return static_cast<T*>(list[i]);
}

DemoNetwork::DemoNetwork() : QelNetwork(kRuleset) {
  // 1 packet, 4 rules, 5 discrimination, 4 alpha, 2 right and 2 join nodes.
  init(0, 1, 4, 5, 4, 2, 2);
  QelClassNode* order = new QelClassNode(this, kOrder);
  order->name = kOrderName;
  order->kind = 1;
  classes.append(order);
  order->initSlot(kAmount, kInteger, QelSlotReadOnly, kInteger);
  QelClassNode* payment = new QelClassNode(this, kPayment);
  payment->name = kPaymentName;
  payment->kind = 1;
  classes.append(payment);
  payment->initSlot(kOrderSlot, kInteger, QelSlotReadOnly, kInteger);
  QelClassNode* tick = new QelClassNode(this, kTick);
  tick->name = kTickName;
  tick->kind = 1;
  classes.append(tick);
  FlagClass* flag = new FlagClass(this, kFlag);
  flag->name = kFlagName;
  flag->kind = 2;
  flag->equality = sameFlag;
  classes.append(flag);
  flag->initSlot(kOrderSlot, kPointer, QelSlotReadOnly, kPointer);

  initPacket(at<QelPacket>(packets, 0), kReview, 0, 0);

  // Discrimination: every order, big orders, payments, ticks, flags.
  initDisc(at<QelDiscNode>(discs, 0), kOrder, -1, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 1), kOrder, -1,
           static_cast<QelDiscTest>(&DemoContext::isBig));
  initDisc(at<QelDiscNode>(discs, 2), kPayment, 1, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 3), kTick, 0, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 4), kFlag, -1, GetQelNullDisc());

  // Alpha 0: Order (head of paid-in-time); 1: not Order; 2: big Order;
  // 3: Flag.
  addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
  addAlphaNode(at<QelDiscNode>(discs, 0), 1, -1, QelPatternNot);
  addAlphaNode(at<QelDiscNode>(discs, 1), 2, -1, QelPatternPlain);
  addAlphaNode(at<QelDiscNode>(discs, 4), 3, -1, QelPatternPlain);

  // Join 0 waits on each order, expiring when a tick arrives; join 1 pairs
  // the waiting order with its payment.
  initJoin(at<QelJoinNode>(joins, 0), 0, 0, 0, GetQelNullJoin(), -1, -1,
           QelPatternWait);
  at<QelJoinNode>(joins, 0)->waitTimeFunction =
      static_cast<QelWaitTimeFunction>(&DemoContext::deadline);
  initJoin(at<QelJoinNode>(joins, 1), 1, 0, 1,
           static_cast<QelJoinTest>(&DemoContext::paysOrder), 0, -1,
           QelPatternPlain);

  initRule(at<QelRuleNode>(rules, 0), -1, kNoOrders, GetQelNullPrio(), 0, -1, -1);
  initRule(at<QelRuleNode>(rules, 1), 0, kFlagBig, GetQelNullPrio(), 10, -1, -1);
  initRule(at<QelRuleNode>(rules, 2), -1, kPaid, GetQelNullPrio(), 0, 1, 2);
  initRule(at<QelRuleNode>(rules, 3), -1, kFlagSeen, GetQelNullPrio(), 0, -1, -1);

  initAction(0, static_cast<QelActionFunction>(&DemoContext::noOrders), 0, 0, 1);
  initAction(1, static_cast<QelActionFunction>(&DemoContext::flagBigOrder), 0, 0, 2);
  initAction(2, static_cast<QelActionFunction>(&DemoContext::paidInTime), 0, 1, 1);
  initAction(2, static_cast<QelActionFunction>(&DemoContext::notPaidInTime), 1, 1, 0);
  initAction(3, static_cast<QelActionFunction>(&DemoContext::flagSeen), 0, 0, 3);
}

}  // namespace

int main() {
  DemoNetwork network;
  network.describe(std::cout);
  std::printf("\n");

  DemoContext context(&network);
  context.run("-- start: nothing in working memory");

  unsigned char found = 0;
  std::printf("-- activate packet review\n");
  context.activatePacket("review", &found);

  Order small{1, 50, 0};
  Order big{2, 500, 0};
  std::printf("-- time 0: orders 1 (amount 50) and 2 (amount 500)\n");
  context.assertObject(kOrder, &small);
  context.assertObject(kOrder, &big);
  context.run("-- fire");

  Payment pay{1};
  context.time = 5;
  std::printf("-- time 5: payment for order 1\n");
  context.assertObject(kPayment, &pay);
  context.run("-- fire");

  Tick tick;
  context.time = 12;
  std::printf("-- time 12: clock tick\n");
  context.assertObject(kTick, &tick);
  context.run("-- fire");

  std::printf("-- order 2 is withdrawn\n");
  context.retractObject(&big, 0);
  std::printf("-- order 1 and its payment are archived\n");
  context.retractObject(&pay, 0);
  context.retractObject(&small, 0);
  context.run("-- fire");
  return 0;
}
