#include "join/join_mem.h"

#include <vector>

#include "memory/alpha_mem.h"
#include "memory/disc_mem.h"

// ---------------------------------------------------------------- base

QelJoinMem::QelJoinMem(QelContext* owner)
    : QelLeftMem(owner),
      leftMem(nullptr),
      rightMem(nullptr),
      disableRuleMems(nullptr),
      disableRuleMemCount(0) {}

QelJoinMem::~QelJoinMem() { delete[] disableRuleMems; }

void QelJoinMem::bindNode(QelJoinNode* join) {
  QelLeftMem::bindNode(join);
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
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
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
    context->agenda->removeInstancesOf(partial);
    partial->dropSupports();
    delete partial;
    partial = next;
  }
}

// ---------------------------------------------------------------- plain

QelJoinMemPlain::QelJoinMemPlain(QelContext* owner) : QelJoinMem(owner) {}

void QelJoinMemPlain::makeChild(QelPartial* parent, QelInfo* record,
                                int depth) {
  QelPartial* child = parent->extend(record, this);
  if (child == nullptr) return;
  emit(child, depth + 1, 0);
  parent->addChild(this, child);
  addPartial(child);
}

// One pair of a re-match: `child` is the existing child of (parent,
// record), or null.
void QelJoinMemPlain::rematch(QelPartial* parent, QelInfo* record,
                              QelPartial* child, int depth, int mode) {
  const bool passes = test(record, parent);
  if (passes && child == nullptr) {
    makeChild(parent, record, depth);
  } else if (passes) {
    if (mode == 2 && noUpdate(depth)) return;
    emit(child, depth + 1, mode);
  } else if (child != nullptr) {
    dropChild(child);
  }
}

void QelJoinMemPlain::leftActivate(QelPartial* parent, int depth, int mode) {
  if (mode == 0) {
    QelSetWalker walker(rightInput());
    while (void* key = walker.next()) {
      QelInfo* record = static_cast<QelInfo*>(key);
      if (test(record, parent)) makeChild(parent, record, depth);
    }
    return;
  }
  QelOrderedSet* children = parent->childSet(this);
  if (independent(depth)) {
    if (mode == 2 && noUpdate(depth)) return;
    QelSetWalker walker(*children);
    while (void* child = walker.next()) {
      emit(static_cast<QelPartial*>(child), depth + 1, mode);
    }
    return;
  }
  rematchLeft(parent, depth, mode);
}

void QelJoinMemPlain::rematchLeft(QelPartial* parent, int depth, int mode) {
  QelSetWalker children(*parent->childSet(this));
  while (void* key = children.next()) {
    QelPartial* child = static_cast<QelPartial*>(key);
    child->record->mark = child;
  }
  // Every mark is read and cleared before anything is propagated.
  std::vector<QelMatchPair> pairs;
  pairs.reserve(rightInput().count);
  QelSetWalker walker(rightInput());
  while (void* key = walker.next()) {
    QelInfo* record = static_cast<QelInfo*>(key);
    pairs.push_back(QelMatchPair{record, record->mark});
    record->mark = nullptr;
  }
  for (const QelMatchPair& pair : pairs) {
    rematch(parent, static_cast<QelInfo*>(pair.first), pair.second, depth,
            mode);
  }
}

void QelJoinMemPlain::rightActivate(QelInfo* record, int depth, int mode) {
  if (mode == 0) {
    const bool always = independent(0);
    QelPartial* parent = leftMem->partials;
    while (parent != nullptr) {
      QelPartial* next = parent->nextInMemory;
      if (always || test(record, parent)) makeChild(parent, record, depth);
      parent = next;
    }
    return;
  }
  if (independent(0)) {
    if (mode == 2 && noUpdate(0)) return;
    QelPartial* child = partials;
    while (child != nullptr) {
      QelPartial* next = child->nextInMemory;
      if (child->record == record) emit(child, depth + 1, mode);
      child = next;
    }
    return;
  }
  rematchRight(record, mode);
}

void QelJoinMemPlain::rematchRight(QelInfo* record, int mode) {
  for (QelPartial* child = partials; child; child = child->nextInMemory) {
    if (child->record == record) child->parent->mark = child;
  }
  std::vector<QelMatchPair> pairs;
  for (QelPartial* parent = leftMem->partials; parent;
       parent = parent->nextInMemory) {
    pairs.push_back(QelMatchPair{parent, parent->mark});
    parent->mark = nullptr;
  }
  for (const QelMatchPair& pair : pairs) {
    rematch(static_cast<QelPartial*>(pair.first), record, pair.second, 0, mode);
  }
}

void QelJoinMemPlain::rightRetract(QelInfo* record) {
  QelPartial* child = partials;
  while (child != nullptr) {
    QelPartial* next = child->nextInMemory;
    if (child->record == record) dropChild(child);
    child = next;
  }
}

void QelJoinMemPlain::leftRetract(QelPartial* parent) {
  QelOrderedSet* children = parent->findChildSet(this);
  if (children == nullptr) return;
  QelSetWalker walker(*children);
  while (void* child = walker.next()) {
    removePartial(static_cast<QelPartial*>(child));
  }
  children->clear();
}

void QelJoinMemPlain::dropChild(QelPartial* child) {
  child->parent->removeChild(this, child);
  removePartial(child);
}

void QelJoinMemPlain::expireChildren(QelPartial* parent) {
  QelOrderedSet* children = parent->findChildSet(this);
  if (children == nullptr) return;
  QelSetWalker walker(*children);
  while (void* key = walker.next()) {
    QelPartial* child = static_cast<QelPartial*>(key);
    expireSuccessors(child);
    static_cast<QelRefCountedPartial*>(child)->markRemoved();
  }
}

void QelJoinMemPlain::clear() { clearPartials(); }

void QelJoinMemPlain::populate() {
  QelSetWalker walker(rightInput());
  while (void* record = walker.next()) {
    rightActivate(static_cast<QelInfo*>(record), 0, 0);
  }
}

// ---------------------------------------------------------------- right

QelRightMem::QelRightMem(QelContext* owner)
    : QelNodeMem(owner), node(nullptr), discMem(nullptr) {}

void QelRightMem::bindNode(QelRightNode* right) {
  node = right;
  discMem = context->discMems[right->discNode->index];
  bindSuccessors(right->successors);
}

void QelRightMem::retractSuccessors(QelInfo* record) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->rightRetract(record);
  }
}

void QelRightMem::activateSuccessors(QelInfo* record, int mode) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->rightActivate(record, 0, mode);
  }
}
