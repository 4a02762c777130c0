// QelClassNode, QelSlot and the value type descriptors.
#include <gtest/gtest.h>

#include <cstring>

#include "qel_class.h"
#include "qel_network.h"

namespace {

char kRuleset[] = "classes";
char kPerson[] = "Person";
char kEmployee[] = "Employee";
char kManager[] = "Manager";

// Slot names and texts must outlive the network; string literals do.
char* text(const char* s) { return const_cast<char*>(s); }

QelSlot* slotAt(const QelList& list, int i) {
  return static_cast<QelSlot*>(list[i]);
}

class ClassNodeTest : public ::testing::Test {
 protected:
  ClassNodeTest() : net(kRuleset) { net.init(0, 0, 0, 0, 0, 0, 0); }

  QelClassNode* addClass(char* name, int kind = 0) {
    QelClassNode* node = new QelClassNode(&net, net.classes.length());
    node->name = name;
    node->kind = kind;
    net.classes.append(node);
    return node;
  }

  QelNetwork net;
};

TEST(QelValueTypes, FiveNamedDescriptors) {
  const QelValueType* all[] = {QelUnknownValueType(), QelIntegerValueType(),
                               QelFloatValueType(), QelStringValueType(),
                               QelPointerValueType()};
  const char* names[] = {"unknown", "integer", "float", "string", "pointer"};
  for (int i = 0; i < 5; ++i) {
    ASSERT_NE(all[i], nullptr);
    EXPECT_STREQ(all[i]->name, names[i]);
    EXPECT_EQ(all[i]->flag, 0);
    EXPECT_EQ(all[i]->entries.head, nullptr);
    EXPECT_EQ(all[i]->word1, 0);
    EXPECT_EQ(all[i]->word2, 0);
    EXPECT_EQ(all[i]->word3, 0);
    EXPECT_EQ(all[i]->table, nullptr);
    for (int j = 0; j < i; ++j) EXPECT_NE(all[i], all[j]);
  }
  // The same descriptor on every call.
  EXPECT_EQ(QelIntegerValueType(), QelIntegerValueType());
}

TEST(QelValueTypes, NameIsAPrivateCopy) {
  char name[] = "custom";
  QelValueType type(name);
  name[0] = 'X';
  EXPECT_STREQ(type.name, "custom");
  EXPECT_NE(type.name, name);
}

TEST_F(ClassNodeTest, FreshClassNode) {
  QelClassNode node(&net, 4);
  EXPECT_EQ(node.network, &net);
  EXPECT_EQ(node.index, 4);
  EXPECT_EQ(node.name, nullptr);
  EXPECT_EQ(node.kind, 0);
  EXPECT_EQ(node.superClass, nullptr);
  EXPECT_EQ(node.ownSlots.head, nullptr);
  EXPECT_EQ(node.allSlots.head, nullptr);
  EXPECT_EQ(node.discs.head, nullptr);
  // Construction does not register the node.
  EXPECT_EQ(net.classes.length(), 0);
}

TEST_F(ClassNodeTest, InitSlotFillsAndRegistersTheSlot) {
  QelClassNode* person = addClass(kPerson);
  char name[] = "age";
  char type[] = "int";
  char valueType[] = "integer";
  QelSlot* age = person->initSlot(name, type, QelSlotReadOnly, valueType);
  ASSERT_NE(age, nullptr);
  EXPECT_EQ(age->classNode, person);
  EXPECT_EQ(age->index, 0);
  EXPECT_EQ(age->name, name);
  EXPECT_EQ(age->typeName, type);
  EXPECT_EQ(age->type, QelSlotReadOnly);
  EXPECT_EQ(age->valueType, QelIntegerValueType());
  EXPECT_EQ(age->entries.head, nullptr);

  QelSlot* nick = person->initSlot(text("nick"), text("char*"),
                                   QelSlotReadWrite, text("string"));
  EXPECT_EQ(nick->index, 1);
  EXPECT_EQ(nick->type, QelSlotReadWrite);

  ASSERT_EQ(person->ownSlots.length(), 2);
  EXPECT_EQ(slotAt(person->ownSlots, 0), age);
  EXPECT_EQ(slotAt(person->ownSlots, 1), nick);
  ASSERT_EQ(person->allSlots.length(), 2);
  EXPECT_EQ(slotAt(person->allSlots, 0), age);
  EXPECT_EQ(slotAt(person->allSlots, 1), nick);
  ASSERT_EQ(net.slots.length(), 2);
  EXPECT_EQ(slotAt(net.slots, 0), age);
  EXPECT_EQ(slotAt(net.slots, 1), nick);
}

TEST_F(ClassNodeTest, ValueTypeSelection) {
  QelClassNode* k = addClass(kPerson);
  struct Case {
    const char* text;
    const QelValueType* expected;
  } cases[] = {
      {"integer", QelIntegerValueType()}, {"float", QelFloatValueType()},
      {"string", QelStringValueType()},   {"pointer", QelPointerValueType()},
      {"Integer", QelPointerValueType()}, {"int", QelPointerValueType()},
      {"integers", QelPointerValueType()}, {"Person", QelPointerValueType()},
      {"", QelPointerValueType()},        {"unknown", QelPointerValueType()},
  };
  for (const Case& c : cases) {
    QelSlot* s = k->initSlot(text("s"), text("t"), QelSlotReadWrite,
                             text(c.text));
    EXPECT_EQ(s->valueType, c.expected) << "'" << c.text << "'";
  }
}

TEST_F(ClassNodeTest, SlotsFromSeveralClassesAllGoToTheNetwork) {
  QelClassNode* a = addClass(kPerson);
  QelClassNode* b = addClass(kEmployee);
  QelSlot* s1 = a->initSlot(text("x"), text("t"), QelSlotReadWrite, text("float"));
  QelSlot* s2 = b->initSlot(text("y"), text("t"), QelSlotReadWrite, text("float"));
  QelSlot* s3 = a->initSlot(text("z"), text("t"), QelSlotReadWrite, text("float"));
  EXPECT_EQ(s2->index, 0);
  EXPECT_EQ(s3->index, 1);
  ASSERT_EQ(net.slots.length(), 3);
  EXPECT_EQ(slotAt(net.slots, 0), s1);
  EXPECT_EQ(slotAt(net.slots, 1), s2);
  EXPECT_EQ(slotAt(net.slots, 2), s3);
  EXPECT_EQ(b->ownSlots.length(), 1);
}

TEST_F(ClassNodeTest, SetSuperClassTakesASnapshot) {
  QelClassNode* base = addClass(kPerson);
  const char* names[] = {"a", "b", "c", "d", "e"};
  for (const char* n : names)
    base->initSlot(text(n), text("int"), QelSlotReadWrite, text("integer"));

  QelClassNode* sub = addClass(kEmployee);
  sub->setSuperClass(base);
  EXPECT_EQ(sub->superClass, base);
  ASSERT_EQ(sub->allSlots.length(), 5);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(sub->allSlots[i], base->allSlots[i]) << i;
  EXPECT_EQ(sub->ownSlots.head, nullptr);

  QelSlot* own[3];
  for (int i = 0; i < 3; ++i)
    own[i] = sub->initSlot(text("own"), text("t"), QelSlotReadWrite, text("x"));
  // Indices count own slots only.
  EXPECT_EQ(own[0]->index, 0);
  EXPECT_EQ(own[2]->index, 2);
  EXPECT_EQ(own[2]->classNode, sub);
  ASSERT_EQ(sub->allSlots.length(), 8);
  EXPECT_EQ(sub->allSlots[4], base->allSlots[4]);
  EXPECT_EQ(sub->allSlots[5], own[0]);
  EXPECT_EQ(sub->allSlots[7], own[2]);
  EXPECT_EQ(sub->ownSlots.length(), 3);

  // The superclass's lists are unchanged, and later superclass slots are
  // not seen by the subclass.
  EXPECT_EQ(base->ownSlots.length(), 5);
  EXPECT_EQ(base->allSlots.length(), 5);
  base->initSlot(text("late"), text("t"), QelSlotReadWrite, text("x"));
  EXPECT_EQ(sub->allSlots.length(), 8);
  EXPECT_EQ(net.slots.length(), 9);
}

TEST_F(ClassNodeTest, SetSuperClassWithoutSlots) {
  QelClassNode* base = addClass(kPerson);
  QelClassNode* sub = addClass(kEmployee);
  sub->setSuperClass(base);
  EXPECT_EQ(sub->superClass, base);
  EXPECT_EQ(sub->allSlots.head, nullptr);
  QelSlot* s = sub->initSlot(text("x"), text("t"), QelSlotReadWrite, text("x"));
  EXPECT_EQ(sub->allSlots.length(), 1);
  EXPECT_EQ(sub->allSlots[0], s);
  EXPECT_EQ(base->allSlots.head, nullptr);
}

TEST_F(ClassNodeTest, ThreeLevelsOfInheritance) {
  QelClassNode* a = addClass(kPerson);
  QelSlot* sa = a->initSlot(text("a"), text("t"), QelSlotReadWrite, text("x"));
  QelClassNode* b = addClass(kEmployee);
  b->setSuperClass(a);
  QelSlot* sb = b->initSlot(text("b"), text("t"), QelSlotReadWrite, text("x"));
  QelClassNode* c = addClass(kManager);
  c->setSuperClass(b);
  QelSlot* sc = c->initSlot(text("c"), text("t"), QelSlotReadWrite, text("x"));
  ASSERT_EQ(c->allSlots.length(), 3);
  EXPECT_EQ(c->allSlots[0], sa);
  EXPECT_EQ(c->allSlots[1], sb);
  EXPECT_EQ(c->allSlots[2], sc);
  EXPECT_EQ(sc->index, 0);
  EXPECT_EQ(c->superClass, b);
  EXPECT_EQ(b->allSlots.length(), 2);
}

TEST_F(ClassNodeTest, AddTypedEntry) {
  QelClassNode* k = addClass(kPerson);
  QelSlot* s = k->initSlot(text("s"), text("t"), QelSlotReadWrite, text("x"));
  s->addTypedEntry(1, 2, "int");
  s->addTypedEntry(1, 2, "Pointer");
  s->addTypedEntry(1, 2, "unknown");
  EXPECT_EQ(s->entries.head, nullptr);

  s->addTypedEntry(3, 4, "pointer");
  s->addTypedEntry(5, 6, "string");
  s->addTypedEntry(-7, 8, "float");
  s->addTypedEntry(9, 10, "integer");
  ASSERT_EQ(s->entries.length(), 4);
  auto entry = [&](int i) { return static_cast<QelSlotEntry*>(s->entries[i]); };
  EXPECT_EQ(entry(0)->first, 3);
  EXPECT_EQ(entry(0)->second, 4);
  EXPECT_EQ(entry(0)->valueType, QelPointerValueType());
  EXPECT_EQ(entry(1)->valueType, QelStringValueType());
  EXPECT_EQ(entry(2)->first, -7);
  EXPECT_EQ(entry(2)->valueType, QelFloatValueType());
  EXPECT_EQ(entry(3)->valueType, QelIntegerValueType());
  EXPECT_EQ(entry(3)->second, 10);
  // The slot's own value type is not affected.
  EXPECT_EQ(s->valueType, QelPointerValueType());
}

TEST(QelSlotStandalone, StartsUnknown) {
  QelSlot slot(nullptr, 3, text("n"), text("t"));
  EXPECT_EQ(slot.classNode, nullptr);
  EXPECT_EQ(slot.index, 3);
  EXPECT_EQ(slot.type, QelSlotReadWrite);
  EXPECT_EQ(slot.valueType, QelUnknownValueType());
  EXPECT_EQ(slot.entries.head, nullptr);
}

TEST_F(ClassNodeTest, ClassNodeDoesNotOwnItsSlots) {
  // A class node not handed to the network: deleting it must leave its
  // slots (owned by the network) intact.
  auto* loose = new QelClassNode(&net, 0);
  QelSlot* s = loose->initSlot(text("kept"), text("t"), QelSlotReadWrite,
                               text("float"));
  delete loose;
  ASSERT_EQ(net.slots.length(), 1);
  EXPECT_EQ(net.slots[0], s);
  EXPECT_STREQ(s->name, "kept");
  EXPECT_EQ(s->valueType, QelFloatValueType());
}

TEST_F(ClassNodeTest, BaseHooksDoNothing) {
  QelClassNode* k = addClass(kPerson);
  int object = 12;
  // A deleting deleteInstance on a stack object would crash.
  k->deleteInstance(&object);
  k->doAssert(nullptr, &object);
  k->doRetract(nullptr, &object);
  EXPECT_EQ(object, 12);
}

}  // namespace
