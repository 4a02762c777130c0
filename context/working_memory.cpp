#include "join/join_mem.h"
#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "memory/disc_mem.h"
#include "qel_context.h"

// A known object is updated in mode 2 whatever class index is given. An
// unknown object needs a class index the context has; a null object or an
// index out of range changes nothing.
void* QelContext::assertObject(int classIndex, void* object) {
  if (object == nullptr) return nullptr;
  QelInfo* record = static_cast<QelInfo*>(objectTable->find(object));
  if (record == nullptr && (classIndex < 0 || classIndex >= classMemCount)) {
    return nullptr;
  }
  ++agenda->changeCount;
  if (record != nullptr) {
    record->classMem->modifyObject(record, QelModeUpdate);
    return object;
  }
  return classMems[classIndex]->addObject(object);
}

void QelContext::retractObject(void* object, unsigned char deleteObject) {
  QelInfo* record = static_cast<QelInfo*>(objectTable->find(object));
  if (record == nullptr) return;
  ++agenda->changeCount;
  record->classMem->removeObject(record, deleteObject);
}

void QelContext::updateObject(void* object, unsigned char refresh) {
  QelInfo* record = static_cast<QelInfo*>(objectTable->find(object));
  if (record == nullptr) return;
  ++agenda->changeCount;
  record->classMem->modifyObject(record,
                                 refresh ? QelModeRefresh : QelModeUpdate);
}

void QelContext::qelRetractClass(int classIndex) {
  if (classIndex < 0 || classIndex >= classMemCount) return;
  classMems[classIndex]->retractAll();
}

void QelContext::qelRetractClass(const char* className) {
  const int index = getClassIndex(className);
  if (index == -1) return;
  qelRetractClass(index);
}

void QelContext::qelRetractAll() {
  notifyBeginRetractAll();
  resetMemory();
  notifyEndRetractAll();
  seedAlphaMemories();
}

// Empties working memory without propagation and without hooks.
void QelContext::resetMemory() {
  objectTable->clear();
  for (int i = 0; i < classMemCount; ++i) classMems[i]->removeAll();
  for (int i = 0; i < alphaMemCount; ++i) {
    if (alphaMems[i] != nullptr) alphaMems[i]->clear();
  }
  for (int i = 0; i < joinMemCount; ++i) {
    if (joinMems[i] != nullptr) joinMems[i]->clear();
  }
  for (int i = 0; i < packetMemCount; ++i) packetMems[i]->reset();
  for (int i = 0; i < discMemCount; ++i) discMems[i]->matches.clear();
  agenda->clearInstances();
}
