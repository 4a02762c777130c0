// The two bases of the per-context node memories.
//
// QelNodeMem holds what every memory that feeds joins has: its context and
// the join memories it feeds. QelLeftMem adds what every memory holding
// partial matches has. propagate() and removePartial() are the only way
// partials are passed on and taken back.
//
// The join memories they feed are seen through QelJoinInterface; the join
// layer, which knows how the context tables its join memories, hands each
// memory its successors (QelBindSuccessors).
#ifndef QEL_MEMORY_NODE_MEM_H
#define QEL_MEMORY_NODE_MEM_H

#include "memory/modes.h"
#include "qel_context.h"
#include "util/pointer_map.h"

class QelJoinInterface;

class QelNodeMem {
 public:
  QelContext* context;
  int successorCount;
  // null-terminated, node successor order; owned
  QelJoinInterface** successors;

  explicit QelNodeMem(QelContext* context);
  virtual ~QelNodeMem();
  QelNodeMem(const QelNodeMem&) = delete;
  QelNodeMem& operator=(const QelNodeMem&) = delete;

  // Takes `count` join memories (a null-terminated array, owned from now
  // on) in place of the previous successors.
  void setSuccessors(QelJoinInterface** joins, int count);
};

// The partials of a memory grouped by the record they add, each group newest
// first like the memory's own list, so that a right retraction reaches its
// partials in the order a walk of the memory would meet them, without the
// walk. Plain and object-unique joins keep one once a retraction walked a
// long memory.
class QelPartialsByRecord {
 public:
  QelPartialsByRecord() = default;
  ~QelPartialsByRecord() { clear(); }
  QelPartialsByRecord(const QelPartialsByRecord&) = delete;
  QelPartialsByRecord& operator=(const QelPartialsByRecord&) = delete;

  // Lists a partial as the newest of its record.
  void add(QelPartial* partial);
  void remove(QelPartial* partial);
  // The newest partial of `record`, or null.
  QelPartial* newest(const QelInfo* record) const;
  void clear();

 private:
  // record -> its partial, or its (tagged) QelList
  QelPointerMap lists_{QelKeyKind::kAddresses};
};

class QelLeftMem : public QelNodeMem {
 public:
  int ruleActionCount;
  QelRuleAction** ruleActions;  // main actions fed; null-terminated; owned
  // Head of the doubly linked list of held partials, newest first. The
  // memory owns every partial on it.
  QelPartial* partials;
  QelLeftNode* node;
  // When set, kept in step with `partials`; owned.
  QelPartialsByRecord* byRecord;

  explicit QelLeftMem(QelContext* context);
  ~QelLeftMem() override;

  // Builds `ruleActions` from the node; the successors come separately.
  void bindNode(QelLeftNode* node);
  void addPartial(QelPartial* partial);
  // Every successor's leftActivate first, then every rule action's
  // addMatch.
  void propagate(QelPartial* partial, int depth, int mode);
  void removeFromSuccessors(QelPartial* partial);
  // Unlinks, retracts downstream, removes instances, drops supports,
  // deletes.
  void removePartial(QelPartial* partial);
  // Deletes every partial, telling nobody (context reset).
  void clearPartials();
  void unlinkPartial(QelPartial* partial);
  // Detaches the whole list and returns its head.
  QelPartial* detachPartials();
  // Starts (or stops) grouping the held partials by record.
  void groupByRecord(bool on);
  // The last partial of `partials` (the oldest held), or null; walks from
  // it follow prevInMemory.
  QelPartial* oldestPartial() const;
};

#endif  // QEL_MEMORY_NODE_MEM_H
