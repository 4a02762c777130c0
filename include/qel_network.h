// The compiled description of a ruleset and its nodes.
//
// Generated code derives a class from QelNetwork and, in its constructor,
// calls init() with the seven element counts, then fills every node in by
// index through the construction calls below. From then on its nodes are
// only read: every context initialized with it builds one memory per node.
//
// Threads: once constructed, a network may serve contexts on several
// threads at once. Each context is used by one thread at a time; contexts
// over one network may be initialized and destroyed concurrently (the
// library locks the network's `contexts` list for that). Reading
// `contexts` while other threads create or destroy contexts is not safe.
//
// Calling order the library relies on:
//  1. the constructor, then init() exactly once, before any other call;
//  2. class nodes appended to `classes` before an initDisc() names them;
//  3. initJoin() of every join on a rule's left chain before that rule's
//     initRule() when its wait depth is 2 or more;
//  4. initRule() of a rule before its initAction() and setPriority() calls;
//  5. all construction finished before the first QelContext::initialize();
//  6. joins that share a right node are initialized in chain order (a join
//     before every join below it in the same chain), so that the right
//     memory tells the upstream join of a change first. The library does
//     not reorder them.
#ifndef QEL_NETWORK_H
#define QEL_NETWORK_H

#include <iosfwd>

#include "qel_export.h"
#include "qel_list.h"

class QelContext;
class QelInfo;
class QelPartial;
class QelOrderedSet;
class QelNetwork;
class QelClassNode;
class QelDiscNode;
class QelAlphaNode;
class QelJoinNode;
class QelRuleNode;
class QelActionNode;
class QelPacket;

// Opaque constant value storage: generated code allocates it with
// ::operator new(size); the constant releases it with ::operator delete.
struct QelValue;

// Callbacks are non-virtual member functions of the generated context.
// Booleans are one-byte values: 0 false, anything else true.
typedef unsigned char (QelContext::*QelDiscTest)(QelInfo*);
typedef unsigned char (QelContext::*QelJoinTest)(QelPartial*, QelInfo*);
typedef unsigned char (QelContext::*QelAlphaCountTest)(int count);
typedef unsigned char (QelContext::*QelAlphaCollectTest)(const QelOrderedSet*);
typedef unsigned char (QelContext::*QelJoinCountTest)(QelPartial*, int count);
typedef unsigned char (QelContext::*QelJoinCollectTest)(QelPartial*,
                                                        QelOrderedSet*);
typedef void* (QelContext::*QelKeyFunction)(QelPartial*);
typedef void* (QelContext::*QelRecordKeyFunction)(QelInfo*);
typedef int (QelContext::*QelWaitTimeFunction)(QelPartial*);
typedef int (QelContext::*QelPriorityFunction)(QelPartial*);
typedef void (QelContext::*QelActionFunction)(QelPartial*);

// Selects the memory class a context creates for an alpha or join node.
// Value 7 and values above 9 give a node no memory.
enum QelPatternType : int {
  QelPatternPlain = 0,
  QelPatternPlainObjUnique = 1,
  QelPatternPacket = 2,
  QelPatternExists = 3,
  QelPatternNot = 4,
  QelPatternCount = 5,
  QelPatternCollect = 6,
  QelPatternInline = 8,
  QelPatternWait = 9
};

// The packet state a packet pattern waits for.
enum QelPacketState : int {
  QelPacketInactive = 0,
  QelPacketActive = 1,  // active, with or without pending instances
  QelPacketIdle = 2     // active, without pending instances
};

enum QelSlotType : int { QelSlotReadWrite = 0, QelSlotReadOnly = 1 };

class QEL_EXPORT QelNode {
 public:
  QelNetwork* network;
  int index;           // position in its network list
  QelList successors;  // QelJoinNode* fed by this node, in initJoin order

  QelNode(QelNetwork* network, int index);
  virtual ~QelNode();
  QelNode(const QelNode&) = delete;
  QelNode& operator=(const QelNode&) = delete;
};

// The object side of joins.
class QEL_EXPORT QelRightNode : public QelNode {
 public:
  QelDiscNode* discNode;  // whose passing objects it hands to its joins

  QelRightNode(QelNetwork* network, int index);
  ~QelRightNode() override;
};

// A node whose memory holds partial matches: an alpha or a join node.
class QEL_EXPORT QelLeftNode : public QelNode {
 public:
  QelList mainActions;      // QelActionNode*: rules ending at this node
  QelList watchdogActions;  // QelActionNode*: watchdog actions attached here
  // Bit d set: a mode-2 update of the object at depth d is not passed on to
  // the children that still match.
  int noUpdateMask;
  QelPatternType patternType;
  QelPacketState packetState;  // for packet patterns; Active by default

  QelLeftNode(QelNetwork* network, int index);
  ~QelLeftNode() override;

