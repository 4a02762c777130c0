#ifndef QEL_UTIL_POINTER_MAP_H
#define QEL_UTIL_POINTER_MAP_H

#include <cstddef>
#include <cstdint>

// A map from pointer keys to pointer values for the library's own indexes,
// where a chained table would allocate a node per entry and resize each
// time a memory empties and fills again.
//
// Open addressing with linear probing; a removal shifts the entries after
// it back, so there are no tombstones. A slot whose key is null is empty;
// the null key itself is held apart. The slot array grows at half load
// (3/4 once large, see full()) and never shrinks until clear(): the
// indexes it serves empty and refill with every retraction and assertion
// of the objects at their head, and would otherwise resize all the way
// down and up again each time. Iteration order
// is unspecified: no walk that decides an observable order may use it.
//
// Keys are spread over the slots by one of two hashes, chosen per map:
// - values (interned values, small integers cast to pointers, application
//   objects): Fibonacci hashing of the whole key;
// - the addresses of the library's own blocks (partials, records): a full
//   64-bit mix of the address, so that every bit of it reaches the slot.
//   Blocks of one size lie a fixed stride apart in aligned slabs; a hash
//   that keeps that structure (Fibonacci hashing of the whole address, or
//   the address in granules shifted per slab) lines such keys up into
//   runs that linear probing then walks on every lookup and removal:
//   up to 9 probes per lookup at a million keys where a mix needs 1.5.
enum class QelKeyKind { kValues, kAddresses };

class QelPointerMap {
 public:
  explicit QelPointerMap(QelKeyKind kind = QelKeyKind::kValues)
      : addressKeys_(kind == QelKeyKind::kAddresses) {}
  ~QelPointerMap();
  QelPointerMap(const QelPointerMap&) = delete;
  QelPointerMap& operator=(const QelPointerMap&) = delete;

  // The value for `key`, or null.
  void* find(const void* key) const {
    if (key == nullptr) return hasNull_ ? nullValue_ : nullptr;
    if (count_ == 0) return nullptr;
    for (std::size_t i = slotOf(key);; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.key == key) return slot.value;
      if (slot.key == nullptr) return nullptr;
    }
  }
  // Adds an entry for a key not present (callers find first).
  void insert(const void* key, void* value);
  // The value of `key`, added as null when absent, to be set through the
  // reference before the map is changed again.
  void*& findOrInsert(const void* key);
  // Gives a key present a new value.
  void replace(const void* key, void* value) {
    if (key == nullptr) {
      nullValue_ = value;
      return;
    }
    std::size_t i = slotOf(key);
    while (slots_[i].key != key) i = (i + 1) & mask_;
    slots_[i].value = value;
  }
  // Removes the entry and returns its value (null when absent).
  void* remove(const void* key);
  // Removes every entry and frees the slot array.
  void clear();
  std::size_t size() const { return count_ + (hasNull_ ? 1 : 0); }

  template <typename F>
  void forEachValue(F visit) const {
    if (hasNull_) visit(nullValue_);
    for (std::size_t i = 0; count_ > 0 && i <= mask_; ++i) {
      if (slots_[i].key != nullptr) visit(slots_[i].value);
    }
  }

 private:
  struct Slot {
    const void* key;
    void* value;
  };
  static constexpr std::size_t kMinCapacity = 16;

  std::size_t slotOf(const void* key) const {
    const uint64_t k = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
    if (addressKeys_) {
      uint64_t z = k ^ (k >> 30);
      z *= 0xBF58476D1CE4E5B9ull;
      z ^= z >> 27;
      z *= 0x94D049BB133111EBull;
      return static_cast<std::size_t>(z ^ (z >> 31)) & mask_;
    }
    return static_cast<std::size_t>((k * 0x9E3779B97F4A7C15ull) >> shift_) & mask_;
  }
  // Small arrays grow at half load, which keeps probe runs (and the shifts
  // of removal) short; from kDenseCapacity slots on they grow at 3/4: a
  // probe of such an array misses the cache anyway, the longer runs stay
  // within the lines it loads, and the array is half the size.
  static constexpr std::size_t kDenseCapacity = std::size_t{1} << 14;
  bool full() const {
    const std::size_t capacity = mask_ + 1;
    return capacity < kDenseCapacity ? (count_ + 1) * 2 > capacity
                                     : (count_ + 1) * 4 > capacity * 3;
  }
  void resize(std::size_t capacity);
  void place(const void* key, void* value);

  Slot* slots_ = nullptr;
  std::size_t mask_ = 0;   // capacity - 1; capacity is a power of two
  unsigned shift_ = 64;    // 64 - log2(capacity)
  std::size_t count_ = 0;  // entries with a non-null key
  bool hasNull_ = false;
  const bool addressKeys_;
  void* nullValue_ = nullptr;
};

#endif  // QEL_UTIL_POINTER_MAP_H
