#include <cstring>
#include <mutex>

#include "join/join_counted.h"
#include "join/join_inline.h"
#include "join/join_keys.h"
#include "join/join_mem.h"
#include "join/join_obj_unique.h"
#include "join/join_packet.h"
#include "join/join_plain.h"
#include "join/join_wait.h"
#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "memory/disc_mem.h"
#include "memory/right_mem.h"
#include "qel_class.h"
#include "qel_context.h"

namespace {

// Guards the context list of every network: contexts over one network may
// be initialized and destroyed on several threads at once. The list is
// touched only then, so one lock for all networks costs nothing that counts.
std::mutex gContextListMutex;

void registerContext(QelNetwork* net, QelContext* context) {
  std::lock_guard<std::mutex> lock(gContextListMutex);
  net->contexts.append(context);
}

void deregisterContext(QelNetwork* net, QelContext* context) {
  std::lock_guard<std::mutex> lock(gContextListMutex);
  net->contexts.remove(context);
}

// A table of count + 1 entries whose last entry is null.
template <typename T>
T** newTable(int count) {
  T** table = new T*[count + 1];
  for (int i = 0; i <= count; ++i) table[i] = nullptr;
  return table;
}

template <typename T>
void deleteTable(T** table, int count) {
  if (table == nullptr) return;
  for (int i = 0; i < count; ++i) delete table[i];
  delete[] table;
}

QelAlphaMem* newAlphaMem(int patternType, QelContext* context) {
  switch (patternType) {
    case QelPatternPlain:
      return new QelAlphaMemPlain(context);
    case QelPatternPacket:
      return new QelAlphaMemPacket(context);
    case QelPatternExists:
      return new QelAlphaMemExists(context);
    case QelPatternNot:
      return new QelAlphaMemNot(context);
    case QelPatternCount:
      return new QelAlphaMemCount(context);
    case QelPatternCollect:
      return new QelAlphaMemCollect(context);
    default:
      return nullptr;
  }
}

QelJoinMem* newJoinMem(int patternType, QelContext* context) {
  switch (patternType) {
    case QelPatternPlain:
      return new QelJoinMemPlain(context);
    case QelPatternPlainObjUnique:
      return new QelJoinMemPlainObjUnique(context);
    case QelPatternPacket:
      return new QelJoinMemPacket(context);
    case QelPatternExists:
      return new QelJoinMemExists(context);
    case QelPatternNot:
      return new QelJoinMemNot(context);
    case QelPatternCount:
      return new QelJoinMemCount(context);
    case QelPatternCollect:
      return new QelJoinMemCollect(context);
    case QelPatternInline:
      return new QelJoinMemInline(context);
    case QelPatternWait:
      return new QelJoinMemWait(context);
    default:
      return nullptr;
  }
}

char* copyString(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t size = std::strlen(text) + 1;
  char* copy = new char[size];
  std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

QelContext::QelContext()
    : network(nullptr),
      agenda(nullptr),
      internalConstantCount(0),
      internalConstants(nullptr),
      classMemCount(0),
      classMems(nullptr),
      alphaMemCount(0),
      alphaMems(nullptr),
      joinMemCount(0),
      joinMems(nullptr),
      rightMemCount(0),
      rightMems(nullptr),
      discMemCount(0),
      discMems(nullptr),
      packetMemCount(0),
      packetMems(nullptr),
      ruleMemCount(0),
      ruleMems(nullptr),
      objectTable(nullptr),
      justification(nullptr),
      rulesetName(nullptr),
      time(0),
      auxiliaryRecord(new QelAuxiliaryRecord{{0, 0, 0}}) {}

QelContext::~QelContext() {
  releaseContents();
  if (network != nullptr) deregisterContext(network, this);
  delete[] internalConstants;
  deleteTable(classMems, classMemCount);
  deleteTable(packetMems, packetMemCount);
  deleteTable(ruleMems, ruleMemCount);
  deleteTable(discMems, discMemCount);
  deleteTable(alphaMems, alphaMemCount);
  deleteTable(joinMems, joinMemCount);
  deleteTable(rightMems, rightMemCount);
  delete agenda;
  delete objectTable;
  delete[] rulesetName;
  delete auxiliaryRecord;
}

// Frees every partial, instance, record and collect record the memories
// still hold. Application objects are left alone and no hook runs.
void QelContext::releaseContents() {
  if (agenda != nullptr) agenda->clearInstances();
  for (int i = 0; i < alphaMemCount; ++i) {
    if (alphaMems[i] != nullptr) alphaMems[i]->clear();
  }
  for (int i = 0; i < joinMemCount; ++i) {
    if (joinMems[i] != nullptr) joinMems[i]->clear();
  }
  for (int i = 0; i < classMemCount; ++i) {
    if (classMems[i] != nullptr) classMems[i]->releaseRecords();
  }
  if (objectTable != nullptr) objectTable->clear();
}

void QelContext::initialize(QelNetwork* net) {
  network = net;
  registerContext(net, this);
  rulesetName = copyString(net->rulesetName);
  internalConstantCount = net->internalConstantCount();
  classMemCount = net->classes.length();
  packetMemCount = net->packets.length();
  ruleMemCount = net->rules.length();
  discMemCount = net->discs.length();
  alphaMemCount = net->alphas.length();
  joinMemCount = net->joins.length();
  rightMemCount = net->rights.length();
  agenda = new QelAgenda(this);
  objectTable = new QelHashTable(QelHashTable::kMinBuckets);
  buildTables();
  bindMemories();
  seedAlphaMemories();
}

void QelContext::buildTables() {
  internalConstants = newTable<QelConstant>(internalConstantCount);
  int k = 0;
  for (QelListCell* cell = network->constants.head; cell; cell = cell->next) {
    QelConstant* constant = static_cast<QelConstant*>(cell->item);
    if (constant->external == 0) internalConstants[k++] = constant;
  }

  classMems = newTable<QelClassMem>(classMemCount);
  k = 0;
  for (QelListCell* cell = network->classes.head; cell; cell = cell->next) {
    const QelClassNode* node = static_cast<QelClassNode*>(cell->item);
    classMems[k++] = node->kind == QelClassLogical ? new QelLogicalMem(this)
                                     : new QelClassMem(this);
  }

  packetMems = newTable<QelPacketMem>(packetMemCount);
  for (int i = 0; i < packetMemCount; ++i) packetMems[i] = new QelPacketMem(this);

  ruleMems = newTable<QelRuleMem>(ruleMemCount);
  for (int i = 0; i < ruleMemCount; ++i) ruleMems[i] = new QelRuleMem(this);

  discMems = newTable<QelDiscMem>(discMemCount);
  for (int i = 0; i < discMemCount; ++i) discMems[i] = new QelDiscMem(this);

  alphaMems = newTable<QelAlphaMem>(alphaMemCount);
  k = 0;
  for (QelListCell* cell = network->alphas.head; cell; cell = cell->next) {
    const QelAlphaNode* node = static_cast<QelAlphaNode*>(cell->item);
    alphaMems[k++] = newAlphaMem(node->patternType, this);
  }

  joinMems = newTable<QelJoinMem>(joinMemCount);
  k = 0;
  for (QelListCell* cell = network->joins.head; cell; cell = cell->next) {
    const QelJoinNode* node = static_cast<QelJoinNode*>(cell->item);
    joinMems[k++] = newJoinMem(node->patternType, this);
  }

  rightMems = newTable<QelRightMem>(rightMemCount);
  for (int i = 0; i < rightMemCount; ++i) rightMems[i] = new QelRightMem(this);
}

// Binding looks across tables, so it starts once every table exists.
// Entries left null by pattern types without a memory are skipped.
void QelContext::bindMemories() {
  int i = 0;
  for (QelListCell* cell = network->classes.head; cell; cell = cell->next) {
    classMems[i++]->bindClassNode(static_cast<QelClassNode*>(cell->item));
  }
  i = 0;
  for (QelListCell* cell = network->packets.head; cell; cell = cell->next) {
    QelPacketMem* mem = packetMems[i++];
    mem->bindNode(static_cast<QelPacket*>(cell->item));
    notifyAddPacket(mem);
  }
  i = 0;
  for (QelListCell* cell = network->rules.head; cell; cell = cell->next) {
    ruleMems[i++]->bindNode(static_cast<QelRuleNode*>(cell->item));
  }
  i = 0;
  for (QelListCell* cell = network->discs.head; cell; cell = cell->next) {
    discMems[i++]->bindDiscNode(static_cast<QelDiscNode*>(cell->item));
  }
  i = 0;
  for (QelListCell* cell = network->alphas.head; cell; cell = cell->next) {
    QelAlphaMem* mem = alphaMems[i++];
    if (mem == nullptr) continue;
    QelAlphaNode* node = static_cast<QelAlphaNode*>(cell->item);
    mem->bindAlphaNode(node);
    QelBindSuccessors(mem, node->successors);
  }
  i = 0;
  for (QelListCell* cell = network->joins.head; cell; cell = cell->next) {
    QelJoinMem* mem = joinMems[i++];
    if (mem != nullptr) mem->bindNode(static_cast<QelJoinNode*>(cell->item));
  }
  i = 0;
  for (QelListCell* cell = network->rights.head; cell; cell = cell->next) {
    QelRightMem* mem = rightMems[i++];
    QelRightNode* node = static_cast<QelRightNode*>(cell->item);
    mem->bindNode(node);
    QelBindSuccessors(mem, node->successors);
    QelBindRightKeys(mem);
  }
  for (i = 0; i < classMemCount; ++i) classMems[i]->layOutRecords();
}

void QelContext::seedAlphaMemories() {
  for (int i = 0; i < alphaMemCount; ++i) {
    if (alphaMems[i] != nullptr) alphaMems[i]->seed();
  }
}

// ---------------------------------------------------------------- packets

void QelContext::activatePacket(QelPacketMem* packetMem) {
  if (!packetMem->isInactive()) return;
  ++agenda->changeCount;
  packetMem->activate();
}

void QelContext::deactivatePacket(QelPacketMem* packetMem) {
  if (!packetMem->isActive()) return;
  ++agenda->changeCount;
  packetMem->deactivate();
}

void QelContext::activatePacket(const char* packetName, unsigned char* found) {
  const int index = getPacketIndex(packetName);
  if (found != nullptr) *found = index >= 0 ? 1 : 0;
  if (index < 0) return;
  activatePacket(packetMems[index]);
}

void QelContext::deactivatePacket(const char* packetName,
                                  unsigned char* found) {
  const int index = getPacketIndex(packetName);
  if (found != nullptr) *found = index >= 0 ? 1 : 0;
  if (index < 0) return;
  deactivatePacket(packetMems[index]);
}

int QelContext::getPacketIndex(const char* packetName) const {
  if (packetName == nullptr) return -1;
  for (int i = 0; i < packetMemCount; ++i) {
    const char* name = packetMems[i]->packet->name;
    if (name != nullptr && std::strcmp(name, packetName) == 0) return i;
  }
  return -1;
}

const char* QelContext::getPacketName(int index) const {
  if (index < 0 || index >= packetMemCount) return nullptr;
  return packetMems[index]->packet->name;
}

int QelContext::getClassIndex(const char* className) const {
  if (className == nullptr) return -1;
  for (int i = 0; i < classMemCount; ++i) {
    const char* name = classMems[i]->classNode->name;
    if (name != nullptr && std::strcmp(name, className) == 0) return i;
  }
  return -1;
}

// ---------------------------------------------------------------- nulls

unsigned char QelContext::nullDisc(QelInfo*) { return 0; }
unsigned char QelContext::nullJoin(QelPartial*, QelInfo*) { return 0; }
int QelContext::nullPrio(QelPartial*) { return 0; }
unsigned char QelContext::nullAlphaCollect(const QelOrderedSet*) { return 1; }
unsigned char QelContext::nullJoinCollect(QelPartial*, QelOrderedSet*) {
  return 1;
}

QelDiscTest GetQelNullDisc() { return &QelContext::nullDisc; }
QelJoinTest GetQelNullJoin() { return &QelContext::nullJoin; }
QelPriorityFunction GetQelNullPrio() { return &QelContext::nullPrio; }
QelAlphaCollectTest GetQelNullAlphaCollect() {
  return &QelContext::nullAlphaCollect;
}
QelJoinCollectTest GetQelNullJoinCollect() {
  return &QelContext::nullJoinCollect;
}
