#include <new>

#include "qel_class.h"
#include "qel_context.h"
#include "qel_network.h"

QelNode::QelNode(QelNetwork* network, int index)
    : network(network), index(index) {}

QelNode::~QelNode() {}

QelRightNode::QelRightNode(QelNetwork* network, int index)
    : QelNode(network, index), discNode(nullptr) {}

QelRightNode::~QelRightNode() {}

QelLeftNode::QelLeftNode(QelNetwork* network, int index)
    : QelNode(network, index),
      noUpdateMask(-1),
      patternType(QelPatternPlain),
      packetState(QelPacketActive) {}

QelLeftNode::~QelLeftNode() {
  watchdogActions.clear();
  mainActions.clear();
}

void QelLeftNode::restrictNoUpdateMask(int bits) {
  noUpdateMask &= (bits >> 1);
}

QelAlphaNode::QelAlphaNode(QelNetwork* network, int index)
    : QelLeftNode(network, index),
      discNode(nullptr),
      countTest(nullptr),
      collectTest(nullptr) {}

QelAlphaNode::~QelAlphaNode() {}

unsigned char QelAlphaNode::testCount(QelContext* context, int count) {
  return (context->*countTest)(count);
}

unsigned char QelAlphaNode::testCollect(QelContext* context,
                                        const QelOrderedSet* set) {
  return (context->*collectTest)(set);
}

QelJoinNode::QelJoinNode(QelNetwork* network, int index)
    : QelLeftNode(network, index),
      left(nullptr),
      right(nullptr),
      joinTest(nullptr),
      countTest(nullptr),
      collectTest(nullptr),
      keyFunction(nullptr),
      waitTimeFunction(nullptr),
      independenceMask(-1),
      leftKey(nullptr),
      rightKey(nullptr) {}

QelJoinNode::~QelJoinNode() {
  watchdogRules.clear();
  disablingRules.clear();
}

unsigned char QelJoinNode::testJoin(QelContext* context, QelInfo* info,
                                    QelPartial* partial) {
  if (joinTest == &QelContext::nullJoin) return 1;
  return (context->*joinTest)(partial, info);
}

unsigned char QelJoinNode::testCount(QelContext* context, int count,
                                     QelPartial* partial) {
  return (context->*countTest)(partial, count);
}

unsigned char QelJoinNode::testCollect(QelContext* context,
                                       QelPartial* partial,
                                       QelOrderedSet* set) {
  return (context->*collectTest)(partial, set);
}

void* QelJoinNode::key(QelContext* context, QelPartial* partial) {
  return (context->*keyFunction)(partial);
}

int QelJoinNode::waitTime(QelContext* context, QelPartial* partial) {
  return (context->*waitTimeFunction)(partial);
}

bool QelJoinNode::isKeyed() const {
  if (leftKey == nullptr || rightKey == nullptr) return false;
  return patternType == QelPatternPlain ||
         patternType == QelPatternPlainObjUnique ||
         (patternType >= QelPatternExists && patternType <= QelPatternCollect);
}

QelDiscNode::QelDiscNode(int index)
    : classNode(nullptr), index(index), rightNode(nullptr), test(nullptr) {}

QelDiscNode::~QelDiscNode() {}

unsigned char QelDiscNode::evaluate(QelContext* context, QelInfo* info) {
  if (test == &QelContext::nullDisc) return 1;
  return (context->*test)(info);
}

QelRuleNode::QelRuleNode(QelNetwork* network, int index)
    : network(network),
      index(index),
      name(nullptr),
      packet(nullptr),
      priorityFunction(nullptr),
      staticPriority(0),
      waitDepth(-1),
      lastJoin(nullptr),
      mainAction(nullptr),
      watchdogAction(nullptr) {}

QelRuleNode::~QelRuleNode() {
  delete mainAction;
  delete watchdogAction;
}

unsigned char QelRuleNode::hasPriorityFunction() {
  return priorityFunction != &QelContext::nullPrio ? 1 : 0;
}

int QelRuleNode::computePriority(QelContext* context, QelPartial* partial,
                                 QelActionNode* via) {
  if (!hasPriorityFunction()) return staticPriority;
  if (waitDepth > 0 && via == mainAction) {
    return (context->*priorityFunction)(partial->tailn(waitDepth - 1));
  }
  return (context->*priorityFunction)(partial);
}

QelActionNode::QelActionNode(QelRuleNode* rule)
    : action(nullptr), rule(rule), parent(nullptr) {}

QelActionNode::~QelActionNode() {}

int QelActionNode::execute(QelContext* context, QelPartial* partial) {
  // Called through a local copy: GCC 12's vptr check misreads `this` when a
  // virtual member function calls through a member pointer it holds.
  const QelActionFunction call = action;
  (context->*call)(partial);
  return 0;
}

QelPacket::QelPacket(QelNetwork* network, int index)
    : network(network),
      index(index),
      name(nullptr),
      packetData2(0),
      packetData1(0) {}

QelPacket::~QelPacket() {
  rules.clear();
  joinNodes.clear();
  alphaNodes.clear();
}

void QelPacket::addAlphaNode(QelPacketState state, int alphaIndex) {
  QelAlphaNode* node = static_cast<QelAlphaNode*>(network->alphas[alphaIndex]);
  node->patternType = QelPatternPacket;
  node->packetState = state;
  alphaNodes.append(node);
}

QelIdentifier::QelIdentifier(QelNetwork* network)
    : network(network), name(nullptr) {}

QelIdentifier::~QelIdentifier() {}

QelConstant::QelConstant(QelNetwork* network, QelValue* value)
    : QelIdentifier(network), external(0), value(value), reserved(0) {}

QelConstant::~QelConstant() {
  if (value != nullptr) ::operator delete(static_cast<void*>(value));
}
