// The text QelNetwork::describe writes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "qel_class.h"
#include "qel_network.h"

namespace {

char* text(const char* s) { return const_cast<char*>(s); }

std::string describe(const QelNetwork& net) {
  std::ostringstream out;
  net.describe(out);
  return out.str();
}

QelClassNode* addClass(QelNetwork& net, const char* name, int kind) {
  QelClassNode* node = new QelClassNode(&net, net.classes.length());
  node->name = text(name);
  node->kind = kind;
  net.classes.append(node);
  return node;
}

TEST(Describe, EmptyNetworkPrintsTwoLines) {
  QelNetwork net(text("Empty"));
  net.init(0, 2, 3, 0, 0, 0, 0);  // packets and rules are not printed
  EXPECT_EQ(describe(net), "Ruleset: Empty\nMode: compiled\n");
}

TEST(Describe, UninitializedNetwork) {
  QelNetwork net(text("Bare"));
  EXPECT_EQ(describe(net), "Ruleset: Bare\nMode: compiled\n");
}

TEST(Describe, OneInternalConstant) {
  QelNetwork net(text("K"));
  net.init(1, 0, 0, 0, 0, 0, 0);
  net.initInternalConstant(net.constants[0], text("N"), nullptr);
  EXPECT_EQ(describe(net),
            "Ruleset: K\nMode: compiled\n\nConstants:\n\tN (internal)\n");
}

TEST(Describe, ExternalFlagOfAnyNonZeroValue) {
  QelNetwork net(text("K"));
  net.init(3, 0, 0, 0, 0, 0, 0);
  net.initExternalConstant(net.constants[0], text("ext"), nullptr);
  net.initInternalConstant(net.constants[1], text("odd"), nullptr);
  static_cast<QelConstant*>(net.constants[1])->external = 7;
  net.initInternalConstant(net.constants[2], text("int"), nullptr);
  EXPECT_EQ(describe(net),
            "Ruleset: K\nMode: compiled\n\nConstants:\n"
            "\text (external)\n\todd (external)\n\tint (internal)\n");
}

TEST(Describe, LogicalClassWithReadOnlySlot) {
  QelNetwork net(text("L"));
  net.init(0, 0, 0, 0, 0, 0, 0);
  QelClassNode* fact = addClass(net, "Fact", 2);
  fact->initSlot(text("s"), text("t"), QelSlotReadOnly, text("string"));
  EXPECT_EQ(describe(net),
            "Ruleset: L\nMode: compiled\n\nClasses:\n"
            "\tFact (logical) \n"
            "\t\ts (read-only): t\n");
}

TEST(Describe, KindsSuperclassesAndOwnSlotsOnly) {
  QelNetwork net(text("Shop"));
  net.init(0, 0, 0, 0, 0, 0, 0);
  QelClassNode* item = addClass(net, "Item", 0);
  item->initSlot(text("price"), text("double"), QelSlotReadWrite, text("float"));
  item->initSlot(text("code"), text("const char*"), QelSlotReadOnly,
                 text("string"));
  QelClassNode* book = addClass(net, "Book", 0);
  book->setSuperClass(item);
  QelClassNode* ext = addClass(net, "Feed", 1);
  ext->initSlot(text("url"), text("Url*"), QelSlotReadWrite, text("Url"));
  QelClassNode* odd = addClass(net, "Odd", 3);
  odd->setSuperClass(ext);
  QelClassNode* neg = addClass(net, "Neg", -1);
  (void)neg;
  EXPECT_EQ(describe(net),
            "Ruleset: Shop\nMode: compiled\n\nClasses:\n"
            "\tItem (internal) \n"
            "\t\tprice: double\n"
            "\t\tcode (read-only): const char*\n"
            "\tBook (internal)  inherits from Item\n"
            "\tFeed (external) \n"
            "\t\turl: Url*\n"
            "\tOdd inherits from Feed\n"
            "\tNeg\n");
}

TEST(Describe, ConstantsComeBeforeClasses) {
  QelNetwork net(text("Both"));
  net.init(2, 0, 0, 0, 0, 0, 0);
  // Classes described first, constants named afterwards.
  QelClassNode* c = addClass(net, "C", 1);
  c->initSlot(text("x"), text("int"), QelSlotReadWrite, text("integer"));
  net.initExternalConstant(net.constants[1], text("B"), nullptr);
  net.initInternalConstant(net.constants[0], text("A"), nullptr);
  EXPECT_EQ(describe(net),
            "Ruleset: Both\nMode: compiled\n\n"
            "Constants:\n\tA (internal)\n\tB (external)\n\n"
            "Classes:\n\tC (external) \n\t\tx: int\n");
}

TEST(Describe, ChangesNothingAndRepeats) {
  QelNetwork net(text("R"));
  net.init(1, 0, 0, 0, 0, 0, 0);
  net.initInternalConstant(net.constants[0], text("k"), nullptr);
  addClass(net, "C", 0);
  const std::string first = describe(net);
  EXPECT_EQ(describe(net), first);
  EXPECT_EQ(net.constants.length(), 1);
  EXPECT_EQ(net.classes.length(), 1);
}

// describe() ends every line with std::endl, which flushes the stream.
class FlushCountingBuffer : public std::stringbuf {
 public:
  int syncs = 0;

 protected:
  int sync() override {
    ++syncs;
    return std::stringbuf::sync();
  }
};

TEST(Describe, EveryLineIsFlushed) {
  QelNetwork net(text("F"));
  net.init(1, 0, 0, 0, 0, 0, 0);
  net.initInternalConstant(net.constants[0], text("k"), nullptr);
  QelClassNode* c = addClass(net, "C", 0);
  c->initSlot(text("x"), text("int"), QelSlotReadWrite, text("integer"));
  FlushCountingBuffer buffer;
  std::ostream out(&buffer);
  net.describe(out);
  // Ruleset, Mode, Constants heading, k, Classes heading, C, x.
  EXPECT_EQ(buffer.syncs, 7);
  EXPECT_EQ(buffer.str(),
            "Ruleset: F\nMode: compiled\n\nConstants:\n\tk (internal)\n"
            "\nClasses:\n\tC (internal) \n\t\tx: int\n");
}

}  // namespace
