#include "join/join_inline.h"

void QelJoinMemInline::leftActivate(QelPartial* parent, int depth, int mode) {
  if (mode == QelModeNew) {
    if (passes(parent)) makeChild(parent, nullptr, depth + 1);
    return;
  }
  if (independent(depth)) {
    passUpdate(parent, depth, mode);
    return;
  }
  QelPartial* child = childOf(parent);
  if (!passes(parent)) {
    if (child != nullptr) dropChild(child);
    return;
  }
  if (child == nullptr) {
    makeChild(parent, nullptr, depth + 1);
    return;
  }
  if (mode == QelModeUpdate && noUpdate(depth)) return;
  emit(child, depth + 1, mode);
}
