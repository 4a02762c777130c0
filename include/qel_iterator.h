// Iteration helpers for the tests and actions of generated rulesets.
#ifndef QEL_ITERATOR_H
#define QEL_ITERATOR_H

#include "qel_export.h"
#include "qel_list.h"
#include "qel_table.h"

class QelContext;

// Walks the application objects of an ordered set of object records (a
// match set of a collect pattern, for example), newest first: either the
// set itself, or a private snapshot taken at construction.
//
// A direct collection follows the set and tolerates the removal of the
// member it has just returned; a snapshot must not be used once a record it
// has yet to hand out has left working memory.
class QEL_EXPORT QelCollection {
 public:
  // A QelSetWalker over the set, or a QelListIterator over `snapshot`.
  void* walker;
  QelList* snapshot;  // records at construction, or null

  QelCollection(const QelOrderedSet* set, unsigned char snapshot);
  ~QelCollection();
  QelCollection(const QelCollection&) = delete;
  QelCollection& operator=(const QelCollection&) = delete;

  // The next object, or null after the last.
  void* next();
  int length() const;
  void reset();

 private:
  const QelOrderedSet* set_;
};

// Walks the application objects of one class of a context (not of its
// subclasses), most recently asserted first, over a snapshot taken at
// construction.
class QEL_EXPORT QelClassIterator {
 public:
  unsigned char noSuchClass;  // the name named no class
  QelList records;            // QelInfo* snapshot
  QelListIterator iterator;

  QelClassIterator(const QelContext* context, const char* className);
  ~QelClassIterator();
  QelClassIterator(const QelClassIterator&) = delete;
  QelClassIterator& operator=(const QelClassIterator&) = delete;

  void* next();
};

// 1 when `pattern` occurs in `text`, ignoring letter case, with any run of
// white space standing for one blank; leading and trailing white space of
// the pattern also match the start and end of the text.
QEL_EXPORT unsigned char QelSubString(const char* pattern, const char* text);

#endif  // QEL_ITERATOR_H
