// QelClassIterator walks the records of a class memory, so it lives with
// the class memories rather than with the other iterators of util/.
#include "memory/class_mem.h"
#include "qel_context.h"
#include "qel_iterator.h"

QelClassIterator::QelClassIterator(const QelContext* context,
                                   const char* className)
    : noSuchClass(0) {
  iterator.init(static_cast<const QelList*>(nullptr));
  const int index = context->getClassIndex(className);
  if (index == -1) {
    noSuchClass = 1;
    return;
  }
  const QelClassMem* mem = context->classMems[index];
  for (QelSetNode* node = mem->infos.first; node; node = node->older) {
    records.append(node->key);
  }
  iterator.init(records);
}

QelClassIterator::~QelClassIterator() {}

void* QelClassIterator::next() {
  if (noSuchClass) return nullptr;
  void* record = iterator.next();
  return record != nullptr ? static_cast<QelInfo*>(record)->object : nullptr;
}
