// Joins without an object input: packet gates, inline tests and wait
// windows. Each derives at most one child per parent, with a null record,
// indexed by `childTable`.
#ifndef QEL_JOIN_JOIN_GATED_H
#define QEL_JOIN_JOIN_GATED_H

#include "join/join_mem.h"
#include "util/pointer_map.h"

// A gate on the state of a rule packet.
class QelJoinMemPacket : public QelJoinMem {
 public:
  QelPacketMem* packetMem;  // set when the packet memory binds
  unsigned char gate;       // 2 not evaluated yet, 0 closed, 1 open
  QelPointerMap childTable{QelKeyKind::kAddresses};  // parent -> its one child

  explicit QelJoinMemPacket(QelContext* context);

  void retractContents() override;
  void rightRetract(QelInfo*) override {}
  void leftRetract(QelPartial* parent) override;
  // Re-evaluates the gate after a packet state change.
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void populate() override { rightActivate(nullptr, 0, 0); }
  void clear() override;
  void expireChildren(QelPartial* parent) override;
  void dropChild(QelPartial* child) override;

 private:
  bool isOpen() const;
};

// A test on the parent partial alone.
class QelJoinMemInline : public QelJoinMem {
 public:
  QelPointerMap childTable{QelKeyKind::kAddresses};  // parent -> its one child

  explicit QelJoinMemInline(QelContext* context) : QelJoinMem(context) {}

  void retractContents() override;
  void rightRetract(QelInfo*) override {}
  void leftRetract(QelPartial* parent) override;
  void rightActivate(QelInfo*, int, int) override {}
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void populate() override;
  void clear() override;
  void expireChildren(QelPartial* parent) override;
  void dropChild(QelPartial* child) override;
};

// A time window: a wait partial per parent, pending until the context's
// time reaches its deadline; then the still-enabled watchdogs fire and
// everything derived from it below expires.
//
// The pending list runs through the wait partials' prevPending/nextPending
// links, sorted by deadline from the earliest (pendingHead); equal
// deadlines keep their enqueue order.
class QelJoinMemWait : public QelJoinMem {
 public:
  // parent -> its wait partial
  QelPointerMap childTable{QelKeyKind::kAddresses};
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
  void populate() override;
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

#endif  // QEL_JOIN_JOIN_GATED_H
