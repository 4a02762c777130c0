#include "join/join_gated.h"

#include "memory/disc_mem.h"

namespace {

// Makes the one child of `parent` (a null record keeps tuple positions
// aligned), emits it as new, links and records it.
void makeSingleChild(QelJoinMem* mem, QelPointerMap& table, QelPartial* parent,
                     int depth) {
  QelPartial* child = parent->extend(nullptr, mem);
  if (child == nullptr) return;
  mem->emit(child, depth, 0);
  mem->addPartial(child);
  table.insert(parent, child);
}

// Passes an update of `parent` on to its child, if it has one.
void passUpdate(QelJoinMem* mem, QelPointerMap& table, QelPartial* parent,
                int depth, int mode) {
  if (mode == 2 && mem->noUpdate(depth)) return;
  QelPartial* child = static_cast<QelPartial*>(table.find(parent));
  if (child != nullptr) mem->emit(child, depth + 1, mode);
}

void removeSingleChild(QelJoinMem* mem, QelPointerMap& table,
                       QelPartial* parent) {
  QelPartial* child = static_cast<QelPartial*>(table.find(parent));
  if (child == nullptr) return;
  mem->removePartial(child);
  table.remove(parent);
}

void dropSingleChild(QelJoinMem* mem, QelPointerMap& table, QelPartial* child) {
  QelPartial* parent = child->parent;
  mem->removePartial(child);
  table.remove(parent);
}

void expireSingleChild(QelJoinMem* mem, QelPointerMap& table,
                       QelPartial* parent) {
  QelPartial* child = static_cast<QelPartial*>(table.find(parent));
  if (child == nullptr) return;
  mem->expireSuccessors(child);
  static_cast<QelRefCountedPartial*>(child)->markRemoved();
}

template <typename Visit>
void forEachParent(QelLeftMem* leftMem, Visit visit) {
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    visit(parent);
    parent = next;
  }
}

}  // namespace

// ---------------------------------------------------------------- packet

QelJoinMemPacket::QelJoinMemPacket(QelContext* owner)
    : QelJoinMem(owner), packetMem(nullptr), gate(2) {}

bool QelJoinMemPacket::isOpen() const {
  return packetMem != nullptr && packetMem->meets(node->packetState);
}

void QelJoinMemPacket::rightActivate(QelInfo*, int, int) {
  if (isOpen()) {
    if (gate == 1) return;
    gate = 1;
    forEachParent(leftMem, [this](QelPartial* parent) {
      makeSingleChild(this, childTable, parent, 1);
    });
    return;
  }
  if (gate != 1) return;
  gate = 0;
  forEachParent(leftMem, [this](QelPartial* parent) {
    QelPartial* child = static_cast<QelPartial*>(childTable.remove(parent));
    if (child != nullptr) removePartial(child);
  });
}

void QelJoinMemPacket::leftActivate(QelPartial* parent, int depth, int mode) {
  if (gate == 2) gate = isOpen() ? 1 : 0;
  if (gate == 0) return;
  if (mode == 0) {
    makeSingleChild(this, childTable, parent, depth + 1);
  } else {
    passUpdate(this, childTable, parent, depth, mode);
  }
}

void QelJoinMemPacket::leftRetract(QelPartial* parent) {
  removeSingleChild(this, childTable, parent);
}

void QelJoinMemPacket::dropChild(QelPartial* child) {
  dropSingleChild(this, childTable, child);
}

void QelJoinMemPacket::expireChildren(QelPartial* parent) {
  expireSingleChild(this, childTable, parent);
}

void QelJoinMemPacket::clear() {
  childTable.clear();
  clearPartials();
}

void QelJoinMemPacket::retractContents() {
  childTable.clear();
  QelJoinMem::retractContents();
}

// ---------------------------------------------------------------- inline

void QelJoinMemInline::leftActivate(QelPartial* parent, int depth, int mode) {
  if (mode == 0) {
    if (joinNode()->testJoin(context, nullptr, parent)) {
      makeSingleChild(this, childTable, parent, depth + 1);
    }
    return;
  }
  if (independent(depth)) {
    passUpdate(this, childTable, parent, depth, mode);
    return;
  }
  QelPartial* child = static_cast<QelPartial*>(childTable.find(parent));
  if (!joinNode()->testJoin(context, nullptr, parent)) {
    if (child != nullptr) removeSingleChild(this, childTable, parent);
    return;
  }
  if (child == nullptr) {
    makeSingleChild(this, childTable, parent, depth + 1);
    return;
  }
  if (mode == 2 && noUpdate(depth)) return;
  emit(child, depth + 1, mode);
}

