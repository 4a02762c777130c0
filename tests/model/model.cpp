// The library side of a model run (network, context, callbacks) and the
// oracle that checks it.
#include "model/model.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <sstream>
#include <utility>

#include "memory/node_mem.h"

namespace qelmodel {

namespace {

bool isCounted(Kind k) {
  return k == Kind::Exists || k == Kind::Not || k == Kind::Count ||
         k == Kind::Collect;
}
bool addsObject(Kind k) { return k == Kind::Plain || k == Kind::ObjUnique; }

bool compare(int op, int x, int y) {
  switch (op) {
    case kEq: return x == y;
    case kNe: return x != y;
    case kLt: return x < y;
    default: return x >= y;
  }
}

constexpr int kNullPos = -1;     // tuple id of a null record
constexpr int kCollectPos = -2;  // tuple id of a collect record
// A watchdog instance's key: the first fact's id, then this.
constexpr int kWatchdogPos = -3;

}  // namespace

struct MFact {
  int id;
  int s[kSlotCount];
  int handle;
  int cls;
  bool gone = false;  // deleted by the library, freed after the operation
};

// Logical objects are equal when their slots are.
unsigned char sameSlots(void* held, void* asserted) {
  const MFact* a = static_cast<const MFact*>(held);
  const MFact* b = static_cast<const MFact*>(asserted);
  return std::equal(a->s, a->s + kSlotCount, b->s);
}

class ModelContext : public QelContext {
 public:
  Model* model = nullptr;
  const char* getRulesetName() const override { return "model"; }
  void start(QelNetwork* net) { initialize(net); }
  void retractAll() { qelRetractAll(); }
  void reset() { resetMemory(); }
  void justify(QelPartial* p) { justification = p; }
  void setTime(int t) { time = t; }

  template <int I> unsigned char discT(QelInfo* r);
  template <int I> unsigned char joinT(QelPartial* p, QelInfo* r);
  template <int I> unsigned char alphaCountT(int n);
  template <int I> unsigned char alphaCollectT(const QelOrderedSet* s);
  template <int I> unsigned char joinCountT(QelPartial* p, int n);
  template <int I> unsigned char joinCollectT(QelPartial* p, QelOrderedSet* s);
  template <int I> void* keyT(QelPartial* p);
  template <int I> void* leftKeyT(QelPartial* p);
  template <int I> void* rightKeyT(QelInfo* r);
  template <int I> int prioT(QelPartial* p);
  template <int I> void actionT(QelPartial* p);
  template <int I> void watchdogT(QelPartial* p);
  template <int I> int waitT(QelPartial* p);

  // The hook log that a keyed run must reproduce exactly.
  void notifyAddRule(QelInstance* i) override { logInstance("+", i); }
  void notifyRemoveRule(QelInstance* i) override { logInstance("-", i); }
  void notifyUpdateRule(QelInstance* i) override { logInstance("~", i); }
  void notifyBeginRule(QelInstance* i) override { logInstance("fire", i); }
  void notifyEndRule() override { logText("end"); }
  void notifyAssertObject(QelInfo* r) override { logRecord("assert", r); }
  void notifyRetractObject(QelInfo* r) override { logRecord("retract", r); }
  void notifyBeginUpdate(QelInfo* r) override { logRecord("update", r); }
  void notifyEndUpdate(QelInfo* r) override { logRecord("updated", r); }
  void notifyActivatePacket(QelPacketMem* m) override { logPacket("on", m); }
  void notifyDeactivatePacket(QelPacketMem* m) override { logPacket("off", m); }
  void notifyBlockPacket(QelPacketMem* m) override { logPacket("block", m); }
  void notifyDeblockPacket(QelPacketMem* m) override { logPacket("deblock", m); }
  void notifyAddWatchdog(QelRuleMem* r, QelWaitPartial* w) override {
    logWait("arm", r, w);
  }
  void notifyRemoveWatchdog(QelWaitPartial* w, QelWaitPartial*,
                            QelRuleMem**) override {
    logWait("disarm", nullptr, w);
  }
  void notifyDisableWatchdog(QelRuleMem* r, QelPartial* p) override;

 private:
  void logText(const char* what);
  void logInstance(const char* what, QelInstance* i);
  void logRecord(const char* what, QelInfo* r);
  void logPacket(const char* what, QelPacketMem* m);
  void logWait(const char* what, QelRuleMem* r, QelPartial* w);
};

// Deletes facts for the library and tells the model the handle is empty.
class ModelClassNode : public QelClassNode {
 public:
  ModelClassNode(QelNetwork* net, int index) : QelClassNode(net, index) {}
  void deleteInstance(void* object) override;
};

// Stops fireAllRules at the firing the model asks for.
class ModelActionNode : public QelActionNode {
 public:
  explicit ModelActionNode(QelRuleNode* rule) : QelActionNode(rule) {}
  int execute(QelContext* context, QelPartial* partial) override;
};

class ModelNetwork : public QelNetwork {
 public:
  ModelNetwork() : QelNetwork(name_) {}
  QelActionNode* newActionNode(QelRuleNode* rule) override {
    return new ModelActionNode(rule);
  }
  std::vector<std::string> names;  // class, packet and rule names
 private:
  static char name_[];
};
char ModelNetwork::name_[] = "model";

using Key = std::vector<int>;

struct Handle {
  MFact* f = nullptr;
  bool inWM = false;
};

struct TupleInfo {
  std::vector<int> sizes;  // collect positions: the size of the match set
  int prio = 0;
};
using Matches = std::map<Key, TupleInfo>;

struct OInst {
  int prio = 0;
  int rec = 0;
  bool tainted = false;  // may stand out of order (see checkOrder)
  int by = -1;  // the fact whose assertion made it, if one did
  long queued = -1;  // a watchdog's place among those expiring together
};

class Model {
 public:
  Model(const NetPlan& plan, QelNetwork* net, bool checking,
        bool tracing = false);
  ~Model();
  std::string apply(const Operation& op);
  size_t liveFacts() const { return byId_.size(); }
  std::string agendaText();

  // Callbacks.
  bool discTest(int d, QelInfo* r) const {
    return discPass(plan_.discs[d], fact(r));
  }
  bool joinTest(int j, QelPartial* p, QelInfo* r);
  bool alphaCount(int a, int n) const;
  bool joinCount(int j, int n) const;
  void* key(int j, QelPartial* p);
  void* leftKey(int j, QelPartial* p);
  void* rightKey(int j, QelInfo* r);
  int prio(int r, QelPartial* p);
  void action(int r, QelPartial* p);
  void watchdog(int r, QelPartial* w);
  int waitTime(int j, QelPartial* p) const;
  int afterAction(QelPartial* p);
  void deleted(MFact* f);
  // Hooks, and join tests on pairs of equal keys, in the order they came;
  // kept only while `tracing` (the twin comparison reads and clears it after
  // every operation; nothing else would, and it would grow without bound).
  std::string log;
  bool tracing = false;
  std::string partialText(QelPartial* p, int length) const;
  std::string instanceText(QelInstance* i) const {
    auto k = instanceKey(i);
    return tupleText(k.first, k.second);
  }
  int ruleLength(int rule) const {
    return static_cast<int>(plan_.rules[rule].pats.size());
  }

 private:
  static const MFact* fact(QelInfo* r) {
    return static_cast<const MFact*>(r->object);
  }
  bool isA(int cls, int base) const {
    for (int c = cls; c >= 0; c = plan_.superOf[c]) {
      if (c == base) return true;
    }
    return false;
  }
  bool discPass(const DiscPlan& d, const MFact* f) const {
    if (!isA(f->cls, d.cls)) return false;
    return d.nullTest || compare(d.op, f->s[d.slot], d.constant);
  }
  int value(const Operand& o, const MFact* const* facts,
            const MFact* cand) const {
    if (o.pos == -2) return o.constant;
    const MFact* f = o.pos == -1 ? cand : facts[o.pos];
    return f->s[o.slot];
  }
  bool terms(const PatternPlan& p, const MFact* const* facts,
             const MFact* cand) const {
    for (const Term& t : p.terms) {
      if (!compare(t.op, value(t.a, facts, cand), value(t.b, facts, cand))) {
        return false;
      }
    }
    return true;
  }
  void* keyObject(const PatternPlan& p, const MFact* const* facts) const {
    const MFact* f = facts[p.keyPos];
    int h = (f->s[0] + kValues * f->s[1]) % static_cast<int>(handles_.size());
    return handles_[h].f;
  }
  bool countCond(const PatternPlan& p, int n) const {
    switch (p.kind) {
      case Kind::Exists: return n >= 1;
      case Kind::Not: return n == 0;
      case Kind::Count: return compare(p.countOp, n, p.countK);
      default: return p.nullCollect || compare(p.countOp, n, p.countK);
    }
  }
  bool packetOpen(const PatternPlan& p) const {
    int s = packetState(p.packet);
    return p.packetState == 1 ? s != 0 : s == p.packetState;
  }
  int packetState(int p) const {
    return !active_[p] ? 0 : (pending_[p] > 0 ? 1 : 2);
  }
  int priority(int r, const MFact* const* facts) const {
    const RulePlan& rule = plan_.rules[r];
    if (!rule.dynamic) return rule.staticPrio;
    int sum = rule.prioOffset;
    for (auto& t : rule.prioTerms) sum += facts[t.first]->s[t.second];
    return sum;
  }
  // The facts along a partial of `length` patterns, null for tokens.
  static void factsOf(QelPartial* p, int length, const MFact** out) {
    for (int pos = length - 1; pos >= 0; --pos, p = p->parent) {
      out[pos] = p->record != nullptr && p->record->classMem != nullptr
                     ? static_cast<const MFact*>(p->record->object)
                     : nullptr;
    }
  }

