#include <new>

#include "qel_class.h"
#include "qel_network.h"

namespace {

// Deletes every element of a list of owned polymorphic objects.
template <typename T>
void deleteAll(const QelList& list) {
  for (QelListCell* cell = list.head; cell != nullptr; cell = cell->next) {
    delete static_cast<T*>(cell->item);
  }
}

// Creates `count` elements from index count-1 down to 0, each at the head,
// so that the list ends in ascending index order.
template <typename Make>
void createDescending(QelList& list, int count, Make make) {
  for (int i = count - 1; i >= 0; --i) list.prepend(make(i));
}

}  // namespace

QelNetwork::QelNetwork(char* rulesetName)
    : rulesetName(rulesetName), defaultPacket(new QelPacket(this, -1)) {}

QelNetwork::~QelNetwork() {
  delete defaultPacket;
  deleteAll<QelConstant>(constants);
  deleteAll<QelSlot>(slots);
  deleteAll<QelPacket>(packets);
  deleteAll<QelClassNode>(classes);
  deleteAll<QelDiscNode>(discs);
  deleteAll<QelAlphaNode>(alphas);
  deleteAll<QelJoinNode>(joins);
  deleteAll<QelRightNode>(rights);
  deleteAll<QelRuleNode>(rules);
  // The lists release their cells as members, in reverse field order.
}

unsigned char QelNetwork::isInterpreted() { return 0; }

void QelNetwork::execCommand(int, void*, std::ostream&) {}

QelActionNode* QelNetwork::newActionNode(QelRuleNode* rule) {
  return new QelActionNode(rule);
}

void QelNetwork::setPriority(QelRuleNode* rule, int priority,
                             QelPriorityFunction function) {
  rule->priorityFunction = function;
  rule->staticPriority = priority;
}

void QelNetwork::init(int constantCount, int packetCount, int ruleCount,
                      int discCount, int alphaCount, int rightCount,
                      int joinCount) {
  createDescending(constants, constantCount,
                   [this](int) { return new QelConstant(this, nullptr); });
  createDescending(packets, packetCount,
                   [this](int i) { return new QelPacket(this, i); });
  createDescending(rules, ruleCount,
                   [this](int i) { return new QelRuleNode(this, i); });
  createDescending(discs, discCount,
                   [](int i) { return new QelDiscNode(i); });
  createDescending(alphas, alphaCount,
                   [this](int i) { return new QelAlphaNode(this, i); });
  createDescending(rights, rightCount,
                   [this](int i) { return new QelRightNode(this, i); });
  createDescending(joins, joinCount,
                   [this](int i) { return new QelJoinNode(this, i); });
}

void QelNetwork::initConstant(void* constant, char* name, QelValue* value,
                              int external) {
  QelConstant* c = static_cast<QelConstant*>(constant);
  c->name = name;
  c->external = external;
  if (value == nullptr || value == c->value) return;
  // The constant owns its value: a replaced value is released.
  if (c->value != nullptr) ::operator delete(static_cast<void*>(c->value));
  c->value = value;
}

void QelNetwork::initInternalConstant(void* constant, char* name,
                                      QelValue* value) {
  initConstant(constant, name, value, 0);
}

void QelNetwork::initExternalConstant(void* constant, char* name,
                                      QelValue* value) {
  initConstant(constant, name, value, 1);
}

void QelNetwork::initPacket(QelPacket* packet, char* name, int first,
                            int second) {
  packet->name = name;
  packet->packetData1 = first;
  packet->packetData2 = second;
}

void QelNetwork::initRule(void* ruleNode, int packetIndex, char* name,
                          QelPriorityFunction priority, int staticPriority,
                          int lastJoinIndex, int waitDepth) {
  QelRuleNode* rule = static_cast<QelRuleNode*>(ruleNode);
  QelPacket* packet = packetIndex == -1
                          ? defaultPacket
                          : static_cast<QelPacket*>(packets[packetIndex]);
  rule->name = name;
  rule->priorityFunction = priority;
  rule->staticPriority = staticPriority;
  rule->packet = packet;
  rule->waitDepth = waitDepth;
  packet->rules.append(rule);
  if (lastJoinIndex == -1) return;
  QelJoinNode* last = static_cast<QelJoinNode*>(joins[lastJoinIndex]);
  rule->lastJoin = last;
  if (waitDepth > 1) last->disablingRules.append(rule);
  if (waitDepth > 0) {
    QelLeftNode* anchor = last;
    for (int i = 1; i < waitDepth; ++i) {
      anchor = static_cast<QelJoinNode*>(anchor)->left;
    }
    static_cast<QelJoinNode*>(anchor)->watchdogRules.append(rule);
  }
}