void QelJoinMemInline::leftRetract(QelPartial* parent) {
  removeSingleChild(this, childTable, parent);
}

void QelJoinMemInline::dropChild(QelPartial* child) {
  dropSingleChild(this, childTable, child);
}

void QelJoinMemInline::expireChildren(QelPartial* parent) {
  expireSingleChild(this, childTable, parent);
}

void QelJoinMemInline::clear() {
  childTable.clear();
  clearPartials();
}

void QelJoinMemInline::populate() {
  forEachParent(leftMem, [this](QelPartial* parent) {
    leftActivate(parent, 0, 0);
  });
}

void QelJoinMemInline::retractContents() {
  childTable.clear();
  QelJoinMem::retractContents();
}

// ---------------------------------------------------------------- wait

QelJoinMemWait::QelJoinMemWait(QelContext* owner)
    : QelJoinMem(owner),
      pendingHead(nullptr),
      pendingTail(nullptr),
      watchdogRuleMems(nullptr),
      watchdogRuleMemCount(0),
      firing_(nullptr) {
  owner->agenda->waitJoinMems.append(this);
}

QelJoinMemWait::~QelJoinMemWait() {
  delete[] watchdogRuleMems;
  if (context->agenda != nullptr) context->agenda->waitJoinMems.remove(this);
}

void QelJoinMemWait::bindNode(QelJoinNode* join) {
  QelJoinMem::bindNode(join);
  delete[] watchdogRuleMems;
  watchdogRuleMemCount = join->watchdogRules.length();
  watchdogRuleMems = new QelRuleMem*[watchdogRuleMemCount + 1];
  int i = 0;
  for (QelListCell* cell = join->watchdogRules.head; cell; cell = cell->next) {
    watchdogRuleMems[i++] =
        context->ruleMems[static_cast<QelRuleNode*>(cell->item)->index];
  }
  watchdogRuleMems[i] = nullptr;
}

// Links `wait` after the latest pending wait whose deadline is not later,
// walking back from the tail: equal deadlines keep their enqueue order.
void QelJoinMemWait::enqueuePending(QelWaitPartial* wait) {
  QelWaitPartial* before = pendingTail;
  while (before != nullptr && before->deadline > wait->deadline) {
    before = before->prevPending;
  }
  wait->prevPending = before;
  if (before != nullptr) {
    wait->nextPending = before->nextPending;
    before->nextPending = wait;
  } else {
    wait->nextPending = pendingHead;
    pendingHead = wait;
  }
  if (wait->nextPending != nullptr) {
    wait->nextPending->prevPending = wait;
  } else {
    pendingTail = wait;
  }
}

void QelJoinMemWait::unlinkPending(QelWaitPartial* wait) {
  const bool listed = wait->prevPending != nullptr || pendingHead == wait;
  if (!listed) return;
  if (wait->prevPending != nullptr) {
    wait->prevPending->nextPending = wait->nextPending;
  } else {
    pendingHead = wait->nextPending;
  }
  if (wait->nextPending != nullptr) {
    wait->nextPending->prevPending = wait->prevPending;
  } else {
    pendingTail = wait->prevPending;
  }
  wait->prevPending = nullptr;
  wait->nextPending = nullptr;
}

void QelJoinMemWait::dequeuePending(QelWaitPartial* wait) {
  context->notifyRemoveWatchdog(wait, pendingHead, watchdogRuleMems);
  unlinkPending(wait);
}

void QelJoinMemWait::armWatchdogs(QelWaitPartial* wait) {
  for (QelRuleMem** rule = watchdogRuleMems; *rule != nullptr; ++rule) {
    wait->addWatchdog(*rule);
    context->notifyAddWatchdog(*rule, wait);
  }
  enqueuePending(wait);
}

void QelJoinMemWait::rearmWatchdogs(QelWaitPartial* wait) {
  dequeuePending(wait);
  enqueuePending(wait);
  for (QelRuleMem** rule = watchdogRuleMems; *rule != nullptr; ++rule) {
    context->notifyAddWatchdog(*rule, wait);
  }
}

