#include "memory/disc_mem.h"

#include "memory/alpha_mem.h"
#include "memory/right_mem.h"

QelDiscMem::QelDiscMem(QelContext* owner)
    : node(nullptr), context(owner), rightMem(nullptr) {}

void QelDiscMem::bindDiscNode(QelDiscNode* disc) {
  node = disc;
  // Entry i becomes the memory of the i-th alpha node; surplus entries go.
  // Alpha nodes of a pattern type without a memory are left out.
  QelListIterator target;
  target.init(alphaMems);
  for (QelListCell* cell = disc->alphaNodes.head; cell; cell = cell->next) {
    QelAlphaMem* mem =
        context->alphaMems[static_cast<QelAlphaNode*>(cell->item)->index];
    if (mem == nullptr) continue;
    if (target.next() == nullptr) {
      target.insertHere(mem);
    } else {
      target.previous->item = mem;
    }
  }
  while (target.peek() != nullptr) target.removeUpcoming();
  if (disc->rightNode != nullptr) {
    rightMem = context->rightMems[disc->rightNode->index];
  }
}

void QelDiscMem::activate(QelInfo* record, int mode) {
  if (!node->evaluate(context, record)) {
    if (mode != QelModeNew) deactivate(record);
    return;
  }
  // An object passing for the first time is new to every successor.
  if (mode != QelModeNew && !matches.contains(record)) mode = QelModeNew;
  if (rightMem != nullptr) rightMem->activateSuccessors(record, mode);
  if (mode == QelModeNew) {
    matches.insert(record);
    if (rightMem != nullptr && rightMem->keys != nullptr) {
      rightMem->keys->entered(record);
    }
  }
  for (QelListCell* cell = alphaMems.head; cell; cell = cell->next) {
    static_cast<QelAlphaMem*>(cell->item)->insert(record, mode);
  }
}

void QelDiscMem::rekeyRecord(QelInfo* record) {
  if (rightMem != nullptr && rightMem->keys != nullptr) {
    rightMem->keys->rekey(record);
  }
}

void QelDiscMem::deactivate(QelInfo* record) {
  if (!matches.contains(record)) return;
  if (rightMem != nullptr) rightMem->retractSuccessors(record);
  matches.remove(record);
  if (rightMem != nullptr && rightMem->keys != nullptr) {
    rightMem->keys->left(record);
  }
  for (QelListCell* cell = alphaMems.head; cell; cell = cell->next) {
    static_cast<QelAlphaMem*>(cell->item)->retract(record);
  }
}
