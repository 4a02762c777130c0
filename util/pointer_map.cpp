#include "util/pointer_map.h"

#include <new>

QelPointerMap::~QelPointerMap() { ::operator delete(slots_); }

void QelPointerMap::insert(const void* key, void* value) {
  if (key == nullptr) {
    hasNull_ = true;
    nullValue_ = value;
    return;
  }
  if (slots_ == nullptr || full()) {
    resize(slots_ == nullptr ? kMinCapacity : (mask_ + 1) * 2);
  }
  place(key, value);
  ++count_;
}

void*& QelPointerMap::findOrInsert(const void* key) {
  if (key == nullptr) {
    if (!hasNull_) nullValue_ = nullptr;
    hasNull_ = true;
    return nullValue_;
  }
  if (slots_ == nullptr || full()) {
    resize(slots_ == nullptr ? kMinCapacity : (mask_ + 1) * 2);
  }
  for (std::size_t i = slotOf(key);; i = (i + 1) & mask_) {
    Slot& slot = slots_[i];
    if (slot.key == key) return slot.value;
    if (slot.key == nullptr) {
      slot.key = key;
      slot.value = nullptr;
      ++count_;
      return slot.value;
    }
  }
}

void* QelPointerMap::remove(const void* key) {
  if (key == nullptr) {
    void* value = hasNull_ ? nullValue_ : nullptr;
    hasNull_ = false;
    nullValue_ = nullptr;
    return value;
  }
  if (count_ == 0) return nullptr;
  std::size_t hole = slotOf(key);
  while (slots_[hole].key != key) {
    if (slots_[hole].key == nullptr) return nullptr;
    hole = (hole + 1) & mask_;
  }
  void* value = slots_[hole].value;
  // Backward shift: move up each later entry of the run that may fill the
  // hole without passing its home slot.
  for (std::size_t i = (hole + 1) & mask_; slots_[i].key != nullptr;
       i = (i + 1) & mask_) {
    const std::size_t home = slotOf(slots_[i].key);
    const bool movable = ((i - home) & mask_) >= ((i - hole) & mask_);
    if (movable) {
      slots_[hole] = slots_[i];
      hole = i;
    }
  }
  slots_[hole] = Slot{nullptr, nullptr};
  --count_;
  return value;
}

void QelPointerMap::clear() {
  ::operator delete(slots_);
  slots_ = nullptr;
  mask_ = 0;
  shift_ = 64;
  count_ = 0;
  hasNull_ = false;
  nullValue_ = nullptr;
}

void QelPointerMap::resize(std::size_t capacity) {
  if (capacity < kMinCapacity) capacity = kMinCapacity;
  Slot* old = slots_;
  const std::size_t oldCapacity = old != nullptr ? mask_ + 1 : 0;
  slots_ = static_cast<Slot*>(::operator new(capacity * sizeof(Slot)));
  for (std::size_t i = 0; i < capacity; ++i) slots_[i] = Slot{nullptr, nullptr};
  mask_ = capacity - 1;
  shift_ = 64;
  for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
  for (std::size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].key != nullptr) place(old[i].key, old[i].value);
  }
  ::operator delete(old);
}

void QelPointerMap::place(const void* key, void* value) {
  std::size_t i = slotOf(key);
  while (slots_[i].key != nullptr) i = (i + 1) & mask_;
  slots_[i] = Slot{key, value};
}
