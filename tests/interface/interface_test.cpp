// Builds a network the way generated ruleset code does: only "qel.h" and
// the shared library. Everything used here must be exported.
#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <string>

#include "qel.h"

namespace {

char kRuleset[] = "Shop";
char kItem[] = "Item";
char kBook[] = "Book";
char kStock[] = "Stock";

char* text(const char* s) { return const_cast<char*>(s); }

struct Item {
  int price;
};

int booksDeleted = 0;
int booksAsserted = 0;
int booksRetracted = 0;
int bookNodesDestroyed = 0;

// The class node generated for a class with object hooks.
class BookClassNode : public QelClassNode {
 public:
  BookClassNode(QelNetwork* network, int index) : QelClassNode(network, index) {
    name = kBook;
    kind = 1;
  }
  ~BookClassNode() override { ++bookNodesDestroyed; }
  void deleteInstance(void* object) override {
    ++booksDeleted;
    delete static_cast<Item*>(object);
  }
  void doAssert(QelContext*, void*) override { ++booksAsserted; }
  void doRetract(QelContext*, void*) override { ++booksRetracted; }
};

unsigned char sameStock(void* held, void* asserted) {
  return static_cast<Item*>(held)->price == static_cast<Item*>(asserted)->price;
}

template <typename T>
T* at(const QelList& list, int i) {
  return static_cast<T*>(list[i]);
}

QelValue* intValue(int v) {
  void* storage = ::operator new(sizeof(int));
  *static_cast<int*>(storage) = v;
  return static_cast<QelValue*>(storage);
}

class ShopNetwork : public QelNetwork {
 public:
  ShopNetwork() : QelNetwork(kRuleset) {
    init(3, 1, 2, 3, 2, 1, 1);

    initInternalConstant(constants[0], text("limit"), intValue(10));
    initExternalConstant(constants[1], text("feed"), nullptr);
    initInternalConstant(constants[2], text("rate"), intValue(3));
    // A second declaration replaces the value the constant owns.
    initInternalConstant(constants[2], text("rate"), intValue(4));

    initPacket(at<QelPacket>(packets, 0), text("phase"), 1, 2);

    QelClassNode* item = new QelClassNode(this, 0);
    item->name = kItem;
    item->kind = 0;
    classes.append(item);
    item->initSlot(text("price"), text("double"), QelSlotReadWrite,
                   text("float"));
    item->initSlot(text("code"), text("const char*"), QelSlotReadOnly,
                   text("string"));

    BookClassNode* book = new BookClassNode(this, 1);
    classes.append(book);
    book->setSuperClass(item);
    QelSlot* isbn = book->initSlot(text("isbn"), text("long"), QelSlotReadOnly,
                                   text("integer"));
    isbn->addTypedEntry(0, 13, "integer");

    QelClassNode* stock = new QelClassNode(this, 2);
    stock->name = kStock;
    stock->kind = 2;
    stock->equality = &sameStock;
    classes.append(stock);
    stock->initSlot(text("count"), text("int"), QelSlotReadWrite,
                    text("integer"));

    initDisc(at<QelDiscNode>(discs, 0), 0, -1, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 1), 1, 0, GetQelNullDisc());
    initDisc(at<QelDiscNode>(discs, 2), 2, -1, GetQelNullDisc());
    addAlphaNode(at<QelDiscNode>(discs, 0), 0, -1, QelPatternPlain);
    addAlphaNode(at<QelDiscNode>(discs, 2), 1, 0, QelPatternPlain);
    initJoin(joins[0], 0, 0, 0, GetQelNullJoin(), -1, 6, QelPatternPlain);
    at<QelJoinNode>(joins, 0)->restrictNoUpdateMask(2);

    initRule(rules[0], -1, text("cheapBook"), GetQelNullPrio(), 5, 0, 0);
    initAction(0, nullptr, 0, 1, 0);
    initRule(rules[1], 0, text("restock"), GetQelNullPrio(), 0, -1, 0);
    initAction(1, nullptr, 0, 0, 1);
    setPriority(at<QelRuleNode>(rules, 1), 8, GetQelNullPrio());
    at<QelPacket>(packets, 0)->joinNodes.append(joins[0]);
  }
};

std::string describe(const QelNetwork& net) {
  std::ostringstream out;
  net.describe(out);
  return out.str();
}

