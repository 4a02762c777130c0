// Key indexes of keyed joins.
//
// A rule compiler that knows a join test contains an equality between a
// value of the new object and a value of the partial match gives the join a
// left key (of a parent partial) and a right key (of a right record), with
// the contract: whenever the test passes for (P, I), leftKey(P) ==
// rightKey(I). Keys are compared by identity. A keyed join then visits only
// the parents or records of one key instead of the whole other side.
//
// Every walk must meet entries in the order the full walk would (newest
// first), also after an update moved an entry to another key. Each entry
// therefore carries the sequence number of its first insertion, and each
// key's group is kept in descending sequence order.
#ifndef QEL_JOIN_JOIN_KEYS_H
#define QEL_JOIN_JOIN_KEYS_H

#include <cstdint>
#include <vector>

#include "join/join_mem.h"
#include "memory/record_keys.h"
#include "qel_context.h"
#include "util/block_cache.h"
#include "util/pointer_map.h"

struct QelKeyEntry {
  void* item;     // a QelInfo* (right side) or a QelPartial* (left side)
  void* key;      // current key
  void* prevKey;  // key before the update in progress; `key` at rest
  uint64_t seq;   // order of first insertion; higher is newer
  QelKeyEntry* newer;  // group neighbours, sorted by descending seq
  QelKeyEntry* older;

  // Entries come and go with every parent: the block cache recycles them.
  static void* operator new(std::size_t size) { return QelAllocBlock(size); }
  static void operator delete(void* entry, std::size_t size) {
    QelFreeBlock(entry, size);
  }
};

// One key's entries, newest first.

class QelKeyIndex {
 public:
  QelKeyIndex() : nextSeq_(1) {}
  ~QelKeyIndex() { clear(); }
  QelKeyIndex(const QelKeyIndex&) = delete;
  QelKeyIndex& operator=(const QelKeyIndex&) = delete;

  // Adds a new item as the newest entry of its key; an item already listed
  // is left where it is.
  QelKeyEntry* add(void* item, void* key);
  // Removes an item; does nothing when it is not listed.
  void remove(void* item);
  // The same for entries whose storage the caller keeps (right records
  // carry theirs): the index then holds only its map of keys.
  void attach(QelKeyEntry* entry, void* item, void* key);
  void detach(QelKeyEntry* entry);
  // Gives a listed entry a new key, keeping its sequence number; remembers
  // the old key in prevKey.
  void rekey(QelKeyEntry* entry, void* key);
  QelKeyEntry* find(const void* item) const {
    return static_cast<QelKeyEntry*>(entries_.find(item));
  }
  // The newest entry of a key, or null; walk on with `older`.
  QelKeyEntry* newest(const void* key) const {
    return static_cast<QelKeyEntry*>(newest_.find(key));
  }
  std::size_t size() const { return entries_.size(); }
  void clear();

 private:
  void link(QelKeyEntry* entry);
  void unlink(QelKeyEntry* entry);

  // A key's entries form one list by `newer` and `older`, sorted by
  // descending seq; the map holds its head. A key without entries is absent.
  QelPointerMap newest_;   // key -> newest QelKeyEntry*
  // item -> QelKeyEntry*, for entries it allocated
  QelPointerMap entries_{QelKeyKind::kAddresses};
  uint64_t nextSeq_;
};

// A right input's records by one right key function. Keyed joins of the
// same input with the same function share one: they would hold the same
// entries in the same order.
//
// A record's entries live in its own allocation, after the QelInfo: one
// per key index its class's records can enter, `offset` bytes past the
// QelInfo (see QelRecordKeys::layOut). That spares a map from records to
// entries, and its probe, on every assert and retract. An entry whose
// `item` is null is not listed; the class memory zero-fills them.
struct QelRightKeyIndex {
  QelRecordKeyFunction key;
  std::size_t offset;
  QelKeyIndex index;

  QelKeyEntry* entryOf(QelInfo* record) const {
    return reinterpret_cast<QelKeyEntry*>(reinterpret_cast<char*>(record) +
                                          sizeof(QelInfo) + offset);
  }
  // The record's entry when it is listed, else null.
  QelKeyEntry* find(QelInfo* record) const {
    QelKeyEntry* entry = entryOf(record);
    return entry->item != nullptr ? entry : nullptr;
  }
  QelKeyEntry* newest(const void* key) const { return index.newest(key); }
  void add(QelInfo* record, void* key) { index.attach(entryOf(record), record, key); }
  void remove(QelInfo* record) {
    QelKeyEntry* entry = find(record);
    if (entry != nullptr) index.detach(entry);
  }
  // Forgets every entry; the records' own entries are left as they are.
  void clear() { index.clear(); }
};

