// The Miss Manners network and its callbacks, as generated for this
// library.
//
// Compilation choices:
// - Every rule starts with its context pattern, one discrimination node per
//   state, so a phase change adds or removes whole chains at once.
// - find_seating joins count before seating: its guard (seating id = count
//   - 1) then picks the newest seating by key at the second join, instead
//   of building every seating's candidates and filtering them at the end.
//   print_results likewise joins last_seat before seating.
// - Equalities between a new object and the partial become equality keys
//   (initJoinKeys), so a join visits only the objects of one key. Symbols
//   are interned, integers are keyed by value, and several equalities are
//   mixed into one key.
// - modify is a plain update (mode 2). Only count changes a value that a
//   join test reads (the guard), so only count's join in find_seating
//   passes updates on (bit 0 of its no-update mask clear), and the guard
//   join re-evaluates for it (bits 0 and 1 of its independence mask clear).
//   Every other test reads slots that never change: independence bit 0 is
//   clear wherever there is a test, all other bits set.
// - Rules that start alike share nodes: make_path and path_done share
//   context(make_path) x seating(no); continue and all_done hang on the
//   alpha nodes that are_we_done and print_results start from.
// - No salience is declared; declaration order decides between the
//   instances one change makes (make_path before path_done, are_we_done
//   before continue, print_results before all_done).
#include "manners_ruleset.h"

#include <cstdint>

namespace manners {

namespace {

enum Rule {
  kAssignFirstSeat,
  kFindSeating,
  kMakePath,
  kPathDone,
  kAreWeDone,
  kContinue,
  kPrintResults,
  kAllDone,
  kRuleCount
};

template <typename T>
T* object(QelPartial* p, int n) {
  return static_cast<T*>(p->tailn(n)->record->object);
}
template <typename T>
T* object(QelInfo* i) {
  return static_cast<T*>(i->object);
}

// Keys are compared by identity. Integers are keyed by value; mixing
// spreads the integer over the bits the hash tables fold.
void* intKey(int value) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(
      static_cast<uint32_t>(value)));
}
void* mixKey(const void* symbol, int value) {
  return reinterpret_cast<void*>(
      reinterpret_cast<uintptr_t>(symbol) ^
      (static_cast<uintptr_t>(static_cast<uint32_t>(value)) * 0x9E3779B1u));
}
void* mixKey(const void* symbol, int value, const void* other) {
  return reinterpret_cast<void*>(
      reinterpret_cast<uintptr_t>(mixKey(symbol, value)) ^
      (reinterpret_cast<uintptr_t>(other) * 0x85EBCA6Bu));
}

template <typename T>
class ObjectClass : public QelClassNode {
 public:
  ObjectClass(QelNetwork* network, int index, char* className)
      : QelClassNode(network, index) {
    name = className;
    kind = 0;
    network->classes.append(this);
  }
  void deleteInstance(void* o) override { delete static_cast<T*>(o); }
};

// all_done's (halt): a result below -1 stops fireAllRules.
class HaltActionNode : public QelActionNode {
 public:
  explicit HaltActionNode(QelRuleNode* rule) : QelActionNode(rule) {}
  int execute(QelContext* context, QelPartial* partial) override {
    QelActionNode::execute(context, partial);
    return -2;
  }
};

char kRuleset[] = "manners";
char kGuestName[] = "guest";
char kLastSeatName[] = "last_seat";
char kSeatingName[] = "seating";
char kContextName[] = "context";
char kPathName[] = "path";
char kChosenName[] = "chosen";
char kCountName[] = "count";
char kRuleNames[kRuleCount][20] = {
    "assign_first_seat", "find_seating", "make_path",    "path_done",
    "are_we_done",       "continue",     "print_results", "all_done"};
