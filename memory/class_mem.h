// Class memories: the records of the objects of one class in one context.
//
// A class memory carries out the working-memory operations on its objects:
// it keeps the context's object table, its own record set and the hooks in
// step, calls the class nodes' hooks, and sends each record through the
// discrimination memories of its class and of every superclass, own class
// first.
#ifndef QEL_MEMORY_CLASS_MEM_H
#define QEL_MEMORY_CLASS_MEM_H

#include <cstddef>

#include "network/class_kind.h"
#include "qel_class.h"
#include "qel_context.h"

class QelClassMem {
 public:
  QelClassNode* classNode;
  QelContext* context;
  int discCount;
  QelDiscMem** discMems;  // own class's discrimination memories; owned
  QelOrderedSet infos;    // QelInfo* of objects of exactly this class
  // QelParentKeys of the keyed joins whose parents may hold objects of
  // this class: an update re-keys those parents before it propagates.
  QelList keyedParents;

  explicit QelClassMem(QelContext* context);
  // Frees the arrays and set nodes; records are freed by their operations.
  virtual ~QelClassMem();
  QelClassMem(const QelClassMem&) = delete;
  QelClassMem& operator=(const QelClassMem&) = delete;

  virtual void* addObject(void* object);
  virtual void removeObject(QelInfo* record, unsigned char deleteObject);
  virtual void modifyObject(QelInfo* record, int mode);

  void bindClassNode(QelClassNode* node);
  // Once every memory is bound: gives the key indexes of every right input
  // that records of this class can enter their place in the records, after
  // those of the superclasses, and returns the bytes a record carries after
  // its QelInfo.
  std::size_t layOutRecords();
  // Removes (with deletion) every object of this class, newest first.
  void retractAll();
  // The silent reset: class hooks and deletion, no notification.
  void removeAll();
  // Frees every record without calling anything (context destruction).
  void releaseRecords();

 protected:
  // Records of this class carry `recordExtra` bytes after the QelInfo,
  // allocated with it, for the key indexes (QelRecordKeys::layOut).
  std::size_t recordExtra;

  QelInfo* newRecord(void* object);
  void freeRecord(QelInfo* record);
  // The memory of the superclass, or null at the root.
  QelClassMem* superMem() const;
  QelInfo* recordObject(void* object);
  void callDoAssert(void* object);
  void callDoRetract(void* object);
  void activateDiscs(QelInfo* record, int mode);
  void deactivateDiscs(QelInfo* record);
  void rekeyDiscs(QelInfo* record);
  void forgetRecord(QelInfo* record, unsigned char deleteObject);
};

// Memory of a logical class: objects live under truth maintenance. An
// object asserted while `justification` is set lives as long as some
// supporting partial does; two equal logical objects are never both held.
class QelLogicalMem : public QelClassMem {
 public:
  explicit QelLogicalMem(QelContext* context);

  void* addObject(void* object) override;
  void removeObject(QelInfo* record, unsigned char deleteObject) override;
  // Modifications of logical objects are not propagated.
  void modifyObject(QelInfo* record, int mode) override;

 private:
  QelInfo* findEqual(void* object) const;
  void link(QelPartial* support, QelInfo* record);
};

#endif  // QEL_MEMORY_CLASS_MEM_H