  // A window lasts a number of time units that the first fact gives.
  int deadline(const RulePlan& rule, const MFact* first, int now) const {
    const PatternPlan& w = rule.pats[rule.wait];
    return now + first->s[w.waitSlot] + w.waitOffset;
  }
  Key tupleKey(int r, QelPartial* p) const;
  std::pair<int, Key> instanceKey(QelInstance* i) const;
  void syncWindows(int r, const Matches& before, int changed,
                   std::vector<std::pair<int, Key>>* created);
  void expire(int r, int first, const Matches& before,
              std::vector<std::pair<int, Key>>* created);
  void addWatchdog(int r, int first, std::vector<std::pair<int, Key>>* created);
  void dropHeld();
  MFact* newFact(int h);
  void refill();
  void bury();
  std::string checkGone();
  const MFact* equalLogical(const MFact* f) const;
  std::string assertLogical(int r, QelPartial* p, const Key& k);
  void dropSupports();
  void enumerate(int r, Matches* out) const;
  void extend(int r, int j, const MFact** facts, Key& ids,
              std::vector<int>& sizes, Matches* out) const;
  int discCount(int d) const;
  void seedTokens();
  void tokenEvent(int d, int event);
  bool refires(int r, const Key& ids, int factId) const;
  void addInst(int r, const Key& k, int prio);
  void dropInst(int r, const Key& k);
  void countDown(int r);
  std::string check();
  std::string checkOrder(const std::vector<std::pair<int, Key>>& order);
  std::string checkTie(const std::pair<int, Key>& a, const std::pair<int, Key>& b);
  void enter(const MFact* f, int d) {
    if (checking_) {
      std::vector<long>& at = entered_[f->id];
      at.resize(plan_.discs.size());
      at[d] = seq_;
    }
  }
  std::string tupleText(int r, const Key& k) const;
  std::string opUpdate(int h, int mode, const Operation& op);
  void settle(const std::vector<Matches>& before, int changed, int mode,
              const std::vector<char>& oldPass,
              const std::vector<char>& newPass);

  const NetPlan& plan_;
  ModelContext ctx_;
  bool checking_;
  std::vector<Handle> handles_;
  std::map<int, MFact*> byId_;
  int nextId_ = 1;
  std::vector<std::pair<int, int>> joinOwner_;  // join -> (rule, pattern)
  std::vector<int> alphaOwner_;                 // alpha -> rule

  std::vector<Matches> matches_;
  std::map<std::pair<int, Key>, OInst> agenda_;
  // Ambiguous continuing matches: the prediction, or a fresh instance.
  struct Alt {
    bool primary;
    OInst inst;
    OInst fresh;
  };
  std::map<std::pair<int, Key>, Alt> alts_;
  std::vector<char> tok_;  // per rule: the first pattern's token
  std::vector<char> active_;
  std::vector<int> pending_;
  int changeCount_ = 0;
  bool reordered_ = false;  // an instance changed priority in this operation
  int stopAt_ = 0, firedCount_ = 0;
  std::vector<std::pair<int, Key>> fired_;
  std::string fireFailure_;  // the first mismatch found during a firing
  // Truth maintenance: the matches supporting each supported logical fact
  // (by id); unconditional ones are absent.
  std::map<int, std::set<std::pair<int, Key>>> supports_;
  std::vector<MFact*> graveyard_;  // deleted by the library in this operation
  std::set<int> expectGone_;       // ... and what the oracle expects deleted
  // When each fact last entered each discrimination, by operation number.
  std::map<int, std::vector<long>> entered_;
  long seq_ = 0;
  int asserting_ = -1;  // the fact being asserted, while settling
  // The time windows of each rule with a wait join, by the id of the first
  // fact: expired, or pending until its deadline (always after the time:
  // every change of the time runs the expiry at once). The deadline is set
  // when the window opens and at every update of the first fact while it is
  // pending.
  struct Window {
    int deadline = 0;
    long queued = 0;  // when it last joined the pending list
    bool expired = false;
    bool completed = false;  // a match of the rule went through it in time
  };
  std::vector<std::map<int, Window>> windows_;
  // Per rule: matches through an expired window, kept while their instance
  // is on the agenda (every other match through it went with the expiry).
  std::vector<std::set<Key>> held_;
  std::set<std::pair<int, Key>> silent_;  // new matches that get no instance
  int time_ = 0;
  long queued_ = 0;
  MFact* clock_ = nullptr;
  bool clockInWM_ = false;

 public:
  Stats stats;
};

// The model whose operation is running on this thread: the library deletes
// facts through the class node, which has no way to reach the context.
thread_local Model* tlsDeleting = nullptr;

void ModelClassNode::deleteInstance(void* object) {
  MFact* f = static_cast<MFact*>(object);
  if (tlsDeleting != nullptr) {
    tlsDeleting->deleted(f);
  } else {
    delete f;
  }
}

void ModelContext::logText(const char* what) {
  if (!model->tracing) return;
  model->log += what;
  model->log += '\n';
}

void ModelContext::logInstance(const char* what, QelInstance* i) {
  if (!model->tracing) return;
  model->log += what;
  model->log += " " + model->instanceText(i) + " p" +
                std::to_string(i->priority) + "\n";
}

void ModelContext::logRecord(const char* what, QelInfo* r) {
  if (!model->tracing) return;
  model->log += what;
  model->log += " " + std::to_string(static_cast<const MFact*>(r->object)->id) + "\n";
}

// A wait partial by its first fact's id: its parent holds that fact.
void ModelContext::logWait(const char* what, QelRuleMem* r, QelPartial* w) {
  if (!model->tracing) return;
  model->log += what;
  if (r != nullptr) model->log += " r" + std::to_string(r->ruleNode->index);
  model->log += " " +
                std::to_string(static_cast<const MFact*>(w->parent->record->object)->id) +
                "\n";
}

void ModelContext::notifyDisableWatchdog(QelRuleMem* r, QelPartial* p) {
  if (!model->tracing) return;
  const int rule = r->ruleNode->index;
  model->log += "complete r" + std::to_string(rule) +
                model->partialText(p, model->ruleLength(rule)) + "\n";
}

void ModelContext::logPacket(const char* what, QelPacketMem* m) {
  if (!model->tracing) return;
  model->log += what;
  model->log += " P" + std::to_string(m->packet->index) + "\n";
}

int ModelActionNode::execute(QelContext* context, QelPartial* partial) {
  // A local copy keeps GCC 12's vptr check from misreading `this` here.
  const QelActionFunction call = action;
  (context->*call)(partial);
  return static_cast<ModelContext*>(context)->model->afterAction(partial);
}

// Callback tables: one member function per node index.
template <int I> unsigned char ModelContext::discT(QelInfo* r) {
  return model->discTest(I, r);
}
template <int I> unsigned char ModelContext::joinT(QelPartial* p, QelInfo* r) {
  return model->joinTest(I, p, r);
}
template <int I> unsigned char ModelContext::alphaCountT(int n) {
  return model->alphaCount(I, n);
}
template <int I>
unsigned char ModelContext::alphaCollectT(const QelOrderedSet* s) {
  return model->alphaCount(I, s->count);
}
template <int I> unsigned char ModelContext::joinCountT(QelPartial*, int n) {
  return model->joinCount(I, n);
}
template <int I>
unsigned char ModelContext::joinCollectT(QelPartial*, QelOrderedSet* s) {
  return model->joinCount(I, s->count);
}
template <int I> void* ModelContext::keyT(QelPartial* p) {
  return model->key(I, p);
}
template <int I> void* ModelContext::leftKeyT(QelPartial* p) {
  return model->leftKey(I, p);
}
template <int I> void* ModelContext::rightKeyT(QelInfo* r) {
  return model->rightKey(I, r);
}
template <int I> int ModelContext::prioT(QelPartial* p) {
  return model->prio(I, p);
}
template <int I> void ModelContext::actionT(QelPartial* p) {
  model->action(I, p);
}
template <int I> void ModelContext::watchdogT(QelPartial* p) {
  model->watchdog(I, p);
}
template <int I> int ModelContext::waitT(QelPartial* p) {
  return model->waitTime(I, p);
}

namespace {

template <typename T, template <int> class F, std::size_t... I>
std::array<T, sizeof...(I)> table(std::index_sequence<I...>) {
  return {F<static_cast<int>(I)>::get()...};
}
#define QEL_MODEL_TABLE(NAME, TYPE, MEMBER)                          \
  template <int I>                                                   \
  struct NAME##Of {                                                  \
    static TYPE get() { return static_cast<TYPE>(&ModelContext::MEMBER<I>); } \
  };                                                                 \
  TYPE NAME(int i) {                                                 \
    static const auto t = table<TYPE, NAME##Of>(                      \
        std::make_index_sequence<kCallbackSlots>{});                 \
    return t[i];                                                     \
  }
