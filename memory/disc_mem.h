// Discrimination memories: one test on objects of one class.
#ifndef QEL_MEMORY_DISC_MEM_H
#define QEL_MEMORY_DISC_MEM_H

#include "qel_context.h"

class QelDiscMem {
 public:
  QelDiscNode* node;
  QelContext* context;
  QelList alphaMems;  // QelAlphaMem* of the node's alpha nodes, same order
  QelRightMem* rightMem;  // null when the node has no right node
  // Records that passed the test and are still in working memory, newest
  // first: the right input of joins and the set collect patterns see.
  QelOrderedSet matches;

  explicit QelDiscMem(QelContext* context);
  QelDiscMem(const QelDiscMem&) = delete;
  QelDiscMem& operator=(const QelDiscMem&) = delete;

  void bindDiscNode(QelDiscNode* node);
  // A new (mode 0) or modified (1, 2) record. The right memory hears of a
  // passing record before it enters `matches`, and before any alpha memory.
  void activate(QelInfo* record, int mode);
  // A record leaves working memory: the right memory hears of it while it
  // is still in `matches`.
  void deactivate(QelInfo* record);
  // The record's object changed: keyed joins re-key it before anything
  // walks their indexes.
  void rekeyRecord(QelInfo* record);
};

#endif  // QEL_MEMORY_DISC_MEM_H
