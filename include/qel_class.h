// Object classes, their slots and the value type descriptors.
//
// Generated code describes a class in this order: create the class node
// with its index, set `name` and `kind` (and `equality` for a logical
// class), append it to the network's `classes`, call setSuperClass() when
// it has one (after every initSlot() of the superclass), then initSlot()
// once per own slot. The network owns appended class nodes and every slot.
#ifndef QEL_CLASS_H
#define QEL_CLASS_H

#include "qel_export.h"
#include "qel_list.h"
#include "qel_network.h"

// Describes the kind of value a slot holds. Five descriptors exist for the
// life of the library: "unknown", "integer", "float", "string", "pointer".
// Only `name` is ever set; the other fields exist for generated code.
class QelValueType {
 public:
  char* name;  // heap copy of the name
  unsigned char flag;
  QelList entries;
  int word1;
  int word2;
  int word3;
  void* table;  // owned array, released at destruction when set

  explicit QelValueType(const char* name);
  ~QelValueType();
  QelValueType(const QelValueType&) = delete;
  QelValueType& operator=(const QelValueType&) = delete;
};

// The five descriptors, in the order they are constructed.
QEL_EXPORT const QelValueType* QelUnknownValueType();
QEL_EXPORT const QelValueType* QelIntegerValueType();
QEL_EXPORT const QelValueType* QelFloatValueType();
QEL_EXPORT const QelValueType* QelStringValueType();
QEL_EXPORT const QelValueType* QelPointerValueType();

// A typed entry of a slot: two opaque words and a value type.
struct QelSlotEntry {
  int first;
  int second;
  const QelValueType* valueType;
};

class QEL_EXPORT QelSlot {
 public:
  QelClassNode* classNode;  // the declaring class
  int index;                // number of own slots declared before it
  char* name;
  QelSlotType type;
  char* typeName;  // declared type text, printed by describe()
  const QelValueType* valueType;
  QelList entries;  // QelSlotEntry*, owned

  QelSlot(QelClassNode* classNode, int index, char* name, char* typeName);
  virtual ~QelSlot();
  QelSlot(const QelSlot&) = delete;
  QelSlot& operator=(const QelSlot&) = delete;

  // Adds an entry when typeName is "string", "float", "integer" or
  // "pointer"; ignores any other text.
  virtual void addTypedEntry(int first, int second, const char* typeName);
};

// A class of application objects. Generated class nodes may override the
// three object hooks.
class QEL_EXPORT QelClassNode {
 public:
  QelNetwork* network;
  int index;  // position in the network's `classes`
  char* name;
  int kind;  // 0 internal, 1 external (never deleted), 2 logical
  QelClassNode* superClass;
  QelList ownSlots;  // QelSlot* declared on this class
  QelList allSlots;  // inherited slots, then own slots
  QelList discs;     // QelDiscNode* testing objects of this class
  // For logical classes: true when two objects are equal. Called with the
  // object already in memory first and the new one second.
  unsigned char (*equality)(void* held, void* asserted);

  QelClassNode(QelNetwork* network, int index);
  virtual ~QelClassNode();
  QelClassNode(const QelClassNode&) = delete;
  QelClassNode& operator=(const QelClassNode&) = delete;

  // Deletes an application object of this class; does nothing here.
  virtual void deleteInstance(void* object);
  // Called when an object enters working memory, own class first.
  virtual void doAssert(QelContext* context, void* object);
  // Called when an object leaves working memory, own class first.
  virtual void doRetract(QelContext* context, void* object);

  QelSlot* initSlot(char* name, char* typeName, QelSlotType type,
                    char* valueTypeName);
  void setSuperClass(QelClassNode* superClass);
};

#endif  // QEL_CLASS_H
