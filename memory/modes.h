// The mode every propagation carries: how the partial or record passed on
// came to change. The interfaces carry it as an int (the exported
// QelRuleAction::addMatch among them); these are its values.
#ifndef QEL_MEMORY_MODES_H
#define QEL_MEMORY_MODES_H

enum QelMode : int {
  QelModeNew = 0,      // entered: an assert, or a first match
  QelModeRefresh = 1,  // updated with refresh: instances are made again
  QelModeUpdate = 2    // plain update: masks may stop it
};

#endif  // QEL_MEMORY_MODES_H