QEL_MODEL_TABLE(discFn, QelDiscTest, discT)
QEL_MODEL_TABLE(joinFn, QelJoinTest, joinT)
QEL_MODEL_TABLE(alphaCountFn, QelAlphaCountTest, alphaCountT)
QEL_MODEL_TABLE(alphaCollectFn, QelAlphaCollectTest, alphaCollectT)
QEL_MODEL_TABLE(joinCountFn, QelJoinCountTest, joinCountT)
QEL_MODEL_TABLE(joinCollectFn, QelJoinCollectTest, joinCollectT)
QEL_MODEL_TABLE(keyFn, QelKeyFunction, keyT)
QEL_MODEL_TABLE(leftKeyFn, QelKeyFunction, leftKeyT)
QEL_MODEL_TABLE(rightKeyFn, QelRecordKeyFunction, rightKeyT)
QEL_MODEL_TABLE(prioFn, QelPriorityFunction, prioT)
QEL_MODEL_TABLE(actionFn, QelActionFunction, actionT)
QEL_MODEL_TABLE(watchdogFn, QelActionFunction, watchdogT)
QEL_MODEL_TABLE(waitFn, QelWaitTimeFunction, waitT)
#undef QEL_MODEL_TABLE

QelPatternType patternType(Kind k) {
  switch (k) {
    case Kind::Plain: return QelPatternPlain;
    case Kind::ObjUnique: return QelPatternPlainObjUnique;
    case Kind::Exists: return QelPatternExists;
    case Kind::Not: return QelPatternNot;
    case Kind::Count: return QelPatternCount;
    case Kind::Collect: return QelPatternCollect;
    case Kind::Inline: return QelPatternInline;
    case Kind::Wait: return QelPatternWait;
    default: return QelPatternPacket;
  }
}

}  // namespace

std::unique_ptr<QelNetwork> buildNetwork(const NetPlan& plan, bool keys) {
  auto net = std::make_unique<ModelNetwork>();
  int alphas = static_cast<int>(plan.rules.size());
  int classes = static_cast<int>(plan.superOf.size());
  net->names.reserve(classes + plan.packets + plan.rules.size());
  net->init(0, plan.packets, static_cast<int>(plan.rules.size()),
            static_cast<int>(plan.discs.size()), alphas, plan.rights,
            plan.joins);
  for (int c = 0; c < classes; ++c) {
    net->names.push_back("C" + std::to_string(c));
    ModelClassNode* node = new ModelClassNode(net.get(), c);
    node->name = const_cast<char*>(net->names.back().c_str());
    node->kind = plan.kind[c];
    if (node->kind == 2) node->equality = sameSlots;
    net->classes.append(node);
  }
  for (int c = 0; c < classes; ++c) {
    if (plan.superOf[c] >= 0) {
      static_cast<QelClassNode*>(net->classes[c])
          ->setSuperClass(static_cast<QelClassNode*>(net->classes[plan.superOf[c]]));
    }
  }
  for (int p = 0; p < plan.packets; ++p) {
    net->names.push_back("p" + std::to_string(p));
    net->initPacket(static_cast<QelPacket*>(net->packets[p]),
                    const_cast<char*>(net->names.back().c_str()), 0, 0);
  }
  for (size_t d = 0; d < plan.discs.size(); ++d) {
    const DiscPlan& s = plan.discs[d];
    net->initDisc(static_cast<QelDiscNode*>(net->discs[d]), s.cls, s.right,
                  s.nullTest ? GetQelNullDisc() : discFn(static_cast<int>(d)));
  }
  for (size_t r = 0; r < plan.rules.size(); ++r) {
    const RulePlan& rule = plan.rules[r];
    int last = -1;
    for (size_t j = 0; j < rule.pats.size(); ++j) {
      const PatternPlan& p = rule.pats[j];
      if (j == 0) {
        QelAlphaNode* alpha = static_cast<QelAlphaNode*>(net->alphas[p.node]);
        if (p.kind == Kind::Packet) {
          static_cast<QelPacket*>(net->packets[p.packet])
              ->addAlphaNode(static_cast<QelPacketState>(p.packetState), p.node);
          continue;
        }
        net->addAlphaNode(static_cast<QelDiscNode*>(net->discs[p.disc]), p.node,
                          p.noUpdateMask, patternType(p.kind));
        if (p.kind == Kind::Count) alpha->countTest = alphaCountFn(p.node);
        if (p.kind == Kind::Collect) {
          alpha->collectTest =
              p.nullCollect ? GetQelNullAlphaCollect() : alphaCollectFn(p.node);
        }
        continue;
      }
      int leftIsJoin = j > 1 ? 1 : 0;
      int left = j > 1 ? rule.pats[j - 1].node : rule.pats[0].node;
      int right = p.disc >= 0 ? plan.discs[p.disc].right : -1;
      QelJoinTest test = p.nullJoin || p.kind == Kind::Packet ||
                                 p.kind == Kind::Wait
                             ? GetQelNullJoin()
                             : joinFn(p.node);
      QelJoinNode* join = static_cast<QelJoinNode*>(net->joins[p.node]);
      if (p.kind == Kind::ObjUnique) {
        net->initJoin(join, leftIsJoin, left, right, test, p.indepMask,
                      p.noUpdateMask, patternType(p.kind), keyFn(p.node));
      } else if (p.kind == Kind::Collect) {
        net->initJoin(join, leftIsJoin, left, right, test, p.indepMask,
                      p.noUpdateMask, patternType(p.kind),
                      p.nullCollect ? GetQelNullJoinCollect()
                                    : joinCollectFn(p.node));
      } else {
        net->initJoin(join, leftIsJoin, left, right, test, p.indepMask,
                      p.noUpdateMask, patternType(p.kind));
      }
      if (p.kind == Kind::Count) join->countTest = joinCountFn(p.node);
      if (p.kind == Kind::Wait) join->waitTimeFunction = waitFn(p.node);
      if (p.kind == Kind::Packet) {
        join->packetState = static_cast<QelPacketState>(p.packetState);
        static_cast<QelPacket*>(net->packets[p.packet])->joinNodes.append(join);
      }
      if (keys && p.eqTerm >= 0) {
        net->initJoinKeys(join, leftKeyFn(p.node), rightKeyFn(p.node));
      }
      last = p.node;
    }
    net->names.push_back("r" + std::to_string(r));
    net->initRule(net->rules[r], rule.packet,
                  const_cast<char*>(net->names.back().c_str()),
                  rule.dynamic ? prioFn(static_cast<int>(r)) : GetQelNullPrio(),
                  rule.staticPrio, last,
                  rule.wait >= 0 ? static_cast<int>(rule.pats.size()) - rule.wait
                                 : -1);
    net->initAction(static_cast<int>(r), actionFn(static_cast<int>(r)), 0,
                    rule.pats.size() > 1 ? 1 : 0,
                    rule.pats.size() > 1 ? last : rule.pats[0].node);
    if (rule.watchdog) {
      net->initAction(static_cast<int>(r), watchdogFn(static_cast<int>(r)), 1, 1,
                      rule.pats[rule.wait].node);
    }
  }
  return net;
}

Model::Model(const NetPlan& plan, QelNetwork* net, bool checking,
             bool tracing)
    : tracing(tracing), plan_(plan), checking_(checking) {
  ctx_.model = this;
  joinOwner_.assign(plan.joins, {-1, -1});
  alphaOwner_.assign(plan.rules.size(), -1);
  for (size_t r = 0; r < plan.rules.size(); ++r) {
    const RulePlan& rule = plan.rules[r];
    alphaOwner_[rule.pats[0].node] = static_cast<int>(r);
    for (size_t j = 1; j < rule.pats.size(); ++j) {
      joinOwner_[rule.pats[j].node] = {static_cast<int>(r), static_cast<int>(j)};
    }
  }
  handles_.resize(plan.handleClass.size());
  for (size_t h = 0; h < handles_.size(); ++h) {
    handles_[h].f = newFact(static_cast<int>(h));
  }
  active_.assign(plan.packets, 0);
  pending_.assign(plan.packets, 0);
  tok_.assign(plan.rules.size(), 0);
  matches_.resize(plan.rules.size());
  windows_.resize(plan.rules.size());
  held_.resize(plan.rules.size());
  if (plan.tick >= 0) {
    clock_ = new MFact{0, {0, 0, 0}, -1, plan.tick};
  }
  ctx_.start(net);
  seedTokens();
  for (size_t r = 0; r < plan.rules.size(); ++r) {
    enumerate(static_cast<int>(r), &matches_[r]);
    for (auto& m : matches_[r]) addInst(static_cast<int>(r), m.first, m.second.prio);
  }
}

