#include "join/join_packet.h"

QelJoinMemPacket::QelJoinMemPacket(QelContext* owner)
    : QelJoinMemSingle(owner), packetMem(nullptr), gate(kNotEvaluated) {}

bool QelJoinMemPacket::isOpen() const {
  return packetMem != nullptr && packetMem->meets(node->packetState);
}

void QelJoinMemPacket::rightActivate(QelInfo*, int, int) {
  if (isOpen()) {
    if (gate == kOpen) return;
    gate = kOpen;
    forEachParent(
        [this](QelPartial* parent) { makeChild(parent, nullptr, 1); });
    return;
  }
  if (gate != kOpen) return;
  gate = kClosed;
  forEachParent([this](QelPartial* parent) { leftRetract(parent); });
}

void QelJoinMemPacket::leftActivate(QelPartial* parent, int depth, int mode) {
  if (gate == kNotEvaluated) gate = isOpen() ? kOpen : kClosed;
  if (gate == kClosed) return;
  if (mode == QelModeNew) {
    makeChild(parent, nullptr, depth + 1);
  } else {
    passUpdate(parent, depth, mode);
  }
}
