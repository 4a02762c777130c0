#include "memory/class_mem.h"
#include "qel_context.h"
#include "qel_iterator.h"

QelCollection::QelCollection(const QelOrderedSet* set, unsigned char copy)
    : walker(nullptr), snapshot(nullptr), set_(set) {
  if (!copy) {
    walker = new QelSetWalker(*set);
    return;
  }
  // Newest first: put each record at the head while walking, then reverse.
  snapshot = new QelList();
  for (QelSetNode* node = set->first; node != nullptr; node = node->older) {
    snapshot->prepend(node->key);
  }
  snapshot->reverse();
  QelListIterator* iterator = new QelListIterator();
  iterator->init(*snapshot);
  walker = iterator;
}

QelCollection::~QelCollection() {
  if (snapshot != nullptr) {
    delete static_cast<QelListIterator*>(walker);
    delete snapshot;
  } else {
    delete static_cast<QelSetWalker*>(walker);
  }
}

void* QelCollection::next() {
  void* record = snapshot != nullptr
                     ? static_cast<QelListIterator*>(walker)->next()
                     : static_cast<QelSetWalker*>(walker)->next();
  return record != nullptr ? static_cast<QelInfo*>(record)->object : nullptr;
}

int QelCollection::length() const {
  return snapshot != nullptr ? snapshot->length() : set_->count;
}

void QelCollection::reset() {
  if (snapshot != nullptr) {
    static_cast<QelListIterator*>(walker)->init(*snapshot);
  } else {
    static_cast<QelSetWalker*>(walker)->restart();
  }
}

QelClassIterator::QelClassIterator(const QelContext* context,
                                   const char* className)
    : noSuchClass(0) {
  iterator.init(static_cast<const QelList*>(nullptr));
  const int index = context->getClassIndex(className);
  if (index == -1) {
    noSuchClass = 1;
    return;
  }
  const QelClassMem* mem = context->classMems[index];
  for (QelSetNode* node = mem->infos.first; node; node = node->older) {
    records.append(node->key);
  }
  iterator.init(records);
}

QelClassIterator::~QelClassIterator() {}

void* QelClassIterator::next() {
  if (noSuchClass) return nullptr;
  void* record = iterator.next();
  return record != nullptr ? static_cast<QelInfo*>(record)->object : nullptr;
}
