// Logical objects under truth maintenance, driven the way generated code
// drives them: an action sets the context's justification to its partial,
// asserts logical objects and clears it again.
#include <gtest/gtest.h>

#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "unit/context_rulesets.h"

using namespace qeltest;
using namespace ctxtest;

namespace {

unsigned char sameA(void* held, void* asserted) {
  return static_cast<Fact*>(held)->a == static_cast<Fact*>(asserted)->a;
}

// Classes T (0, external) and L (1, logical, equal when `a` is). Rule 0 (priority
// 10): T(t), whose action asserts one L per entry of `makes` with the
// partial as justification. Rule 1: L(z).
struct Tms {
  QelNetwork net{nm("tms")};
  TestContext ctx;
  TestClassNode* t;
  TestClassNode* l;
  // What rule 0's action asserts, by trigger id: the `a` of each new L.
  std::vector<std::pair<int, int>> makes;
  std::vector<Fact*> returned;  // what assertObject gave back
  int nextId = 100;

  Tms() {
    net.init(0, 0, 2, 2, 2, 0, 0);
    t = addClass(net, "T", 1);  // external: the triggers stay ours
    l = addClass(net, "L", 2);
    l->equality = &sameA;
    disc(net, 0, 0);
    disc(net, 1, 1);
    alpha(net, 0, 0);
    alpha(net, 1, 1);
    rule(net, 0, 0, 10);
    rule(net, 1, 1);
    ctx.actionFns[0] = [this](QelPartial* p) {
      const int trigger = factAt(p, 1, 0)->id;
      ctx.justification = p;
      for (const auto& [id, a] : makes) {
        if (id != trigger) continue;
        returned.push_back(
            static_cast<Fact*>(ctx.assertObject(1, new Fact{nextId++, a})));
      }
      ctx.justification = nullptr;
    };
    ctx.init(&net);
  }
  ~Tms() { ctx.retractAll(); }

  QelInfo* recordOf(void* object) {
    return static_cast<QelInfo*>(ctx.objectTable->find(object));
  }
};

TEST(ContextLogical, SupportedAssertionCallsTheHooksInOrder) {
  Tms s;
  s.makes = {{1, 7}};
  Fact t1{1};
  s.ctx.assertObject(0, &t1);
  s.ctx.takeLog();
  EXPECT_EQ(s.ctx.agenda->fireRule(), 0);
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "assertLogical 100", "addTmsLink 100", "addRule R1[100]",
                   "endRule"}));
  ASSERT_EQ(s.returned.size(), 1u);
  QelInfo* record = s.recordOf(s.returned[0]);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->supporters.length(), 1);
  QelPartial* support = static_cast<QelPartial*>(record->supporters[0]);
  EXPECT_EQ(support->record, s.recordOf(&t1));
  EXPECT_TRUE(support->supports(record));
  EXPECT_EQ(s.l->asserted, 1);

  // Losing its only support retracts and deletes it.
  s.ctx.retractObject(&t1, 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"retract 1", "removeTmsLink 100",
                                    "retractLogical 100", "removeRule R1[100]"}));
  EXPECT_EQ(s.l->deleted, 1);
  EXPECT_EQ(s.l->retracted, 1);
  EXPECT_EQ(s.ctx.objectTable->count, 0);
}

TEST(ContextLogical, EqualObjectsShareOneRecordWithTwoSupports) {
  Tms s;
  s.makes = {{1, 7}, {2, 7}};
  Fact t1{1}, t2{2};
  s.ctx.assertObject(0, &t1);
  s.ctx.assertObject(0, &t2);
  s.ctx.takeLog();
  // t2 fires first and makes L 100; t1's equal L 101 is deleted.
  EXPECT_EQ(s.ctx.agenda->fireRule(), 0);
  EXPECT_EQ(s.ctx.agenda->fireRule(), 0);
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[2]", "checkEndCycle R0[2]",
                   "assertLogical 100", "addTmsLink 100", "addRule R1[100]",
                   "endRule", "checkBeginCycle", "beginRule R0[1]",
                   "checkEndCycle R0[1]", "addTmsLink 100", "endRule"}));
  ASSERT_EQ(s.returned.size(), 2u);
  EXPECT_EQ(s.returned[0], s.returned[1]);
  EXPECT_EQ(s.returned[0]->id, 100);
  EXPECT_EQ(s.l->deleted, 1);
  EXPECT_EQ(s.ctx.classMems[1]->infos.count, 1);
  EXPECT_EQ(s.recordOf(s.returned[0])->supporters.length(), 2);
  EXPECT_EQ(s.ctx.agendaLines(), (Lines{"R1[100]:0"}));

  // One support left: the object stays.
  s.ctx.retractObject(&t2, 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"retract 2", "removeTmsLink 100"}));
  EXPECT_EQ(s.recordOf(s.returned[0])->supporters.length(), 1);
  EXPECT_EQ(s.ctx.agendaLines(), (Lines{"R1[100]:0"}));

  // The second goes: removed with its instance and deleted.
  s.ctx.retractObject(&t1, 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"retract 1", "removeTmsLink 100",
                                    "retractLogical 100", "removeRule R1[100]"}));
  EXPECT_EQ(s.l->deleted, 2);
  EXPECT_EQ(s.ctx.objectTable->count, 0);
  EXPECT_TRUE(s.ctx.agendaLines().empty());
}

