// Several rules sharing alpha, right and join memories, through a mixed
// sequence of asserts, retracts and updates, firing, and more changes.
//
// Classes: Order (a = customer id, b = amount), Customer (a = 1 for gold),
// Hold (a = id of the order it holds), Item (a = order id, b = price).
//
//   J0  Order(o), Customer(c)  c.id == o.a           plain
//   J1  J0, not Hold(h)        h.a == o.id           not
//   J2  J0, Item(i)            i.a == o.id           plain
//   J3  Item(i), exists Hold(h) h.a == i.a           exists
//
//   R0 known    ends at J0      priority 0
//   R1 release  ends at J1      priority 10; doubles o.b (a mode-2 update)
//   R2 item     ends at J2      priority i.b + o.b
//   R3 gold     Customer(c) with c.a == 1, priority 5
//   R4 held     ends at J3      priority 1; retracts the item
//
// The alpha memory of Order and J0 feed three rules; the right memory of
// Hold feeds J1 and J3; Item's discrimination memory feeds J2's right
// input and J3's alpha memory; Customer has two discrimination memories.
#include <gtest/gtest.h>

#include "support/chain.h"

using namespace qeltest;

namespace {

using Lines = std::vector<std::string>;

enum { kOrder = 0, kCustomer = 1, kHold = 2, kItem = 3 };

struct Shop {
  char name[8] = "shop";
  QelNetwork net{name};
  TestContext ctx;
  Lines fired;

  Shop() {
    net.init(0, 0, 5, 5, 3, 3, 4);
    addClass(net, "Order");
    addClass(net, "Customer");
    addClass(net, "Hold");
    addClass(net, "Item");
    net.initDisc(discAt(net, 0), kOrder, -1, GetQelNullDisc());
    net.initDisc(discAt(net, 1), kCustomer, 0, GetQelNullDisc());
    net.initDisc(discAt(net, 2), kHold, 1, GetQelNullDisc());
    net.initDisc(discAt(net, 3), kItem, 2, GetQelNullDisc());
    net.initDisc(discAt(net, 4), kCustomer, -1, TestContext::disc(4));
    net.addAlphaNode(discAt(net, 0), 0, 0, QelPatternPlain);
    net.addAlphaNode(discAt(net, 3), 1, 0, QelPatternPlain);
    net.addAlphaNode(discAt(net, 4), 2, 0, QelPatternPlain);
    net.initJoin(joinAt(net, 0), 0, 0, 0, TestContext::join(0), 0, 0,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 1), 1, 0, 1, TestContext::join(1), 0, 0,
                 QelPatternNot);
    net.initJoin(joinAt(net, 2), 1, 0, 2, TestContext::join(2), 0, 0,
                 QelPatternPlain);
    net.initJoin(joinAt(net, 3), 0, 1, 1, TestContext::join(3), 0, 0,
                 QelPatternExists);
    const QelPriorityFunction none = GetQelNullPrio();
    net.initRule(ruleAt(net, 0), -1, const_cast<char*>("known"), none, 0, 0,
                 -1);
    net.initRule(ruleAt(net, 1), -1, const_cast<char*>("release"), none, 10, 1,
                 -1);
    net.initRule(ruleAt(net, 2), -1, const_cast<char*>("item"),
                 TestContext::prio(2), 0, 2, -1);
    net.initRule(ruleAt(net, 3), -1, const_cast<char*>("gold"), none, 5, -1,
                 -1);
    net.initRule(ruleAt(net, 4), -1, const_cast<char*>("held"), none, 1, 3, -1);
    net.initAction(0, TestContext::action(0), 0, 1, 0);
    net.initAction(1, TestContext::action(1), 0, 1, 1);
    net.initAction(2, TestContext::action(2), 0, 1, 2);
    net.initAction(3, TestContext::action(3), 0, 0, 2);
    net.initAction(4, TestContext::action(4), 0, 1, 3);

    ctx.discFns[4] = [](QelInfo* c) { return factOf(c)->a == 1; };
    ctx.joinFns[0] = [](QelPartial* p, QelInfo* c) {
      return factAt(p, 1, 0)->a == factOf(c)->id;
    };
    ctx.joinFns[1] = [](QelPartial* p, QelInfo* h) {
      return factOf(h)->a == factAt(p, 2, 0)->id;
    };
    ctx.joinFns[2] = [](QelPartial* p, QelInfo* i) {
      return factOf(i)->a == factAt(p, 2, 0)->id;
    };
    ctx.joinFns[3] = [](QelPartial* p, QelInfo* h) {
      return factOf(h)->a == factAt(p, 1, 0)->a;
    };
    ctx.prioFns[2] = [](QelPartial* p) {
      return factAt(p, 3, 2)->b + factAt(p, 3, 0)->b;
    };
    for (int r = 0; r < 5; ++r) {
      ctx.actionFns[r] = [this, r](QelPartial* p) {
        fired.push_back("R" + std::to_string(r) + tupleOf(p));
      };
    }
    ctx.actionFns[1] = [this](QelPartial* p) {
      fired.push_back("R1" + tupleOf(p));
      Fact* order = factAt(p, 3, 0);
      order->b *= 2;
      ctx.updateObject(order, 0);
    };
    ctx.actionFns[4] = [this](QelPartial* p) {
      fired.push_back("R4" + tupleOf(p));
      ctx.retractObject(factAt(p, 2, 0), 0);
    };
    ctx.init(&net);
  }

