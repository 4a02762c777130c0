#include "support/harness.h"

#include <utility>

namespace qeltest {

namespace {

template <std::size_t... I>
std::array<QelDiscTest, kSlots> discTable(std::index_sequence<I...>) {
  return {static_cast<QelDiscTest>(&TestContext::discT<I>)...};
}
template <std::size_t... I>
std::array<QelJoinTest, kSlots> joinTable(std::index_sequence<I...>) {
  return {static_cast<QelJoinTest>(&TestContext::joinT<I>)...};
}
template <std::size_t... I>
std::array<QelAlphaCountTest, kSlots> alphaCountTable(std::index_sequence<I...>) {
  return {static_cast<QelAlphaCountTest>(&TestContext::alphaCountT<I>)...};
}
template <std::size_t... I>
std::array<QelAlphaCollectTest, kSlots> alphaCollectTable(
    std::index_sequence<I...>) {
  return {static_cast<QelAlphaCollectTest>(&TestContext::alphaCollectT<I>)...};
}
template <std::size_t... I>
std::array<QelJoinCountTest, kSlots> joinCountTable(std::index_sequence<I...>) {
  return {static_cast<QelJoinCountTest>(&TestContext::joinCountT<I>)...};
}
template <std::size_t... I>
std::array<QelJoinCollectTest, kSlots> joinCollectTable(
    std::index_sequence<I...>) {
  return {static_cast<QelJoinCollectTest>(&TestContext::joinCollectT<I>)...};
}
template <std::size_t... I>
std::array<QelKeyFunction, kSlots> keyTable(std::index_sequence<I...>) {
  return {static_cast<QelKeyFunction>(&TestContext::keyT<I>)...};
}
template <std::size_t... I>
std::array<QelRecordKeyFunction, kSlots> recordKeyTable(
    std::index_sequence<I...>) {
  return {static_cast<QelRecordKeyFunction>(&TestContext::recordKeyT<I>)...};
}
template <std::size_t... I>
std::array<QelWaitTimeFunction, kSlots> waitTable(std::index_sequence<I...>) {
  return {static_cast<QelWaitTimeFunction>(&TestContext::waitT<I>)...};
}
template <std::size_t... I>
std::array<QelPriorityFunction, kSlots> prioTable(std::index_sequence<I...>) {
  return {static_cast<QelPriorityFunction>(&TestContext::prioT<I>)...};
}
template <std::size_t... I>
std::array<QelActionFunction, kSlots> actionTable(std::index_sequence<I...>) {
  return {static_cast<QelActionFunction>(&TestContext::actionT<I>)...};
}

using Slots = std::make_index_sequence<kSlots>;

std::string ruleName(const QelRuleMem* rule) {
  return "R" + std::to_string(rule->ruleNode->index);
}

std::string instanceText(const QelInstance* i) {
  return ruleName(i->action->ruleMem) + tupleOf(i->partial);
}

std::string recordText(const QelInfo* r) {
  return std::to_string(static_cast<const Fact*>(r->object)->id);
}

std::string packetText(const QelPacketMem* p) {
  return std::string(p->packet->name ? p->packet->name : "?") + " state " +
         std::to_string(p->state);
}

}  // namespace

QelDiscTest TestContext::disc(int i) {
  static const auto table = discTable(Slots{});
  return table[i];
}
QelJoinTest TestContext::join(int i) {
  static const auto table = joinTable(Slots{});
  return table[i];
}
QelAlphaCountTest TestContext::alphaCount(int i) {
  static const auto table = alphaCountTable(Slots{});
  return table[i];
}
QelAlphaCollectTest TestContext::alphaCollect(int i) {
  static const auto table = alphaCollectTable(Slots{});
  return table[i];
}
QelJoinCountTest TestContext::joinCount(int i) {
  static const auto table = joinCountTable(Slots{});
  return table[i];
}
QelJoinCollectTest TestContext::joinCollect(int i) {
  static const auto table = joinCollectTable(Slots{});
  return table[i];
}
QelKeyFunction TestContext::key(int i) {
  static const auto table = keyTable(Slots{});
  return table[i];
}
QelRecordKeyFunction TestContext::recordKey(int i) {
  static const auto table = recordKeyTable(Slots{});
  return table[i];
}
QelWaitTimeFunction TestContext::wait(int i) {
  static const auto table = waitTable(Slots{});
  return table[i];
}
QelPriorityFunction TestContext::prio(int i) {
  static const auto table = prioTable(Slots{});
  return table[i];
}
QelActionFunction TestContext::action(int i) {
  static const auto table = actionTable(Slots{});
  return table[i];
}

std::string tupleOf(const QelPartial* partial) {
  std::vector<std::string> items;
  for (const QelPartial* p = partial; p != nullptr; p = p->parent) {
    if (p->record == nullptr) {
      items.push_back("_");
    } else if (p->record->classMem == nullptr) {
      const QelOrderedSet* set =
          static_cast<const QelOrderedSet*>(p->record->object);
      items.push_back("{" + std::to_string(set->count) + "}");
    } else {
      items.push_back(recordText(p->record));
    }
  }
  std::string out = "[";
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (it != items.rbegin()) out += ",";
    out += *it;
  }
  return out + "]";
}

