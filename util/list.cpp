#include "qel_list.h"

#include "util/block_cache.h"

void* QelListCell::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelListCell::operator delete(void* cell, std::size_t size) {
  QelFreeBlock(cell, size);
}

void QelList::clear() {
  QelListCell* cell = head;
  while (cell != nullptr) {
    QelListCell* next = cell->next;
    delete cell;
    cell = next;
  }
  head = nullptr;
}

int QelList::length() const {
  int n = 0;
  for (const QelListCell* cell = head; cell != nullptr; cell = cell->next) ++n;
  return n;
}

void* QelList::operator[](int index) const {
  if (index < 0) return nullptr;
  for (const QelListCell* cell = head; cell != nullptr; cell = cell->next) {
    if (index-- == 0) return cell->item;
  }
  return nullptr;
}

void QelList::append(void* item) {
  QelListCell** link = &head;
  while (*link != nullptr) link = &(*link)->next;
  *link = new QelListCell{item, nullptr};
}

void QelList::prepend(void* item) { head = new QelListCell{item, head}; }

unsigned char QelList::remove(void* item) {
  for (QelListCell** link = &head; *link != nullptr; link = &(*link)->next) {
    QelListCell* cell = *link;
    if (cell->item == item) {
      *link = cell->next;
      delete cell;
      return 1;
    }
  }
  return 0;
}

void QelList::copyInto(QelList& target) const {
  if (head == nullptr) return;
  QelListCell** link = &target.head;
  for (const QelListCell* cell = head; cell != nullptr; cell = cell->next) {
    *link = new QelListCell{cell->item, nullptr};
    link = &(*link)->next;
  }
}

void QelList::reverse() {
  QelListCell* reversed = nullptr;
  QelListCell* cell = head;
  while (cell != nullptr) {
    QelListCell* next = cell->next;
    cell->next = reversed;
    reversed = cell;
    cell = next;
  }
  head = reversed;
}

void QelListIterator::init(const QelList& list) { init(&list); }

void QelListIterator::init(const QelList* walked) {
  list = const_cast<QelList*>(walked);
  previous = nullptr;
  upcoming = walked ? walked->head : nullptr;
}

void* QelListIterator::next() {
  if (upcoming == nullptr) return nullptr;
  previous = upcoming;
  upcoming = upcoming->next;
  return previous->item;
}

void QelListIterator::insertHere(void* item) {
  QelListCell* cell = new QelListCell{item, upcoming};
  if (previous != nullptr) {
    previous->next = cell;
  } else {
    list->head = cell;
  }
  if (upcoming != nullptr) {
    previous = upcoming;
    upcoming = upcoming->next;
  } else {
    previous = cell;
  }
}

void QelListIterator::removeUpcoming() {
  QelListCell* cell = upcoming;
  if (previous != nullptr) {
    previous->next = cell->next;
  } else {
    list->head = cell->next;
  }
  upcoming = cell->next;
  delete cell;
}
