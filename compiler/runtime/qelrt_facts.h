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
#include <unordered_set>
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

class FactStore {
 public:
  FactStore() = default;
  FactStore(const FactStore&) = delete;
  FactStore& operator=(const FactStore&) = delete;
  ~FactStore() { clear(); }

  // Gives `f` the next index and keeps it, unless an equal fact is held:
  // then `f` is freed and null returned.
  Fact* add(Fact* f) {
    if (!live_.insert(f).second) {
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
    for (Fact* f : live_) Fact::destroy(f);
    live_.clear();
    collect();
    nextIndex_ = 0;
  }
  std::size_t size() const { return live_.size(); }

 private:
  struct Hash {
    std::size_t operator()(const Fact* f) const {
      std::uint64_t h = reinterpret_cast<std::uintptr_t>(f->tmpl);
      for (int s = 0; s < f->tmpl->slotCount; ++s) h = h * 1000003u ^ f->slot[s].hash();
      return static_cast<std::size_t>(h);
    }
  };
  struct Equal {
    bool operator()(const Fact* a, const Fact* b) const {
      if (a->tmpl != b->tmpl) return false;
      for (int s = 0; s < a->tmpl->slotCount; ++s) {
        if (a->slot[s] != b->slot[s]) return false;
      }
      return true;
    }
  };

  // Every fact in working memory, each once by content.
  std::unordered_set<Fact*, Hash, Equal> live_;
  std::vector<Fact*> garbage_;  // retracted, freed by collect()
  std::int64_t nextIndex_ = 0;
};

}  // namespace qelrt

#endif  // QELRT_FACTS_H
