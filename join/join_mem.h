// The join memory base.
//
// A join memory combines the partials of its left input with the object
// records of its right input (the `matches` of one discrimination memory)
// under the node's test, keeps every longer partial it derives, and passes
// each new, changed or lost partial on. Every activation carries a mode
// (0 new, 1 refresh, 2 plain update) and a depth: how many levels above the
// join's own right object the changed object sits. Bit `depth` of the
// node's masks describes that object.
//
// Every partial a join passes on is emitted before it is recorded and
// linked, so the cascade it starts does not see it in this memory yet.
#ifndef QEL_JOIN_JOIN_MEM_H
#define QEL_JOIN_JOIN_MEM_H

#include <vector>

#include "memory/join_interface.h"
#include "memory/right_mem.h"

class QelDiscMem;
class QelJoinKeys;

class QelJoinMem : public QelJoinInterface {
 public:
  QelLeftMem* leftMem;    // its partials are this join's parents
  QelRightMem* rightMem;  // null for joins without an object input
  QelRuleMem** disableRuleMems;  // null-terminated; owned array
  int disableRuleMemCount;
  // The key indexes of a keyed join, through which it makes every walk by
  // key; owned; null for a join that is not keyed.
  QelJoinKeys* keys;

  explicit QelJoinMem(QelContext* context);
  ~QelJoinMem() override;

  void bindNode(QelJoinNode* node) override;
  void retractContents() override;

  // propagate(), then the watchdogs of the rules ending here are disabled.
  void emit(QelPartial* child, int depth, int mode);

  QelJoinNode* joinNode() const { return static_cast<QelJoinNode*>(node); }
  // The right input: the matches of the right node's discrimination memory.
  QelOrderedSet& rightInput() const;
  // QelJoinNode::testJoin, inline: the class is final, so this is the test
  // every join node runs. Walks over many pairs use QelPairTest.
  bool test(QelInfo* record, QelPartial* parent) const;
  bool independent(int depth) const {
    return bitSet(joinNode()->independenceMask, depth);
  }
  bool noUpdate(int depth) const { return bitSet(node->noUpdateMask, depth); }
  // Bits past the width of the mask read as its sign bit, as an arithmetic
  // shift would give them.
  static bool bitSet(int mask, int bit) {
    if (bit < 0) return false;
    if (bit >= 31) return mask < 0;
    return ((static_cast<unsigned>(mask) >> bit) & 1u) != 0;
  }
  // Drops every child holding `record` (plain and object-unique joins),
  // newest first as a walk of the memory meets them. Grouping the partials
  // by record spares that walk but costs two map operations per partial, so
  // a join starts grouping only once such a walk has been long.
  void dropChildrenOf(QelInfo* record);
  static constexpr int kLongRetractWalk = 32;
  // Tells every successor to expire what it derived from `partial`.
  void expireSuccessors(QelPartial* partial);

 protected:
  // The context's rule memories of a list of rule nodes, in list order: a
  // null-terminated array the caller owns, and its length in `count`.
  QelRuleMem** ruleMemsOf(const QelList& rules, int* count) const;
};

// A join node's test, read once for a walk that runs it on many pairs (a
// node does not change while contexts run): the walk then loads and
// compares nothing per pair but the call itself.
class QelPairTest {
 public:
  explicit QelPairTest(const QelJoinMem& mem)
      : context_(mem.context),
        test_(mem.joinNode()->joinTest),
        always_(test_ == &QelContext::nullJoin) {}
  bool operator()(QelInfo* record, QelPartial* parent) const {
    return always_ || (context_->*test_)(parent, record) != 0;
  }

 private:
  QelContext* const context_;
  const QelJoinTest test_;
  const bool always_;  // the null test passes without being called
};

inline bool QelJoinMem::test(QelInfo* record, QelPartial* parent) const {
  return QelPairTest(*this)(record, parent);
}

// One (first, second) pair of a re-match: the whole list is built before
// anything is propagated, because the cascade re-enters other joins that
// use the same scratch marks.
struct QelMatchPair {
  void* first;
  QelPartial* second;
};

// Gives a memory that feeds joins (an alpha, join or right memory) the join
// memories of a node's successor list, in list order. Join nodes whose
// pattern type has no memory are left out.
void QelBindSuccessors(QelNodeMem* mem, const QelList& joinNodes);

#endif  // QEL_JOIN_JOIN_MEM_H
