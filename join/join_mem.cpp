#include "join/join_mem.h"

#include <vector>

#include "join/join_keys.h"
#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
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

namespace {

// The classes of the patterns on a join's left chain.
void collectChainClasses(QelLeftNode* node,
                         std::vector<const QelClassNode*>& classes) {
  while (node->level() > 0) {
    QelJoinNode* join = static_cast<QelJoinNode*>(node);
    if (join->right != nullptr && join->right->discNode != nullptr) {
      classes.push_back(join->right->discNode->classNode);
    }
    node = join->left;
  }
  QelAlphaNode* alpha = static_cast<QelAlphaNode*>(node);
  if (alpha->discNode != nullptr) classes.push_back(alpha->discNode->classNode);
}

}  // namespace

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
  disableRuleMemCount = join->disablingRules.length();
  disableRuleMems = new QelRuleMem*[disableRuleMemCount + 1];
  int i = 0;
  for (QelListCell* cell = join->disablingRules.head; cell; cell = cell->next) {
    disableRuleMems[i++] =
        context->ruleMems[static_cast<QelRuleNode*>(cell->item)->index];
  }
  disableRuleMems[i] = nullptr;
  delete keys;
  keys = nullptr;
  if (join->isKeyed() && rightMem != nullptr) {
    keys = new QelJoinKeys(this);
    keys->tracksStale = join->patternType != QelPatternPlain;
    collectChainClasses(join->left, keys->chainClasses);
    for (int c = 0; c < context->classMemCount; ++c) {
      QelClassMem* mem = context->classMems[c];
      if (keys->inChain(mem->classNode)) mem->keyedParents.append(keys);
    }
  }
  groupByRecord(false);
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

void* QelJoinMem::keyParent(QelPartial* parent, int mode) {
  void* key = leftKeyOf(parent);
  if (!keys->leftIndexed) return key;
  QelKeyEntry* entry = mode == 0 ? nullptr : keys->left.find(parent);
  if (entry == nullptr) {
    keys->left.add(parent, key);
  } else {
    keys->left.rekey(entry, key);
  }
  return key;
}

void QelJoinMem::unkeyParent(QelPartial* parent) {
  if (keys->leftIndexed) keys->left.remove(parent);
  if (leftMem->partials == nullptr) keys->dropLeftIndex();
}

void* QelJoinMem::parentKey(QelPartial* parent) const {
  return keys->leftIndexed ? keys->left.find(parent)->key : leftKeyOf(parent);
}

// Oldest first, so that sequence numbers follow the memory's order.
bool QelJoinMem::parentsIndexed() {
  if (keys->leftIndexed) return true;
  // A walk over no parent costs nothing and does not count.
  if (leftMem->partials == nullptr) return false;
  if (++keys->leftWalks <= QelJoinKeys::kUnindexedWalks) return false;
  for (QelPartial* p = leftMem->oldestPartial(); p != nullptr;
       p = p->prevInMemory) {
    keys->left.add(p, leftKeyOf(p));
  }
  keys->leftIndexed = true;
  return true;
}

bool QelJoinMem::keyedRightUpdate(const QelInfo* record) const {
  return record->classMem == nullptr ||
         !keys->inChain(record->classMem->classNode);
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