Model::~Model() {
  // Empties the context so that every fact is gone before the context is.
  tlsDeleting = this;
  ctx_.reset();
  tlsDeleting = nullptr;
  bury();
  delete clock_;  // external: the library never deletes it
  for (auto& h : handles_) {
    if (h.f != nullptr) {
      byId_.erase(h.f->id);
      delete h.f;
      h.f = nullptr;
    }
  }
}

MFact* Model::newFact(int h) {
  MFact* f = new MFact;
  f->id = nextId_++;
  f->s[0] = (f->id * 7 + 1) % kValues;
  f->s[1] = (f->id * 5 + 2) % kValues;
  f->s[2] = (f->id * 3) % kValues;
  f->handle = h;
  f->cls = plan_.handleClass[h];
  byId_[f->id] = f;
  return f;
}

// The oracle decides on its own which facts leave; checkGone compares.
void Model::deleted(MFact* f) {
  f->gone = true;
  graveyard_.push_back(f);
}

void Model::bury() {
  for (MFact* f : graveyard_) {
    Handle& h = handles_[f->handle];
    if (h.f == f) {
      h.f = nullptr;
      h.inWM = false;
    }
    byId_.erase(f->id);
    entered_.erase(f->id);
    delete f;
  }
  graveyard_.clear();
  expectGone_.clear();
}

std::string Model::checkGone() {
  std::set<int> gone;
  for (const MFact* f : graveyard_) {
    if (!gone.insert(f->id).second) return "fact " + std::to_string(f->id) + " deleted twice";
  }
  for (int id : expectGone_) {
    if (!gone.count(id)) return "fact " + std::to_string(id) + " not deleted";
  }
  for (int id : gone) {
    if (!expectGone_.count(id)) return "fact " + std::to_string(id) + " deleted";
  }
  return "";
}

// The logical fact in memory that an assertion of `f` meets, if any.
const MFact* Model::equalLogical(const MFact* f) const {
  for (const Handle& h : handles_) {
    if (h.inWM && h.f != f && h.f->cls == f->cls &&
        std::equal(h.f->s, h.f->s + kSlotCount, f->s)) {
      return h.f;
    }
  }
  return nullptr;
}

// Supports end with their matches; a fact whose last support ends leaves,
// which may end more matches.
void Model::dropSupports() {
  bool lost = !supports_.empty();
  while (lost) {
    lost = false;
    std::vector<Matches> now(plan_.rules.size());
    for (size_t r = 0; r < plan_.rules.size(); ++r) {
      enumerate(static_cast<int>(r), &now[r]);
    }
    for (auto it = supports_.begin(); it != supports_.end();) {
      for (auto k = it->second.begin(); k != it->second.end();) {
        k = now[k->first].count(k->second) ? std::next(k) : it->second.erase(k);
      }
      if (!it->second.empty()) {
        ++it;
        continue;
      }
      MFact* f = byId_[it->first];
      handles_[f->handle].inWM = false;
      expectGone_.insert(f->id);
      for (size_t d = 0; d < plan_.discs.size(); ++d) {
        if (discPass(plan_.discs[d], f)) tokenEvent(static_cast<int>(d), 2);
      }
      it = supports_.erase(it);
      lost = true;
      ++stats.unsupported;
    }
  }
}

// Rule r's action: asserts, justified by its match, a logical fact whose
// slots follow from the match, into the first free handle of the class.
std::string Model::assertLogical(int r, QelPartial* p, const Key& k) {
  const int cls = plan_.rules[r].asserts;
  MFact* f = nullptr;
  for (Handle& h : handles_) {
    if (h.f != nullptr && !h.f->gone && !h.inWM && h.f->cls == cls) {
      f = h.f;
      break;
    }
  }
  if (f == nullptr) return "";
  const int n = ruleLength(r);
  const MFact* facts[4];
  factsOf(p, n, facts);
  for (int i = 0; i < kSlotCount; ++i) {
    int sum = r;
    for (int pos = 0; pos < n; ++pos) {
      if (facts[pos] != nullptr) sum += facts[pos]->s[(i + pos) % kSlotCount];
    }
    f->s[i] = sum % kValues;
  }
  const MFact* held = equalLogical(f);
  std::vector<Matches> before = matches_;
  ++changeCount_;
  ctx_.justify(p);
  void* back = ctx_.assertObject(cls, f);
  ctx_.justify(nullptr);
  if (held != nullptr) {
    expectGone_.insert(f->id);
    auto sup = supports_.find(held->id);
    if (sup != supports_.end()) sup->second.insert({r, k});
    return back == held ? "" : "a logical duplicate did not return the fact held";
  }
  handles_[f->handle].inWM = true;
  supports_[f->id].insert({r, k});
  ++stats.justified;
  ++seq_;
  for (size_t d = 0; d < plan_.discs.size(); ++d) {
    if (discPass(plan_.discs[d], f)) {
      tokenEvent(static_cast<int>(d), 1);
      enter(f, static_cast<int>(d));
    }
  }
  std::vector<char> none;
  asserting_ = f->id;
  settle(before, -1, 0, none, none);
  asserting_ = -1;
  return back == f ? "" : "a logical assertion returned another object";
}

void Model::refill() {
  for (size_t h = 0; h < handles_.size(); ++h) {
    if (handles_[h].f == nullptr) handles_[h].f = newFact(static_cast<int>(h));
  }
}

bool Model::joinTest(int j, QelPartial* p, QelInfo* r) {
  auto owner = joinOwner_[j];
  const PatternPlan& pat = plan_.rules[owner.first].pats[owner.second];
  const MFact* facts[4];
  factsOf(p, owner.second, facts);
  const MFact* cand = r != nullptr ? fact(r) : nullptr;
  if (pat.kind == Kind::ObjUnique && r->object != keyObject(pat, facts)) {
    return false;
  }
  // A window due when it opened stays in the wait join's memory without
  // being passed on: a join below walking that memory without keys tests
  // it, with keys it never meets it; either way it yields nothing.
  const RulePlan& rule = plan_.rules[owner.first];
  const bool expired =
      rule.wait >= 0 && owner.second == rule.wait + 1 &&
      static_cast<QelRefCountedPartial*>(p)->removed;
  if (tracing && pat.eqTerm >= 0 && cand != nullptr && !expired) {
    const Term& t = pat.terms[pat.eqTerm];
    if (cand->s[t.a.slot] == facts[t.b.pos]->s[t.b.slot]) {
      log += "test j" + std::to_string(j) +
             partialText(p, owner.second) + " " +
             std::to_string(cand->id) + "\n";
    }
  }
  return terms(pat, facts, cand);
}

// The ids of the facts along a partial, "-" for tokens and collect records.
std::string Model::partialText(QelPartial* p, int length) const {
  const MFact* facts[4];
  factsOf(p, length, facts);
  std::string out = "(";
  for (int pos = 0; pos < length; ++pos) {
    if (pos > 0) out += ",";
    out += facts[pos] != nullptr ? std::to_string(facts[pos]->id) : "-";
  }
  return out + ")";
}

bool Model::alphaCount(int a, int n) const {
  return countCond(plan_.rules[alphaOwner_[a]].pats[0], n);
}

bool Model::joinCount(int j, int n) const {
  auto owner = joinOwner_[j];
  return countCond(plan_.rules[owner.first].pats[owner.second], n);
}

void* Model::key(int j, QelPartial* p) {
  auto owner = joinOwner_[j];
  const MFact* facts[4];
  factsOf(p, owner.second, facts);
  return keyObject(plan_.rules[owner.first].pats[owner.second], facts);
}

// Equality keys: the value plus one, as an identity.
void* Model::leftKey(int j, QelPartial* p) {
  auto owner = joinOwner_[j];
  const PatternPlan& pat = plan_.rules[owner.first].pats[owner.second];
  const MFact* facts[4];
  factsOf(p, owner.second, facts);
  const Term& t = pat.terms[pat.eqTerm];
  return reinterpret_cast<void*>(
      static_cast<intptr_t>(facts[t.b.pos]->s[t.b.slot] + 1));
}

void* Model::rightKey(int j, QelInfo* r) {
  auto owner = joinOwner_[j];
  const PatternPlan& pat = plan_.rules[owner.first].pats[owner.second];
  const Term& t = pat.terms[pat.eqTerm];
  return reinterpret_cast<void*>(static_cast<intptr_t>(fact(r)->s[t.a.slot] + 1));
}

// A rule with a wait join computes its priority on the wait partial.
int Model::prio(int r, QelPartial* p) {
  const RulePlan& rule = plan_.rules[r];
  const MFact* facts[4];
  factsOf(p, rule.wait >= 0 ? rule.wait + 1 : static_cast<int>(rule.pats.size()),
          facts);
  return priority(r, facts);
}

