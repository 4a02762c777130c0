#ifndef QEL_UTIL_PRESENCE_H
#define QEL_UTIL_PRESENCE_H

#include <cstddef>
#include <cstdint>

// Counts the keys of a large container by a hash of its own, so that a
// lookup of an absent key can often be answered without touching the
// container: a zero count proves the key absent. The counts fit in the
// caches where the container's nodes or slots do not.
//
// Invariant: a key's count is never below the number of entries of that
// key the container holds. A count that reaches 255 stays there, so the
// counts never wrap.
class QelPresenceCounts {
 public:
  // Containers count from this many entries on, and stop again at half.
  static constexpr std::size_t kFrom = 1024;
  static constexpr std::size_t kUntil = kFrom / 2;

  QelPresenceCounts() : counts_(new unsigned char[kSlots]()) {}
  ~QelPresenceCounts() { delete[] counts_; }
  QelPresenceCounts(const QelPresenceCounts&) = delete;
  QelPresenceCounts& operator=(const QelPresenceCounts&) = delete;

  bool mayHold(const void* key) const { return counts_[slotOf(key)] != 0; }
  void add(const void* key) {
    unsigned char& n = counts_[slotOf(key)];
    if (n != 255) ++n;
  }
  void remove(const void* key) {
    unsigned char& n = counts_[slotOf(key)];
    if (n != 255) --n;
  }

 private:
  static constexpr unsigned kBits = 17;
  static constexpr std::size_t kSlots = std::size_t{1} << kBits;

  static std::size_t slotOf(const void* key) {
    const uint64_t k = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
    return static_cast<std::size_t>((k * 0x9E3779B97F4A7C15ull) >> (64 - kBits));
  }

  unsigned char* counts_;
};

#endif  // QEL_UTIL_PRESENCE_H