  // noUpdateMask &= bits >> 1 (arithmetic shift).
  virtual void restrictNoUpdateMask(int bits);
  // Number of joins on the left chain including this node; 0 for alphas.
  virtual int level() const = 0;
  virtual QelAlphaNode* headAlphaNode() = 0;
};

// The first pattern of a rule.
class QEL_EXPORT QelAlphaNode final : public QelLeftNode {
 public:
  QelDiscNode* discNode;
  QelAlphaCountTest countTest;
  QelAlphaCollectTest collectTest;

  QelAlphaNode(QelNetwork* network, int index);
  ~QelAlphaNode() override;

  int level() const override { return 0; }
  QelAlphaNode* headAlphaNode() override { return this; }
  virtual unsigned char testCount(QelContext* context, int count);
  virtual unsigned char testCollect(QelContext* context,
                                    const QelOrderedSet* set);
};

// A partial match of `left` combined with one more object from `right`.
class QEL_EXPORT QelJoinNode final : public QelLeftNode {
 public:
  QelLeftNode* left;
  QelRightNode* right;  // null for joins without an object input
  QelJoinTest joinTest;
  QelJoinCountTest countTest;
  QelJoinCollectTest collectTest;
  QelKeyFunction keyFunction;
  QelWaitTimeFunction waitTimeFunction;
  // Bit d set: the join test need not be evaluated again when the object at
  // depth d changes.
  int independenceMask;
  QelList disablingRules;  // QelRuleNode*: rules whose match ends here
  QelList watchdogRules;   // QelRuleNode*: rules whose watchdog is here
  // Equality keys (initJoinKeys): whenever the join test passes for (P, I),
  // leftKey(P) == rightKey(I). Used by plain, object-unique, exists, not,
  // count and collect joins when both are set; null otherwise. (Packet,
  // inline and wait joins test no right record against a parent.)
  QelKeyFunction leftKey;
  QelRecordKeyFunction rightKey;

  QelJoinNode(QelNetwork* network, int index);
  ~QelJoinNode() override;

  int level() const override { return left->level() + 1; }
  QelAlphaNode* headAlphaNode() override { return left->headAlphaNode(); }
  // Passes without a call when joinTest is QelContext::nullJoin.
  virtual unsigned char testJoin(QelContext* context, QelInfo* info,
                                 QelPartial* partial);
  virtual unsigned char testCount(QelContext* context, int count,
                                  QelPartial* partial);
  virtual unsigned char testCollect(QelContext* context, QelPartial* partial,
                                    QelOrderedSet* set);
  virtual void* key(QelContext* context, QelPartial* partial);
  virtual int waitTime(QelContext* context, QelPartial* partial);

  // Whether the join's memory indexes both sides by key.
  bool isKeyed() const;
};

// One test on objects of one class.
class QEL_EXPORT QelDiscNode final {
 public:
  QelClassNode* classNode;
  int index;
  QelList alphaNodes;       // QelAlphaNode* fed by it, in addAlphaNode order
  QelRightNode* rightNode;  // null unless initDisc named one
  QelDiscTest test;

  explicit QelDiscNode(int index);
  virtual ~QelDiscNode();
  QelDiscNode(const QelDiscNode&) = delete;
  QelDiscNode& operator=(const QelDiscNode&) = delete;

  // Passes without a call when test is QelContext::nullDisc.
  virtual unsigned char evaluate(QelContext* context, QelInfo* info);
};

class QEL_EXPORT QelRuleNode {
 public:
  QelNetwork* network;
  int index;  // also the result of firing one of its instances
  char* name;
  QelPacket* packet;  // the default packet (index -1) for rules outside one
  QelPriorityFunction priorityFunction;
  int staticPriority;
  int waitDepth;  // -1 or 0 without a wait; positive for rules on a wait
  QelJoinNode* lastJoin;
  QelActionNode* mainAction;      // owned
  QelActionNode* watchdogAction;  // owned

  QelRuleNode(QelNetwork* network, int index);
  virtual ~QelRuleNode();
  QelRuleNode(const QelRuleNode&) = delete;
  QelRuleNode& operator=(const QelRuleNode&) = delete;

  // 1 unless priorityFunction is QelContext::nullPrio.
  virtual unsigned char hasPriorityFunction();
  // The static priority, or the priority function applied to `partial`
  // (shortened to the wait partial when `via` is the main action of a rule
  // with a positive wait depth).
  virtual int computePriority(QelContext* context, QelPartial* partial,
                              QelActionNode* via);
  // Free for derived rule nodes; the library never calls it.
  virtual int extensionCode() { return 0; }
};

class QEL_EXPORT QelActionNode {
 public:
  QelActionFunction action;
  QelRuleNode* rule;
  QelLeftNode* parent;  // the node whose partial matches the action runs on

  explicit QelActionNode(QelRuleNode* rule);
  virtual ~QelActionNode();
  QelActionNode(const QelActionNode&) = delete;
  QelActionNode& operator=(const QelActionNode&) = delete;

