#include "memory/class_mem.h"

#include <cstring>
#include <new>

#include "memory/disc_mem.h"
#include "memory/record_keys.h"
#include "memory/right_mem.h"
#include "util/block_cache.h"

QelClassMem::QelClassMem(QelContext* owner)
    : classNode(nullptr),
      context(owner),
      discCount(0),
      discMems(nullptr),
      recordExtra(0) {}

QelClassMem::~QelClassMem() { delete[] discMems; }

void QelClassMem::bindClassNode(QelClassNode* node) {
  classNode = node;
  discCount = node->discs.length();
  delete[] discMems;
  discMems = new QelDiscMem*[discCount + 1];
  int i = 0;
  for (QelListCell* cell = node->discs.head; cell; cell = cell->next) {
    discMems[i++] = context->discMems[static_cast<QelDiscNode*>(cell->item)->index];
  }
  discMems[i] = nullptr;
}

std::size_t QelClassMem::layOutRecords() {
  std::size_t offset = superMem() != nullptr ? superMem()->layOutRecords() : 0;
  for (QelDiscMem** disc = discMems; *disc != nullptr; ++disc) {
    const QelRightMem* right = (*disc)->rightMem;
    if (right != nullptr && right->keys != nullptr) {
      offset = right->keys->layOut(offset);
    }
  }
  recordExtra = offset;
  return offset;
}

QelInfo* QelClassMem::newRecord(void* object) {
  void* block = QelAllocBlock(sizeof(QelInfo) + recordExtra);
  QelInfo* record = ::new (block) QelInfo(object, this);
  // The key indexes expect their part zero-filled (QelRecordKeys).
  if (recordExtra != 0) {
    std::memset(static_cast<char*>(block) + sizeof(QelInfo), 0, recordExtra);
  }
  return record;
}

void QelClassMem::freeRecord(QelInfo* record) {
  record->~QelInfo();
  QelFreeBlock(record, sizeof(QelInfo) + recordExtra);
}

QelClassMem* QelClassMem::superMem() const {
  if (classNode->superClass == nullptr) return nullptr;
  return context->classMems[classNode->superClass->index];
}

QelInfo* QelClassMem::recordObject(void* object) {
  QelInfo* record = newRecord(object);
  infos.insert(record);
  context->objectTable->insert(object, record);
  return record;
}

void QelClassMem::callDoAssert(void* object) {
  for (const QelClassMem* mem = this; mem != nullptr; mem = mem->superMem()) {
    mem->classNode->doAssert(context, object);
  }
}

void QelClassMem::callDoRetract(void* object) {
  for (const QelClassMem* mem = this; mem != nullptr; mem = mem->superMem()) {
    mem->classNode->doRetract(context, object);
  }
}

void QelClassMem::activateDiscs(QelInfo* record, int mode) {
  for (const QelClassMem* mem = this; mem != nullptr; mem = mem->superMem()) {
    for (QelDiscMem** disc = mem->discMems; *disc != nullptr; ++disc) {
      (*disc)->activate(record, mode);
    }
  }
}

void QelClassMem::rekeyDiscs(QelInfo* record) {
  for (const QelClassMem* mem = this; mem != nullptr; mem = mem->superMem()) {
    for (QelDiscMem** disc = mem->discMems; *disc != nullptr; ++disc) {
      (*disc)->rekeyRecord(record);
    }
  }
}

void QelClassMem::deactivateDiscs(QelInfo* record) {
  for (const QelClassMem* mem = this; mem != nullptr; mem = mem->superMem()) {
    for (QelDiscMem** disc = mem->discMems; *disc != nullptr; ++disc) {
      (*disc)->deactivate(record);
    }
  }
}

// The end of every removal: class hooks, deletion, the record itself.
void QelClassMem::forgetRecord(QelInfo* record, unsigned char deleteObject) {
  void* object = record->object;
  infos.remove(record);
  callDoRetract(object);
  if (deleteObject && classNode->kind != QelClassExternal) {
    classNode->deleteInstance(object);
  }
  freeRecord(record);
}

void* QelClassMem::addObject(void* object) {
  QelInfo* record = recordObject(object);
  context->notifyAssertObject(record);
  callDoAssert(object);
  activateDiscs(record, QelModeNew);
  return object;
}

void QelClassMem::removeObject(QelInfo* record, unsigned char deleteObject) {
  context->notifyRetractObject(record);
  deactivateDiscs(record);
  context->objectTable->remove(record->object);
  forgetRecord(record, deleteObject);
}

void QelClassMem::modifyObject(QelInfo* record, int mode) {
  context->notifyBeginUpdate(record);
  rekeyDiscs(record);
  for (QelListCell* cell = keyedParents.head; cell; cell = cell->next) {
    static_cast<QelParentKeys*>(cell->item)->rekeyParentsOf(record);
  }
  activateDiscs(record, mode);
  context->notifyEndUpdate(record);
}

void QelClassMem::retractAll() {
  while (!infos.isEmpty()) {
    removeObject(static_cast<QelInfo*>(infos.first->key), 1);
  }
}

void QelClassMem::removeAll() {
  while (!infos.isEmpty()) {
    forgetRecord(static_cast<QelInfo*>(infos.first->key), 1);
  }
}

// Records and their set nodes go in one walk; the set is then emptied of
// nodes it no longer has.
void QelClassMem::releaseRecords() {
  QelSetNode* node = infos.first;
  infos.first = nullptr;
  while (node != nullptr) {
    QelSetNode* older = node->older;
    freeRecord(static_cast<QelInfo*>(node->key));
    delete node;
    node = older;
  }
  infos.clear();
}

// ---------------------------------------------------------------- logical

QelLogicalMem::QelLogicalMem(QelContext* owner) : QelClassMem(owner) {}

QelInfo* QelLogicalMem::findEqual(void* object) const {
  QelSetWalker walker(infos);
  while (void* key = walker.next()) {
    QelInfo* held = static_cast<QelInfo*>(key);
    if (classNode->equality(held->object, object)) return held;
  }
  return nullptr;
}

void QelLogicalMem::link(QelPartial* support, QelInfo* record) {
  support->supported.prepend(record);
  record->supporters.prepend(support);
}

void* QelLogicalMem::addObject(void* object) {
  QelPartial* support = context->justification;
  QelInfo* held = classNode->equality != nullptr ? findEqual(object) : nullptr;
  if (held != nullptr) {
    // The new object is a duplicate of one held: it goes, whatever the kind.
    classNode->deleteInstance(object);
    if (support != nullptr) {
      if (held->supporters.isEmpty() || support->supports(held)) {
        return held->object;
      }
      context->notifyAddTmsLink(held);
      link(support, held);
    } else if (!held->supporters.isEmpty()) {
      context->notifyStateLogical(held);
      held->dropAllSupports();
    }
    return held->object;
  }
  QelInfo* record = recordObject(object);
  context->notifyAssertLogical(record);
  if (support != nullptr) {
    context->notifyAddTmsLink(record);
    link(support, record);
  } else {
    context->notifyStateLogical(record);
  }
  callDoAssert(object);
  activateDiscs(record, QelModeNew);
  return object;
}

void QelLogicalMem::removeObject(QelInfo* record, unsigned char deleteObject) {
  context->notifyRetractLogical(record);
  record->dropAllSupports();
  deactivateDiscs(record);
  context->objectTable->remove(record->object);
  forgetRecord(record, deleteObject);
}

void QelLogicalMem::modifyObject(QelInfo*, int) {}
