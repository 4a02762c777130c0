#include "join/join_inline.h"

void QelJoinMemInline::leftActivate(QelPartial* parent, int depth, int mode) {
  if (mode == 0) {
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
  if (mode == 2 && noUpdate(depth)) return;
  emit(child, depth + 1, mode);
}

void QelJoinMemInline::populate() {
  forEachParent([this](QelPartial* parent) { leftActivate(parent, 0, 0); });
}
