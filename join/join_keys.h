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

#include "memory/record_keys.h"
#include "qel_context.h"
#include "util/block_cache.h"
#include "util/pointer_map.h"

class QelJoinMem;
class QelRightMem;

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

// The indexes of one keyed join memory.
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

  explicit QelJoinKeys(QelJoinMem* owner) : join(owner), right(nullptr) {}
  QelJoinKeys(const QelJoinKeys&) = delete;
  QelJoinKeys& operator=(const QelJoinKeys&) = delete;
  // Empties the parents' index; walks go through the left memory again.
  // An index emptied by its parents' leaving keeps its maps' capacity.
  void dropLeftIndex() {
    if (left.size() != 0) left.clear();
    leftIndexed = false;
    leftWalks = 0;
  }

  bool inChain(const QelClassNode* cls) const;
  // Parents whose tuple holds the record get their left key computed
  // again; those that may have moved join `stale`.
  void rekeyParentsOf(const QelInfo* record) override;
};

// Merges entries of several groups and extra entries into one list in
// descending sequence order, without duplicates.
void QelMergeByAge(std::vector<QelKeyEntry*>& entries);

#endif  // QEL_JOIN_JOIN_KEYS_H
