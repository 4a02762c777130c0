// The keys that keyed joins compute from objects, as the memories of
// objects see them.
//
// A keyed join indexes its right records and its parents by keys computed
// from their objects (join/join_keys.h), so every change of an object must
// reach those indexes before it propagates. Class and discrimination
// memories tell them through these two interfaces, declared here so that
// memory/ needs nothing of join/.
#ifndef QEL_MEMORY_RECORD_KEYS_H
#define QEL_MEMORY_RECORD_KEYS_H

#include <cstddef>

class QelInfo;

// The key indexes over the records of one right input.
class QelRecordKeys {
 public:
  virtual ~QelRecordKeys() = default;

  // The indexes keep their per-record state inside each record of the
  // input, after the QelInfo, zero-filled when the record is made. Gives
  // them the bytes from `offset` on and returns the offset after them.
  virtual std::size_t layOut(std::size_t offset) = 0;
  // The record entered the input, left it, or its object was updated (the
  // last before the update propagates).
  virtual void entered(QelInfo* record) = 0;
  virtual void left(QelInfo* record) = 0;
  virtual void rekey(QelInfo* record) = 0;
};

// The parents of a keyed join whose tuple may hold objects of a class.
class QelParentKeys {
 public:
  // An object of that class was updated: the parents that hold it get
  // their key computed again, before the update propagates.
  virtual void rekeyParentsOf(const QelInfo* record) = 0;

 protected:
  ~QelParentKeys() = default;
};

#endif  // QEL_MEMORY_RECORD_KEYS_H
