// Wait joins: time windows with watchdog rules.
#ifndef QEL_JOIN_JOIN_WAIT_H
#define QEL_JOIN_JOIN_WAIT_H

#include "join/join_single.h"

// A time window: a wait partial per parent (its one child), pending until
// the context's time reaches its deadline; then the still-enabled watchdogs
// fire and everything derived from it below expires.
//
// The pending list runs through the wait partials' prevPending/nextPending
// links, sorted by deadline from the earliest (pendingHead); equal
// deadlines keep their enqueue order.
class QelJoinMemWait : public QelJoinMemSingle {
 public:
  QelWaitPartial* pendingHead;
  QelWaitPartial* pendingTail;
  QelRuleMem** watchdogRuleMems;  // null-terminated; owned array
  int watchdogRuleMemCount;

  explicit QelJoinMemWait(QelContext* context);
  ~QelJoinMemWait() override;

  void bindNode(QelJoinNode* node) override;
  void retractContents() override;
  void rightRetract(QelInfo*) override {}
  void leftRetract(QelPartial* parent) override;
  // Expiry: every pending wait whose deadline has come, earliest first.
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void clear() override;
  void expireChildren(QelPartial*) override {}
  void dropChild(QelPartial*) override {}

  bool fireWatchdogs(QelWaitPartial* wait, int mode);
  void enqueuePending(QelWaitPartial* wait);
  void dequeuePending(QelWaitPartial* wait);
  void armWatchdogs(QelWaitPartial* wait);
  void rearmWatchdogs(QelWaitPartial* wait);

 private:
  // The waits whose watchdogs are firing, innermost first, and whether
  // their parent was retracted meanwhile.
  struct Firing {
    QelPartial* parent;
    bool parentGone;
    Firing* outer;
  };
  Firing* firing_;

  void unlinkPending(QelWaitPartial* wait);
  void leftUpdate(QelPartial* parent, int depth, int mode);
};

#endif  // QEL_JOIN_JOIN_WAIT_H