// Fires the watchdog actions of the rules whose watchdog is still enabled
// (every watchdog rule when the wait was never armed) and consumes the
// entries. A watchdog instance of a packet's rule can change the packet's
// state, and the re-evaluation can retract the wait's parent and with it
// the wait: then no further action is fired on it, and false is returned.
bool QelJoinMemWait::fireWatchdogs(QelWaitPartial* wait, int mode) {
  Firing frame{wait->parent, false, firing_};
  firing_ = &frame;
  if (wait->watchdogs.isEmpty()) {
    for (QelRuleMem** rule = watchdogRuleMems; *rule != nullptr; ++rule) {
      if (frame.parentGone) break;
      if ((*rule)->watchdogAction != nullptr) {
        (*rule)->watchdogAction->addMatch(wait, mode);
      }
    }
  } else {
    QelListCell* cell = wait->watchdogs.head;
    wait->watchdogs.head = nullptr;
    while (cell != nullptr) {
      QelListCell* next = cell->next;
      QelWatchdogEntry* entry = static_cast<QelWatchdogEntry*>(cell->item);
      if (!frame.parentGone && !entry->disabled &&
          entry->ruleMem->watchdogAction != nullptr) {
        entry->ruleMem->watchdogAction->addMatch(wait, mode);
      }
      delete entry;
      delete cell;
      cell = next;
    }
  }
  firing_ = frame.outer;
  return !frame.parentGone;
}

void QelJoinMemWait::leftActivate(QelPartial* parent, int depth, int mode) {
  if (mode != 0) {
    leftUpdate(parent, depth, mode);
    return;
  }
  const int deadline = joinNode()->waitTime(context, parent);
  const int now = context->time;
  QelWaitPartial* wait = new QelWaitPartial(parent, deadline);
  if (deadline > now) {
    armWatchdogs(wait);
    emit(wait, depth + 1, 0);
  } else {
    // Already due: every watchdog rule fires; nothing is passed on.
    if (!fireWatchdogs(wait, 1)) {
      // The parent went while the watchdogs fired; the wait never joined
      // this memory.
      context->agenda->removeInstancesOf(wait);
      delete wait;
      return;
    }
    wait->markRemoved();
  }
  childTable.insert(parent, wait);
  addPartial(wait);
}

void QelJoinMemWait::leftUpdate(QelPartial* parent, int depth, int mode) {
  QelWaitPartial* wait = static_cast<QelWaitPartial*>(childTable.find(parent));
  if (wait == nullptr) return;
  if (independent(depth)) {
    if (mode == 2 && noUpdate(depth)) return;
    emit(wait, depth + 1, mode);
    return;
  }
  const int deadline = joinNode()->waitTime(context, parent);
  const int now = context->time;
  const int old = wait->deadline;
  wait->deadline = deadline;
  // An expired (or due, not yet expired) wait only takes the new deadline.
  if (old > now) {
    if (deadline > now) {
      rearmWatchdogs(wait);
    } else {
      if (!fireWatchdogs(wait, 0)) return;
      dequeuePending(wait);
      wait->markRemoved();
      expireSuccessors(wait);
    }
  }
  if (noUpdate(depth)) return;
  emit(wait, depth + 1, mode);
}

void QelJoinMemWait::rightActivate(QelInfo*, int, int) {
  const int now = context->time;
  while (pendingHead != nullptr && pendingHead->deadline <= now) {
    QelWaitPartial* wait = pendingHead;
    // A wait whose parent went meanwhile has been dequeued and deleted.
    if (!fireWatchdogs(wait, 0)) continue;
    context->notifyRemoveWatchdog(wait, wait, watchdogRuleMems);
    unlinkPending(wait);
    expireSuccessors(wait);
    wait->markRemoved();
  }
}

void QelJoinMemWait::leftRetract(QelPartial* parent) {
  for (Firing* frame = firing_; frame != nullptr; frame = frame->outer) {
    if (frame->parent == parent) frame->parentGone = true;
  }
  QelWaitPartial* wait = static_cast<QelWaitPartial*>(childTable.find(parent));
  if (wait == nullptr) return;
  dequeuePending(wait);
  removePartial(wait);
  childTable.remove(parent);
}

void QelJoinMemWait::clear() {
  childTable.clear();
  pendingHead = nullptr;
  pendingTail = nullptr;
  clearPartials();
}

void QelJoinMemWait::retractContents() {
  childTable.clear();
  pendingHead = nullptr;
  pendingTail = nullptr;
  QelJoinMem::retractContents();
}

void QelJoinMemWait::populate() {
  forEachParent(leftMem, [this](QelPartial* parent) {
    leftActivate(parent, 0, 0);
  });
}
