// Object records and partial matches.
//
// A QelInfo is the per-object record that tests and hooks receive. A
// QelPartial is the tuple of objects that has matched the first patterns of
// a rule so far, stored as a backward chain: each partial holds the record
// of the one object it adds and a pointer to the shorter partial it
// extends. Generated code reaches earlier objects with tailn(), then
// `record->object`.
#ifndef QEL_PARTIAL_H
#define QEL_PARTIAL_H

#include <cstddef>

#include "qel_export.h"
#include "qel_list.h"
#include "qel_table.h"

class QelClassMem;
class QelLeftMem;
class QelInstance;
class QelRuleAction;
class QelRuleMem;
class QelPartial;

// The record of one object in working memory.
class QelInfo {
 public:
  void* object;          // the application object (or, for the record of a
                         // collect pattern, the QelOrderedSet it collects)
  QelClassMem* classMem; // holding class memory; null for collect records
  QelList supporters;    // QelPartial*: logical supports, newest first
  QelPartial* mark;      // scratch link of join re-matching; null at rest

  QelInfo(void* object, QelClassMem* classMem)
      : object(object), classMem(classMem), mark(nullptr) {}
  QelInfo(const QelInfo&) = delete;
  QelInfo& operator=(const QelInfo&) = delete;
  // Records are recycled by the library's block cache.
  static void* operator new(std::size_t size);
  static void operator delete(void* record, std::size_t size);

  // The support of `partial` ends; the last support's end retracts the
  // object (with deletion).
  void removeSupport(QelPartial* partial);
  // Cuts every support; the object becomes unconditional.
  void dropAllSupports();
};

class QEL_EXPORT QelPartial {
 public:
  QelInfo* record;      // object this partial adds; null for tokens
  QelPartial* parent;   // the partial this one extends; null at the head
  QelList instances;    // QelInstance*, newest first (owned by the agenda)
  QelList supported;    // QelInfo*: logical objects supported, newest first
  // Association list: cells alternate between a join memory (key) and the
  // QelOrderedSet* of partials that join derived from this one (value).
  QelList children;
  QelPartial* prevInMemory;  // links of the holding memory's `partials`
  QelPartial* nextInMemory;
  QelPartial* mark;          // scratch link of join re-matching

  explicit QelPartial(QelInfo* record, QelPartial* parent = nullptr)
      : record(record),
        parent(parent),
        prevInMemory(nullptr),
        nextInMemory(nullptr),
        mark(nullptr) {}
  QelPartial(const QelPartial&) = delete;
  QelPartial& operator=(const QelPartial&) = delete;
  // Partials of every kind are recycled by the library's block cache.
  static void* operator new(std::size_t size);
  static void operator delete(void* partial, std::size_t size);

  // Frees the cells of its lists and its child sets (not the partials in
  // them).
  virtual ~QelPartial();
  // The partial one object longer, held by `owner` (ignored for plain
  // partials). Null when a reference-counted partial was removed.
  virtual QelPartial* extend(QelInfo* record, QelLeftMem* owner);
  // Makes an instance of `action` on this partial and lists it first.
  virtual QelInstance* createInstance(QelRuleAction* action, int priority,
                                      int recency);

  // Follows `parent` n times; n <= 0 gives this partial. Not bounds-checked.
  // Inline: generated tests call it for every pair they test.
  QelPartial* tailn(int n) const {
    const QelPartial* partial = this;
    for (; n > 0; --n) partial = partial->parent;
    return const_cast<QelPartial*>(partial);
  }

  bool supports(const QelInfo* record) const;
  // Takes the `supported` list off, then ends each support, newest first.
  void dropSupports();
  // The set of partials that `joinMem` derived from this one; made empty
  // when missing.
  QelOrderedSet* childSet(const void* joinMem);
  // The set for `joinMem` when one exists, else null.
  QelOrderedSet* findChildSet(const void* joinMem) const;
  void addChild(const void* joinMem, QelPartial* child);
  bool removeChild(const void* joinMem, QelPartial* child);
  void clearChildren(const void* joinMem);
};

// A partial whose deletion waits until no reference to it remains. Every
// partial at or after a wait join is of this kind.
class QEL_EXPORT QelRefCountedPartial : public QelPartial {
 public:
  unsigned char removed;  // removed by its memory while still referenced
  int refCount;           // children made by extend() and instances
  QelLeftMem* owner;      // deletes it once removed and unreferenced
  QelInstance* firingInstance;  // set by the agenda during an action

  QelRefCountedPartial(QelInfo* record, QelPartial* parent, QelLeftMem* owner)
      : QelPartial(record, parent),
        removed(0),
        refCount(0),
        owner(owner),
        firingInstance(nullptr) {}
  ~QelRefCountedPartial() override;

  QelPartial* extend(QelInfo* record, QelLeftMem* owner) override;

  // Drops one reference; an unreferenced removed partial is deleted through
  // its owner, and the release continues with its parent.
  void release();
  // Marks the partial removed; deletes it at once when unreferenced.
  void markRemoved();
};

// One rule watching a wait partial.
struct QelWatchdogEntry {
  QelRuleMem* ruleMem;
  unsigned char disabled;  // set when the rule's match completed in time
};

// The partial a wait join makes: a deadline and the watchdogs waiting on it.
class QEL_EXPORT QelWaitPartial : public QelRefCountedPartial {
 public:
  int deadline;
  QelList watchdogs;  // QelWatchdogEntry*, newest first, owned
  QelWaitPartial* prevPending;
  QelWaitPartial* nextPending;

  QelWaitPartial(QelPartial* parent, int deadline)
      : QelRefCountedPartial(nullptr, parent, nullptr),
        deadline(deadline),
        prevPending(nullptr),
        nextPending(nullptr) {}
  ~QelWaitPartial() override;

  void addWatchdog(QelRuleMem* ruleMem);
  QelWatchdogEntry* findWatchdog(const QelRuleMem* ruleMem) const;
  // Frees every watchdog entry.
  void freeWatchdogs();
};

#endif  // QEL_PARTIAL_H
