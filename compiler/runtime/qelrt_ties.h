// The order among instances that tie, for generated contexts.
//
// One change (the assertion of a fact) makes a rule's instances in the
// same depth-first walk in the library and in the rule language, with one
// difference: where the new fact enters the rule (the entry level), both
// walk the left memory newest first, but below it the library walks each
// right memory newest first and the rule language oldest first. Both put
// every new instance in front of the ones the same change made for the
// same rule. So the instances that extend one partial at the entry level
// (one block) fire in reverse of the rule language's order, while the
// blocks themselves come out right.
//
// TieOrder mends that: the generated context tells it which fact it is
// asserting and hands it every instance the library lists. When the new
// instance extends the same entry partial as the instance of its rule
// listed just before it (same change, still on the agenda), it is moved
// right behind that one. Each block then fires in creation order, which is
// the rule language's order, at O(1) per instance.
//
// The agenda keeps private pointers to the first instance of each priority
// and to the last instance of the chain. So no instance object changes its
// place at either end: the new instance object stays where the library put
// it (before its block), and the partials are rotated among three objects
// instead, with a single move of an inner object (see follow()).
#ifndef QELRT_TIES_H
#define QELRT_TIES_H

#include <vector>

#include "qel.h"

namespace qelrt {

class TieOrder {
 public:
  explicit TieOrder(int ruleCount) : last_(ruleCount) {}

  // The object being asserted now (null outside assertions); returns the
  // one it replaces, for nested assertions to restore.
  const void* enter(const void* object) {
    const void* before = entering_;
    entering_ = object;
    return before;
  }

  // The library listed `instance` (notifyAddRule).
  void added(QelInstance* instance) {
    Last& last = last_[instance->action->ruleMem->ruleNode->index];
    QelPartial* entry = entryOf(instance->partial);
    QelInstance* previous = last.instance;
    if (entry != nullptr && previous != nullptr && entry == last.entry &&
        previous->recency == instance->recency && previous->priority == instance->priority &&
        previous->action == instance->action) {
      instance = follow(instance, previous);
    }
    last.instance = instance;
    last.entry = entry;
  }

  // `instance` leaves the agenda: fired (notifyBeginRule) or removed
  // (notifyRemoveRule).
  void removed(QelInstance* instance) {
    Last& last = last_[instance->action->ruleMem->ruleNode->index];
    if (last.instance == instance) last.instance = nullptr;
  }

  // Forgets every instance: the agenda was emptied without notices (after
  // a halt, or a reset).
  void forget() {
    for (Last& last : last_) last.instance = nullptr;
  }

 private:
  // The instance of a rule listed last while still on the agenda, and the
  // partial at its entry level. instance is null when there is none.
  struct Last {
    QelInstance* instance = nullptr;
    QelPartial* entry = nullptr;
  };

  // The partial of the chain whose object is the one being asserted.
  QelPartial* entryOf(QelPartial* partial) const {
    if (entering_ == nullptr) return nullptr;
    for (; partial != nullptr; partial = partial->parent) {
      if (partial->record != nullptr && partial->record->object == entering_) return partial;
    }
    return nullptr;
  }

  // Makes the partial of `added` fire right after that of `previous`.
  // The library listed `added` just before the first instance (`head`) of
  // the group that holds `previous`, its rule's instances of this change:
  //   added(pA) head(pH) ... x previous(pP) ...
  // Rotating the partials (added gets pH, head gets pP, previous gets pA)
  // and moving head right before previous gives
  //   added(pH) ... x head(pP) previous(pA) ...
  // Returns the object that now holds the new partial.
  static QelInstance* follow(QelInstance* added, QelInstance* previous) {
    QelInstance* head = added->next;
    if (head == nullptr || head->action != added->action || head->recency != added->recency) {
      return added;  // not the layout described above: leave the library's order
    }
    QelPartial* newPartial = added->partial;
    if (head == previous) {
      relist(head->partial, head, added);
      relist(newPartial, added, previous);
      added->partial = head->partial;
      previous->partial = newPartial;
      return previous;
    }
    relist(head->partial, head, added);
    relist(previous->partial, previous, head);
    relist(newPartial, added, previous);
    added->partial = head->partial;
    head->partial = previous->partial;
    previous->partial = newPartial;
    if (head->next != previous) {
      // head is inside the chain (added precedes it, previous follows it).
      head->previous->next = head->next;
      head->next->previous = head->previous;
      head->previous = previous->previous;
      head->next = previous;
      previous->previous->next = head;
      previous->previous = head;
    }
    return previous;
  }

  // The partial's list of instances names `to` where it named `from`.
  static void relist(QelPartial* partial, QelInstance* from, QelInstance* to) {
    for (QelListCell* cell = partial->instances.head; cell != nullptr; cell = cell->next) {
      if (cell->item == from) {
        cell->item = to;
        return;
      }
    }
  }

  std::vector<Last> last_;  // by rule index
  const void* entering_ = nullptr;
};

}  // namespace qelrt

#endif  // QELRT_TIES_H
