// The rule context: one working memory over one compiled network, with its
// agenda, rule memories, instances and packet memories.
//
// Generated code derives its context from QelContext; the member functions
// of the derived class are the tests, priority functions and actions the
// network refers to. It calls initialize() once with its network. The
// application then asserts, retracts and updates objects and fires the
// agenda.
#ifndef QEL_CONTEXT_H
#define QEL_CONTEXT_H

#include <functional>
#include <map>

#include "qel_export.h"
#include "qel_list.h"
#include "qel_network.h"
#include "qel_partial.h"
#include "qel_table.h"

class QelAgenda;
class QelAlphaMem;
class QelClassMem;
class QelDiscMem;
class QelJoinMem;
class QelLeftMem;
class QelLogicalMem;
class QelRightMem;
class QelRuleMem;
class QelPacketMem;
class QelJoinMemWait;
class QelJoinMemPacket;
class QelAlphaMemPacket;

// A rule action ready to fire on one partial match. Owned by the agenda
// while it is listed; also listed in its partial's `instances`.
class QEL_EXPORT QelInstance {
 public:
  QelRuleAction* action;
  int priority;  // higher fires first
  int recency;   // the agenda's changeCount when the instance was made
  QelPartial* partial;  // null once the partial died during the action
  QelInstance* previous;
  QelInstance* next;

  // Takes a reference on a reference-counted partial for rules on a wait.
  QelInstance(QelRuleAction* action, int priority, int recency,
              QelPartial* partial);
  virtual ~QelInstance();
  QelInstance(const QelInstance&) = delete;
  QelInstance& operator=(const QelInstance&) = delete;
  // Instances are recycled by the library's block cache.
  static void* operator new(std::size_t size);
  static void operator delete(void* instance, std::size_t size);

  int ruleIndex() const;
};

// The binding of one action node into a context.
class QelRuleAction {
 public:
  QelRuleMem* ruleMem;
  QelActionNode* actionNode;
  QelLeftMem* leftMem;  // the memory of the action node's parent

  QelRuleAction(QelRuleMem* ruleMem, QelActionNode* actionNode);

  // A left memory passes on a new (mode 0), refreshed (1) or updated (2)
  // partial: creates, re-prioritises or leaves alone its instance.
  void addMatch(QelPartial* partial, int mode);
};

// The per-context state of one rule.
class QEL_EXPORT QelRuleMem {
 public:
  QelRuleNode* ruleNode;
  QelContext* context;
  QelPacketMem* packetMem;  // null for rules of the default packet
  unsigned char enabled;    // while false the rule makes no instances
  QelRuleAction* mainAction;      // owned
  QelRuleAction* watchdogAction;  // owned

  explicit QelRuleMem(QelContext* context);
  virtual ~QelRuleMem();
  QelRuleMem(const QelRuleMem&) = delete;
  QelRuleMem& operator=(const QelRuleMem&) = delete;

  void bindNode(QelRuleNode* node);
  // The rule's match completed before the wait expired.
  void disableWatchdog(QelPartial* partial);
};

// The per-context state of one packet.
//
// state: 0 inactive; 1 active with pending instances; 2 active without.
// pendingCount: instances of the packet's rules on the agenda, not fired.
class QelPacketMem {
 public:
  QelPacket* packet;
  QelContext* context;
  int state;
  int pendingCount;
  QelList alphaPacketMems;  // QelAlphaMemPacket* testing this packet
  QelList joinPacketMems;   // QelJoinMemPacket* testing this packet

  explicit QelPacketMem(QelContext* context);
  QelPacketMem(const QelPacketMem&) = delete;
  QelPacketMem& operator=(const QelPacketMem&) = delete;

  void bindNode(QelPacket* packet);
  void activate();
  void deactivate();
  void instanceAdded();
  void instanceRemoved();
  void reset();
  bool isActive() const { return state != 0; }
  bool isInactive() const { return state == 0; }
  // Whether a packet pattern requiring `required` holds in this state.
  bool meets(int required) const;

 private:
  void reevaluate();
};

// The instances of one context in firing order: higher priority first;
// among equal priorities a later working-memory operation first; within one
// operation the lower rule index first, and for equal rule index the
// instance inserted last. A sorted doubly linked chain from `first`.
class QelAgenda {
 public:
  QelContext* context;
  QelInstance* first;  // fires next; null when empty
  int changeCount;     // recency source; 0 again after fireAllRules
  QelList waitJoinMems;  // QelJoinMemWait* of the context, creation order

  explicit QelAgenda(QelContext* context);
  ~QelAgenda();
  QelAgenda(const QelAgenda&) = delete;
  QelAgenda& operator=(const QelAgenda&) = delete;

  // Fires the first instance: -1 when empty, else its firing result (the
  // action node's non-zero result, or the rule index).
  QEL_EXPORT int fireRule();
  // Fires until empty or a result below -1; returns the number fired, or,
  // after such a stop, the stopping result plus 1.
  QEL_EXPORT int fireAllRules();

  void insertInstance(QelInstance* instance);
  // Gives a listed instance a new priority and moves it to its place.
  void reorderInstance(QelInstance* instance, int priority);
  void addInstance(QelRuleAction* action, int priority, QelPartial* partial);
  void removeInstancesOf(QelPartial* partial);
  void clearInstances();

 private:
  QelInstance* popFirst();
  int fire(QelInstance* instance);
  int execute(QelInstance* instance);
  void discard(QelInstance* instance);
  void unlink(QelInstance* instance);
  void linkBefore(QelInstance* instance, QelInstance* member);

  // Priorities never increase along the list. levels_ holds the first
  // instance of each priority listed, so that an insertion starts at its
  // own priority instead of walking every higher one; last_ is the tail.
  std::map<int, QelInstance*, std::greater<int>> levels_;
  QelInstance* last_;
};