TEST(ContextLogical, OnePartialSupportsAnObjectOnce) {
  Tms s;
  s.makes = {{1, 7}, {1, 7}};
  Fact t1{1};
  s.ctx.assertObject(0, &t1);
  s.ctx.takeLog();
  s.ctx.agenda->fireRule();
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"checkBeginCycle", "beginRule R0[1]", "checkEndCycle R0[1]",
                   "assertLogical 100", "addTmsLink 100", "addRule R1[100]",
                   "endRule"}));
  EXPECT_EQ(s.l->deleted, 1);
  EXPECT_EQ(s.recordOf(s.returned[0])->supporters.length(), 1);
  s.ctx.retractObject(&t1, 0);
  EXPECT_EQ(s.ctx.objectTable->count, 0);
}

TEST(ContextLogical, UnconditionalReassertionCutsTheSupports) {
  Tms s;
  s.makes = {{1, 7}, {2, 7}};
  Fact t1{1}, t2{2};
  s.ctx.assertObject(0, &t1);
  s.ctx.assertObject(0, &t2);
  s.ctx.agenda->fireRule();
  s.ctx.agenda->fireRule();
  Fact* held = s.returned[0];
  s.ctx.takeLog();

  Fact* again = new Fact{200, 7};
  EXPECT_EQ(s.ctx.assertObject(1, again), held);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"stateLogical 100"}));
  EXPECT_EQ(s.l->deleted, 2);
  EXPECT_TRUE(s.recordOf(held)->supporters.isEmpty());
  for (QelPartial* p = s.ctx.alphaMems[0]->partials; p; p = p->nextInMemory) {
    EXPECT_TRUE(p->supported.isEmpty());
  }

  // The former supports no longer matter.
  s.ctx.retractObject(&t1, 0);
  s.ctx.retractObject(&t2, 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"retract 1", "retract 2"}));
  EXPECT_EQ(s.recordOf(held)->object, held);
  EXPECT_EQ(s.ctx.agendaLines(), (Lines{"R1[100]:0"}));

  // An unconditional assertion of an equal unconditional object only
  // deletes the new one.
  EXPECT_EQ(s.ctx.assertObject(1, new Fact{201, 7}), held);
  EXPECT_TRUE(s.ctx.takeLog().empty());
  EXPECT_EQ(s.l->deleted, 3);
}

TEST(ContextLogical, UpdatesAndReassertsOfLogicalObjectsAreSilent) {
  Tms s;
  s.makes = {{1, 3}};
  Fact t1{1};
  s.ctx.assertObject(0, &t1);
  s.ctx.agenda->fireRule();
  Fact* z = s.returned[0];
  s.ctx.takeLog();
  const int before = s.ctx.agenda->changeCount;
  const Lines agenda = s.ctx.agendaLines();

  s.ctx.updateObject(z, 1);
  s.ctx.updateObject(z, 0);
  EXPECT_EQ(s.ctx.assertObject(1, z), z);
  s.ctx.justification = s.ctx.alphaMems[0]->partials;
  EXPECT_EQ(s.ctx.assertObject(0, z), z);
  s.ctx.justification = nullptr;
  EXPECT_TRUE(s.ctx.takeLog().empty());
  EXPECT_EQ(s.ctx.agenda->changeCount, before + 4);
  EXPECT_EQ(s.ctx.agendaLines(), agenda);
  EXPECT_EQ(s.recordOf(z)->supporters.length(), 1);
}

TEST(ContextLogical, ExplicitRetractionCutsItsSupportsFirst) {
  Tms s;
  s.makes = {{1, 3}};
  Fact t1{1};
  s.ctx.assertObject(0, &t1);
  s.ctx.agenda->fireRule();
  Fact* z = s.returned[0];
  s.ctx.takeLog();

  s.ctx.retractObject(z, 1);
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"retractLogical 100", "removeRule R1[100]"}));
  EXPECT_EQ(s.l->deleted, 1);
  EXPECT_TRUE(s.ctx.alphaMems[0]->partials->supported.isEmpty());
  // The former support no longer refers to it.
  s.ctx.retractObject(&t1, 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"retract 1"}));
}

TEST(ContextLogical, RetractClassRemovesSupportedAndUnconditionalObjects) {
  Tms s;
  s.makes = {{1, 3}};
  Fact t1{1};
  s.ctx.assertObject(0, &t1);
  s.ctx.agenda->fireRule();
  s.ctx.assertObject(1, new Fact{60, 9});
  s.ctx.takeLog();
  s.ctx.retractClass("L");
  EXPECT_EQ(s.ctx.takeLog(),
            (Lines{"retractLogical 60", "removeRule R1[60]",
                   "retractLogical 100", "removeRule R1[100]"}));
  EXPECT_EQ(s.l->deleted, 2);
  EXPECT_TRUE(s.ctx.alphaMems[0]->partials->supported.isEmpty());
  s.ctx.retractObject(&t1, 0);
  EXPECT_EQ(s.ctx.takeLog(), (Lines{"retract 1"}));
}

}  // namespace
