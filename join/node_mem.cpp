#include "join/node_mem.h"

#include "join/join_mem.h"

QelNodeMem::QelNodeMem(QelContext* owner)
    : context(owner), successorCount(0), successors(nullptr) {}

QelNodeMem::~QelNodeMem() { delete[] successors; }

// Join nodes whose pattern type has no memory are left out.
void QelNodeMem::bindSuccessors(const QelList& joinNodes) {
  delete[] successors;
  successors = new QelJoinMem*[joinNodes.length() + 1];
  successorCount = 0;
  for (QelListCell* cell = joinNodes.head; cell; cell = cell->next) {
    QelJoinMem* mem =
        context->joinMems[static_cast<QelJoinNode*>(cell->item)->index];
    if (mem != nullptr) successors[successorCount++] = mem;
  }
  successors[successorCount] = nullptr;
}

QelLeftMem::QelLeftMem(QelContext* owner)
    : QelNodeMem(owner),
      ruleActionCount(0),
      ruleActions(nullptr),
      partials(nullptr),
      node(nullptr),
      byRecord(nullptr) {}

QelLeftMem::~QelLeftMem() {
  delete byRecord;
  delete[] ruleActions;
}

void QelLeftMem::bindNode(QelLeftNode* left) {
  delete[] ruleActions;
  node = left;
  bindSuccessors(left->successors);
  ruleActions = new QelRuleAction*[left->mainActions.length() + 1];
  ruleActionCount = 0;
  for (QelListCell* cell = left->mainActions.head; cell; cell = cell->next) {
    const QelActionNode* action = static_cast<QelActionNode*>(cell->item);
    QelRuleAction* bound = context->ruleMems[action->rule->index]->mainAction;
    if (bound != nullptr) ruleActions[ruleActionCount++] = bound;
  }
  ruleActions[ruleActionCount] = nullptr;
}

void QelLeftMem::addPartial(QelPartial* partial) {
  partial->prevInMemory = nullptr;
  partial->nextInMemory = partials;
  if (partials != nullptr) partials->prevInMemory = partial;
  partials = partial;
  if (byRecord != nullptr) byRecord->add(partial);
}

void QelLeftMem::unlinkPartial(QelPartial* partial) {
  if (partial->prevInMemory != nullptr) {
    partial->prevInMemory->nextInMemory = partial->nextInMemory;
  } else {
    partials = partial->nextInMemory;
  }
  if (partial->nextInMemory != nullptr) {
    partial->nextInMemory->prevInMemory = partial->prevInMemory;
  }
  partial->prevInMemory = nullptr;
  partial->nextInMemory = nullptr;
  if (byRecord != nullptr) byRecord->remove(partial);
}

// Everything below the node is updated before the rules ending here hear
// of the partial.
void QelLeftMem::propagate(QelPartial* partial, int depth, int mode) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->leftActivate(partial, depth, mode);
  }
  for (QelRuleAction** action = ruleActions; *action != nullptr; ++action) {
    (*action)->addMatch(partial, mode);
  }
}

void QelLeftMem::removeFromSuccessors(QelPartial* partial) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->leftRetract(partial);
  }
}

void QelLeftMem::removePartial(QelPartial* partial) {
  unlinkPartial(partial);
  removeFromSuccessors(partial);
  context->agenda->removeInstancesOf(partial);
  partial->dropSupports();
  delete partial;
}

QelPartial* QelLeftMem::detachPartials() {
  QelPartial* head = partials;
  partials = nullptr;
  if (byRecord != nullptr) byRecord->clear();
  return head;
}

void QelLeftMem::groupByRecord(bool on) {
  delete byRecord;
  byRecord = nullptr;
  if (!on) return;
  byRecord = new QelPartialsByRecord();
  // Oldest first, so that each group ends newest first.
  QelPartial* oldest = partials;
  while (oldest != nullptr && oldest->nextInMemory != nullptr) {
    oldest = oldest->nextInMemory;
  }
  for (QelPartial* p = oldest; p != nullptr; p = p->prevInMemory) byRecord->add(p);
}

// ---------------------------------------------------------------- by record

void QelPartialsByRecord::add(QelPartial* partial) {
  QelList* list = static_cast<QelList*>(lists_.find(partial->record));
  if (list == nullptr) {
    list = new QelList();
    lists_.insert(partial->record, list);
  }
  list->prepend(partial);
}

void QelPartialsByRecord::remove(QelPartial* partial) {
  QelList* list = static_cast<QelList*>(lists_.find(partial->record));
  if (list == nullptr) return;
  list->remove(partial);
  if (list->isEmpty()) {
    lists_.remove(partial->record);
    delete list;
  }
}

QelPartial* QelPartialsByRecord::newest(const QelInfo* record) const {
  const QelList* list = static_cast<const QelList*>(lists_.find(record));
  return list != nullptr ? static_cast<QelPartial*>(list->head->item) : nullptr;
}

void QelPartialsByRecord::clear() {
  lists_.forEachValue([](void* list) { delete static_cast<QelList*>(list); });
  lists_.clear();
}

void QelLeftMem::clearPartials() {
  QelPartial* partial = detachPartials();
  while (partial != nullptr) {
    QelPartial* next = partial->nextInMemory;
    delete partial;
    partial = next;
  }
}