int Model::waitTime(int j, QelPartial* p) const {
  auto owner = joinOwner_[j];
  const MFact* facts[4];
  factsOf(p, owner.second, facts);
  return deadline(plan_.rules[owner.first], facts[0], ctx_.time);
}

void Model::action(int r, QelPartial* p) { fired_.push_back({r, tupleKey(r, p)}); }

void Model::watchdog(int r, QelPartial* w) {
  fired_.push_back({r, Key{fact(w->parent->record)->id, kWatchdogPos}});
}

std::pair<int, Key> Model::instanceKey(QelInstance* i) const {
  QelRuleMem* mem = i->action->ruleMem;
  const int r = mem->ruleNode->index;
  if (i->action == mem->watchdogAction) {
    return {r, Key{fact(i->partial->parent->record)->id, kWatchdogPos}};
  }
  return {r, tupleKey(r, i->partial)};
}

Key Model::tupleKey(int r, QelPartial* p) const {
  int n = static_cast<int>(plan_.rules[r].pats.size());
  Key k(n);
  QelPartial* q = p;
  for (int pos = n - 1; pos >= 0; --pos, q = q->parent) {
    if (q->record == nullptr) {
      k[pos] = kNullPos;
    } else if (q->record->classMem == nullptr) {
      k[pos] = kCollectPos;
    } else {
      k[pos] = static_cast<const MFact*>(q->record->object)->id;
    }
  }
  return k;
}

// A firing: the instance has left the agenda, the action runs.
int Model::afterAction(QelPartial* p) {
  ++firedCount_;
  const std::pair<int, Key> key = fired_.back();
  if (checking_ && fireFailure_.empty()) {
    if (!agenda_.count(key)) {
      fireFailure_ = "fired " + tupleText(key.first, key.second) +
                     ", which the oracle has no instance for";
    } else {
      // It must have stood first: before everything the library still holds.
      std::vector<std::pair<int, Key>> order(1, key);
      for (QelInstance* i = ctx_.agenda->first; i != nullptr; i = i->next) {
        auto k = instanceKey(i);
        if (agenda_.count(k)) order.push_back(k);
      }
      fireFailure_ = checkOrder(order);
    }
  }
  alts_.erase(key);
  agenda_.erase(key);
  // Its instance held an expired match: the match goes with it.
  if (held_[key.first].erase(key.second)) matches_[key.first].erase(key.second);
  if (plan_.rules[key.first].asserts >= 0) {
    std::string m = assertLogical(key.first, p, key.second);
    if (fireFailure_.empty()) fireFailure_ = m;
  }
  countDown(key.first);
  return stopAt_ > 0 && firedCount_ == stopAt_ ? -5 : 0;
}

int Model::discCount(int d) const {
  int n = 0;
  for (auto& h : handles_) {
    if (h.inWM && discPass(plan_.discs[d], h.f)) ++n;
  }
  return n;
}

void Model::enumerate(int r, Matches* out) const {
  out->clear();
  const RulePlan& rule = plan_.rules[r];
  int n = static_cast<int>(rule.pats.size());
  const MFact* facts[4] = {nullptr, nullptr, nullptr, nullptr};
  Key ids(n, kNullPos);
  std::vector<int> sizes(n, 0);
  const PatternPlan& head = rule.pats[0];
  if (head.kind == Kind::Plain) {
    for (auto& h : handles_) {
      if (!h.inWM || !discPass(plan_.discs[head.disc], h.f)) continue;
      facts[0] = h.f;
      ids[0] = h.f->id;
      extend(r, 1, facts, ids, sizes, out);
    }
    return;
  }
  if (!tok_[r]) return;
  if (head.kind == Kind::Collect) {
    ids[0] = kCollectPos;
    sizes[0] = discCount(head.disc);
  }
  extend(r, 1, facts, ids, sizes, out);
}

void Model::extend(int r, int j, const MFact** facts, Key& ids,
                   std::vector<int>& sizes, Matches* out) const {
  const RulePlan& rule = plan_.rules[r];
  int n = static_cast<int>(rule.pats.size());
  if (j == n) {
    TupleInfo info;
    info.sizes = sizes;
    info.prio = priority(r, facts);
    (*out)[ids] = info;
    return;
  }
  const PatternPlan& p = rule.pats[j];
  facts[j] = nullptr;
  ids[j] = kNullPos;
  sizes[j] = 0;
  switch (p.kind) {
    case Kind::Plain:
    case Kind::ObjUnique: {
      void* want = p.kind == Kind::ObjUnique ? keyObject(p, facts) : nullptr;
      for (auto& h : handles_) {
        if (!h.inWM || !discPass(plan_.discs[p.disc], h.f)) continue;
        if (p.kind == Kind::ObjUnique && h.f != want) continue;
        if (!terms(p, facts, h.f)) continue;
        facts[j] = h.f;
        ids[j] = h.f->id;
        extend(r, j + 1, facts, ids, sizes, out);
      }
      facts[j] = nullptr;
      ids[j] = kNullPos;
      return;
    }
    case Kind::Inline:
      if (terms(p, facts, nullptr)) extend(r, j + 1, facts, ids, sizes, out);
      return;
    case Kind::Packet:
      if (packetOpen(p)) extend(r, j + 1, facts, ids, sizes, out);
      return;
    case Kind::Wait:  // through any window: see syncWindows
      extend(r, j + 1, facts, ids, sizes, out);
      return;
    default: {
      int count = 0;
      for (auto& h : handles_) {
        if (h.inWM && discPass(plan_.discs[p.disc], h.f) &&
            terms(p, facts, h.f)) {
          ++count;
        }
      }
      if (!countCond(p, count)) return;
      if (p.kind == Kind::Collect) {
        ids[j] = kCollectPos;
        sizes[j] = count;
      }
      extend(r, j + 1, facts, ids, sizes, out);
      ids[j] = kNullPos;
      sizes[j] = 0;
      return;
    }
  }
}

// What the first pattern's token memory holds after seeding.
void Model::seedTokens() {
  for (size_t r = 0; r < plan_.rules.size(); ++r) {
    const PatternPlan& head = plan_.rules[r].pats[0];
    switch (head.kind) {
      case Kind::Not: tok_[r] = discCount(head.disc) == 0; break;
      case Kind::Count:
      case Kind::Collect: tok_[r] = countCond(head, discCount(head.disc)); break;
      case Kind::Packet: tok_[r] = packetOpen(head); break;
      default: break;
    }
  }
}

// A record's change at disc d reaches the token memories fed by it:
// event 0 insertion of a modified record, 1 new record, 2 retraction. The
// counts are already those after the change.
void Model::tokenEvent(int d, int event) {
  if (!checking_) return;
  for (size_t r = 0; r < plan_.rules.size(); ++r) {
    const PatternPlan& head = plan_.rules[r].pats[0];
    if (head.disc != d) continue;
    int n = discCount(d);
    switch (head.kind) {
      case Kind::Exists: tok_[r] = n >= 1; break;
      case Kind::Not:
        if (event != 2) tok_[r] = 0;
        else if (n == 0) tok_[r] = 1;
        break;
      case Kind::Count:
        if (event != 0) tok_[r] = countCond(head, n);
        break;
      case Kind::Collect: tok_[r] = countCond(head, n); break;
      default: break;
    }
  }
}

// Whether a refresh of fact `factId` makes the continuing match `ids` of
// rule r fire again: the fact stands in the match, and no counted condition
// after it depends on it (one that does is counted again, and what it
// passes on is a plain update of its unchanged result).
bool Model::refires(int r, const Key& ids, int factId) const {
  const RulePlan& rule = plan_.rules[r];
  const int n = static_cast<int>(rule.pats.size());
  for (int pos = 0; pos < n; ++pos) {
    if (ids[pos] != factId || !addsObject(rule.pats[pos].kind)) continue;
    bool counted = false;
    for (int j = pos + 1; j < n && !counted; ++j) {
      const PatternPlan& p = rule.pats[j];
      if (!isCounted(p.kind)) continue;
      for (const Term& t : p.terms) {
        counted = counted || t.a.pos == pos || t.b.pos == pos;
      }
    }
    if (!counted) return true;
  }
  return false;
}

void Model::addInst(int r, const Key& k, int prio) {
  OInst inst;
  inst.prio = prio;
  inst.rec = changeCount_;
  inst.by = asserting_;
  agenda_[{r, k}] = inst;
  int p = plan_.rules[r].packet;
  if (p >= 0) ++pending_[p];
}

void Model::countDown(int r) {
  int p = plan_.rules[r].packet;
  if (p >= 0 && pending_[p] > 0) --pending_[p];
}

void Model::dropInst(int r, const Key& k) {
  auto it = agenda_.find({r, k});
  if (it == agenda_.end()) return;
  agenda_.erase(it);
  countDown(r);
}

