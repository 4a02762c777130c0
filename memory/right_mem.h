// Right memories: fan one discrimination memory's matches out to the joins
// that use it as their right input.
#ifndef QEL_MEMORY_RIGHT_MEM_H
#define QEL_MEMORY_RIGHT_MEM_H

#include "memory/node_mem.h"
#include "memory/record_keys.h"

class QelRightMem : public QelNodeMem {
 public:
  QelRightNode* node;
  QelDiscMem* discMem;
  // The key indexes of the keyed successors over the right input; owned;
  // null when no successor is keyed. Records enter and leave them when
  // they enter and leave the input.
  QelRecordKeys* keys;

  explicit QelRightMem(QelContext* context);
  ~QelRightMem() override;

  // Binds node and discrimination memory; the join layer gives the
  // successors and keys (QelBindSuccessors, QelBindRightKeys).
  void bindNode(QelRightNode* node);
  void setKeys(QelRecordKeys* keys);
  void retractSuccessors(QelInfo* record);
  void activateSuccessors(QelInfo* record, int mode);
};

#endif  // QEL_MEMORY_RIGHT_MEM_H