char kSymbol[] = "symbol";
char kInteger[] = "integer";
char kName[] = "name";
char kSex[] = "sex";
char kHobby[] = "hobby";
char kSeat[] = "seat";
char kSeat1[] = "seat1";
char kName1[] = "name1";
char kName2[] = "name2";
char kSeat2[] = "seat2";
char kId[] = "id";
char kPid[] = "pid";
char kPathDoneSlot[] = "path_done";
char kState[] = "state";
char kC[] = "c";

template <typename T>
T* at(const QelList& list, int i) {
  return static_cast<T*>(list[i]);
}

template <typename F>
QelDiscTest disc(F f) {
  return static_cast<QelDiscTest>(f);
}
template <typename F>
QelJoinTest join(F f) {
  return static_cast<QelJoinTest>(f);
}
template <typename F>
QelKeyFunction leftKey(F f) {
  return static_cast<QelKeyFunction>(f);
}
template <typename F>
QelRecordKeyFunction rightKey(F f) {
  return static_cast<QelRecordKeyFunction>(f);
}
template <typename F>
QelActionFunction action(F f) {
  return static_cast<QelActionFunction>(f);
}

// Masks: a test on the new object only (bit 0 clear), every object above
// it unchanged by updates.
constexpr int kTestRight = ~1;
constexpr int kAll = -1;

}  // namespace