void QelNetwork::initAction(int ruleIndex, QelActionFunction action,
                            unsigned char watchdog, int parentIsJoin,
                            int parentIndex) {
  QelRuleNode* rule = static_cast<QelRuleNode*>(rules[ruleIndex]);
  QelActionNode* node = newActionNode(rule);
  if (watchdog) {
    rule->watchdogAction = node;
  } else {
    rule->mainAction = node;
  }
  QelLeftNode* parent =
      parentIsJoin ? static_cast<QelLeftNode*>(
                         static_cast<QelJoinNode*>(joins[parentIndex]))
                   : static_cast<QelLeftNode*>(
                         static_cast<QelAlphaNode*>(alphas[parentIndex]));
  node->parent = parent;
  if (watchdog) {
    parent->watchdogActions.append(node);
  } else {
    parent->mainActions.append(node);
  }
  node->action = action;
}

void QelNetwork::initDisc(QelDiscNode* node, int classIndex, int rightIndex,
                          QelDiscTest test) {
  QelClassNode* classNode = static_cast<QelClassNode*>(classes[classIndex]);
  node->classNode = classNode;
  classNode->discs.append(node);
  node->test = test;
  if (rightIndex == -1) return;
  QelRightNode* right = static_cast<QelRightNode*>(rights[rightIndex]);
  right->discNode = node;
  node->rightNode = right;
}

void QelNetwork::addAlphaNode(QelDiscNode* node, int alphaIndex,
                              int noUpdateMask, QelPatternType patternType) {
  QelAlphaNode* alpha = static_cast<QelAlphaNode*>(alphas[alphaIndex]);
  alpha->discNode = node;
  alpha->patternType = patternType;
  node->alphaNodes.append(alpha);
  alpha->noUpdateMask = noUpdateMask;
}

void QelNetwork::initJoin(void* joinNode, int leftIsJoin, int leftIndex,
                          int rightIndex, QelJoinTest test,
                          int independenceMask, int noUpdateMask,
                          QelPatternType patternType) {
  QelJoinNode* join = static_cast<QelJoinNode*>(joinNode);
  QelLeftNode* left =
      leftIsJoin ? static_cast<QelLeftNode*>(
                       static_cast<QelJoinNode*>(joins[leftIndex]))
                 : static_cast<QelLeftNode*>(
                       static_cast<QelAlphaNode*>(alphas[leftIndex]));
  QelRightNode* right = static_cast<QelRightNode*>(rights[rightIndex]);
  join->left = left;
  left->successors.append(join);
  join->right = right;
  if (right != nullptr) right->successors.append(join);
  join->joinTest = test;
  join->independenceMask = independenceMask;
  join->noUpdateMask = noUpdateMask;
  join->patternType = patternType;
}

void QelNetwork::initJoin(void* joinNode, int leftIsJoin, int leftIndex,
                          int rightIndex, QelJoinTest test,
                          int independenceMask, int noUpdateMask,
                          QelPatternType patternType, QelKeyFunction key) {
  initJoin(joinNode, leftIsJoin, leftIndex, rightIndex, test,
           independenceMask, noUpdateMask, patternType);
  static_cast<QelJoinNode*>(joinNode)->keyFunction = key;
}

void QelNetwork::initJoin(void* joinNode, int leftIsJoin, int leftIndex,
                          int rightIndex, QelJoinTest test,
                          int independenceMask, int noUpdateMask,
                          QelPatternType patternType,
                          QelJoinCollectTest collect) {
  initJoin(joinNode, leftIsJoin, leftIndex, rightIndex, test,
           independenceMask, noUpdateMask, patternType);
  static_cast<QelJoinNode*>(joinNode)->collectTest = collect;
}

void QelNetwork::initJoinKeys(void* joinNode, QelKeyFunction leftKey,
                              QelRecordKeyFunction rightKey) {
  QelJoinNode* join = static_cast<QelJoinNode*>(joinNode);
  join->leftKey = leftKey;
  join->rightKey = rightKey;
}

int QelNetwork::internalConstantCount() const {
  int n = 0;
  for (QelListCell* cell = constants.head; cell != nullptr; cell = cell->next) {
    if (static_cast<QelConstant*>(cell->item)->external == 0) ++n;
  }
  return n;
}
