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
      node(nullptr) {}

QelLeftMem::~QelLeftMem() { delete[] ruleActions; }

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
  return head;
}

void QelLeftMem::clearPartials() {
  QelPartial* partial = detachPartials();
  while (partial != nullptr) {
    QelPartial* next = partial->nextInMemory;
    delete partial;
    partial = next;
  }
}