TEST(Interface, BuildsAndDescribesANetwork) {
  ShopNetwork net;
  EXPECT_EQ(net.isInterpreted(), 0);
  EXPECT_EQ(describe(net),
            "Ruleset: Shop\n"
            "Mode: compiled\n"
            "\n"
            "Constants:\n"
            "\tlimit (internal)\n"
            "\tfeed (external)\n"
            "\trate (internal)\n"
            "\n"
            "Classes:\n"
            "\tItem (internal) \n"
            "\t\tprice: double\n"
            "\t\tcode (read-only): const char*\n"
            "\tBook (external)  inherits from Item\n"
            "\t\tisbn (read-only): long\n"
            "\tStock (logical) \n"
            "\t\tcount: int\n");
}

TEST(Interface, DescriptionThroughTheBaseClass) {
  QelNetwork* net = new ShopNetwork;
  std::ostringstream out;
  net->describe(out);
  net->execCommand(1, nullptr, out);
  EXPECT_EQ(out.str().substr(0, 29), "Ruleset: Shop\nMode: compiled\n");
  delete net;
}

TEST(Interface, StructureIsReachableFromGeneratedCode) {
  ShopNetwork net;
  EXPECT_EQ(net.classes.length(), 3);
  EXPECT_EQ(net.slots.length(), 4);
  EXPECT_EQ(*reinterpret_cast<int*>(at<QelConstant>(net.constants, 0)->value),
            10);
  EXPECT_EQ(*reinterpret_cast<int*>(at<QelConstant>(net.constants, 2)->value),
            4);

  QelClassNode* book = at<QelClassNode>(net.classes, 1);
  EXPECT_EQ(book->superClass, at<QelClassNode>(net.classes, 0));
  EXPECT_EQ(book->allSlots.length(), 3);
  QelSlot* isbn = at<QelSlot>(book->ownSlots, 0);
  EXPECT_EQ(isbn->index, 0);
  EXPECT_EQ(isbn->valueType, QelIntegerValueType());
  EXPECT_EQ(isbn->entries.length(), 1);
  EXPECT_EQ(at<QelSlot>(net.slots, 0)->valueType, QelFloatValueType());

  // The iterator walks the registries in index order.
  QelListIterator it;
  it.init(net.classes);
  int expected = 0;
  while (void* p = it.next()) EXPECT_EQ(static_cast<QelClassNode*>(p)->index, expected++);
  EXPECT_EQ(expected, 3);

  QelJoinNode* join = at<QelJoinNode>(net.joins, 0);
  EXPECT_EQ(join->left, at<QelAlphaNode>(net.alphas, 0));
  EXPECT_EQ(join->right, at<QelRightNode>(net.rights, 0));
  EXPECT_EQ(join->noUpdateMask, 6 & (2 >> 1));
  EXPECT_EQ(join->level(), 1);
  EXPECT_EQ(join->headAlphaNode(), at<QelAlphaNode>(net.alphas, 0));
  EXPECT_EQ(at<QelRightNode>(net.rights, 0)->discNode,
            at<QelDiscNode>(net.discs, 1));

  QelRuleNode* cheap = at<QelRuleNode>(net.rules, 0);
  QelRuleNode* restock = at<QelRuleNode>(net.rules, 1);
  EXPECT_EQ(cheap->packet, net.defaultPacket);
  EXPECT_EQ(cheap->mainAction->parent, join);
  EXPECT_EQ(cheap->hasPriorityFunction(), 0);
  EXPECT_EQ(restock->packet, at<QelPacket>(net.packets, 0));
  EXPECT_EQ(restock->staticPriority, 8);
  EXPECT_EQ(restock->mainAction->parent, at<QelAlphaNode>(net.alphas, 1));
  EXPECT_EQ(at<QelPacket>(net.packets, 0)->packetData1, 1);
  EXPECT_EQ(at<QelPacket>(net.packets, 0)->joinNodes.length(), 1);
  EXPECT_EQ(at<QelClassNode>(net.classes, 2)->equality, &sameStock);
}

TEST(Interface, ClassNodeHooksAndOwnership) {
  booksDeleted = booksAsserted = booksRetracted = bookNodesDestroyed = 0;
  ShopNetwork* net = new ShopNetwork;
  QelClassNode* book = at<QelClassNode>(net->classes, 1);
  book->doAssert(nullptr, nullptr);
  book->doRetract(nullptr, nullptr);
  book->deleteInstance(new Item{3});
  EXPECT_EQ(booksAsserted, 1);
  EXPECT_EQ(booksRetracted, 1);
  EXPECT_EQ(booksDeleted, 1);
  // The plain class node's hooks do nothing.
  Item kept{5};
  at<QelClassNode>(net->classes, 0)->deleteInstance(&kept);
  EXPECT_EQ(kept.price, 5);

  EXPECT_EQ(bookNodesDestroyed, 0);
  delete net;
  EXPECT_EQ(bookNodesDestroyed, 1);
}

}  // namespace