// The key indexes over one right input's records, one per right key
// function its keyed successors use, in the order of their first user.
class QelRightKeys final : public QelRecordKeys {
 public:
  explicit QelRightKeys(QelContext* context) : context_(context) {}
  ~QelRightKeys() override;
  QelRightKeys(const QelRightKeys&) = delete;
  QelRightKeys& operator=(const QelRightKeys&) = delete;

  // The index of a key function, made when it has none yet.
  QelRightKeyIndex* indexFor(QelRecordKeyFunction key);

  std::size_t layOut(std::size_t offset) override;
  void entered(QelInfo* record) override;
  void left(QelInfo* record) override;
  void rekey(QelInfo* record) override;

 private:
  QelContext* const context_;
  std::vector<QelRightKeyIndex*> indexes_;  // owned
};

// Gives a bound right memory the key indexes its keyed successors use, and
// each of them its index. Join memories are bound before right memories,
// so their keys exist.
void QelBindRightKeys(QelRightMem* mem);

// The indexes of one keyed join memory, and every walk the join makes by
// key. Each walk meets parents and records in the order of the walk over
// the whole left memory or right input that it replaces.
class QelJoinKeys final : public QelParentKeys {
 public:
  QelJoinMem* const join;
  QelKeyIndex left;         // parents by left key
  QelRightKeyIndex* right;  // right records by right key, owned by the
                            // right memory and set when it is bound

  // Classes whose objects can sit in a parent's tuple: the classes of the
  // patterns on the left chain and their subclasses. A right update of such
  // an object may move parents between keys, so it walks every parent.
  std::vector<const QelClassNode*> chainClasses;

  // Counted joins: parents whose key changed without the join being told
  // (an update stopped by a mask above it). Their match sets may still
  // hold records of their old key, so retractions and right updates visit
  // them too. While the parents are not indexed their old keys are not
  // known, so every parent whose tuple holds an updated object joins the
  // set. That changes nothing a walk does: a parent whose key did not
  // change and whose set holds a record has that record's key, so it is
  // visited anyway. A parent leaves the set when its match set is rebuilt.
  bool tracksStale = false;
  QelOrderedSet stale;

  // Indexing a parent costs two map entries for its whole stay, which a
  // join whose right side rarely looks at its parents never earns back. So
  // `left` is filled only at the second walk over the parents since the
  // left memory was last empty; until then a walk goes through the left
  // memory (newest first, the index's order too) and compares each
  // parent's key. Parents' keys are kept current on every update either
  // way, so both find the same parents.
  static constexpr int kUnindexedWalks = 1;
  bool leftIndexed = false;
  int leftWalks = 0;  // walks over the parents since the memory was empty

  // The keys of a bound join whose node is keyed and has a right input,
  // registered with the class memories whose objects its parents may hold;
  // null for any other join.
  static QelJoinKeys* forJoin(QelJoinMem* join);
  QelJoinKeys(const QelJoinKeys&) = delete;
  QelJoinKeys& operator=(const QelJoinKeys&) = delete;

  void* leftKeyOf(QelPartial* parent) const {
    return (context_->*leftKey_)(parent);
  }
  void* rightKeyOf(QelInfo* record) const {
    return (context_->*rightKey_)(record);
  }
  // A parent enters (mode 0) or is told of a change (mode 1, 2): its left
  // key is (re)computed before anything walks by key, and returned.
  void* keyParent(QelPartial* parent, int mode);
  // A parent left: it leaves the index, and the index is dropped once the
  // left memory is empty. Inline: every parent's retraction passes here,
  // and most find nothing to do.
  void unkeyParent(QelPartial* parent) {
    if (leftIndexed || tracksStale || join->leftMem->partials == nullptr) {
      forgetParent(parent);
    }
  }
  // The left key of a parent: its entry's, or computed when not indexed.
  void* parentKey(QelPartial* parent) const;
  // A counted join rebuilt the parent's match set from its current key.
  void parentRecounted(QelPartial* parent) { stale.remove(parent); }
  // Whether a right update of `record` can be matched by key. An object
  // that may also sit in parents' tuples can move parents between keys
  // before they are told, so its update walks every parent.
  bool keyedRightUpdate(const QelInfo* record) const;
  // Parents whose tuple holds the record get their left key computed
  // again; those that may have moved join `stale`.
  void rekeyParentsOf(const QelInfo* record) override;
  // Forgets every parent and record (context reset).
  void clear();