MannersNetwork::MannersNetwork() : QelNetwork(kRuleset) {
  // 8 rules, 13 discrimination, 5 alpha, 8 right and 16 join nodes.
  init(0, 0, kRuleCount, 13, 5, 8, 16);

  QelClassNode* guest = new ObjectClass<Guest>(this, kGuest, kGuestName);
  guest->initSlot(kName, kSymbol, QelSlotReadOnly, kSymbol);
  guest->initSlot(kSex, kSymbol, QelSlotReadOnly, kSymbol);
  guest->initSlot(kHobby, kSymbol, QelSlotReadOnly, kSymbol);
  QelClassNode* lastSeat =
      new ObjectClass<LastSeat>(this, kLastSeat, kLastSeatName);
  lastSeat->initSlot(kSeat, kInteger, QelSlotReadOnly, kInteger);
  QelClassNode* seating = new ObjectClass<Seating>(this, kSeating, kSeatingName);
  seating->initSlot(kSeat1, kInteger, QelSlotReadOnly, kInteger);
  seating->initSlot(kName1, kSymbol, QelSlotReadOnly, kSymbol);
  seating->initSlot(kName2, kSymbol, QelSlotReadOnly, kSymbol);
  seating->initSlot(kSeat2, kInteger, QelSlotReadOnly, kInteger);
  seating->initSlot(kId, kInteger, QelSlotReadOnly, kInteger);
  seating->initSlot(kPid, kInteger, QelSlotReadOnly, kInteger);
  seating->initSlot(kPathDoneSlot, kSymbol, QelSlotReadWrite, kSymbol);
  QelClassNode* context = new ObjectClass<Context>(this, kContext, kContextName);
  context->initSlot(kState, kSymbol, QelSlotReadWrite, kSymbol);
  QelClassNode* path = new ObjectClass<Path>(this, kPath, kPathName);
  path->initSlot(kId, kInteger, QelSlotReadOnly, kInteger);
  path->initSlot(kName, kSymbol, QelSlotReadOnly, kSymbol);
  path->initSlot(kSeat, kInteger, QelSlotReadOnly, kInteger);
  QelClassNode* chosen = new ObjectClass<Chosen>(this, kChosen, kChosenName);
  chosen->initSlot(kId, kInteger, QelSlotReadOnly, kInteger);
  chosen->initSlot(kName, kSymbol, QelSlotReadOnly, kSymbol);
  chosen->initSlot(kHobby, kSymbol, QelSlotReadOnly, kSymbol);
  QelClassNode* count = new ObjectClass<Count>(this, kCount, kCountName);
  count->initSlot(kC, kInteger, QelSlotReadWrite, kInteger);

  // Discrimination nodes: the five context states (alpha nodes 0 to 4),
  // then the right inputs 0 to 7.
  using M = MannersContext;
  initDisc(at<QelDiscNode>(discs, 0), kContext, -1, disc(&M::isStartUp));
  initDisc(at<QelDiscNode>(discs, 1), kContext, -1, disc(&M::isAssignSeats));
  initDisc(at<QelDiscNode>(discs, 2), kContext, -1, disc(&M::isMakePath));
  initDisc(at<QelDiscNode>(discs, 3), kContext, -1, disc(&M::isCheckDone));
  initDisc(at<QelDiscNode>(discs, 4), kContext, -1, disc(&M::isPrintResults));
  initDisc(at<QelDiscNode>(discs, 5), kGuest, 0, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 6), kLastSeat, 1, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 7), kSeating, 2, disc(&M::isPathDone));
  initDisc(at<QelDiscNode>(discs, 8), kSeating, 3, disc(&M::isPathNotDone));
  initDisc(at<QelDiscNode>(discs, 9), kSeating, 4, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 10), kPath, 5, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 11), kChosen, 6, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 12), kCount, 7, GetQelNullDisc());
  for (int a = 0; a < 5; ++a) {
    addAlphaNode(at<QelDiscNode>(discs, a), a, kAll, QelPatternPlain);
  }
  enum Right { rGuest, rLastSeat, rSeatingDone, rSeatingNotDone, rSeating,
               rPath, rChosen, rCount };

  // assign_first_seat: context(start_up) x guest x count.
  initJoin(at<QelJoinNode>(joins, 0), 0, 0, rGuest, GetQelNullJoin(), kAll,
           kAll, QelPatternPlain);
  initJoin(at<QelJoinNode>(joins, 1), 1, 0, rCount, GetQelNullJoin(), kAll,
           kAll, QelPatternPlain);

  // find_seating: context(assign_seats) x count x seating x guest x guest
  // x not path x not chosen. Count's updates pass join 2 so that the guard
  // of join 3 sees them.
  initJoin(at<QelJoinNode>(joins, 2), 0, 1, rCount, GetQelNullJoin(), kAll,
           ~1, QelPatternPlain);
  initJoin(at<QelJoinNode>(joins, 3), 1, 2, rSeatingDone,
           join(&M::newestSeating), ~3, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 3), leftKey(&M::countKey),
               rightKey(&M::seatingIdKey));
  initJoin(at<QelJoinNode>(joins, 4), 1, 3, rGuest, join(&M::seatedGuest),
           kTestRight, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 4), leftKey(&M::name2Key),
               rightKey(&M::guestNameKey));
  initJoin(at<QelJoinNode>(joins, 5), 1, 4, rGuest, join(&M::matchingGuest),
           kTestRight, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 5), leftKey(&M::hobbyKey),
               rightKey(&M::guestHobbyKey));
  initJoin(at<QelJoinNode>(joins, 6), 1, 5, rPath, join(&M::guestOnPath),
           kTestRight, kAll, QelPatternNot);
  initJoinKeys(at<QelJoinNode>(joins, 6), leftKey(&M::seatingGuestKey),
               rightKey(&M::pathIdNameKey));
  initJoin(at<QelJoinNode>(joins, 7), 1, 6, rChosen, join(&M::guestChosen),
           kTestRight, kAll, QelPatternNot);
  initJoinKeys(at<QelJoinNode>(joins, 7), leftKey(&M::seatingGuestHobbyKey),
               rightKey(&M::chosenKey));

  // make_path and path_done: context(make_path) x seating(no); make_path
  // goes on with x path(id pid) x not path(id, name).
  initJoin(at<QelJoinNode>(joins, 8), 0, 2, rSeatingNotDone, GetQelNullJoin(),
           kAll, kAll, QelPatternPlain);
  initJoin(at<QelJoinNode>(joins, 9), 1, 8, rPath, join(&M::parentPath),
           kTestRight, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 9), leftKey(&M::pidKey),
               rightKey(&M::pathIdKey));
  initJoin(at<QelJoinNode>(joins, 10), 1, 9, rPath, join(&M::nameOnPath),
           kTestRight, kAll, QelPatternNot);
  initJoinKeys(at<QelJoinNode>(joins, 10), leftKey(&M::seatingPathNameKey),
               rightKey(&M::pathIdNameKey));

  // are_we_done: context(check_done) x last_seat x seating(seat2 = last).
  initJoin(at<QelJoinNode>(joins, 11), 0, 3, rLastSeat, GetQelNullJoin(), kAll,
           kAll, QelPatternPlain);
  initJoin(at<QelJoinNode>(joins, 12), 1, 11, rSeating, join(&M::lastSeating),
           kTestRight, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 12), leftKey(&M::lastSeatKey),
               rightKey(&M::seat2Key));

  // print_results: context(print_results) x last_seat x seating(seat2 =
  // last) x path(id).
  initJoin(at<QelJoinNode>(joins, 13), 0, 4, rLastSeat, GetQelNullJoin(), kAll,
           kAll, QelPatternPlain);
  initJoin(at<QelJoinNode>(joins, 14), 1, 13, rSeating, join(&M::lastSeating),
           kTestRight, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 14), leftKey(&M::lastSeatKey),
               rightKey(&M::seat2Key));
  initJoin(at<QelJoinNode>(joins, 15), 1, 14, rPath, join(&M::resultPath),
           kTestRight, kAll, QelPatternPlain);
  initJoinKeys(at<QelJoinNode>(joins, 15), leftKey(&M::resultIdKey),
               rightKey(&M::pathIdKey));

  for (int r = 0; r < kRuleCount; ++r) {
    initRule(at<QelRuleNode>(rules, r), -1, kRuleNames[r], GetQelNullPrio(), 0,
             -1, -1);
  }
  initAction(kAssignFirstSeat, action(&M::assignFirstSeat), 0, 1, 1);
  initAction(kFindSeating, action(&M::findSeating), 0, 1, 7);
  initAction(kMakePath, action(&M::makePath), 0, 1, 10);
  initAction(kPathDone, action(&M::pathDone), 0, 1, 8);
  initAction(kAreWeDone, action(&M::areWeDone), 0, 1, 12);
  initAction(kContinue, action(&M::continueSearch), 0, 0, 3);
  initAction(kPrintResults, action(&M::printResults), 0, 1, 15);
  initAction(kAllDone, action(&M::allDone), 0, 0, 4);
}

