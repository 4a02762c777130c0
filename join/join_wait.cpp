#include "join/join_wait.h"

QelJoinMemWait::QelJoinMemWait(QelContext* owner)
    : QelJoinMemSingle(owner),
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
  QelJoinMemSingle::bindNode(join);
  delete[] watchdogRuleMems;
  watchdogRuleMems = ruleMemsOf(join->watchdogRules, &watchdogRuleMemCount);
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
  if (mode != QelModeNew) {
    leftUpdate(parent, depth, mode);
    return;
  }
  const int deadline = joinNode()->waitTime(context, parent);
  const int now = context->time;
  QelWaitPartial* wait = new QelWaitPartial(parent, deadline);
  if (deadline > now) {
    armWatchdogs(wait);
    emit(wait, depth + 1, QelModeNew);
  } else {
    // Already due: every watchdog rule fires; nothing is passed on.
    if (!fireWatchdogs(wait, QelModeRefresh)) {
      // The parent went while the watchdogs fired; the wait never joined
      // this memory.
      context->agenda->removeInstancesOf(wait);
      delete wait;
      return;
    }
    wait->markRemoved();
  }
  recordChild(wait);
}

void QelJoinMemWait::leftUpdate(QelPartial* parent, int depth, int mode) {
  QelWaitPartial* wait = static_cast<QelWaitPartial*>(childOf(parent));
  if (wait == nullptr) return;
  if (independent(depth)) {
    if (mode == QelModeUpdate && noUpdate(depth)) return;
    emit(wait, depth + 1, mode);
    return;
  }
  const int deadline = joinNode()->waitTime(context, parent);
  const int now = context->time;
  const int old = wait->deadline;
  wait->deadline = deadline;
  // An expired (or due, not yet expired) wait only takes the new deadline.
  // An expired one may hold a later deadline than the time: it never
  // returns to the pending list.
  if (!wait->removed && old > now) {
    if (deadline > now) {
      rearmWatchdogs(wait);
    } else {
      if (!fireWatchdogs(wait, QelModeNew)) return;
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
    if (!fireWatchdogs(wait, QelModeNew)) continue;
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
  QelWaitPartial* wait = static_cast<QelWaitPartial*>(childOf(parent));
  if (wait == nullptr) return;
  dequeuePending(wait);
  removePartial(wait);
  childTable.remove(parent);
}

void QelJoinMemWait::clear() {
  pendingHead = nullptr;
  pendingTail = nullptr;
  QelJoinMemSingle::clear();
}

void QelJoinMemWait::retractContents() {
  pendingHead = nullptr;
  pendingTail = nullptr;
  QelJoinMemSingle::retractContents();
}
