// The two bases of the per-context node memories.
//
// QelNodeMem holds what every memory that feeds joins has: its context and
// the join memories it feeds. QelLeftMem adds what every memory holding
// partial matches has. propagate() and removePartial() are the only way
// partials are passed on and taken back.
#ifndef QEL_JOIN_NODE_MEM_H
#define QEL_JOIN_NODE_MEM_H

#include "qel_context.h"

class QelNodeMem {
 public:
  QelContext* context;
  int successorCount;
  QelJoinMem** successors;  // null-terminated, node successor order; owned

  explicit QelNodeMem(QelContext* context);
  virtual ~QelNodeMem();
  QelNodeMem(const QelNodeMem&) = delete;
  QelNodeMem& operator=(const QelNodeMem&) = delete;

 protected:
  // Rebuilds `successors` from a node's successor list.
  void bindSuccessors(const QelList& joinNodes);
};

class QelLeftMem : public QelNodeMem {
 public:
  int ruleActionCount;
  QelRuleAction** ruleActions;  // main actions fed; null-terminated; owned
  // Head of the doubly linked list of held partials, newest first. The
  // memory owns every partial on it.
  QelPartial* partials;
  QelLeftNode* node;

  explicit QelLeftMem(QelContext* context);
  ~QelLeftMem() override;

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
};

#endif  // QEL_JOIN_NODE_MEM_H
