#include "memory/class_mem.h"
#include "memory/join_interface.h"
#include "qel_context.h"
#include "qel_partial.h"
#include "util/block_cache.h"

// ---------------------------------------------------------------- records

void* QelInfo::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelInfo::operator delete(void* record, std::size_t size) {
  QelFreeBlock(record, size);
}

void QelInfo::removeSupport(QelPartial* partial) {
  if (supporters.isEmpty()) return;
  supporters.remove(partial);
  QelContext* context = classMem->context;
  context->notifyRemoveTmsLink(this);
  if (supporters.isEmpty()) classMem->removeObject(this, 1);
}

void QelInfo::dropAllSupports() {
  QelListCell* cell = supporters.head;
  supporters.head = nullptr;
  while (cell != nullptr) {
    QelListCell* next = cell->next;
    static_cast<QelPartial*>(cell->item)->supported.remove(this);
    delete cell;
    cell = next;
  }
}

// ---------------------------------------------------------------- partials

void* QelPartial::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelPartial::operator delete(void* partial, std::size_t size) {
  QelFreeBlock(partial, size);
}

// One walk frees each child set with its two cells; the other lists free
// their cells themselves, and are empty in most partials.
QelPartial::~QelPartial() {
  QelListCell* key = children.head;
  children.head = nullptr;
  while (key != nullptr) {
    QelListCell* value = key->next;
    QelListCell* next = value->next;
    delete static_cast<QelOrderedSet*>(value->item);
    delete value;
    delete key;
    key = next;
  }
}

QelPartial* QelPartial::extend(QelInfo* child, QelLeftMem*) {
  return new QelPartial(child, this);
}

QelInstance* QelPartial::createInstance(QelRuleAction* action, int priority,
                                        int recency) {
  QelInstance* instance = new QelInstance(action, priority, recency, this);
  instances.prepend(instance);
  return instance;
}

bool QelPartial::supports(const QelInfo* info) const {
  for (QelListCell* cell = supported.head; cell != nullptr; cell = cell->next) {
    if (cell->item == info) return true;
  }
  return false;
}

void QelPartial::dropSupports() {
  QelListCell* cell = supported.head;
  supported.head = nullptr;
  while (cell != nullptr) {
    QelListCell* next = cell->next;
    static_cast<QelInfo*>(cell->item)->removeSupport(this);
    delete cell;
    cell = next;
  }
}

QelOrderedSet* QelPartial::findChildSet(const void* joinMem) const {
  for (QelListCell* key = children.head; key != nullptr; key = key->next->next) {
    if (key->item == joinMem) return static_cast<QelOrderedSet*>(key->next->item);
  }
  return nullptr;
}

QelOrderedSet* QelPartial::childSet(const void* joinMem) {
  QelOrderedSet* set = findChildSet(joinMem);
  if (set != nullptr) return set;
  set = new QelOrderedSet();
  children.prepend(set);
  children.prepend(const_cast<void*>(joinMem));
  return set;
}

void QelPartial::addChild(const void* joinMem, QelPartial* child) {
  childSet(joinMem)->insert(child);
}

bool QelPartial::removeChild(const void* joinMem, QelPartial* child) {
  return childSet(joinMem)->remove(child);
}

void QelPartial::clearChildren(const void* joinMem) {
  QelOrderedSet* set = findChildSet(joinMem);
  if (set != nullptr) set->clear();
}

// ------------------------------------------------- reference-counted partials

QelRefCountedPartial::~QelRefCountedPartial() {
  if (firingInstance != nullptr) firingInstance->partial = nullptr;
}

QelPartial* QelRefCountedPartial::extend(QelInfo* child, QelLeftMem* holder) {
  if (removed) return nullptr;
  ++refCount;
  return new QelRefCountedPartial(child, this, holder);
}

// An unreferenced removed partial goes through its owner, which releases
// its parent in turn; the cascade stops at a partial still referenced, not
// removed, or without owner (a wait partial).
void QelRefCountedPartial::release() {
  QelRefCountedPartial* partial = this;
  for (;;) {
    --partial->refCount;
    if (partial->refCount != 0 || !partial->removed ||
        partial->owner == nullptr) {
      return;
    }
    QelPartial* parent = partial->parent;
    static_cast<QelJoinInterface*>(partial->owner)->dropChild(partial);
    partial = static_cast<QelRefCountedPartial*>(parent);
  }
}

void QelRefCountedPartial::markRemoved() {
  removed = 1;
  if (refCount != 0 || owner == nullptr) return;
  QelPartial* up = parent;
  static_cast<QelJoinInterface*>(owner)->dropChild(this);
  static_cast<QelRefCountedPartial*>(up)->release();
}

// ---------------------------------------------------------------- waits

QelWaitPartial::~QelWaitPartial() { freeWatchdogs(); }

void QelWaitPartial::addWatchdog(QelRuleMem* ruleMem) {
  watchdogs.prepend(new QelWatchdogEntry{ruleMem, 0});
}

QelWatchdogEntry* QelWaitPartial::findWatchdog(const QelRuleMem* ruleMem) const {
  for (QelListCell* cell = watchdogs.head; cell != nullptr; cell = cell->next) {
    QelWatchdogEntry* entry = static_cast<QelWatchdogEntry*>(cell->item);
    if (entry->ruleMem == ruleMem) return entry;
  }
  return nullptr;
}

void QelWaitPartial::freeWatchdogs() {
  QelListIterator it;
  it.init(watchdogs);
  while (void* entry = it.peek()) {
    delete static_cast<QelWatchdogEntry*>(entry);
    it.removeUpcoming();
  }
}