std::vector<std::string> TestContext::agendaLines() const {
  std::vector<std::string> out;
  for (const QelInstance* i = agenda->first; i != nullptr; i = i->next) {
    out.push_back(instanceText(i) + ":" + std::to_string(i->priority));
  }
  return out;
}

void TestContext::checkEndCycle(QelInstance* i) {
  note("checkEndCycle " + instanceText(i));
}
void TestContext::notifyAddPacket(QelPacketMem* p) {
  note("addPacket " + packetText(p));
}
void TestContext::notifyActivatePacket(QelPacketMem* p) {
  note("activatePacket " + packetText(p));
}
void TestContext::notifyDeactivatePacket(QelPacketMem* p) {
  note("deactivatePacket " + packetText(p));
}
void TestContext::notifyBlockPacket(QelPacketMem* p) {
  note("blockPacket " + packetText(p));
}
void TestContext::notifyDeblockPacket(QelPacketMem* p) {
  note("deblockPacket " + packetText(p));
}
void TestContext::notifyAddWatchdog(QelRuleMem* r, QelWaitPartial* w) {
  note("addWatchdog " + ruleName(r) + tupleOf(w));
}
void TestContext::notifyRemoveWatchdog(QelWaitPartial* w, QelWaitPartial*,
                                       QelRuleMem**) {
  note("removeWatchdog " + tupleOf(w));
}
void TestContext::notifyDisableWatchdog(QelRuleMem* r, QelPartial* p) {
  note("disableWatchdog " + ruleName(r) + tupleOf(p));
}
void TestContext::notifyAddRule(QelInstance* i) {
  note("addRule " + instanceText(i));
}
void TestContext::notifyRemoveRule(QelInstance* i) {
  note("removeRule " + instanceText(i));
}
void TestContext::notifyUpdateRule(QelInstance* i) {
  note("updateRule " + instanceText(i) + ":" + std::to_string(i->priority));
}
void TestContext::notifyBeginRule(QelInstance* i) {
  note("beginRule " + instanceText(i));
}
void TestContext::notifyAssertObject(QelInfo* r) {
  note("assert " + recordText(r));
}
void TestContext::notifyRetractObject(QelInfo* r) {
  note("retract " + recordText(r));
}
void TestContext::notifyBeginUpdate(QelInfo* r) {
  note("beginUpdate " + recordText(r));
}
void TestContext::notifyEndUpdate(QelInfo* r) {
  note("endUpdate " + recordText(r));
}
void TestContext::notifyAssertLogical(QelInfo* r) {
  note("assertLogical " + recordText(r));
}
void TestContext::notifyRetractLogical(QelInfo* r) {
  note("retractLogical " + recordText(r));
}
void TestContext::notifyStateLogical(QelInfo* r) {
  note("stateLogical " + recordText(r));
}
void TestContext::notifyAddTmsLink(QelInfo* r) {
  note("addTmsLink " + recordText(r));
}
void TestContext::notifyRemoveTmsLink(QelInfo* r) {
  note("removeTmsLink " + recordText(r));
}

TestClassNode* addClass(QelNetwork& net, const char* name, int kind,
                        QelClassNode* superClass) {
  TestClassNode* node = new TestClassNode(&net, net.classes.length(),
                                          const_cast<char*>(name), kind);
  net.classes.append(node);
  if (superClass != nullptr) node->setSuperClass(superClass);
  return node;
}

}  // namespace qeltest
