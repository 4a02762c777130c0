// Randomized differential testing of the library against a brute-force
// oracle.
//
// A NetPlan is a random ruleset: classes of facts with three small integer
// slots, discrimination tests on slot values, and rules of one to four
// patterns joined by every join kind, some with a time window (a wait join)
// after their first fact. A Model builds a context over the
// network built from a NetPlan, applies Operations to it, and after each one
// recomputes every rule's matches from the working memory alone, predicts the
// agenda, and compares both with what the library holds.
#ifndef QEL_TESTS_MODEL_MODEL_H
#define QEL_TESTS_MODEL_MODEL_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qel.h"

namespace qelmodel {

// splitmix64: the same sequence on every platform.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 7) {}
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % uint64_t(n)); }
  bool chance(int percent) { return below(100) < percent; }
};

enum class Kind { Plain, ObjUnique, Exists, Not, Count, Collect, Inline, Packet, Wait };

constexpr int kSlotCount = 3;  // slots per fact
constexpr int kValues = 4;     // slot values are 0..3
constexpr int kCallbackSlots = 32;

enum CmpOp { kEq, kNe, kLt, kGe };

// pos >= 0: a slot of the fact at that tuple position; -1: a slot of the
// candidate the join adds; -2: a constant.
struct Operand {
  int pos = -2;
  int slot = 0;
  int constant = 0;
};
struct Term {
  Operand a;
  int op = kEq;
  Operand b;
};

struct DiscPlan {
  int cls = 0;
  bool nullTest = true;
  int slot = 0, op = kEq, constant = 0;
  int right = -1;  // right node index, -1 for none
};

struct PatternPlan {
  Kind kind = Kind::Plain;
  int disc = -1;            // the discrimination node (none for inline, packet)
  std::vector<Term> terms;  // join test, or the inline test
  bool nullJoin = false;    // no terms, given as GetQelNullJoin()
  int countOp = kGe, countK = 1;  // count and collect (set size) tests
  bool nullCollect = false;
  int packet = -1, packetState = 1;
  int keyPos = -1;  // object-unique joins: the fact that names the partner
  int eqTerm = -1;  // keyed joins: the equality term the keys stand for
  int waitSlot = 0, waitOffset = 0;  // wait joins: deadline t0.s + offset
  int indepMask = -1, noUpdateMask = -1;
  int node = -1;  // alpha index for pattern 0, else join index
};

struct RulePlan {
  std::vector<PatternPlan> pats;
  int packet = -1;
  bool dynamic = false;
  int staticPrio = 0;
  std::vector<std::pair<int, int>> prioTerms;  // (position, slot), summed
  int prioOffset = 0;
  int asserts = -1;  // a logical class its action asserts an object of
  // A rule with a wait join has it at position 1 and its first pattern
  // plain; no object can stand in two of its patterns, none of which is
  // logical or a packet test, so that no operation makes and undoes a match
  // of it on the way. Its watchdog action, if any, fires on the window of a
  // first fact that expires before the rule completed on it.
  int wait = -1;
  bool watchdog = false;
};

struct NetPlan {
  std::vector<int> superOf;  // -1 for none; a superclass has a lower index
  std::vector<int> kind;     // 0 internal, 1 external, 2 logical
  int packets = 0;
  std::vector<DiscPlan> discs;
  std::vector<RulePlan> rules;
  int rights = 0, joins = 0;
  std::vector<int> handleClass;  // the class of each object handle
  int tick = -1;  // with wait joins: the external class of the clock's fact
  std::string describe() const;
};

NetPlan generateNet(uint64_t seed);
// A fixed ruleset with every join kind, for the soak and thread runs.
NetPlan soakNet();

// One step of a run. Handles name objects: each handle holds one fact at a
// time; a fact the library deletes is replaced by a new one (new id) that is
// not in working memory.
//   A h [slot=value]  assert (a re-assert when in memory), after the change
//   R h [d]           retract, with deletion when d
//   U h [slot=value] [r]  update, refresh when r; out of memory: change only
//   F                 fireRule
//   G n               fireAllRules, stopping at the n-th firing (0: no bound)
//   X / Z             qelRetractAll / resetMemory
//   P p / Q p         activate / deactivate packet p
//   T t               move the time on to t and assert or update the clock's
//                     fact, which runs the wait joins' expiry
struct Operation {
  char kind = 'F';
  int a = 0;
  int slot = -1;
  int value = 0;
  int flag = 0;
};
std::string formatOps(const std::vector<Operation>& ops);
bool parseOps(const std::string& text, std::vector<Operation>* ops);
std::vector<Operation> generateOps(const NetPlan& plan, uint64_t seed,
                                   int count);
// Decodes fuzz input into operations.
std::vector<Operation> decodeOps(const NetPlan& plan, const uint8_t* data,
                                 size_t size);

// The library network built from a plan; without `keys` the equality joins
// get no keys, for the twin run that the keyed one must reproduce.
class ModelNetwork;
std::unique_ptr<QelNetwork> buildNetwork(const NetPlan& plan, bool keys = true);

// What the checks covered.
struct Stats {
  long ops = 0;
  long matches = 0;    // matches compared with the library's memories
  long instances = 0;  // instances compared with the library's agenda
  long refires = 0;    // instances made again by a refresh
  long reprioritised = 0;
  long ambiguous = 0;  // continuing matches whose instance had two outcomes
  long fresh = 0;      // ... of which the library re-created
  long twinLines = 0;  // hook and equal-key test lines the twin runs shared
  long keyedTests = 0;  // ... of which join tests on pairs of equal keys
  long justified = 0;   // logical facts asserted by actions
  long unsupported = 0;  // ... that left when their last support ended
  long ties = 0;  // pairs of instances whose order among ties was predicted
  long waits = 0;      // time windows opened
  long expiries = 0;   // ... that expired
  long completed = 0;  // ... whose rule completed in time
  long watchdogs = 0;  // watchdog instances
  void add(const Stats& o) {
    waits += o.waits; expiries += o.expiries; completed += o.completed;
    watchdogs += o.watchdogs;
    justified += o.justified; unsupported += o.unsupported; ties += o.ties;
    ops += o.ops; matches += o.matches; instances += o.instances;
    refires += o.refires; reprioritised += o.reprioritised;
    ambiguous += o.ambiguous; fresh += o.fresh;
    twinLines += o.twinLines; keyedTests += o.keyedTests;
  }
};

class Model;
// Runs `ops` on a fresh context over `net`; returns "" when every check
// passed, else the first mismatch, with its operation index in *failedAt.
// With a `twin` (the same plan built without keys) the same operations run
// there too, and both runs must give the same hooks, equal-key join tests
// and agenda after every operation.
std::string runOps(const NetPlan& plan, QelNetwork* net,
                   const std::vector<Operation>& ops, int* failedAt,
                   Stats* stats = nullptr, QelNetwork* twin = nullptr);

// A context plus its oracle, for callers that drive it themselves.
class ModelRun {
 public:
  ModelRun(const NetPlan& plan, QelNetwork* net, bool checking);
  ~ModelRun();
  // "" when the library agrees with the oracle after the operation.
  std::string apply(const Operation& op);
  size_t liveFacts() const;
  // The library's agenda and packet states, for traces.
  std::string agendaText();

 private:
  std::unique_ptr<Model> model_;
};

}  // namespace qelmodel

#endif  // QEL_TESTS_MODEL_MODEL_H