// After a working-memory or packet operation: matches that went are dropped
// with their instances, new ones get instances, and for an update (mode 1
// or 2 of fact `changed`) continuing matches get what reaches them.
void Model::settle(const std::vector<Matches>& before, int changed, int mode,
                   const std::vector<char>& oldPass,
                   const std::vector<char>& newPass) {
  if (!checking_) return;
  dropSupports();
  bool taintAll = reordered_;
  for (auto& e : agenda_) taintAll = taintAll || e.second.tainted;
  reordered_ = false;
  std::vector<std::pair<int, Key>> created;
  for (size_t ri = 0; ri < plan_.rules.size(); ++ri) {
    int r = static_cast<int>(ri);
    const RulePlan& rule = plan_.rules[r];
    enumerate(r, &matches_[r]);
    if (rule.wait >= 0) syncWindows(r, before[r], changed, &created);
    for (auto& m : before[r]) {
      if (!matches_[r].count(m.first)) dropInst(r, m.first);
    }
    // Ambiguous: the fact changed its membership in one of two or more of
    // the rule's discriminations it is relevant to; intermediate states of
    // the operation may then remove and re-create a continuing match.
    bool ambiguous = false;
    if (changed >= 0) {
      // So it may also when the fact sits in a match before a counted join
      // whose right input holds it: the join's re-count of that match can
      // meet some of its pairs updated and others not yet.
      int relevant = 0;
      bool moved = false, objectBefore = false, countedAfter = false;
      for (const PatternPlan& p : rule.pats) {
        if (p.disc < 0) continue;
        bool rel = oldPass[p.disc] || newPass[p.disc];
        if (!rel) continue;
        ++relevant;
        if (oldPass[p.disc] != newPass[p.disc]) moved = true;
        if (addsObject(p.kind)) objectBefore = true;
        if (isCounted(p.kind) && objectBefore) countedAfter = true;
      }
      ambiguous = relevant >= 2 && (moved || countedAfter);
    }
    for (auto& m : matches_[r]) {
      auto old = before[r].find(m.first);
      if (old == before[r].end()) {
        if (silent_.erase({r, m.first})) continue;
        addInst(r, m.first, m.second.prio);
        created.push_back({r, m.first});
        continue;
      }
      if (changed < 0) continue;
      // An update keeps every continuing instance's priority current; a
      // refresh makes an instance where it refires.
      auto key = std::make_pair(r, m.first);
      auto it = agenda_.find(key);
      bool had = it != agenda_.end();
      OInst inst = had ? it->second : OInst();
      bool present = had;
      if (present && inst.prio != m.second.prio) {
        inst.prio = m.second.prio;
        inst.tainted = true;
        reordered_ = true;
        ++stats.reprioritised;
      } else if (!present && mode == 1 && refires(r, m.first, changed)) {
        present = true;
        inst.prio = m.second.prio;
        inst.rec = changeCount_;
        inst.tainted = false;
        created.push_back(key);
        ++stats.refires;
      }
      if (present && !had) {
        int p = rule.packet;
        if (p >= 0) ++pending_[p];
      }
      if (present) agenda_[key] = inst;
      if (ambiguous) {
        Alt alt;
        alt.primary = present;
        alt.inst = inst;
        alt.fresh.prio = m.second.prio;
        alt.fresh.rec = changeCount_;
        alt.fresh.tainted = true;
        alts_[key] = alt;
        ++stats.ambiguous;
      }
    }
  }
  silent_.clear();
  if (taintAll || reordered_) {
    for (auto& k : created) {
      auto it = agenda_.find(k);
      if (it != agenda_.end()) it->second.tainted = true;
    }
  }
}

// Brings rule r's windows up to date with the working memory and the time,
// and narrows its matches (through any window) to those the library holds.
void Model::syncWindows(int r, const Matches& before, int changed,
                        std::vector<std::pair<int, Key>>* created) {
  const RulePlan& rule = plan_.rules[r];
  std::map<int, Window>& windows = windows_[r];
  std::set<int> firsts;
  for (auto& h : handles_) {
    if (h.inWM && discPass(plan_.discs[rule.pats[0].disc], h.f)) {
      firsts.insert(h.f->id);
    }
  }
  for (auto it = windows.begin(); it != windows.end();) {
    if (firsts.count(it->first)) {
      ++it;
      continue;
    }
    dropInst(r, Key{it->first, kWatchdogPos});
    it = windows.erase(it);
  }
  // A change of the time, or of a first fact's deadline, expires what is due.
  for (auto& w : windows) {
    if (w.second.expired) continue;
    if (w.first == changed) {
      w.second.deadline = deadline(rule, byId_.at(w.first), time_);
      w.second.queued = ++queued_;
    }
    if (w.second.deadline <= time_) expire(r, w.first, before, created);
  }
  const bool chain = rule.pats.size() > 2;
  for (int id : firsts) {
    if (windows.count(id)) continue;
    Window& w = windows[id];
    ++stats.waits;
    w.deadline = deadline(rule, byId_.at(id), time_);
    w.queued = ++queued_;
    if (w.deadline > time_) continue;
    // Due at once: every watchdog fires, and the window passes nothing on
    // until the first fact is updated.
    w.expired = true;
    ++stats.expiries;
    if (rule.watchdog) addWatchdog(r, id, created);
    if (!chain) silent_.insert({r, Key{id, kNullPos}});
  }
  // With no pattern after it, the wait join's memory is the last one: every
  // window stays in it.
  if (!chain) return;
  Matches& now = matches_[r];
  std::set<Key>& held = held_[r];
  for (auto it = held.begin(); it != held.end();) {
    it = now.count(*it) ? std::next(it) : held.erase(it);
  }
  for (auto it = now.begin(); it != now.end();) {
    Window& w = windows.at(it->first[0]);
    if (w.expired) {
      it = held.count(it->first) ? std::next(it) : now.erase(it);
      continue;
    }
    if (!w.completed) ++stats.completed;
    w.completed = true;
    ++it;
  }
}

// The watchdog fires unless the rule completed in time; matches through the
// window stay only while an instance holds them.
void Model::expire(int r, int first, const Matches& before,
                   std::vector<std::pair<int, Key>>* created) {
  Window& w = windows_[r][first];
  w.expired = true;
  ++stats.expiries;
  const RulePlan& rule = plan_.rules[r];
  if (!w.completed && rule.watchdog) addWatchdog(r, first, created);
  if (rule.pats.size() <= 2) return;
  for (auto& m : before) {
    if (m.first[0] == first && agenda_.count({r, m.first})) held_[r].insert(m.first);
  }
}

void Model::addWatchdog(int r, int first,
                        std::vector<std::pair<int, Key>>* created) {
  const MFact* facts[1] = {byId_.at(first)};
  const Key k{first, kWatchdogPos};
  addInst(r, k, priority(r, facts));
  const Window& w = windows_[r][first];
  OInst& inst = agenda_[{r, k}];
  inst.by = -1;
  inst.queued = w.deadline * (1L << 32) + w.queued;
  created->push_back({r, k});
  ++stats.watchdogs;
}

// No instance is left: the expired matches they held are gone.
void Model::dropHeld() {
  for (size_t r = 0; r < held_.size(); ++r) {
    for (const Key& k : held_[r]) matches_[r].erase(k);
    held_[r].clear();
  }
}

std::string Model::tupleText(int r, const Key& k) const {
  std::string out = "R" + std::to_string(r) + "[";
  for (size_t i = 0; i < k.size(); ++i) {
    if (i) out += ",";
    out += k[i] == kNullPos       ? "_"
           : k[i] == kCollectPos  ? "{}"
           : k[i] == kWatchdogPos ? "watchdog"
                                  : std::to_string(k[i]);
  }
  return out + "]";
}

std::string Model::opUpdate(int h, int mode, const Operation& op) {
  Handle& hd = handles_[h];
  MFact* f = hd.f;
  if (plan_.kind[f->cls] == 2) {
    // A logical object is never modified: the change is only counted.
    ++changeCount_;
    if (op.kind == 'A') {
      if (ctx_.assertObject(f->cls, f) != f) return "assertObject of a known object returned another";
    } else {
      ctx_.updateObject(f, mode == 1 ? 1 : 0);
    }
    return "";
  }
  std::vector<char> oldPass(plan_.discs.size()), newPass(plan_.discs.size());
  for (size_t d = 0; d < plan_.discs.size(); ++d) {
    oldPass[d] = discPass(plan_.discs[d], f);
  }
  if (op.slot >= 0) f->s[op.slot] = op.value;
  for (size_t d = 0; d < plan_.discs.size(); ++d) {
    newPass[d] = discPass(plan_.discs[d], f);
  }
  std::vector<Matches> before = matches_;
  ++changeCount_;
  ++seq_;
  if (op.kind == 'A') {
    void* back = ctx_.assertObject(f->cls, f);
    if (back != f) return "assertObject of a known object returned another";
  } else {
    ctx_.updateObject(f, mode == 1 ? 1 : 0);
  }
  for (size_t d = 0; d < plan_.discs.size(); ++d) {
    if (oldPass[d] && newPass[d]) tokenEvent(static_cast<int>(d), 0);
    if (!oldPass[d] && newPass[d]) {
      tokenEvent(static_cast<int>(d), 1);
      enter(f, static_cast<int>(d));
    }
    if (oldPass[d] && !newPass[d]) tokenEvent(static_cast<int>(d), 2);
  }
  settle(before, f->id, mode, oldPass, newPass);
  return "";
}