  // Calls the action on `partial` and returns 0. A derived action node may
  // return its own result; one below -1 stops QelAgenda::fireAllRules.
  virtual int execute(QelContext* context, QelPartial* partial);
};

// A named group of rules that can be switched on and off.
class QEL_EXPORT QelPacket {
 public:
  QelNetwork* network;
  int index;  // -1 for the network's default packet
  char* name;
  QelList alphaNodes;  // QelAlphaNode* of patterns on this packet's state
  QelList joinNodes;   // QelJoinNode* of such patterns; generated code
                       // appends them
  QelList rules;       // QelRuleNode* of the packet
  int packetData2;
  int packetData1;

  QelPacket(QelNetwork* network, int index);
  virtual ~QelPacket();
  QelPacket(const QelPacket&) = delete;
  QelPacket& operator=(const QelPacket&) = delete;

  // Makes alphas[alphaIndex] a packet pattern waiting for `state`.
  void addAlphaNode(QelPacketState state, int alphaIndex);
};

class QEL_EXPORT QelIdentifier {
 public:
  QelNetwork* network;
  char* name;

  explicit QelIdentifier(QelNetwork* network);
  virtual ~QelIdentifier();
  QelIdentifier(const QelIdentifier&) = delete;
  QelIdentifier& operator=(const QelIdentifier&) = delete;
};

class QEL_EXPORT QelConstant : public QelIdentifier {
 public:
  int external;     // 0 internal, 1 external
  QelValue* value;  // owned plain storage
  int reserved;     // 0; unused by the library

  QelConstant(QelNetwork* network, QelValue* value);
  // Releases the value storage with ::operator delete.
  ~QelConstant() override;
};

class QEL_EXPORT QelNetwork {
 public:
  char* rulesetName;  // stored, not copied
  QelList constants;  // QelConstant*
  QelList slots;      // QelSlot*: every slot of every class
  QelPacket* defaultPacket;
  QelList packets;    // QelPacket*
  QelList classes;    // QelClassNode*, appended by generated code
  QelList discs;      // QelDiscNode*
  QelList alphas;     // QelAlphaNode*
  QelList joins;      // QelJoinNode*
  QelList rights;     // QelRightNode*
  QelList rules;      // QelRuleNode*
  QelList contexts;   // QelContext*: contexts initialized on this network
  // Invariant: in every list init() fills, and in `classes`, the element at
  // position i carries index i.

  explicit QelNetwork(char* rulesetName);
  // Deletes every node, class, slot, packet and constant it holds.
  virtual ~QelNetwork();
  QelNetwork(const QelNetwork&) = delete;
  QelNetwork& operator=(const QelNetwork&) = delete;

  virtual unsigned char isInterpreted();
  // Writes the ruleset name, mode, constants and classes to `out`.
  virtual void describe(std::ostream& out) const;
  virtual void execCommand(int command, void* argument, std::ostream& out);
  virtual QelActionNode* newActionNode(QelRuleNode* rule);
  virtual void setPriority(QelRuleNode* rule, int priority,
                           QelPriorityFunction function);

  // Creates every element, empty, in ascending index order.
  void init(int constantCount, int packetCount, int ruleCount, int discCount,
            int alphaCount, int rightCount, int joinCount);
  void initInternalConstant(void* constant, char* name, QelValue* value);
  void initExternalConstant(void* constant, char* name, QelValue* value);
  void initPacket(QelPacket* packet, char* name, int first, int second);
  void initRule(void* ruleNode, int packetIndex, char* name,
                QelPriorityFunction priority, int staticPriority,
                int lastJoinIndex, int waitDepth);
  void initAction(int ruleIndex, QelActionFunction action,
                  unsigned char watchdog, int parentIsJoin, int parentIndex);
  void initDisc(QelDiscNode* node, int classIndex, int rightIndex,
                QelDiscTest test);
  void addAlphaNode(QelDiscNode* node, int alphaIndex, int noUpdateMask,
                    QelPatternType patternType);
  void initJoin(void* joinNode, int leftIsJoin, int leftIndex, int rightIndex,
                QelJoinTest test, int independenceMask, int noUpdateMask,
                QelPatternType patternType);
  void initJoin(void* joinNode, int leftIsJoin, int leftIndex, int rightIndex,
                QelJoinTest test, int independenceMask, int noUpdateMask,
                QelPatternType patternType, QelKeyFunction key);
  void initJoin(void* joinNode, int leftIsJoin, int leftIndex, int rightIndex,
                QelJoinTest test, int independenceMask, int noUpdateMask,
                QelPatternType patternType, QelJoinCollectTest collect);
  // Gives a join equality keys on both sides (see QelJoinNode::leftKey).
  void initJoinKeys(void* joinNode, QelKeyFunction leftKey,
                    QelRecordKeyFunction rightKey);

  // Number of constants whose external flag is 0.
  int internalConstantCount() const;

 private:
  void initConstant(void* constant, char* name, QelValue* value,
                    int external);
};

#endif  // QEL_NETWORK_H
