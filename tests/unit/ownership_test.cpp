// Who deletes what: the network's destructor and the constants' values.
//
// The global operator new/delete are replaced for this test program so
// that the deletion of chosen addresses can be counted. A watched address
// is held back rather than freed while it is watched, so a second
// deletion is counted instead of corrupting the heap, and the address
// cannot be reused by an unrelated allocation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "qel_class.h"
#include "qel_context.h"
#include "qel_network.h"

namespace deletion_probe {

constexpr int kMaxWatched = 512;
const void* watched[kMaxWatched];
int deletions[kMaxWatched];
int watchedCount = 0;
// Every operator delete call while counting is on.
bool countingAll = false;
long allDeletions = 0;

// True when `p` is watched: the call is counted and the memory kept.
bool note(void* p) {
  if (p == nullptr) return false;
  if (countingAll) ++allDeletions;
  for (int i = 0; i < watchedCount; ++i) {
    if (watched[i] == p) {
      ++deletions[i];
      return true;
    }
  }
  return false;
}

void release(void* p) {
  if (!note(p)) std::free(p);
}

void* allocate(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace deletion_probe

void* operator new(std::size_t n) { return deletion_probe::allocate(n); }
void* operator new[](std::size_t n) { return deletion_probe::allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n == 0 ? 1 : n);
}
void operator delete(void* p) noexcept { deletion_probe::release(p); }
void operator delete[](void* p) noexcept { deletion_probe::release(p); }
void operator delete(void* p, std::size_t) noexcept {
  deletion_probe::release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  deletion_probe::release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  deletion_probe::release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  deletion_probe::release(p);
}

namespace {

// Watches addresses for its lifetime; frees the ones deleted meanwhile.
class DeletionWatch {
 public:
  DeletionWatch() { deletion_probe::watchedCount = 0; }
  ~DeletionWatch() {
    const int n = deletion_probe::watchedCount;
    deletion_probe::watchedCount = 0;
    for (int i = 0; i < n; ++i) {
      if (deletion_probe::deletions[i] > 0)
        std::free(const_cast<void*>(deletion_probe::watched[i]));
    }
  }
  DeletionWatch(const DeletionWatch&) = delete;
  DeletionWatch& operator=(const DeletionWatch&) = delete;

