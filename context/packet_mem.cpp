#include "join/join_packet.h"
#include "memory/alpha_mem.h"
#include "qel_context.h"

QelPacketMem::QelPacketMem(QelContext* owner)
    : packet(nullptr),
      context(owner),
      state(QelPacketInactive),
      pendingCount(0) {}

void QelPacketMem::bindNode(QelPacket* node) {
  packet = node;
  for (QelListCell* cell = node->alphaNodes.head; cell; cell = cell->next) {
    const int index = static_cast<QelAlphaNode*>(cell->item)->index;
    QelAlphaMemPacket* mem =
        static_cast<QelAlphaMemPacket*>(context->alphaMems[index]);
    if (mem == nullptr) continue;
    alphaPacketMems.append(mem);
    mem->packetMem = this;
  }
  for (QelListCell* cell = node->joinNodes.head; cell; cell = cell->next) {
    const int index = static_cast<QelJoinNode*>(cell->item)->index;
    QelJoinMemPacket* mem =
        static_cast<QelJoinMemPacket*>(context->joinMems[index]);
    if (mem == nullptr) continue;
    joinPacketMems.append(mem);
    mem->packetMem = this;
  }
}

bool QelPacketMem::meets(int required) const {
  if (required == QelPacketActive) {
    return state == QelPacketActive || state == QelPacketIdle;
  }
  return state == required;
}

void QelPacketMem::reevaluate() {
  for (QelListCell* cell = alphaPacketMems.head; cell; cell = cell->next) {
    static_cast<QelAlphaMemPacket*>(cell->item)->insert(nullptr, QelModeNew);
  }
  for (QelListCell* cell = joinPacketMems.head; cell; cell = cell->next) {
    QelJoinMemPacket* join = static_cast<QelJoinMemPacket*>(cell->item);
    join->rightActivate(nullptr, 0, QelModeNew);
  }
}

void QelPacketMem::activate() {
  state = QelPacketActive;
  context->notifyActivatePacket(this);
  reevaluate();
  if (pendingCount == 0) {
    state = QelPacketIdle;
    context->notifyBlockPacket(this);
    reevaluate();
  }
}

void QelPacketMem::deactivate() {
  state = QelPacketInactive;
  context->notifyDeactivatePacket(this);
  reevaluate();
}

void QelPacketMem::instanceAdded() {
  if (pendingCount > 0) {
    ++pendingCount;
    return;
  }
  ++pendingCount;
  if (state == QelPacketIdle) {
    state = QelPacketActive;
    context->notifyDeblockPacket(this);
    reevaluate();
  }
}

void QelPacketMem::instanceRemoved() {
  if (pendingCount == 0) return;
  if (pendingCount > 1) {
    --pendingCount;
    return;
  }
  pendingCount = 0;
  if (state != QelPacketInactive) {
    state = QelPacketIdle;
    context->notifyBlockPacket(this);
    reevaluate();
  }
}

void QelPacketMem::reset() {
  pendingCount = 0;
  if (state == QelPacketActive) state = QelPacketIdle;
}
