// Packet joins: a gate on the state of a rule packet. While the gate is
// open every parent has one child, with a null record that keeps tuple
// positions aligned.
#ifndef QEL_JOIN_JOIN_PACKET_H
#define QEL_JOIN_JOIN_PACKET_H

#include "join/join_single.h"

class QelJoinMemPacket : public QelJoinMemSingle {
 public:
  // The values of `gate`.
  enum Gate : unsigned char { kClosed = 0, kOpen = 1, kNotEvaluated = 2 };

  QelPacketMem* packetMem;  // set when the packet memory binds
  unsigned char gate;       // a Gate

  explicit QelJoinMemPacket(QelContext* context);

  void rightRetract(QelInfo*) override {}
  // Re-evaluates the gate after a packet state change.
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void populate() override { rightActivate(nullptr, 0, QelModeNew); }

 private:
  bool isOpen() const;
};

#endif  // QEL_JOIN_JOIN_PACKET_H
