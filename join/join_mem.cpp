#include "join/join_mem.h"

#include "join/join_keys.h"
#include "memory/alpha_mem.h"
#include "memory/disc_mem.h"

QelJoinMem::QelJoinMem(QelContext* owner)
    : QelJoinInterface(owner),
      leftMem(nullptr),
      rightMem(nullptr),
      disableRuleMems(nullptr),
      disableRuleMemCount(0),
      keys(nullptr) {}

QelJoinMem::~QelJoinMem() {
  delete[] disableRuleMems;
  delete keys;
}

void QelBindSuccessors(QelNodeMem* mem, const QelList& joinNodes) {
  QelJoinInterface** joins = new QelJoinInterface*[joinNodes.length() + 1];
  int count = 0;
  for (QelListCell* cell = joinNodes.head; cell; cell = cell->next) {
    QelJoinMem* join =
        mem->context->joinMems[static_cast<QelJoinNode*>(cell->item)->index];
    if (join != nullptr) joins[count++] = join;
  }
  joins[count] = nullptr;
  mem->setSuccessors(joins, count);
}

void QelJoinMem::bindNode(QelJoinNode* join) {
  QelLeftMem::bindNode(join);
  QelBindSuccessors(this, join->successors);
  delete[] disableRuleMems;
  QelLeftNode* left = join->left;
  if (left->level() != 0) {
    leftMem = context->joinMems[left->index];
  } else {
    leftMem = context->alphaMems[left->index];
  }
  if (join->right != nullptr) rightMem = context->rightMems[join->right->index];
  disableRuleMems = ruleMemsOf(join->disablingRules, &disableRuleMemCount);
  delete keys;
  keys = QelJoinKeys::forJoin(this);
  groupByRecord(false);
}

QelRuleMem** QelJoinMem::ruleMemsOf(const QelList& rules, int* count) const {
  *count = rules.length();
  QelRuleMem** mems = new QelRuleMem*[*count + 1];
  int i = 0;
  for (QelListCell* cell = rules.head; cell; cell = cell->next) {
    mems[i++] = context->ruleMems[static_cast<QelRuleNode*>(cell->item)->index];
  }
  mems[i] = nullptr;
  return mems;
}

void QelJoinMem::dropChildrenOf(QelInfo* record) {
  if (byRecord != nullptr) {
    while (QelPartial* child = byRecord->newest(record)) dropChild(child);
    return;
  }
  int walked = 0;
  QelPartial* child = partials;
  while (child != nullptr) {
    QelPartial* next = child->nextInMemory;
    if (child->record == record) dropChild(child);
    child = next;
    ++walked;
  }
  if (walked > kLongRetractWalk) groupByRecord(true);
}

QelOrderedSet& QelJoinMem::rightInput() const {
  return rightMem->discMem->matches;
}

void QelJoinMem::emit(QelPartial* child, int depth, int mode) {
  propagate(child, depth, mode);
  for (QelRuleMem** rule = disableRuleMems; *rule != nullptr; ++rule) {
    (*rule)->disableWatchdog(child);
  }
}

void QelJoinMem::expireSuccessors(QelPartial* partial) {
  for (QelJoinInterface** join = successors; *join != nullptr; ++join) {
    (*join)->expireChildren(partial);
  }
}

void QelJoinMem::retractContents() {
  for (QelPartial* parent = leftMem->partials; parent != nullptr;
       parent = parent->nextInMemory) {
    parent->clearChildren(this);
  }
  QelPartial* partial = detachPartials();
  while (partial != nullptr) {
    QelPartial* next = partial->nextInMemory;
    partial->prevInMemory = nullptr;
    partial->nextInMemory = nullptr;
    removeFromSuccessors(partial);
    // Most partials end no rule and support nothing.
    if (!partial->instances.isEmpty()) {
      context->agenda->removeInstancesOf(partial);
    }
    if (!partial->supported.isEmpty()) partial->dropSupports();
    delete partial;
    partial = next;
  }
}
