// A generic generated ruleset for tests.
//
// Rule compilers emit a context whose member functions are the tests,
// priority functions and actions. TestContext does the same with numbered
// member function templates that dispatch to std::function slots, so a test
// can build any network through the construction interface and give each
// node its callback: `ctx.discFns[3] = ...` pairs with `TestContext::disc(3)`.
// Every hook call is logged as one line of text.
#ifndef QEL_TESTS_SUPPORT_HARNESS_H
#define QEL_TESTS_SUPPORT_HARNESS_H

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "qel.h"

namespace qeltest {

// An application object: an id and a few integer slots.
struct Fact {
  int id;
  int a = 0;
  int b = 0;
  int c = 0;
};

inline Fact* factOf(QelInfo* info) { return static_cast<Fact*>(info->object); }
// The fact matched at position `pos` (0 = first pattern) of a partial of
// length `length`.
inline Fact* factAt(QelPartial* partial, int length, int pos) {
  QelPartial* p = partial->tailn(length - 1 - pos);
  return p->record != nullptr ? static_cast<Fact*>(p->record->object) : nullptr;
}

// "[1,2,_]": the ids along a partial, head pattern first; `_` for a null
// record, `{n}` for a collect record holding n members.
std::string tupleOf(const QelPartial* partial);

constexpr int kSlots = 32;

class TestContext : public QelContext {
 public:
  TestContext() = default;
  ~TestContext() override = default;

  std::array<std::function<bool(QelInfo*)>, kSlots> discFns;
  std::array<std::function<bool(QelPartial*, QelInfo*)>, kSlots> joinFns;
  std::array<std::function<bool(int)>, kSlots> alphaCountFns;
  std::array<std::function<bool(const QelOrderedSet*)>, kSlots> alphaCollectFns;
  std::array<std::function<bool(QelPartial*, int)>, kSlots> joinCountFns;
  std::array<std::function<bool(QelPartial*, QelOrderedSet*)>, kSlots>
      joinCollectFns;
  std::array<std::function<void*(QelPartial*)>, kSlots> keyFns;
  std::array<std::function<void*(QelInfo*)>, kSlots> recordKeyFns;
  std::array<std::function<int(QelPartial*)>, kSlots> waitFns;
  std::array<std::function<int(QelPartial*)>, kSlots> prioFns;
  std::array<std::function<void(QelPartial*)>, kSlots> actionFns;

  // Hook log, one line per call; `logging` switches it off and on.
  std::vector<std::string> log;
  bool logging = true;
  // Counters of the callbacks actually called.
  int discCalls = 0;
  int joinCalls = 0;

  // Member function pointers for slot i.
  static QelDiscTest disc(int i);
  static QelJoinTest join(int i);
  static QelAlphaCountTest alphaCount(int i);
  static QelAlphaCollectTest alphaCollect(int i);
  static QelJoinCountTest joinCount(int i);
  static QelJoinCollectTest joinCollect(int i);
  static QelKeyFunction key(int i);
  static QelRecordKeyFunction recordKey(int i);
  static QelWaitTimeFunction wait(int i);
  static QelPriorityFunction prio(int i);
  static QelActionFunction action(int i);

  const char* getRulesetName() const override { return "test"; }

  // The protected operations, opened for tests.
  void init(QelNetwork* net) { initialize(net); }
  void retractAll() { qelRetractAll(); }
  void reset() { resetMemory(); }
  void retractClass(int index) { qelRetractClass(index); }
  void retractClass(const char* name) { qelRetractClass(name); }
  void activate(QelPacketMem* mem) { activatePacket(mem); }
  void deactivate(QelPacketMem* mem) { deactivatePacket(mem); }
  using QelContext::activatePacket;
  using QelContext::deactivatePacket;

  // Returns and clears the log.
  std::vector<std::string> takeLog() {
    std::vector<std::string> out;
    out.swap(log);
    return out;
  }
  // The agenda as "rule:tuple:priority" lines, in firing order.
  std::vector<std::string> agendaLines() const;

