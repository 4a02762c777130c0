#include "join/join_packet.h"

QelJoinMemPacket::QelJoinMemPacket(QelContext* owner)
    : QelJoinMemSingle(owner), packetMem(nullptr), gate(2) {}

bool QelJoinMemPacket::isOpen() const {
  return packetMem != nullptr && packetMem->meets(node->packetState);
}

void QelJoinMemPacket::rightActivate(QelInfo*, int, int) {
  if (isOpen()) {
    if (gate == 1) return;
    gate = 1;
    forEachParent(
        [this](QelPartial* parent) { makeChild(parent, nullptr, 1); });
    return;
  }
  if (gate != 1) return;
  gate = 0;
  forEachParent([this](QelPartial* parent) { leftRetract(parent); });
}

void QelJoinMemPacket::leftActivate(QelPartial* parent, int depth, int mode) {
  if (gate == 2) gate = isOpen() ? 1 : 0;
  if (gate == 0) return;
  if (mode == 0) {
    makeChild(parent, nullptr, depth + 1);
  } else {
    passUpdate(parent, depth, mode);
  }
}
