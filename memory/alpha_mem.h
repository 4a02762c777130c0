// Alpha memories: the head of a rule's chain of patterns.
//
// A plain alpha memory makes one partial per passing record. The memories
// of quantified and packet patterns hold at most one partial, the token,
// while their condition holds; the token's record is null, except for the
// collect memory's, which is a record around the collected set.
#ifndef QEL_MEMORY_ALPHA_MEM_H
#define QEL_MEMORY_ALPHA_MEM_H

#include "memory/node_mem.h"
#include "util/pointer_map.h"

class QelAlphaMem : public QelLeftMem {
 public:
  QelDiscMem* discMem;  // null for packet patterns

  explicit QelAlphaMem(QelContext* context);

  virtual void insert(QelInfo* record, int mode) = 0;
  virtual void retract(QelInfo* record) = 0;
  virtual void clear() = 0;
  virtual void seed() = 0;

  void bindAlphaNode(QelAlphaNode* node);
  QelAlphaNode* alphaNode() const { return static_cast<QelAlphaNode*>(node); }

 protected:
  QelPartial* tokenPartial() const { return partials; }
  // Links a fresh token and propagates it as new.
  void raiseToken(QelInfo* record);
};

class QelAlphaMemPlain : public QelAlphaMem {
 public:
  // Record -> the partial made for it. A pointer map: no node per entry,
  // and no resizing as the memory empties and fills again.
  QelPointerMap partialTable{QelKeyKind::kAddresses};

  explicit QelAlphaMemPlain(QelContext* context);

  void insert(QelInfo* record, int mode) override;
  void retract(QelInfo* record) override;
  void clear() override;
  void seed() override {}
};

// Base of the exists, not and count memories.
class QelAlphaMemCounted : public QelAlphaMem {
 public:
  int matchCount;  // records that arrived new, minus those retracted

  explicit QelAlphaMemCounted(QelContext* context);

  void clear() override;
  // The token, made and linked when there is none.
  QelPartial* token();
};

class QelAlphaMemExists : public QelAlphaMemCounted {
 public:
  explicit QelAlphaMemExists(QelContext* context)
      : QelAlphaMemCounted(context) {}
  void insert(QelInfo* record, int mode) override;
  void retract(QelInfo* record) override;
  void seed() override {}
};

class QelAlphaMemNot : public QelAlphaMemCounted {
 public:
  explicit QelAlphaMemNot(QelContext* context) : QelAlphaMemCounted(context) {}
  void insert(QelInfo* record, int mode) override;
  void retract(QelInfo* record) override;
  void seed() override;
};

class QelAlphaMemCount : public QelAlphaMemCounted {
 public:
  explicit QelAlphaMemCount(QelContext* context)
      : QelAlphaMemCounted(context) {}
  void insert(QelInfo* record, int mode) override;
  void retract(QelInfo* record) override;
  void seed() override { evaluate(0); }

 private:
  void evaluate(int count);
};

class QelAlphaMemCollect : public QelAlphaMem {
 public:
  explicit QelAlphaMemCollect(QelContext* context) : QelAlphaMem(context) {}
  void insert(QelInfo*, int) override { evaluate(); }
  void retract(QelInfo*) override { evaluate(); }
  void clear() override;
  void seed() override { evaluate(); }

 private:
  void evaluate();
  void dropToken();
};

class QelAlphaMemPacket : public QelAlphaMem {
 public:
  QelPacketMem* packetMem;  // set when the packet memory binds

  explicit QelAlphaMemPacket(QelContext* context)
      : QelAlphaMem(context), packetMem(nullptr) {}
  void insert(QelInfo* record, int mode) override;
  void retract(QelInfo*) override {}
  void clear() override { clearPartials(); }
  void seed() override { insert(nullptr, QelModeNew); }
};

#endif  // QEL_MEMORY_ALPHA_MEM_H