// Three words kept for generated code; never read by the library.
struct QelAuxiliaryRecord {
  int words[3];
};

class QEL_EXPORT QelContext {
 public:
  QelNetwork* network;
  QelAgenda* agenda;
  int internalConstantCount;
  QelConstant** internalConstants;  // null-terminated, network order
  int classMemCount;
  QelClassMem** classMems;  // by class index; each table null-terminated
  int alphaMemCount;
  QelAlphaMem** alphaMems;
  int joinMemCount;
  QelJoinMem** joinMems;
  int rightMemCount;
  QelRightMem** rightMems;
  int discMemCount;
  QelDiscMem** discMems;
  int packetMemCount;
  QelPacketMem** packetMems;
  int ruleMemCount;
  QelRuleMem** ruleMems;
  QelHashTable* objectTable;  // application object -> QelInfo*
  // The partial justifying logical assertions made now; set and cleared by
  // generated code, only read by the library.
  QelPartial* justification;
  char* rulesetName;  // private copy
  int time;           // read by wait joins; advanced by generated code
  QelAuxiliaryRecord* auxiliaryRecord;
  QelList auxiliaryList;

  virtual const char* getRulesetName() const = 0;

  // Working memory. Pointers the context does not hold are ignored.
  // Returns the object now held for `object` (a logical class may keep an
  // equal object it already holds and delete the new one).
  void* assertObject(int classIndex, void* object);
  void retractObject(void* object, unsigned char deleteObject);
  void updateObject(void* object, unsigned char refresh);

  // Packets by name; `found` (when given) tells whether the name exists.
  void activatePacket(const char* packetName, unsigned char* found);
  void deactivatePacket(const char* packetName, unsigned char* found);
  int getPacketIndex(const char* packetName) const;
  const char* getPacketName(int index) const;

  // Null callbacks: nodes compare against them by identity.
  unsigned char nullDisc(QelInfo*);
  unsigned char nullJoin(QelPartial*, QelInfo*);
  int nullPrio(QelPartial*);
  unsigned char nullAlphaCollect(const QelOrderedSet*);
  unsigned char nullJoinCollect(QelPartial*, QelOrderedSet*);

  // Class index of a class name, -1 if none.
  int getClassIndex(const char* className) const;

 protected:
  QelContext();
  virtual ~QelContext();
  virtual void initialize(QelNetwork* network);

  void qelRetractClass(int classIndex);
  void qelRetractClass(const char* className);
  void qelRetractAll();
  void resetMemory();
  void activatePacket(QelPacketMem* packetMem);
  void deactivatePacket(QelPacketMem* packetMem);

  // Hooks, called synchronously by the library; all do nothing here.
  virtual void checkEndCycle(QelInstance*) {}
  virtual void checkBeginCycle() {}
  virtual void checkTimeCycle() {}
  virtual void notifyAddContext() {}
  virtual void notifyRemoveContext() {}
  virtual void notifyUpdateContext() {}
  virtual void notifyBeginModifyContext() {}
  virtual void notifyEndModifyContext() {}
  virtual void notifyBeginRetractAll() {}
  virtual void notifyEndRetractAll() {}
  virtual void notifyAddPacket(QelPacketMem*) {}
  virtual void notifyRemovePacket(QelPacketMem*) {}
  virtual void notifyActivatePacket(QelPacketMem*) {}
  virtual void notifyDeactivatePacket(QelPacketMem*) {}
  virtual void notifyBlockPacket(QelPacketMem*) {}
  virtual void notifyDeblockPacket(QelPacketMem*) {}
  virtual void notifySetTime(int) {}
  virtual void notifyAddWatchdog(QelRuleMem*, QelWaitPartial*) {}
  virtual void notifyRemoveWatchdog(QelWaitPartial*, QelWaitPartial*,
                                    QelRuleMem**) {}
  virtual void notifyDisableWatchdog(QelRuleMem*, QelPartial*) {}
  virtual void notifyAddRule(QelInstance*) {}
  virtual void notifyRemoveRule(QelInstance*) {}
  virtual void notifyUpdateRule(QelInstance*) {}
  virtual void notifyBeginRule(QelInstance*) {}
  virtual void notifyEndRule() {}
  virtual void notifyAssertObject(QelInfo*) {}
  virtual void notifyRetractObject(QelInfo*) {}
  virtual void notifyBeginUpdate(QelInfo*) {}
  virtual void notifyEndUpdate(QelInfo*) {}
  virtual void notifyAssertLogical(QelInfo*) {}
  virtual void notifyRetractLogical(QelInfo*) {}
  virtual void notifyStateLogical(QelInfo*) {}
  virtual void notifyAddTmsLink(QelInfo*) {}
  virtual void notifyRemoveTmsLink(QelInfo*) {}

 private:
  // The library's memories call the hooks and the protected operations.
  friend class QelAgenda;
  friend class QelRuleMem;
  friend class QelPacketMem;
  friend class QelClassMem;
  friend class QelLogicalMem;
  friend class QelInfo;
  friend class QelJoinMemWait;
  friend class QelContextTables;

  void buildTables();
  void bindMemories();
  void seedAlphaMemories();
  void releaseContents();
};

QEL_EXPORT QelDiscTest GetQelNullDisc();
QEL_EXPORT QelJoinTest GetQelNullJoin();
QEL_EXPORT QelPriorityFunction GetQelNullPrio();
QEL_EXPORT QelAlphaCollectTest GetQelNullAlphaCollect();
QEL_EXPORT QelJoinCollectTest GetQelNullJoinCollect();

#endif  // QEL_CONTEXT_H