  QelLeftMem* join(int i) const { return ctx.joinMems[i]; }
  // The hooks of instances made, removed and re-prioritised.
  Lines agendaHooks() {
    Lines out;
    for (const std::string& line : ctx.takeLog()) {
      for (const char* hook : {"addRule ", "removeRule ", "updateRule "}) {
        if (line.rfind(hook, 0) == 0) out.push_back(line);
      }
    }
    return out;
  }
};

TEST(Scenario, SharedMemoriesThroughMixedChanges) {
  Shop s;
  Fact c1{1, 1}, c2{2, 0};
  Fact o1{11, 1, 5}, o2{12, 2, 3}, o3{13, 3, 1};
  Fact i1{21, 11, 4}, i2{22, 12, 2}, i3{23, 11, 1}, i4{24, 12, 7};
  Fact h1{31, 12}, h2{32, 11};

  s.ctx.assertObject(kCustomer, &c1);
  s.ctx.assertObject(kCustomer, &c2);
  for (Fact* o : {&o1, &o2, &o3}) s.ctx.assertObject(kOrder, o);
  for (Fact* i : {&i1, &i2, &i3}) s.ctx.assertObject(kItem, i);
  // o3's customer is not there; R1 and R0 for o1 and o2, R2 per item.
  EXPECT_EQ(
      s.ctx.agendaLines(),
      (Lines{"R1[12,2,_]:10", "R1[11,1,_]:10", "R2[11,1,21]:9", "R2[11,1,23]:6",
             "R2[12,2,22]:5", "R3[1]:5", "R0[12,2]:0", "R0[11,1]:0"}));
  s.ctx.takeLog();

  // The hold blocks o2's release and marks its item held.
  s.ctx.assertObject(kHold, &h1);
  EXPECT_EQ(s.agendaHooks(),
            (Lines{"removeRule R1[12,2,_]", "addRule R4[22,_]"}));

  // o3 moves to customer 2: new to J0, hence to J1, J2 and R0.
  o3.a = 2;
  s.ctx.updateObject(&o3, 0);
  EXPECT_EQ(s.agendaHooks(), (Lines{"addRule R1[13,2,_]", "addRule R0[13,2]"}));

  // Without the hold, o2 is released again (a new not child).
  s.ctx.retractObject(&h1, 0);
  EXPECT_EQ(s.agendaHooks(),
            (Lines{"addRule R1[12,2,_]", "removeRule R4[22,_]"}));

  // A hold on o1: its release goes, both its items are held.
  s.ctx.assertObject(kHold, &h2);
  EXPECT_EQ(s.agendaHooks(), (Lines{"removeRule R1[11,1,_]", "addRule R4[23,_]",
                                    "addRule R4[21,_]"}));

  // A price change refreshes i3's R2 instance only; J3 passes the refresh
  // on in mode 2, which leaves R4's static instance alone.
  i3.b = 9;
  s.ctx.updateObject(&i3, 1);
  EXPECT_EQ(s.agendaHooks(), (Lines{"updateRule R2[11,1,23]:14"}));

  EXPECT_EQ(s.ctx.agendaLines(),
            (Lines{"R2[11,1,23]:14", "R1[12,2,_]:10", "R1[13,2,_]:10",
                   "R2[11,1,21]:9", "R2[12,2,22]:5", "R3[1]:5", "R4[21,_]:1",
                   "R4[23,_]:1", "R0[13,2]:0", "R0[12,2]:0", "R0[11,1]:0"}));

  // Firing: releasing o2 doubles its amount (3 -> 6), which re-prioritises
  // R2[12,2,22] from 5 to 8; releasing o3 changes no priority; each held
  // item is retracted while its own instance fires, taking R2's already
  // fired matches with it.
  EXPECT_EQ(s.ctx.agenda->fireAllRules(), 11);
  EXPECT_EQ(s.fired, (Lines{"R2[11,1,23]", "R1[12,2,_]", "R1[13,2,_]",
                            "R2[11,1,21]", "R2[12,2,22]", "R3[1]", "R4[21,_]",
                            "R4[23,_]", "R0[13,2]", "R0[12,2]", "R0[11,1]"}));
  EXPECT_EQ(s.agendaHooks(), (Lines{"updateRule R2[12,2,22]:8"}));
  EXPECT_EQ(o2.b, 6);
  EXPECT_EQ(o3.b, 2);
  EXPECT_EQ(tuples(s.join(2)), (Lines{"[12,2,22]"}));
  EXPECT_EQ(s.join(3)->partials, nullptr);

  // After firing: o1's hold goes (released again), a new item for o2, the
  // gold customer loses and regains the gold level.
  s.ctx.retractObject(&h2, 0);
  s.ctx.assertObject(kItem, &i4);
  c1.a = 0;
  s.ctx.updateObject(&c1, 1);  // refreshes R0 for o1, drops gold
  c1.a = 1;
  s.ctx.updateObject(&c1, 0);  // gold again: a new R3 instance
  EXPECT_EQ(s.agendaHooks(), (Lines{"addRule R1[11,1,_]", "addRule R2[12,2,24]",
                                    "addRule R0[11,1]", "addRule R3[1]"}));
  EXPECT_EQ(s.ctx.agendaLines(), (Lines{"R2[12,2,24]:13", "R1[11,1,_]:10",
                                        "R3[1]:5", "R0[11,1]:0"}));
  EXPECT_EQ(tuples(s.join(0)), (Lines{"[13,2]", "[12,2]", "[11,1]"}));
  EXPECT_EQ(tuples(s.join(1)), (Lines{"[11,1,_]", "[12,2,_]", "[13,2,_]"}));
  EXPECT_EQ(tuples(s.join(2)), (Lines{"[12,2,24]", "[12,2,22]"}));
}

}  // namespace