  // Visits the right records of `key`; the visit may not remove records.
  template <typename Visit>
  void forEachRecordOfKey(void* key, Visit visit) const;
  // Visits the parents of `key`; the visit may remove the parent it is
  // given.
  template <typename Visit>
  void forEachParentOfKey(void* key, Visit visit);
  // Visits the records a left re-match of `parent` visits: those of its
  // key and those of its `children` (which may sit under other keys).
  // First marks the record of each child with the child, as the re-match
  // expects. The visit may not propagate anything.
  template <typename Visit>
  void forEachRecordToRematch(QelPartial* parent,
                              const QelOrderedSet& children,
                              Visit visit) const;
  // Visits the parents a right re-match of `record` visits: those of its
  // key and those of the record's children; every parent when the update
  // may move parents between keys. First marks the parent of each child of
  // the record with the child. The visit may not propagate anything.
  template <typename Visit>
  void forEachParentToRematch(QelInfo* record, Visit visit);
  // The parents a counted join recounts for a change of `record`: those of
  // its key and of its key before the update in progress, and the stale
  // parents whose match set holds it.
  void parentsToRecount(QelInfo* record, std::vector<QelPartial*>& parents);

 private:
  explicit QelJoinKeys(QelJoinMem* owner);
  // Called before each walk over the parents by key: counts the walk,
  // indexes the parents at the second one, and tells whether the walk can
  // use the index.
  bool parentsIndexed();
  // Empties the parents' index; walks go through the left memory again.
  // An index emptied by its parents' leaving keeps its maps' capacity.
  void dropLeftIndex();
  void forgetParent(QelPartial* parent);
  bool inChain(const QelClassNode* cls) const;
  bool isStaleHolder(QelPartial* parent, const QelInfo* record) const;

  // The join's, read once: a node does not change while contexts run.
  QelContext* const context_;
  const QelKeyFunction leftKey_;
  const QelRecordKeyFunction rightKey_;
};

// Merges entries of several groups and extra entries into one list in
// descending sequence order, without duplicates.
void QelMergeByAge(std::vector<QelKeyEntry*>& entries);

template <typename Visit>
void QelJoinKeys::forEachRecordOfKey(void* key, Visit visit) const {
  QelKeyEntry* entry = right->newest(key);
  while (entry != nullptr) {
    QelKeyEntry* older = entry->older;
    visit(static_cast<QelInfo*>(entry->item));
    entry = older;
  }
}

template <typename Visit>
void QelJoinKeys::forEachParentOfKey(void* key, Visit visit) {
  if (parentsIndexed()) {
    QelKeyEntry* entry = left.newest(key);
    while (entry != nullptr) {
      QelKeyEntry* older = entry->older;
      visit(static_cast<QelPartial*>(entry->item));
      entry = older;
    }
    return;
  }
  QelPartial* parent = join->leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    if (leftKeyOf(parent) == key) visit(parent);
    parent = next;
  }
}

template <typename Visit>
void QelJoinKeys::forEachRecordToRematch(QelPartial* parent,
                                         const QelOrderedSet& children,
                                         Visit visit) const {
  std::vector<QelKeyEntry*> entries;
  for (QelKeyEntry* e = right->newest(parentKey(parent)); e; e = e->older) {
    entries.push_back(e);
  }
  QelSetWalker walker(children);
  while (void* item = walker.next()) {
    QelPartial* child = static_cast<QelPartial*>(item);
    child->record->mark = child;
    QelKeyEntry* entry = right->find(child->record);
    if (entry != nullptr) entries.push_back(entry);
  }
  QelMergeByAge(entries);
  for (QelKeyEntry* entry : entries) visit(static_cast<QelInfo*>(entry->item));
}

template <typename Visit>
void QelJoinKeys::forEachParentToRematch(QelInfo* record, Visit visit) {
  const bool byKey = keyedRightUpdate(record);
  const bool indexed = byKey && parentsIndexed();
  void* const key = byKey ? right->find(record)->key : nullptr;
  std::vector<QelKeyEntry*> entries;
  if (indexed) {
    for (QelKeyEntry* e = left.newest(key); e; e = e->older) {
      entries.push_back(e);
    }
  }
  for (QelPartial* child = join->partials; child; child = child->nextInMemory) {
    if (child->record != record) continue;
    child->parent->mark = child;
    if (!indexed) continue;
    QelKeyEntry* entry = left.find(child->parent);
    if (entry != nullptr) entries.push_back(entry);
  }
  if (indexed) {
    QelMergeByAge(entries);
    for (QelKeyEntry* entry : entries) {
      visit(static_cast<QelPartial*>(entry->item));
    }
    return;
  }
  for (QelPartial* parent = join->leftMem->partials; parent;
       parent = parent->nextInMemory) {
    if (!byKey || parent->mark != nullptr || leftKeyOf(parent) == key) {
      visit(parent);
    }
  }
}

#endif  // QEL_JOIN_JOIN_KEYS_H