std::string Model::apply(const Operation& op) {
  tlsDeleting = this;
  std::string failure;
  std::vector<Matches> before = matches_;
  std::vector<char> none;
  int handleCount = static_cast<int>(handles_.size());
  switch (op.kind) {
    case 'A':
    case 'U': {
      int h = op.a % handleCount;
      Handle& hd = handles_[h];
      if (hd.inWM) {
        failure = opUpdate(h, op.kind == 'A' ? 2 : (op.flag ? 1 : 2), op);
        break;
      }
      if (op.slot >= 0) hd.f->s[op.slot] = op.value;
      if (op.kind == 'U') {
        ctx_.updateObject(hd.f, op.flag ? 1 : 0);  // unknown: nothing happens
        break;
      }
      ++changeCount_;
      const MFact* held =
          plan_.kind[hd.f->cls] == 2 ? equalLogical(hd.f) : nullptr;
      void* back = ctx_.assertObject(hd.f->cls, hd.f);
      if (held != nullptr) {
        // An equal logical fact is held: it becomes unconditional.
        if (back != held) failure = "a logical duplicate did not return the fact held";
        expectGone_.insert(hd.f->id);
        supports_.erase(held->id);
        break;
      }
      if (back != hd.f) failure = "assertObject returned another object";
      hd.inWM = true;
      ++seq_;
      for (size_t d = 0; d < plan_.discs.size(); ++d) {
        if (discPass(plan_.discs[d], hd.f)) {
          tokenEvent(static_cast<int>(d), 1);
          enter(hd.f, static_cast<int>(d));
        }
      }
      asserting_ = hd.f->id;
      settle(before, -1, 0, none, none);
      asserting_ = -1;
      break;
    }
    case 'R': {
      int h = op.a % handleCount;
      Handle& hd = handles_[h];
      MFact* f = hd.f;
      if (!hd.inWM) {
        ctx_.retractObject(f, op.flag ? 1 : 0);  // unknown: nothing happens
        break;
      }
      std::vector<char> pass(plan_.discs.size());
      for (size_t d = 0; d < plan_.discs.size(); ++d) {
        pass[d] = discPass(plan_.discs[d], f);
      }
      ++changeCount_;
      hd.inWM = false;
      supports_.erase(f->id);
      if (op.flag && plan_.kind[f->cls] != 1) expectGone_.insert(f->id);
      ctx_.retractObject(f, op.flag ? 1 : 0);
      for (size_t d = 0; d < plan_.discs.size(); ++d) {
        if (pass[d]) tokenEvent(static_cast<int>(d), 2);
      }
      settle(before, -1, 0, none, none);
      break;
    }
    case 'F': {
      bool empty = ctx_.agenda->first == nullptr;
      fired_.clear();
      stopAt_ = 0;
      firedCount_ = 0;
      int result = ctx_.agenda->fireRule();
      failure = fireFailure_;
      if (empty) {
        if (result != -1) failure = "fireRule on an empty agenda did not return -1";
        break;
      }
      if (fired_.size() != 1) {
        failure = "fireRule fired " + std::to_string(fired_.size());
      } else if (result != fired_[0].first) {
        failure = "fireRule returned another rule index";
      }
      break;
    }
    case 'G': {
      fired_.clear();
      stopAt_ = op.flag;
      firedCount_ = 0;
      int result = ctx_.agenda->fireAllRules();
      failure = fireFailure_;
      bool stopped = op.flag > 0 && firedCount_ == op.flag;
      int expectResult = stopped ? -4 : firedCount_;
      if (result != expectResult) {
        failure = "fireAllRules returned " + std::to_string(result) +
                  ", expected " + std::to_string(expectResult);
      }
      // Discarded instances leave their packet's pending count as fired
      // ones do (the library's choice: otherwise the count never returns
      // to 0 and the packet never blocks again).
      for (auto& e : agenda_) {
        if (stopped) countDown(e.first.first);
      }
      if (!stopped && !agenda_.empty() && failure.empty()) {
        failure = "fireAllRules left " +
                  tupleText(agenda_.begin()->first.first, agenda_.begin()->first.second);
      }
      agenda_.clear();
      alts_.clear();
      dropHeld();
      stopAt_ = 0;
      changeCount_ = 0;
      break;
    }
    case 'X':
    case 'Z': {
      if (op.kind == 'X') {
        ctx_.retractAll();
      } else {
        ctx_.reset();
      }
      for (auto& h : handles_) {
        if (h.f != nullptr && h.inWM) {
          if (plan_.kind[h.f->cls] != 1) expectGone_.insert(h.f->id);
          h.inWM = false;
        }
      }
      supports_.clear();
      agenda_.clear();
      alts_.clear();
      for (auto& w : windows_) w.clear();
      for (auto& h : held_) h.clear();
      clockInWM_ = false;
      std::fill(pending_.begin(), pending_.end(), 0);
      std::fill(tok_.begin(), tok_.end(), 0);
      for (auto& m : matches_) m.clear();
      before = matches_;
      if (op.kind == 'X') seedTokens();
      settle(before, -1, 0, none, none);
      break;
    }
    case 'T': {
      if (plan_.tick < 0) break;
      time_ = op.value;
      ctx_.setTime(time_);
      ++changeCount_;
      if (clockInWM_) {
        ctx_.updateObject(clock_, 0);
      } else if (ctx_.assertObject(plan_.tick, clock_) != clock_) {
        failure = "assertObject of the clock returned another object";
      }
      clockInWM_ = true;
      settle(before, -1, 0, none, none);
      break;
    }
    case 'P':
    case 'Q': {
      if (plan_.packets == 0) break;
      int p = op.a % plan_.packets;
      unsigned char found = 0;
      std::string name = "p" + std::to_string(p);
      bool on = op.kind == 'P';
      if (on) {
        ctx_.activatePacket(name.c_str(), &found);
      } else {
        ctx_.deactivatePacket(name.c_str(), &found);
      }
      if (!found) failure = "packet " + name + " not found";
      if (active_[p] == (on ? 1 : 0)) break;
      ++changeCount_;
      active_[p] = on;
      for (size_t r = 0; r < plan_.rules.size(); ++r) {
        const PatternPlan& head = plan_.rules[r].pats[0];
        if (head.kind == Kind::Packet && head.packet == p) tok_[r] = packetOpen(head);
      }
      settle(before, -1, 0, none, none);
      break;
    }
    default:
      break;
  }
  fireFailure_.clear();
  if (failure.empty() && checking_) failure = checkGone();
  if (failure.empty() && checking_) failure = check();
  bury();
  refill();
  tlsDeleting = nullptr;
  ++stats.ops;
  return failure;
}

std::string Model::checkOrder(const std::vector<std::pair<int, Key>>& order) {
  // Priorities never rise along the agenda; among instances that cannot have
  // been misplaced by a reorder, recency falls and then the rule index rises.
  const OInst* prev = nullptr;
  const OInst* prevClean = nullptr;
  int prevCleanRule = -1;
  for (auto& k : order) {
    const OInst& inst = agenda_[k];
    if (prev != nullptr && prev->prio < inst.prio) {
      return "agenda order: priority " + std::to_string(inst.prio) + " after " +
             std::to_string(prev->prio);
    }
    prev = &inst;
    if (inst.tainted) continue;
    if (prevClean != nullptr && prevClean->prio == inst.prio) {
      if (prevClean->rec < inst.rec ||
          (prevClean->rec == inst.rec && prevCleanRule > k.first)) {
        return "agenda order: " + tupleText(k.first, k.second) +
               " (recency " + std::to_string(inst.rec) + ") after rule " +
               std::to_string(prevCleanRule) + " (recency " +
               std::to_string(prevClean->rec) + ")";
      }
    }
    prevClean = &inst;
    prevCleanRule = k.first;
  }
  for (size_t i = 0; i < order.size(); ++i) {
    for (size_t j = i + 1; j < order.size(); ++j) {
      std::string m = checkTie(order[i], order[j]);
      if (!m.empty()) return m;
    }
  }
  return "";
}