QelActionNode* MannersNetwork::newActionNode(QelRuleNode* rule) {
  if (rule->index == kAllDone) return new HaltActionNode(rule);
  return QelNetwork::newActionNode(rule);
}

// ---------------------------------------------------------------- context

MannersContext::MannersContext(MannersNetwork* network, SymbolTable* symbols,
                               std::FILE* out)
    : symbols_(symbols), out_(out), fired_(0) {
  startUp_ = symbols->intern("start_up");
  assignSeats_ = symbols->intern("assign_seats");
  makePath_ = symbols->intern("make_path");
  checkDone_ = symbols->intern("check_done");
  printResults_ = symbols->intern("print_results");
  initialize(network);
}

MannersContext::~MannersContext() { resetMemory(); }

int MannersContext::run() {
  fired_ = 0;
  agenda->fireAllRules();
  return fired_;
}

void MannersContext::setState(Context* context, const char* state) {
  context->state = state;
  updateObject(context, 0);
}

// Discrimination tests.

unsigned char MannersContext::isStartUp(QelInfo* i) {
  return object<Context>(i)->state == startUp_;
}
unsigned char MannersContext::isAssignSeats(QelInfo* i) {
  return object<Context>(i)->state == assignSeats_;
}
unsigned char MannersContext::isMakePath(QelInfo* i) {
  return object<Context>(i)->state == makePath_;
}
unsigned char MannersContext::isCheckDone(QelInfo* i) {
  return object<Context>(i)->state == checkDone_;
}
unsigned char MannersContext::isPrintResults(QelInfo* i) {
  return object<Context>(i)->state == printResults_;
}
unsigned char MannersContext::isPathDone(QelInfo* i) {
  return object<Seating>(i)->pathDone;
}
unsigned char MannersContext::isPathNotDone(QelInfo* i) {
  return !object<Seating>(i)->pathDone;
}

