#include "memory/node_mem.h"

#include <cstdint>

#include "memory/join_interface.h"

QelNodeMem::QelNodeMem(QelContext* owner)
    : context(owner), successorCount(0), successors(nullptr) {}

QelNodeMem::~QelNodeMem() { delete[] successors; }

void QelNodeMem::setSuccessors(QelJoinInterface** joins, int count) {
  delete[] successors;
  successors = joins;
  successorCount = count;
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
  for (QelJoinInterface** join = successors; *join != nullptr; ++join) {
    (*join)->leftActivate(partial, depth, mode);
  }
  for (QelRuleAction** action = ruleActions; *action != nullptr; ++action) {
    (*action)->addMatch(partial, mode);
  }
}

void QelLeftMem::removeFromSuccessors(QelPartial* partial) {
  for (QelJoinInterface** join = successors; *join != nullptr; ++join) {
    (*join)->leftRetract(partial);
  }
}

void QelLeftMem::removePartial(QelPartial* partial) {
  unlinkPartial(partial);
  removeFromSuccessors(partial);
  // Most partials end no rule and support nothing.
  if (!partial->instances.isEmpty()) {
    context->agenda->removeInstancesOf(partial);
  }
  if (!partial->supported.isEmpty()) partial->dropSupports();
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
  for (QelPartial* p = oldestPartial(); p != nullptr; p = p->prevInMemory) {
    byRecord->add(p);
  }
}

QelPartial* QelLeftMem::oldestPartial() const {
  QelPartial* oldest = partials;
  while (oldest != nullptr && oldest->nextInMemory != nullptr) {
    oldest = oldest->nextInMemory;
  }
  return oldest;
}

// ---------------------------------------------------------------- by record

// A record with one partial maps to the partial itself; one with more maps
// to a QelList, tagged in the low bit (partials are aligned).
namespace {

bool isList(void* value) { return (reinterpret_cast<uintptr_t>(value) & 1) != 0; }
QelList* asList(void* value) {
  return reinterpret_cast<QelList*>(reinterpret_cast<uintptr_t>(value) & ~uintptr_t{1});
}
void* tagged(QelList* list) {
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(list) | 1);
}

}  // namespace

void QelPartialsByRecord::add(QelPartial* partial) {
  void* value = lists_.find(partial->record);
  if (value == nullptr) {
    lists_.insert(partial->record, partial);
    return;
  }
  QelList* list;
  if (isList(value)) {
    list = asList(value);
  } else {
    list = new QelList();
    list->prepend(value);
    lists_.replace(partial->record, tagged(list));
  }
  list->prepend(partial);
}

void QelPartialsByRecord::remove(QelPartial* partial) {
  void* value = lists_.find(partial->record);
  if (value == nullptr) return;
  if (!isList(value)) {
    if (value == partial) lists_.remove(partial->record);
    return;
  }
  QelList* list = asList(value);
  list->remove(partial);
  if (list->head->next == nullptr) {  // one left: back to a plain entry
    lists_.replace(partial->record, list->head->item);
    delete list;
  }
}

QelPartial* QelPartialsByRecord::newest(const QelInfo* record) const {
  void* value = lists_.find(record);
  if (value == nullptr || !isList(value)) return static_cast<QelPartial*>(value);
  return static_cast<QelPartial*>(asList(value)->head->item);
}

void QelPartialsByRecord::clear() {
  lists_.forEachValue([](void* value) {
    if (isList(value)) delete asList(value);
  });
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
