#include "memory/right_mem.h"

#include "memory/join_interface.h"

QelRightMem::QelRightMem(QelContext* owner)
    : QelNodeMem(owner), node(nullptr), discMem(nullptr), keys(nullptr) {}

QelRightMem::~QelRightMem() { delete keys; }

void QelRightMem::bindNode(QelRightNode* right) {
  node = right;
  discMem = context->discMems[right->discNode->index];
}

void QelRightMem::setKeys(QelRecordKeys* indexes) {
  delete keys;
  keys = indexes;
}

void QelRightMem::retractSuccessors(QelInfo* record) {
  for (QelJoinInterface** join = successors; *join != nullptr; ++join) {
    (*join)->rightRetract(record);
  }
}

void QelRightMem::activateSuccessors(QelInfo* record, int mode) {
  for (QelJoinInterface** join = successors; *join != nullptr; ++join) {
    (*join)->rightActivate(record, 0, mode);
  }
}