// find_seating. Partial: context, count, seating, guest n2, guest g2, the
// not path token, the not chosen token.

unsigned char MannersContext::newestSeating(QelPartial* p, QelInfo* i) {
  return object<Seating>(i)->id == object<Count>(p, 0)->c - 1;
}
void* MannersContext::countKey(QelPartial* p) {
  return intKey(object<Count>(p, 0)->c - 1);
}
void* MannersContext::seatingIdKey(QelInfo* i) {
  return intKey(object<Seating>(i)->id);
}

unsigned char MannersContext::seatedGuest(QelPartial* p, QelInfo* i) {
  return object<Guest>(i)->name == object<Seating>(p, 0)->name2;
}
void* MannersContext::name2Key(QelPartial* p) {
  return const_cast<char*>(object<Seating>(p, 0)->name2);
}
void* MannersContext::guestNameKey(QelInfo* i) {
  return const_cast<char*>(object<Guest>(i)->name);
}

unsigned char MannersContext::matchingGuest(QelPartial* p, QelInfo* i) {
  const Guest* g2 = object<Guest>(i);
  const Guest* n2 = object<Guest>(p, 0);
  return g2->hobby == n2->hobby && g2->sex != n2->sex;
}
void* MannersContext::hobbyKey(QelPartial* p) {
  return const_cast<char*>(object<Guest>(p, 0)->hobby);
}
void* MannersContext::guestHobbyKey(QelInfo* i) {
  return const_cast<char*>(object<Guest>(i)->hobby);
}

unsigned char MannersContext::guestOnPath(QelPartial* p, QelInfo* i) {
  const Path* path = object<Path>(i);
  return path->id == object<Seating>(p, 2)->id &&
         path->name == object<Guest>(p, 0)->name;
}
void* MannersContext::seatingGuestKey(QelPartial* p) {
  return mixKey(object<Guest>(p, 0)->name, object<Seating>(p, 2)->id);
}
void* MannersContext::pathIdNameKey(QelInfo* i) {
  const Path* path = object<Path>(i);
  return mixKey(path->name, path->id);
}

unsigned char MannersContext::guestChosen(QelPartial* p, QelInfo* i) {
  const Chosen* chosen = object<Chosen>(i);
  return chosen->id == object<Seating>(p, 3)->id &&
         chosen->name == object<Guest>(p, 1)->name &&
         chosen->hobby == object<Guest>(p, 2)->hobby;
}
void* MannersContext::seatingGuestHobbyKey(QelPartial* p) {
  return mixKey(object<Guest>(p, 1)->name, object<Seating>(p, 3)->id,
                object<Guest>(p, 2)->hobby);
}
void* MannersContext::chosenKey(QelInfo* i) {
  const Chosen* chosen = object<Chosen>(i);
  return mixKey(chosen->name, chosen->id, chosen->hobby);
}

// make_path. Partial: context, seating, path, the not path token.

unsigned char MannersContext::parentPath(QelPartial* p, QelInfo* i) {
  return object<Path>(i)->id == object<Seating>(p, 0)->pid;
}
void* MannersContext::pidKey(QelPartial* p) {
  return intKey(object<Seating>(p, 0)->pid);
}
void* MannersContext::pathIdKey(QelInfo* i) {
  return intKey(object<Path>(i)->id);
}

