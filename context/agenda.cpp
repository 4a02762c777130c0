#include "util/block_cache.h"
#include "join/join_mem.h"
#include "memory/alpha_mem.h"
#include "qel_context.h"

// ---------------------------------------------------------------- instances

void* QelInstance::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelInstance::operator delete(void* instance, std::size_t size) {
  QelFreeBlock(instance, size);
}

QelInstance::QelInstance(QelRuleAction* ruleAction, int priorityValue,
                         int recencyValue, QelPartial* matched)
    : action(ruleAction),
      priority(priorityValue),
      recency(recencyValue),
      partial(matched),
      previous(nullptr),
      next(nullptr) {
  // Rules on a wait hold their partial until the action has run. Rules
  // without one may have plain partials, which carry no count.
  if (ruleAction->ruleMem->ruleNode->waitDepth > 0) {
    ++static_cast<QelRefCountedPartial*>(matched)->refCount;
  }
}

QelInstance::~QelInstance() {}

int QelInstance::ruleIndex() const { return action->ruleMem->ruleNode->index; }

// ---------------------------------------------------------------- agenda

QelAgenda::QelAgenda(QelContext* owner)
    : context(owner), first(nullptr), changeCount(0), last_(nullptr) {}

QelAgenda::~QelAgenda() { clearInstances(); }

// The new instance goes before the first member it outranks: a higher
// priority, or an equal one with a greater recency or a rule index not
// above the member's. Members of higher priority are never outranked, so
// the walk starts at the instance's own priority level.
void QelAgenda::insertInstance(QelInstance* instance) {
  const int priority = instance->priority;
  auto level = levels_.lower_bound(priority);  // first level not above
  QelInstance* member = level != levels_.end() ? level->second : nullptr;
  const bool sameLevel = level != levels_.end() && level->first == priority;
  if (sameLevel) {
    const int rule = instance->ruleIndex();
    while (member != nullptr && member->priority == priority &&
           instance->recency <= member->recency && rule > member->ruleIndex()) {
      member = member->next;
    }
  }
  linkBefore(instance, member);
  if (!sameLevel) {
    levels_.emplace_hint(level, priority, instance);
  } else if (level->second == member) {
    level->second = instance;
  }
}

// Links the instance before `member`, or at the tail when it is null.
void QelAgenda::linkBefore(QelInstance* instance, QelInstance* member) {
  QelInstance* previous = member != nullptr ? member->previous : last_;
  instance->next = member;
  instance->previous = previous;
  if (previous != nullptr) {
    previous->next = instance;
  } else {
    first = instance;
  }
  if (member != nullptr) {
    member->previous = instance;
  } else {
    last_ = instance;
  }
}

void QelAgenda::unlink(QelInstance* instance) {
  auto level = levels_.find(instance->priority);
  if (level != levels_.end() && level->second == instance) {
    QelInstance* next = instance->next;
    if (next != nullptr && next->priority == instance->priority) {
      level->second = next;
    } else {
      levels_.erase(level);
    }
  }
  if (instance->next != nullptr) {
    instance->next->previous = instance->previous;
  } else {
    last_ = instance->previous;
  }
  if (instance->previous != nullptr) {
    instance->previous->next = instance->next;
  } else {
    first = instance->next;
  }
}

void QelAgenda::reorderInstance(QelInstance* instance, int priority) {
  unlink(instance);
  instance->previous = nullptr;
  instance->next = nullptr;
  instance->priority = priority;
  insertInstance(instance);
  context->notifyUpdateRule(instance);
}

void QelAgenda::addInstance(QelRuleAction* action, int priority,
                            QelPartial* partial) {
  QelInstance* instance = partial->createInstance(action, priority, changeCount);
  insertInstance(instance);
  context->notifyAddRule(instance);
  if (action->ruleMem->packetMem != nullptr) {
    action->ruleMem->packetMem->instanceAdded();
  }
}

void QelAgenda::removeInstancesOf(QelPartial* partial) {
  QelListCell* cell = partial->instances.head;
  partial->instances.head = nullptr;
  while (cell != nullptr) {
    QelListCell* nextCell = cell->next;
    QelInstance* instance = static_cast<QelInstance*>(cell->item);
    unlink(instance);
    context->notifyRemoveRule(instance);
    QelPacketMem* packetMem = instance->action->ruleMem->packetMem;
    if (packetMem != nullptr) packetMem->instanceRemoved();
    delete cell;
    delete instance;
    cell = nextCell;
  }
}

void QelAgenda::clearInstances() {
  QelInstance* instance = first;
  while (instance != nullptr) {
    QelInstance* nextInstance = instance->next;
    delete instance;
    instance = nextInstance;
  }
  first = nullptr;
  last_ = nullptr;
  levels_.clear();
}

QelInstance* QelAgenda::popFirst() {
  QelInstance* instance = first;
  unlink(instance);
  instance->partial->instances.remove(instance);
  return instance;
}

int QelAgenda::execute(QelInstance* instance) {
  QelRuleMem* ruleMem = instance->action->ruleMem;
  context->notifyBeginRule(instance);
  context->checkEndCycle(instance);
  const int result =
      instance->action->actionNode->execute(context, instance->partial);
  context->notifyEndRule();
  // A packet's pending count drops only once the action has run.
  if (ruleMem->packetMem != nullptr) ruleMem->packetMem->instanceRemoved();
  return result != 0 ? result : ruleMem->ruleNode->index;
}

