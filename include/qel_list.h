// Singly linked lists of untyped pointers.
//
// QelList is the one general container of the library: networks keep their
// registries in it, nodes their successors, memories their small sets.
// A list owns its cells, never its items. It keeps no tail pointer and no
// count, so length(), append() and operator[] are linear.
#ifndef QEL_LIST_H
#define QEL_LIST_H

#include <cstddef>

#include "qel_export.h"

// One list cell. `item` is the stored pointer; `next` is null at the tail.
struct QelListCell {
  void* item;
  QelListCell* next;

  // Cells are recycled by the library's block cache.
  QEL_EXPORT static void* operator new(std::size_t size);
  QEL_EXPORT static void operator delete(void* cell, std::size_t size);
};

class QelList {
 public:
  // First cell, null when the list is empty. The list's only field.
  QelListCell* head;

  QelList() : head(nullptr) {}
  // Frees every cell; items are not touched. Inline, because most lists
  // (those of partial matches above all) die empty.
  ~QelList() {
    if (head != nullptr) clear();
  }

  QelList(const QelList&) = delete;
  QelList& operator=(const QelList&) = delete;

  // Number of cells, counted by walking the chain.
  QEL_EXPORT int length() const;
  // Item at a zero-based position; null when index < 0 or >= length().
  QEL_EXPORT void* operator[](int index) const;
  // Links a new cell at the tail. Duplicates are allowed.
  QEL_EXPORT void append(void* item);
  // Unlinks the first cell holding `item` (pointer identity); 1 if found.
  QEL_EXPORT unsigned char remove(void* item);

  // Makes `target` (which must be empty) hold this list's items in order.
  void copyInto(QelList& target) const;
  // Links a new cell at the head, for the lists kept newest first.
  void prepend(void* item);
  // Relinks every cell so that the last becomes the first.
  void reverse();
  // Frees every cell and leaves the list empty.
  QEL_EXPORT void clear();
  bool isEmpty() const { return head == nullptr; }
};

// Walks a list and edits it at its position.
//
// `previous` is the cell whose item next() returned last (null before the
// first step); `upcoming` is the cell next() returns (null at the end).
class QelListIterator {
 public:
  QelList* list;
  QelListCell* previous;
  QelListCell* upcoming;

  QelListIterator() : list(nullptr), previous(nullptr), upcoming(nullptr) {}

  // Starts a walk at the head of `list`.
  QEL_EXPORT void init(const QelList& list);
  // Starts a walk of `list`; a null list leaves the iterator at its end.
  void init(const QelList* list);
  // The next item, or null once the walk is over (and on every later call).
  QEL_EXPORT void* next();

  // The upcoming item without moving; null at the end.
  void* peek() const { return upcoming ? upcoming->item : nullptr; }
  // Links `item` in front of `upcoming`, then steps past the old upcoming
  // cell (or, at the end, past the new cell).
  void insertHere(void* item);
  // Unlinks and frees the upcoming cell; only while peek() is non-null.
  void removeUpcoming();
};

#endif  // QEL_LIST_H