unsigned char MannersContext::nameOnPath(QelPartial* p, QelInfo* i) {
  const Path* path = object<Path>(i);
  return path->id == object<Seating>(p, 1)->id &&
         path->name == object<Path>(p, 0)->name;
}
void* MannersContext::seatingPathNameKey(QelPartial* p) {
  return mixKey(object<Path>(p, 0)->name, object<Seating>(p, 1)->id);
}

// are_we_done and print_results. Partial: context, last_seat, seating
// (print_results: then path).

unsigned char MannersContext::lastSeating(QelPartial* p, QelInfo* i) {
  return object<Seating>(i)->seat2 == object<LastSeat>(p, 0)->seat;
}
void* MannersContext::lastSeatKey(QelPartial* p) {
  return intKey(object<LastSeat>(p, 0)->seat);
}
void* MannersContext::seat2Key(QelInfo* i) {
  return intKey(object<Seating>(i)->seat2);
}

unsigned char MannersContext::resultPath(QelPartial* p, QelInfo* i) {
  return object<Path>(i)->id == object<Seating>(p, 0)->id;
}
void* MannersContext::resultIdKey(QelPartial* p) {
  return intKey(object<Seating>(p, 0)->id);
}

// Actions. Each binds its variables first: the changes it makes may
// remove the partial it runs on.

void MannersContext::assignFirstSeat(QelPartial* p) {
  Context* context = object<Context>(p, 2);
  const char* n = object<Guest>(p, 1)->name;
  Count* count = object<Count>(p, 0);
  const int c = count->c;
  assertObject(kSeating, new Seating{1, n, n, 1, c, 0, true});
  assertObject(kPath, new Path{c, n, 1});
  count->c = c + 1;
  updateObject(count, 0);
  std::fprintf(out_, "seat 1 %s %s 1 %d 0 1\n", n, n, c);
  setState(context, assignSeats_);
}

void MannersContext::findSeating(QelPartial* p) {
  Context* context = object<Context>(p, 6);
  Count* count = object<Count>(p, 5);
  const Seating* seating = object<Seating>(p, 4);
  const char* n2 = object<Guest>(p, 3)->name;
  const char* h1 = object<Guest>(p, 3)->hobby;
  const char* g2 = object<Guest>(p, 2)->name;
  const int seat2 = seating->seat2;
  const int id = seating->id;
  const int c = count->c;
  assertObject(kSeating,
               new Seating{seat2, n2, g2, seat2 + 1, c, id, false});
  assertObject(kPath, new Path{c, g2, seat2 + 1});
  assertObject(kChosen, new Chosen{id, g2, h1});
  count->c = c + 1;
  updateObject(count, 0);
  std::fprintf(out_, "seat %d %s %s\n", seat2, n2, g2);
  setState(context, makePath_);
}

void MannersContext::makePath(QelPartial* p) {
  const Path* path = object<Path>(p, 1);
  const int id = object<Seating>(p, 2)->id;
  assertObject(kPath, new Path{id, path->name, path->seat});
}

void MannersContext::pathDone(QelPartial* p) {
  Context* context = object<Context>(p, 1);
  Seating* seating = object<Seating>(p, 0);
  seating->pathDone = true;
  updateObject(seating, 0);
  setState(context, checkDone_);
}

void MannersContext::areWeDone(QelPartial* p) {
  Context* context = object<Context>(p, 2);
  std::fprintf(out_, "\nYes, we are done!!\n");
  setState(context, printResults_);
}

void MannersContext::continueSearch(QelPartial* p) {
  setState(object<Context>(p, 0), assignSeats_);
}

void MannersContext::printResults(QelPartial* p) {
  Path* path = object<Path>(p, 0);
  const char* n = path->name;
  const int s = path->seat;
  retractObject(path, 1);
  std::fprintf(out_, "%s %d\n", n, s);
}

void MannersContext::allDone(QelPartial*) {}

}  // namespace manners