// Two instances of one rule made by one assertion of f, a before b, whose
// tuples differ only at position k, with f once at m. When f came before k
// (the join at k walked its right memory, newest first, for f's partial) or
// right after it at k = 0 (f's join walked the alpha memory), each match
// went down before the next and the one inserted last stands first: the
// fact at k that entered earlier stands first. Elsewhere, and when f also
// passes a counted pattern that may re-count parents in memory order, the
// order depends on how partials were made and is not predicted.
std::string Model::checkTie(const std::pair<int, Key>& a,
                            const std::pair<int, Key>& b) {
  const OInst &x = agenda_[a], &y = agenda_[b];
  // Windows expire earliest deadline first, and in the order they joined
  // the pending list among equal ones; the watchdog made last stands first.
  if (a.first == b.first && x.queued >= 0 && y.queued >= 0 && !x.tainted &&
      !y.tainted && x.rec == y.rec && x.prio == y.prio) {
    ++stats.ties;
    if (x.queued > y.queued) return "";
    return "agenda order: " + tupleText(a.first, a.second) + " before " +
           tupleText(b.first, b.second) + ", which expired later";
  }
  if (a.first != b.first || a.second.size() != b.second.size() ||
      x.tainted || y.tainted || x.by < 0 ||
      x.by != y.by || x.rec != y.rec || x.prio != y.prio) {
    return "";
  }
  const RulePlan& rule = plan_.rules[a.first];
  int k = -1, m = -1;
  for (size_t i = 0; i < a.second.size(); ++i) {
    if (a.second[i] != b.second[i]) {
      if (k >= 0) return "";
      k = static_cast<int>(i);
    }
    if (a.second[i] == x.by || b.second[i] == x.by) {
      if (m >= 0) return "";
      m = static_cast<int>(i);
    }
  }
  if (k < 0 || m < 0 || m == k || !(m < k || (k == 0 && m == 1)) ||
      !addsObject(rule.pats[k].kind)) {
    return "";
  }
  const MFact* f = byId_.at(x.by);
  for (const PatternPlan& p : rule.pats) {
    if (isCounted(p.kind) && discPass(plan_.discs[p.disc], f)) return "";
  }
  const int d = rule.pats[k].disc;
  ++stats.ties;
  if (entered_.at(a.second[k])[d] < entered_.at(b.second[k])[d]) return "";
  return "agenda order: " + tupleText(a.first, a.second) + " before " +
         tupleText(b.first, b.second) + " (position " + std::to_string(k) + ")";
}

std::string Model::check() {
  std::ostringstream err;
  if (ctx_.agenda->changeCount != changeCount_) {
    err << "changeCount " << ctx_.agenda->changeCount << ", expected "
        << changeCount_;
    return err.str();
  }
  // The memory of each rule's last node holds exactly the matches.
  for (size_t ri = 0; ri < plan_.rules.size(); ++ri) {
    int r = static_cast<int>(ri);
    int n = static_cast<int>(plan_.rules[r].pats.size());
    QelLeftMem* mem = ctx_.ruleMems[r]->mainAction->leftMem;
    std::map<Key, std::vector<int>> held;
    for (QelPartial* p = mem->partials; p != nullptr; p = p->nextInMemory) {
      Key k(n);
      std::vector<int> sizes(n, 0);
      QelPartial* q = p;
      for (int pos = n - 1; pos >= 0; --pos, q = q->parent) {
        if (q->record == nullptr) {
          k[pos] = kNullPos;
        } else if (q->record->classMem == nullptr) {
          k[pos] = kCollectPos;
          sizes[pos] = static_cast<const QelOrderedSet*>(q->record->object)->count;
        } else {
          k[pos] = static_cast<const MFact*>(q->record->object)->id;
        }
      }
      if (held.count(k)) return "memory holds " + tupleText(r, k) + " twice";
      held[k] = sizes;
    }
    for (auto& h : held) {
      auto m = matches_[r].find(h.first);
      if (m == matches_[r].end()) {
        return "memory holds " + tupleText(r, h.first) + ", which does not match";
      }
      if (m->second.sizes != h.second) {
        return "collect sizes of " + tupleText(r, h.first) + " differ";
      }
    }
    for (auto& m : matches_[r]) {
      if (!held.count(m.first)) return "match " + tupleText(r, m.first) + " missing";
    }
    stats.matches += static_cast<long>(held.size());
  }
  // The agenda: rule, tuple, priority and recency of every instance.
  std::vector<std::pair<int, Key>> order;
  std::set<std::pair<int, Key>> seen;
  for (QelInstance* i = ctx_.agenda->first; i != nullptr; i = i->next) {
    auto key = instanceKey(i);
    const int r = key.first;
    if (!seen.insert(key).second) {
      return "two instances of " + tupleText(r, key.second);
    }
    order.push_back(key);
    auto alt = alts_.find(key);
    if (alt != alts_.end()) {
      const OInst& f = alt->second.fresh;
      if (i->priority == f.prio && i->recency == f.rec) {
        if (!agenda_.count(key) && plan_.rules[r].packet >= 0) {
          ++pending_[plan_.rules[r].packet];
        }
        agenda_[key] = f;
        ++stats.fresh;
        ++stats.instances;
        continue;
      }
    }
    auto it = agenda_.find(key);
    if (it == agenda_.end()) {
      err << "agenda has " << tupleText(r, key.second) << ":" << i->priority
          << " recency " << i->recency << ", the oracle has no instance";
      return err.str();
    }
    if (it->second.prio != i->priority || it->second.rec != i->recency) {
      err << "instance " << tupleText(r, key.second) << " priority "
          << i->priority << " recency " << i->recency << ", expected "
          << it->second.prio << " " << it->second.rec;
      return err.str();
    }
    ++stats.instances;
  }
  for (auto& a : alts_) {
    if (!seen.count(a.first)) {
      // No instance: right only when the prediction has none either (a
      // removal and re-creation always leaves one).
      if (a.second.primary) {
        err << "instance " << tupleText(a.first.first, a.first.second)
            << " missing";
        return err.str();
      }
      agenda_.erase(a.first);
    }
  }
  alts_.clear();
  for (auto& e : agenda_) {
    if (!seen.count(e.first)) {
      err << "instance " << tupleText(e.first.first, e.first.second) << ":"
          << e.second.prio << " recency " << e.second.rec << " missing";
      return err.str();
    }
  }
  for (int p = 0; p < plan_.packets; ++p) {
    QelPacketMem* mem = ctx_.packetMems[p];
    if (mem->state != packetState(p) || mem->pendingCount != pending_[p]) {
      err << "packet " << p << " state " << mem->state << " pending "
          << mem->pendingCount << ", expected " << packetState(p) << " "
          << pending_[p];
      return err.str();
    }
  }
  return checkOrder(order);
}

std::string Model::agendaText() {
  std::string out;
  for (QelInstance* i = ctx_.agenda->first; i != nullptr; i = i->next) {
    auto k = instanceKey(i);
    out += " " + tupleText(k.first, k.second) + ":" +
           std::to_string(i->priority) + "@" + std::to_string(i->recency);
  }
  for (int p = 0; p < plan_.packets; ++p) {
    out += " | p" + std::to_string(p) + " state " +
           std::to_string(ctx_.packetMems[p]->state) + " pending " +
           std::to_string(ctx_.packetMems[p]->pendingCount);
  }
  return out;
}

std::string ModelRun::agendaText() { return model_->agendaText(); }

ModelRun::ModelRun(const NetPlan& plan, QelNetwork* net, bool checking)
    : model_(new Model(plan, net, checking)) {}
ModelRun::~ModelRun() = default;
std::string ModelRun::apply(const Operation& op) { return model_->apply(op); }
size_t ModelRun::liveFacts() const { return model_->liveFacts(); }

std::string runOps(const NetPlan& plan, QelNetwork* net,
                   const std::vector<Operation>& ops, int* failedAt,
                   Stats* stats, QelNetwork* twin) {
  Model model(plan, net, true, twin != nullptr);
  std::unique_ptr<Model> other;
  if (twin != nullptr) other.reset(new Model(plan, twin, true, true));
  struct Flush {
    Model& m;
    Stats* out;
    ~Flush() {
      if (out != nullptr) out->add(m.stats);
    }
  } flush{model, stats};
  // Applies one operation to the run and its twin; "" when both agree with
  // the oracle and with each other. The initial seeding counts as one.
  auto step = [&](const Operation& op) -> std::string {
    std::string failure = model.apply(op);
    if (!failure.empty() || other == nullptr) return failure;
    failure = other->apply(op);
    if (!failure.empty()) return "unkeyed twin: " + failure;
    if (model.log != other->log) {
      return "hook logs differ\nkeyed:\n" + model.log + "unkeyed:\n" +
             other->log;
    }
    if (model.agendaText() != other->agendaText()) {
      return "agendas differ: keyed" + model.agendaText() + "\nunkeyed" +
             other->agendaText();
    }
    for (size_t at = 0; at < model.log.size(); ++at) {
      if (at == 0 || model.log[at - 1] == '\n') {
        ++model.stats.twinLines;
        if (model.log.compare(at, 5, "test ") == 0) ++model.stats.keyedTests;
      }
    }
    model.log.clear();
    other->log.clear();
    return "";
  };
  Operation none;
  none.kind = 'N';
  std::string failure = step(none);
  if (!failure.empty()) {
    *failedAt = -1;
    return failure;
  }
  for (size_t i = 0; i < ops.size(); ++i) {
    failure = step(ops[i]);
    if (!failure.empty()) {
      *failedAt = static_cast<int>(i);
      return failure;
    }
  }
  *failedAt = static_cast<int>(ops.size());
  return "";
}

}  // namespace qelmodel
