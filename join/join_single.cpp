#include "join/join_single.h"

void QelJoinMemSingle::makeChild(QelPartial* parent, QelInfo* record,
                                 int depth) {
  QelPartial* child = parent->extend(record, this);
  if (child == nullptr) return;
  emit(child, depth, QelModeNew);
  recordChild(child);
}

void QelJoinMemSingle::recordChild(QelPartial* child) {
  childTable.insert(child->parent, child);
  addPartial(child);
}

void QelJoinMemSingle::passUpdate(QelPartial* parent, int depth, int mode) {
  if (mode == QelModeUpdate && noUpdate(depth)) return;
  QelPartial* child = childOf(parent);
  if (child != nullptr) emit(child, depth + 1, mode);
}

void QelJoinMemSingle::populate() {
  forEachParent(
      [this](QelPartial* parent) { leftActivate(parent, 0, QelModeNew); });
}

void QelJoinMemSingle::leftRetract(QelPartial* parent) {
  QelPartial* child = childOf(parent);
  if (child != nullptr) dropChild(child);
}

// The entry goes first, so that a cascade reaching this parent again finds
// no child to remove twice.
void QelJoinMemSingle::dropChild(QelPartial* child) {
  childTable.remove(child->parent);
  removePartial(child);
}

void QelJoinMemSingle::expireChildren(QelPartial* parent) {
  QelPartial* child = childOf(parent);
  if (child == nullptr) return;
  expireSuccessors(child);
  static_cast<QelRefCountedPartial*>(child)->markRemoved();
}

void QelJoinMemSingle::clear() {
  childTable.clear();
  clearPartials();
}

void QelJoinMemSingle::retractContents() {
  childTable.clear();
  QelJoinMem::retractContents();
}