  template <int I>
  unsigned char discT(QelInfo* info) {
    ++discCalls;
    return discFns[I](info) ? 1 : 0;
  }
  template <int I>
  unsigned char joinT(QelPartial* p, QelInfo* info) {
    ++joinCalls;
    return joinFns[I](p, info) ? 1 : 0;
  }
  template <int I>
  unsigned char alphaCountT(int n) {
    return alphaCountFns[I](n) ? 1 : 0;
  }
  template <int I>
  unsigned char alphaCollectT(const QelOrderedSet* s) {
    return alphaCollectFns[I](s) ? 1 : 0;
  }
  template <int I>
  unsigned char joinCountT(QelPartial* p, int n) {
    return joinCountFns[I](p, n) ? 1 : 0;
  }
  template <int I>
  unsigned char joinCollectT(QelPartial* p, QelOrderedSet* s) {
    return joinCollectFns[I](p, s) ? 1 : 0;
  }
  template <int I>
  void* keyT(QelPartial* p) {
    return keyFns[I](p);
  }
  template <int I>
  void* recordKeyT(QelInfo* info) {
    return recordKeyFns[I](info);
  }
  template <int I>
  int waitT(QelPartial* p) {
    return waitFns[I](p);
  }
  template <int I>
  int prioT(QelPartial* p) {
    return prioFns[I](p);
  }
  template <int I>
  void actionT(QelPartial* p) {
    if (actionFns[I]) actionFns[I](p);
  }

 protected:
  void note(std::string line) {
    if (logging) log.push_back(std::move(line));
  }

  void checkEndCycle(QelInstance* i) override;
  void checkBeginCycle() override { note("checkBeginCycle"); }
  void notifyBeginRetractAll() override { note("beginRetractAll"); }
  void notifyEndRetractAll() override { note("endRetractAll"); }
  void notifyAddPacket(QelPacketMem* p) override;
  void notifyActivatePacket(QelPacketMem* p) override;
  void notifyDeactivatePacket(QelPacketMem* p) override;
  void notifyBlockPacket(QelPacketMem* p) override;
  void notifyDeblockPacket(QelPacketMem* p) override;
  void notifyAddWatchdog(QelRuleMem* r, QelWaitPartial* w) override;
  void notifyRemoveWatchdog(QelWaitPartial* w, QelWaitPartial* head,
                            QelRuleMem** rules) override;
  void notifyDisableWatchdog(QelRuleMem* r, QelPartial* p) override;
  void notifyAddRule(QelInstance* i) override;
  void notifyRemoveRule(QelInstance* i) override;
  void notifyUpdateRule(QelInstance* i) override;
  void notifyBeginRule(QelInstance* i) override;
  void notifyEndRule() override { note("endRule"); }
  void notifyAssertObject(QelInfo* r) override;
  void notifyRetractObject(QelInfo* r) override;
  void notifyBeginUpdate(QelInfo* r) override;
  void notifyEndUpdate(QelInfo* r) override;
  void notifyAssertLogical(QelInfo* r) override;
  void notifyRetractLogical(QelInfo* r) override;
  void notifyStateLogical(QelInfo* r) override;
  void notifyAddTmsLink(QelInfo* r) override;
  void notifyRemoveTmsLink(QelInfo* r) override;
};

// A class node that deletes Facts and logs its object hooks into the
// context's log (when the context is a TestContext).
class TestClassNode : public QelClassNode {
 public:
  TestClassNode(QelNetwork* net, int index, char* className, int kindValue)
      : QelClassNode(net, index) {
    name = className;
    kind = kindValue;
  }
  int deleted = 0;
  int asserted = 0;
  int retracted = 0;
  void deleteInstance(void* object) override {
    ++deleted;
    delete static_cast<Fact*>(object);
  }
  void doAssert(QelContext*, void*) override { ++asserted; }
  void doRetract(QelContext*, void*) override { ++retracted; }
};

// Creates, names and appends a class node; links the superclass when given.
TestClassNode* addClass(QelNetwork& net, const char* name, int kind = 0,
                        QelClassNode* superClass = nullptr);

// Typed element access on the network lists.
inline QelDiscNode* discAt(QelNetwork& n, int i) {
  return static_cast<QelDiscNode*>(n.discs[i]);
}
inline QelAlphaNode* alphaAt(QelNetwork& n, int i) {
  return static_cast<QelAlphaNode*>(n.alphas[i]);
}
inline QelJoinNode* joinAt(QelNetwork& n, int i) {
  return static_cast<QelJoinNode*>(n.joins[i]);
}
inline QelRuleNode* ruleAt(QelNetwork& n, int i) {
  return static_cast<QelRuleNode*>(n.rules[i]);
}
inline QelPacket* packetAt(QelNetwork& n, int i) {
  return static_cast<QelPacket*>(n.packets[i]);
}

}  // namespace qeltest

#endif  // QEL_TESTS_SUPPORT_HARNESS_H
