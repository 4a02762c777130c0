// Facts and the fact store the generated context owns.
//
// A fact is the application object the library sees: a template and a
// fixed number of slot values, allocated in one block. The store gives
// facts their indices, refuses duplicates (asserting a fact equal to one
// already in working memory does nothing, as in the rule language) and
// frees retracted facts once no action can read them any more.
#ifndef QELRT_FACTS_H
#define QELRT_FACTS_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "qelrt_value.h"

namespace qelrt {

// A template as generated code describes it. Ordered facts get one
// template per relation name and number of fields.
struct Template {
  const char* name;
  int classIndex;       // the library's class of its facts
  bool ordered;         // printed without slot names
  int slotCount;
  const char* const* slotNames;
  const Value* defaults;  // slotCount default values
};

struct Fact {
  const Template* tmpl;
  std::int64_t index;  // -1 until asserted
  bool retracted;
  Value slot[1];  // slotCount values; the block is allocated to fit

  static Fact* make(const Template* tmpl) {
    const int n = tmpl->slotCount > 0 ? tmpl->slotCount : 1;
    void* block = ::operator new(sizeof(Fact) + (n - 1) * sizeof(Value));
    Fact* f = static_cast<Fact*>(block);
    f->tmpl = tmpl;
    f->index = -1;
    f->retracted = false;
    for (int s = 0; s < n; ++s) new (&f->slot[s]) Value(tmpl->slotCount > 0 ? tmpl->defaults[s] : Value());
    return f;
  }
  static void destroy(Fact* f) { ::operator delete(f); }  // values are trivial
  Fact* copy() const {
    Fact* f = make(tmpl);
    for (int s = 0; s < tmpl->slotCount; ++s) f->slot[s] = slot[s];
    return f;
  }
};

inline std::string factAddressText(const Fact* fact) {
  return "<Fact-" + std::to_string(fact ? fact->index : -1) + ">";
}

// The facts in working memory, each once by content: an open-addressed
// table of (hash, fact) slots with linear probing, so that a look-up
// compares stored hashes and reads a fact only when its hash matches.
// A removal shifts the later entries of its run back (no tombstones).
class FactTable {
 public:
  FactTable() = default;
  FactTable(const FactTable&) = delete;
  FactTable& operator=(const FactTable&) = delete;

  // Adds `f` unless an equal fact is held; false then.
  bool insert(Fact* f) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    const std::uint64_t h = hashOf(f);
    std::size_t i = h & mask();
    for (; slots_[i].fact != nullptr; i = (i + 1) & mask()) {
      if (slots_[i].hash == h && equal(slots_[i].fact, f)) return false;
    }
    slots_[i] = Slot{h, f};
    ++count_;
    return true;
  }
  // Removes the held fact `f` itself (not an equal one).
  void erase(Fact* f) {
    if (count_ == 0) return;
    std::size_t hole = hashOf(f) & mask();
    while (slots_[hole].fact != f) {
      if (slots_[hole].fact == nullptr) return;
      hole = (hole + 1) & mask();
    }
    for (std::size_t i = (hole + 1) & mask(); slots_[i].fact != nullptr; i = (i + 1) & mask()) {
      const std::size_t home = slots_[i].hash & mask();
      if (((i - home) & mask()) >= ((i - hole) & mask())) {
        slots_[hole] = slots_[i];
        hole = i;
      }
    }
    slots_[hole] = Slot{};
    --count_;
  }
  template <typename F>
  void forEach(F visit) const {
    for (const Slot& slot : slots_) {
      if (slot.fact != nullptr) visit(slot.fact);
    }
  }
  void clear() {
    slots_.clear();
    count_ = 0;
  }
  std::size_t size() const { return count_; }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    Fact* fact = nullptr;
  };

  static std::uint64_t hashOf(const Fact* f) {
    std::uint64_t h = reinterpret_cast<std::uintptr_t>(f->tmpl);
    for (int s = 0; s < f->tmpl->slotCount; ++s) h = h * 1000003u ^ f->slot[s].hash();
    h ^= h >> 33;  // spread every bit into the low ones the slots use
    h *= 0xFF51AFD7ED558CCDull;
    return h ^ (h >> 33);
  }
  static bool equal(const Fact* a, const Fact* b) {
    if (a->tmpl != b->tmpl) return false;
    for (int s = 0; s < a->tmpl->slotCount; ++s) {
      if (a->slot[s] != b->slot[s]) return false;
    }
    return true;
  }
  std::size_t mask() const { return slots_.size() - 1; }
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.fact == nullptr) continue;
      std::size_t i = slot.hash & mask();
      while (slots_[i].fact != nullptr) i = (i + 1) & mask();
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;  // empty, or a power of two of slots
  std::size_t count_ = 0;
};

class FactStore {
 public:
  FactStore() = default;
  FactStore(const FactStore&) = delete;
  FactStore& operator=(const FactStore&) = delete;
  ~FactStore() { clear(); }

  // Gives `f` the next index and keeps it, unless an equal fact is held:
  // then `f` is freed and null returned.
  Fact* add(Fact* f) {
    if (!live_.insert(f)) {
      Fact::destroy(f);
      return nullptr;
    }
    f->index = nextIndex_++;
    return f;
  }
  // Takes a held fact out; it stays readable until collect().
  bool remove(Fact* f) {
    if (f == nullptr || f->retracted) return false;
    f->retracted = true;
    live_.erase(f);
    garbage_.push_back(f);
    return true;
  }
  void collect() {
    for (Fact* f : garbage_) Fact::destroy(f);
    garbage_.clear();
  }
  // Frees every fact, held or retracted; indices start from 0 again.
  void clear() {
    live_.forEach([](Fact* f) { Fact::destroy(f); });
    live_.clear();
    collect();
    nextIndex_ = 0;
  }
  std::size_t size() const { return live_.size(); }

 private:
  FactTable live_;
  std::vector<Fact*> garbage_;  // retracted, freed by collect()
  std::int64_t nextIndex_ = 0;
};

}  // namespace qelrt

#endif  // QELRT_FACTS_H
