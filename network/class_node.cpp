#include <cstring>

#include "network/class_kind.h"
#include "qel_class.h"

// The five descriptors are constructed when the library is loaded, in this
// order, and destroyed in reverse order when it is unloaded.
static QelValueType unknownType("unknown");
static QelValueType integerType("integer");
static QelValueType floatType("float");
static QelValueType stringType("string");
static QelValueType pointerType("pointer");

const QelValueType* QelUnknownValueType() { return &unknownType; }
const QelValueType* QelIntegerValueType() { return &integerType; }
const QelValueType* QelFloatValueType() { return &floatType; }
const QelValueType* QelStringValueType() { return &stringType; }
const QelValueType* QelPointerValueType() { return &pointerType; }

QelValueType::QelValueType(const char* typeName)
    : name(new char[std::strlen(typeName) + 1]),
      flag(0),
      word1(0),
      word2(0),
      word3(0),
      table(nullptr) {
  std::memcpy(name, typeName, std::strlen(typeName) + 1);
}

QelValueType::~QelValueType() {
  delete[] name;
  delete[] static_cast<char*>(table);
}

QelSlot::QelSlot(QelClassNode* classNode, int index, char* name,
                 char* typeName)
    : classNode(classNode),
      index(index),
      name(name),
      type(QelSlotReadWrite),
      typeName(typeName),
      valueType(&unknownType) {}

QelSlot::~QelSlot() {
  for (QelListCell* cell = entries.head; cell != nullptr; cell = cell->next) {
    delete static_cast<QelSlotEntry*>(cell->item);
  }
  entries.clear();
}

void QelSlot::addTypedEntry(int first, int second, const char* typeName) {
  const QelValueType* const candidates[] = {&stringType, &floatType,
                                            &integerType, &pointerType};
  for (const QelValueType* candidate : candidates) {
    if (std::strcmp(typeName, candidate->name) == 0) {
      entries.append(new QelSlotEntry{first, second, candidate});
      return;
    }
  }
}

QelClassNode::QelClassNode(QelNetwork* network, int index)
    : network(network),
      index(index),
      name(nullptr),
      kind(QelClassInternal),
      superClass(nullptr),
      equality(nullptr) {}

QelClassNode::~QelClassNode() {
  discs.clear();
  allSlots.clear();
  ownSlots.clear();
}

void QelClassNode::deleteInstance(void*) {}

void QelClassNode::doAssert(QelContext*, void*) {}

void QelClassNode::doRetract(QelContext*, void*) {}

QelSlot* QelClassNode::initSlot(char* name, char* typeName, QelSlotType type,
                                char* valueTypeName) {
  QelSlot* slot = new QelSlot(this, ownSlots.length(), name, typeName);
  slot->type = type;
  if (std::strcmp(valueTypeName, "string") == 0) {
    slot->valueType = &stringType;
  } else if (std::strcmp(valueTypeName, "float") == 0) {
    slot->valueType = &floatType;
  } else if (std::strcmp(valueTypeName, "integer") == 0) {
    slot->valueType = &integerType;
  } else {
    slot->valueType = &pointerType;
  }
  ownSlots.append(slot);
  allSlots.append(slot);
  network->slots.append(slot);
  return slot;
}

void QelClassNode::setSuperClass(QelClassNode* parent) {
  superClass = parent;
  parent->allSlots.copyInto(allSlots);
}
