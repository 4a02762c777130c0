#include "qel_iterator.h"
#include "qel_list.h"
#include "qel_partial.h"
#include "qel_table.h"

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