  void watch(const void* p) {
    ASSERT_LT(deletion_probe::watchedCount, deletion_probe::kMaxWatched);
    deletion_probe::watched[deletion_probe::watchedCount] = p;
    deletion_probe::deletions[deletion_probe::watchedCount] = 0;
    ++deletion_probe::watchedCount;
  }
  void watchAll(const QelList& list) {
    for (QelListCell* c = list.head; c != nullptr; c = c->next) watch(c->item);
  }
  int deletions(const void* p) const {
    for (int i = 0; i < deletion_probe::watchedCount; ++i)
      if (deletion_probe::watched[i] == p) return deletion_probe::deletions[i];
    return -1;
  }
  // Addresses among the watched ones not deleted exactly once.
  std::vector<const void*> notDeletedOnce() const {
    std::vector<const void*> out;
    for (int i = 0; i < deletion_probe::watchedCount; ++i)
      if (deletion_probe::deletions[i] != 1)
        out.push_back(deletion_probe::watched[i]);
    return out;
  }
  int size() const { return deletion_probe::watchedCount; }
};

char* text(const char* s) { return const_cast<char*>(s); }

int hookedClassesDestroyed = 0;

class HookedClassNode : public QelClassNode {
 public:
  HookedClassNode(QelNetwork* net, int index) : QelClassNode(net, index) {}
  ~HookedClassNode() override { ++hookedClassesDestroyed; }
};

// A network with a bit of everything, built the way generated code does.
QelNetwork* buildNetwork() {
  auto* net = new QelNetwork(text("owned"));
  net->init(2, 2, 2, 2, 2, 2, 2);
  net->initInternalConstant(net->constants[0], text("c0"),
                            static_cast<QelValue*>(::operator new(8)));
  net->initExternalConstant(net->constants[1], text("c1"), nullptr);
  auto* base = new QelClassNode(net, 0);
  base->name = text("Base");
  net->classes.append(base);
  auto* sub = new HookedClassNode(net, 1);
  sub->name = text("Sub");
  net->classes.append(sub);
  QelSlot* a = base->initSlot(text("a"), text("int"), QelSlotReadWrite,
                              text("integer"));
  a->addTypedEntry(1, 2, "integer");
  a->addTypedEntry(3, 4, "string");
  base->initSlot(text("b"), text("char*"), QelSlotReadOnly, text("string"));
  sub->setSuperClass(base);
  QelSlot* c = sub->initSlot(text("c"), text("X*"), QelSlotReadWrite,
                             text("X"));
  c->addTypedEntry(5, 6, "pointer");
  net->initDisc(static_cast<QelDiscNode*>(net->discs[0]), 0, 0,
                GetQelNullDisc());
  net->initDisc(static_cast<QelDiscNode*>(net->discs[1]), 1, 1,
                GetQelNullDisc());
  net->addAlphaNode(static_cast<QelDiscNode*>(net->discs[0]), 0, -1,
                    QelPatternPlain);
  net->addAlphaNode(static_cast<QelDiscNode*>(net->discs[1]), 1, -1,
                    QelPatternPlain);
  net->initJoin(net->joins[0], 0, 0, 1, GetQelNullJoin(), -1, -1,
                QelPatternWait);
  net->initJoin(net->joins[1], 1, 0, 0, GetQelNullJoin(), -1, -1,
                QelPatternPlain);
  net->initRule(net->rules[0], 0, text("r0"), GetQelNullPrio(), 0, 1, 2);
  net->initAction(0, nullptr, 0, 1, 1);
  net->initAction(0, nullptr, 1, 1, 0);
  net->initRule(net->rules[1], -1, text("r1"), GetQelNullPrio(), 0, -1, 0);
  net->initAction(1, nullptr, 0, 0, 1);
  return net;
}

TEST(NetworkOwnership, DestructorDeletesEverythingItOwnsOnce) {
  hookedClassesDestroyed = 0;
  QelNetwork* net = buildNetwork();
  DeletionWatch watch;
  watch.watch(net->defaultPacket);
  watch.watchAll(net->constants);
  watch.watch(static_cast<QelConstant*>(net->constants[0])->value);
  watch.watchAll(net->slots);
  for (QelListCell* c = net->slots.head; c; c = c->next)
    watch.watchAll(static_cast<QelSlot*>(c->item)->entries);
  watch.watchAll(net->packets);
  watch.watchAll(net->classes);
  watch.watchAll(net->discs);
  watch.watchAll(net->alphas);
  watch.watchAll(net->joins);
  watch.watchAll(net->rights);
  watch.watchAll(net->rules);
  for (QelListCell* c = net->rules.head; c; c = c->next) {
    QelRuleNode* rule = static_cast<QelRuleNode*>(c->item);
    if (rule->mainAction) watch.watch(rule->mainAction);
    if (rule->watchdogAction) watch.watch(rule->watchdogAction);
  }
  // Default packet, 2 constants and a value, 3 slots with 3 entries, two
  // elements in each of seven lists, 3 action nodes.
  ASSERT_EQ(watch.size(), 1 + 3 + 6 + 14 + 3);

  delete net;
  EXPECT_EQ(watch.notDeletedOnce(), std::vector<const void*>());
  EXPECT_EQ(hookedClassesDestroyed, 1);
}

TEST(NetworkOwnership, SlotsAreDeletedThroughTheNetworkOnly) {
  auto* net = new QelNetwork(text("slots"));
  net->init(0, 0, 0, 0, 0, 0, 0);
  auto* root = new QelClassNode(net, 0);
  root->name = text("Root");
  net->classes.append(root);
  for (int i = 0; i < 4; ++i)
    root->initSlot(text("s"), text("t"), QelSlotReadWrite, text("float"));
  // Three levels share the root's slots in their allSlots lists.
  auto* mid = new HookedClassNode(net, 1);
  net->classes.append(mid);
  mid->setSuperClass(root);
  auto* leaf = new HookedClassNode(net, 2);
  net->classes.append(leaf);
  leaf->setSuperClass(mid);
  leaf->initSlot(text("own"), text("t"), QelSlotReadWrite, text("string"));
  ASSERT_EQ(leaf->allSlots.length(), 5);

  DeletionWatch watch;
  watch.watchAll(net->slots);
  ASSERT_EQ(watch.size(), 5);
  delete net;
  EXPECT_EQ(watch.notDeletedOnce(), std::vector<const void*>());
}

TEST(ConstantValues, ReplacingReleasesTheOldValueOnce) {
  auto* net = new QelNetwork(text("values"));
  net->init(1, 0, 0, 0, 0, 0, 0);
  auto* constant = static_cast<QelConstant*>(net->constants[0]);
  auto* v1 = static_cast<QelValue*>(::operator new(16));
  auto* v2 = static_cast<QelValue*>(::operator new(32));
  DeletionWatch watch;
  watch.watch(v1);
  watch.watch(v2);

  net->initInternalConstant(constant, text("k"), v1);
  EXPECT_EQ(constant->value, v1);
  EXPECT_EQ(watch.deletions(v1), 0);

  net->initInternalConstant(constant, text("k"), v2);
  EXPECT_EQ(constant->value, v2);
  EXPECT_EQ(watch.deletions(v1), 1);
  EXPECT_EQ(watch.deletions(v2), 0);

  // The value it already owns: kept, not released.
  net->initExternalConstant(constant, text("k"), v2);
  EXPECT_EQ(constant->value, v2);
  EXPECT_EQ(constant->external, 1);
  EXPECT_EQ(watch.deletions(v2), 0);

  // A null value keeps the old one.
  net->initInternalConstant(constant, text("k2"), nullptr);
  EXPECT_EQ(constant->value, v2);
  EXPECT_EQ(constant->external, 0);
  EXPECT_STREQ(constant->name, "k2");
  EXPECT_EQ(watch.deletions(v2), 0);

  delete net;
  EXPECT_EQ(watch.deletions(v1), 1);
  EXPECT_EQ(watch.deletions(v2), 1);
}

TEST(ConstantValues, ExternalReplacementAlsoReleases) {
  auto* net = new QelNetwork(text("values"));
  net->init(1, 0, 0, 0, 0, 0, 0);
  auto* constant = static_cast<QelConstant*>(net->constants[0]);
  auto* v1 = static_cast<QelValue*>(::operator new(4));
  auto* v2 = static_cast<QelValue*>(::operator new(4));
  DeletionWatch watch;
  watch.watch(v1);
  watch.watch(v2);
  net->initExternalConstant(constant, text("e"), v1);
  net->initExternalConstant(constant, text("e"), v2);
  EXPECT_EQ(watch.deletions(v1), 1);
  EXPECT_EQ(constant->value, v2);
  delete net;
  EXPECT_EQ(watch.deletions(v2), 1);
}

TEST(ConstantValues, DeletingAConstant) {
  auto* value = static_cast<QelValue*>(::operator new(8));
  auto* withValue = new QelConstant(nullptr, value);
  EXPECT_EQ(withValue->value, value);
  auto* without = new QelConstant(nullptr, nullptr);
  DeletionWatch watch;
  watch.watch(value);
  watch.watch(withValue);
  watch.watch(without);

  deletion_probe::allDeletions = 0;
  deletion_probe::countingAll = true;
  delete without;
  deletion_probe::countingAll = false;
  // Only the constant itself.
  EXPECT_EQ(deletion_probe::allDeletions, 1);
  EXPECT_EQ(watch.deletions(without), 1);

  deletion_probe::allDeletions = 0;
  deletion_probe::countingAll = true;
  delete withValue;
  deletion_probe::countingAll = false;
  EXPECT_EQ(deletion_probe::allDeletions, 2);
  EXPECT_EQ(watch.deletions(value), 1);
  EXPECT_EQ(watch.deletions(withValue), 1);
}

}  // namespace