int QelAgenda::fire(QelInstance* instance) {
  if (instance->action->ruleMem->ruleNode->waitDepth <= 0) {
    return execute(instance);
  }
  QelRefCountedPartial* partial =
      static_cast<QelRefCountedPartial*>(instance->partial);
  partial->firingInstance = instance;
  const int result = execute(instance);
  // The partial may have been deleted by the action; it then cleared
  // instance->partial.
  if (instance->partial != nullptr) {
    partial->firingInstance = nullptr;
    partial->release();
  }
  return result;
}

// An instance dropped unfired by a stopped fireAllRules still leaves its
// packet's pending count and gives back its partial reference, as firing
// would, so that the packet can block again and partials below a wait can
// go. What a re-evaluation adds meanwhile is discarded by the same loop.
// Like firing, it marks the partial so that a deletion during the packet
// re-evaluation clears instance->partial instead of leaving it dangling.
void QelAgenda::discard(QelInstance* instance) {
  QelRuleMem* ruleMem = instance->action->ruleMem;
  QelRefCountedPartial* partial = nullptr;
  if (ruleMem->ruleNode->waitDepth > 0) {
    partial = static_cast<QelRefCountedPartial*>(instance->partial);
    partial->firingInstance = instance;
  }
  if (ruleMem->packetMem != nullptr) ruleMem->packetMem->instanceRemoved();
  if (partial != nullptr && instance->partial != nullptr) {
    partial->firingInstance = nullptr;
    partial->release();
  }
  delete instance;
}

int QelAgenda::fireRule() {
  context->checkBeginCycle();
  if (first == nullptr) return -1;
  QelInstance* instance = popFirst();
  const int result = fire(instance);
  delete instance;
  return result;
}

int QelAgenda::fireAllRules() {
  int fired = 0;
  int result = 0;
  for (;;) {
    context->checkBeginCycle();
    if (first == nullptr) break;
    QelInstance* instance = popFirst();
    result = fire(instance);
    delete instance;
    ++fired;
    if (result < -1) break;
  }
  changeCount = 0;
  if (result >= -1) return fired;
  for (;;) {
    context->checkBeginCycle();
    if (first == nullptr) return result + 1;
    discard(popFirst());
  }
}

// ---------------------------------------------------------------- rules

QelRuleAction::QelRuleAction(QelRuleMem* owner, QelActionNode* node)
    : ruleMem(owner), actionNode(node), leftMem(nullptr) {
  QelLeftNode* parent = node->parent;
  if (parent == nullptr) return;
  QelContext* context = owner->context;
  if (parent->level() > 0) {
    leftMem = context->joinMems[parent->index];
  } else {
    leftMem = context->alphaMems[parent->index];
  }
}

void QelRuleAction::addMatch(QelPartial* partial, int mode) {
  if (!ruleMem->enabled) return;
  QelRuleNode* rule = ruleMem->ruleNode;
  const bool dynamic = rule->hasPriorityFunction() != 0;
  if (mode == QelModeUpdate && !dynamic) return;
  const int priority = rule->computePriority(ruleMem->context, partial, actionNode);
  if (mode != QelModeNew || dynamic) {
    for (QelListCell* cell = partial->instances.head; cell; cell = cell->next) {
      QelInstance* instance = static_cast<QelInstance*>(cell->item);
      if (instance->action != this) continue;
      if (instance->priority != priority) {
        ruleMem->context->agenda->reorderInstance(instance, priority);
      }
      return;
    }
  }
  if (mode != QelModeUpdate) {
    ruleMem->context->agenda->addInstance(this, priority, partial);
  }
}

QelRuleMem::QelRuleMem(QelContext* owner)
    : ruleNode(nullptr),
      context(owner),
      packetMem(nullptr),
      enabled(1),
      mainAction(nullptr),
      watchdogAction(nullptr) {}

QelRuleMem::~QelRuleMem() {
  delete mainAction;
  delete watchdogAction;
}

void QelRuleMem::bindNode(QelRuleNode* node) {
  if (ruleNode == nullptr) {
    ruleNode = node;
    if (node->mainAction != nullptr) {
      mainAction = new QelRuleAction(this, node->mainAction);
    }
    if (node->watchdogAction != nullptr) {
      watchdogAction = new QelRuleAction(this, node->watchdogAction);
    }
  } else {
    ruleNode = node;
    if (mainAction != nullptr) mainAction->actionNode = node->mainAction;
    if (watchdogAction != nullptr) {
      watchdogAction->actionNode = node->watchdogAction;
    }
  }
  packetMem = nullptr;
  if (node->packet != nullptr && node->packet->index != -1) {
    packetMem = context->packetMems[node->packet->index];
  }
}

// A partial below an expired wait can still be emitted; its wait partial
// has no entries left then, and nothing is marked.
void QelRuleMem::disableWatchdog(QelPartial* partial) {
  context->notifyDisableWatchdog(this, partial);
  QelWaitPartial* wait =
      static_cast<QelWaitPartial*>(partial->tailn(ruleNode->waitDepth - 1));
  QelWatchdogEntry* entry = wait->findWatchdog(this);
  if (entry != nullptr) entry->disabled = 1;
}
