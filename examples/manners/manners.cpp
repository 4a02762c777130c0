// The Miss Manners benchmark, written the way a rule compiler emits a
// ruleset: a QelNetwork subclass that builds the network through the
// construction calls, and a QelContext subclass whose member functions are
// the tests, equality keys and actions the network refers to.
//
//   assign_first_seat  context(start_up), guest(?n), count(?c)
//   find_seating       context(assign_seats), count(?c),
//                      seating(?seat2, name2 ?n2, id ?id == ?c - 1,
//                              path_done yes),
//                      guest(?n2, sex ?s1, hobby ?h1),
//                      guest(?g2, sex != ?s1, hobby ?h1),
//                      not path(id ?id, name ?g2),
//                      not chosen(id ?id, name ?g2, hobby ?h1)
//   make_path          context(make_path), seating(id ?id, pid ?pid, no),
//                      path(id ?pid, name ?n1, seat ?s),
//                      not path(id ?id, name ?n1)                  prio 1
//   path_done          context(make_path), seating(path_done no)
//   are_we_done        context(check_done), last_seat(?l),
//                      seating(seat2 ?l)                           prio 1
//   continue           context(check_done)
//   print_results      context(print_results), seating(id ?id, seat2 ?s2),
//                      last_seat(?s2), path(id ?id, ?n, ?s)        prio 1
//   all_done           context(print_results) -> halt
//
// find_seating only extends the newest seating (the guard on count): the
// agenda prefers the most recent change, but without the guard every open
// seating stays a candidate and the search widens instead of deepening.
// The count comes before the seating: a return to assign_seats then joins
// the context with the one count, which finds its seating by key, instead
// of joining it with every finished seating first.
//
// --usual writes find_seating in the order the benchmark is usually
// written, the count and its guard after the two guests:
//
//   find_seating       context(assign_seats),
//                      seating(?seat2, name2 ?n2, id ?id, path_done yes),
//                      guest(?n2, sex ?s1, hobby ?h1),
//                      guest(?g2, sex != ?s1, hobby ?h1),
//                      count(?c), test(?id == ?c - 1),
//                      not path(id ?id, name ?g2),
//                      not chosen(id ?id, name ?g2, hobby ?h1)
//
// Every change of the count then rebuilds the partials below it.
//
// Usage: manners [--unkeyed] [--usual] [--time] [data-file]   (stdin when
// no file is given). --time reports on stderr the CPU time from reading the data to
// the end of the run and the teardown, which leaves out process start.
// Data: "guest NAME SEX HOBBY" lines (one per hobby) and "last_seat N";
// the parenthesised slot form "(guest (name n1) (sex m) (hobby h1))" is
// read as well.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qel.h"

namespace {

enum ClassIndex { kGuest, kLastSeat, kSeating, kContext, kPath, kChosen, kCount };
enum State { kStartUp, kAssignSeats, kMakePath, kCheckDone, kPrintResults };
enum Rule {
  kAssignFirstSeat,
  kFindSeating,
  kMakePathRule,
  kPathDone,
  kAreWeDone,
  kContinue,
  kPrintResultsRule,
  kAllDone
};

// Symbols (names, sexes, hobbies) are small integers.
struct Guest {
  int name, sex, hobby;
};
struct LastSeat {
  int seat;
};
struct Seating {
  int seat1, name1, name2, seat2, id, pid;
  bool pathDone;
};
struct Context {
  int state;
};
struct Path {
  int id, name, seat;
};
struct Chosen {
  int id, name, hobby;
};
struct Count {
  int c;
};

// Keys are compared by identity: integers are packed into a pointer,
// offset so that no key is null. The key index hashes the low 32 bits of a
// key only, so a pair keeps its first value whole in the high half and
// mixes it into the low half, which stays one-to-one for a fixed first
// value.
void* key1(int a) { return reinterpret_cast<void*>(static_cast<uintptr_t>(a) + 1); }
void* key2(int a, int b) {
  const uint32_t high = static_cast<uint32_t>(a) + 1;
  const uint32_t low = static_cast<uint32_t>(b) + 1 + high * 0x9E3779B1u;
  return reinterpret_cast<void*>((static_cast<uint64_t>(high) << 32) | low);
}
void* key3(int a, int b, int c) {
  return key2(a, (b << 12) | (c & 0xfff));
}

template <typename T>
T* obj(QelPartial* p, int n) {
  return static_cast<T*>(p->tailn(n)->record->object);
}
template <typename T>
T* obj(QelInfo* i) {
  return static_cast<T*>(i->object);
}

class MannersNetwork : public QelNetwork {
 public:
  MannersNetwork(bool keyed, bool usual);
  QelActionNode* newActionNode(QelRuleNode* rule) override;
};

class MannersContext : public QelContext {
 public:
  MannersContext(MannersNetwork* net, const std::vector<std::string>* names)
      : names_(names) {
    initialize(net);
  }
  ~MannersContext() override = default;
  const char* getRulesetName() const override { return "manners"; }

  void addGuest(int name, int sex, int hobby) {
    guests_.push_back(Guest{name, sex, hobby});
    assertObject(kGuest, &guests_.back());
  }
  void start(int lastSeat) {
    lastSeat_.seat = lastSeat;
    assertObject(kLastSeat, &lastSeat_);
    count_.c = 1;
    assertObject(kCount, &count_);
    context_.state = kStartUp;
    assertObject(kContext, &context_);
  }
  int run() {
    agenda->fireAllRules();
    return fired_;
  }
  bool halted() const { return halted_; }

  // Discrimination tests.
  unsigned char isStartUp(QelInfo* i) { return obj<Context>(i)->state == kStartUp; }
  unsigned char isAssignSeats(QelInfo* i) { return obj<Context>(i)->state == kAssignSeats; }
  unsigned char isMakePath(QelInfo* i) { return obj<Context>(i)->state == kMakePath; }
  unsigned char isCheckDone(QelInfo* i) { return obj<Context>(i)->state == kCheckDone; }
  unsigned char isPrintResults(QelInfo* i) {
    return obj<Context>(i)->state == kPrintResults;
  }
  unsigned char isPathDone(QelInfo* i) { return obj<Seating>(i)->pathDone; }
  unsigned char isPathNotDone(QelInfo* i) { return !obj<Seating>(i)->pathDone; }

  // find_seating. Left partials: count; seating, count; guest1, seating,
  // count; guest2, guest1, seating, count; token, guest2, ...
  unsigned char newestSeating(QelPartial* p, QelInfo* i) {
    return obj<Seating>(i)->id == obj<Count>(p, 0)->c - 1;
  }
  void* countValue(QelPartial* p) { return key1(obj<Count>(p, 0)->c); }
  void* seatingNextId(QelInfo* i) { return key1(obj<Seating>(i)->id + 1); }
  unsigned char seatedGuest(QelPartial* p, QelInfo* i) {
    return obj<Guest>(i)->name == obj<Seating>(p, 0)->name2;
  }
  void* seatedName(QelPartial* p) { return key1(obj<Seating>(p, 0)->name2); }
  void* guestName(QelInfo* i) { return key1(obj<Guest>(i)->name); }
  unsigned char matchingGuest(QelPartial* p, QelInfo* i) {
    const Guest* g1 = obj<Guest>(p, 0);
    const Guest* g2 = obj<Guest>(i);
    return g2->sex != g1->sex && g2->hobby == g1->hobby;
  }
  void* seatedHobby(QelPartial* p) { return key1(obj<Guest>(p, 0)->hobby); }
  void* guestHobby(QelInfo* i) { return key1(obj<Guest>(i)->hobby); }
  unsigned char guestOnPath(QelPartial* p, QelInfo* i) {
    const Path* path = obj<Path>(i);
    return path->id == obj<Seating>(p, 2)->id && path->name == obj<Guest>(p, 0)->name;
  }
  void* candidateOnPath(QelPartial* p) {
    return key2(obj<Seating>(p, 2)->id, obj<Guest>(p, 0)->name);
  }
  void* pathIdName(QelInfo* i) {
    const Path* path = obj<Path>(i);
    return key2(path->id, path->name);
  }
  unsigned char guestChosen(QelPartial* p, QelInfo* i) {
    const Chosen* c = obj<Chosen>(i);
    return c->id == obj<Seating>(p, 3)->id && c->name == obj<Guest>(p, 1)->name &&
           c->hobby == obj<Guest>(p, 2)->hobby;
  }
  void* candidateChosen(QelPartial* p) {
    return key3(obj<Seating>(p, 3)->id, obj<Guest>(p, 1)->name,
                obj<Guest>(p, 2)->hobby);
  }
  void* chosenKey(QelInfo* i) {
    const Chosen* c = obj<Chosen>(i);
    return key3(c->id, c->name, c->hobby);
  }

  // find_seating in the usual order. Left partials: seating; guest1,
  // seating; guest2, guest1, seating; count, guest2, guest1, seating;
  // token, count, ...
  unsigned char countGuard(QelPartial* p, QelInfo* i) {
    return obj<Seating>(p, 2)->id == obj<Count>(i)->c - 1;
  }
  void* guardedNextId(QelPartial* p) { return key1(obj<Seating>(p, 2)->id + 1); }
  void* countOf(QelInfo* i) { return key1(obj<Count>(i)->c); }
  unsigned char guestOnPathUsual(QelPartial* p, QelInfo* i) {
    const Path* path = obj<Path>(i);
    return path->id == obj<Seating>(p, 3)->id && path->name == obj<Guest>(p, 1)->name;
  }
  void* candidateOnPathUsual(QelPartial* p) {
    return key2(obj<Seating>(p, 3)->id, obj<Guest>(p, 1)->name);
  }
  unsigned char guestChosenUsual(QelPartial* p, QelInfo* i) {
    const Chosen* c = obj<Chosen>(i);
    return c->id == obj<Seating>(p, 4)->id && c->name == obj<Guest>(p, 2)->name &&
           c->hobby == obj<Guest>(p, 3)->hobby;
  }
  void* candidateChosenUsual(QelPartial* p) {
    return key3(obj<Seating>(p, 4)->id, obj<Guest>(p, 2)->name,
                obj<Guest>(p, 3)->hobby);
  }

  // make_path. Left partials: seating; path, seating.
  unsigned char parentPath(QelPartial* p, QelInfo* i) {
    return obj<Path>(i)->id == obj<Seating>(p, 0)->pid;
  }
  void* seatingPid(QelPartial* p) { return key1(obj<Seating>(p, 0)->pid); }
  void* pathId(QelInfo* i) { return key1(obj<Path>(i)->id); }
  unsigned char nameOnPath(QelPartial* p, QelInfo* i) {
    const Path* path = obj<Path>(i);
    return path->id == obj<Seating>(p, 1)->id && path->name == obj<Path>(p, 0)->name;
  }
  void* inheritedOnPath(QelPartial* p) {
    return key2(obj<Seating>(p, 1)->id, obj<Path>(p, 0)->name);
  }

  // are_we_done. Left partial: last_seat.
  unsigned char reachesLastSeat(QelPartial* p, QelInfo* i) {
    return obj<Seating>(i)->seat2 == obj<LastSeat>(p, 0)->seat;
  }
  void* lastSeatValue(QelPartial* p) { return key1(obj<LastSeat>(p, 0)->seat); }
  void* seatingSeat2(QelInfo* i) { return key1(obj<Seating>(i)->seat2); }

  // print_results. Left partials: seating; last_seat, seating.
  unsigned char isLastSeat(QelPartial* p, QelInfo* i) {
    return obj<LastSeat>(i)->seat == obj<Seating>(p, 0)->seat2;
  }
  void* seatingSeat2Left(QelPartial* p) { return key1(obj<Seating>(p, 0)->seat2); }
  void* lastSeatOf(QelInfo* i) { return key1(obj<LastSeat>(i)->seat); }
  unsigned char resultPath(QelPartial* p, QelInfo* i) {
    return obj<Path>(i)->id == obj<Seating>(p, 1)->id;
  }
  void* resultId(QelPartial* p) { return key1(obj<Seating>(p, 1)->id); }

  // Actions. Values are read before the first change: a modification
  // (retract and assert again) can delete the partial being fired.
  void assignFirstSeat(QelPartial* p) {
    const int name = obj<Guest>(p, 1)->name;
    const int c = obj<Count>(p, 0)->c;
    seatings_.push_back(Seating{1, name, name, 1, c, 0, true});
    assertObject(kSeating, &seatings_.back());
    paths_.push_back(Path{c, name, 1});
    assertObject(kPath, &paths_.back());
    modifyCount(c + 1);
    modifyState(kAssignSeats);
  }
  void findSeating(QelPartial* p) {
    seat(obj<Seating>(p, 4), obj<Count>(p, 5)->c, obj<Guest>(p, 3)->hobby,
         obj<Guest>(p, 2)->name);
  }
  void findSeatingUsual(QelPartial* p) {
    seat(obj<Seating>(p, 5), obj<Count>(p, 2)->c, obj<Guest>(p, 4)->hobby,
         obj<Guest>(p, 3)->name);
  }
  // Seats guest g2 next to the last guest of seating s.
  void seat(const Seating* s, int c, int hobby, int g2) {
    seatings_.push_back(Seating{s->seat2, s->name2, g2, s->seat2 + 1, c, s->id, false});
    assertObject(kSeating, &seatings_.back());
    paths_.push_back(Path{c, g2, s->seat2 + 1});
    assertObject(kPath, &paths_.back());
    chosen_.push_back(Chosen{s->id, g2, hobby});
    assertObject(kChosen, &chosen_.back());
    modifyCount(c + 1);
    modifyState(kMakePath);
  }
  void makePath(QelPartial* p) {
    const Path* from = obj<Path>(p, 1);
    const Seating* s = obj<Seating>(p, 2);
    paths_.push_back(Path{s->id, from->name, from->seat});
    assertObject(kPath, &paths_.back());
  }
  void pathDone(QelPartial* p) {
    Seating* s = obj<Seating>(p, 0);
    retractObject(s, 0);
    s->pathDone = true;
    assertObject(kSeating, s);
    modifyState(kCheckDone);
  }
  void areWeDone(QelPartial*) { modifyState(kPrintResults); }
  void continueSearch(QelPartial*) { modifyState(kAssignSeats); }
  void printResults(QelPartial* p) {
    Path* path = obj<Path>(p, 0);
    retractObject(path, 0);
    std::printf("seat %d %s\n", path->seat, (*names_)[path->name].c_str());
  }
  void allDone(QelPartial*) { halted_ = true; }

 protected:
  void notifyBeginRule(QelInstance*) override { ++fired_; }

 private:
  void modifyCount(int c) {
    retractObject(&count_, 0);
    count_.c = c;
    assertObject(kCount, &count_);
  }
  void modifyState(int state) {
    retractObject(&context_, 0);
    context_.state = state;
    assertObject(kContext, &context_);
  }

  const std::vector<std::string>* names_;
  // Deques keep the addresses of asserted objects stable.
  std::deque<Guest> guests_;
  std::deque<Seating> seatings_;
  std::deque<Path> paths_;
  std::deque<Chosen> chosen_;
  LastSeat lastSeat_{0};
  Count count_{0};
  Context context_{kStartUp};
  int fired_ = 0;
  bool halted_ = false;
};

// Stops fireAllRules once all_done has run.
class HaltingAction : public QelActionNode {
 public:
  explicit HaltingAction(QelRuleNode* rule) : QelActionNode(rule) {}
  int execute(QelContext* context, QelPartial* partial) override {
    const int result = QelActionNode::execute(context, partial);
    return static_cast<MannersContext*>(context)->halted() ? -2 : result;
  }
};

QelActionNode* MannersNetwork::newActionNode(QelRuleNode* rule) {
  return new HaltingAction(rule);
}

char kRuleset[] = "manners";
char kRuleNames[][20] = {"assign_first_seat", "find_seating", "make_path",
                         "path_done",         "are_we_done",  "continue",
                         "print_results",     "all_done"};
char kClassNames[][12] = {"guest", "last_seat", "seating", "context",
                          "path",  "chosen",    "count"};

template <typename T>
T* at(const QelList& list, int i) {
  return static_cast<T*>(list[i]);
}
template <typename F>
QelDiscTest disc(F f) {
  return static_cast<QelDiscTest>(f);
}
template <typename F>
QelJoinTest test(F f) {
  return static_cast<QelJoinTest>(f);
}
template <typename F>
QelKeyFunction lkey(F f) {
  return static_cast<QelKeyFunction>(f);
}
template <typename F>
QelRecordKeyFunction rkey(F f) {
  return static_cast<QelRecordKeyFunction>(f);
}
template <typename F>
QelActionFunction act(F f) {
  return static_cast<QelActionFunction>(f);
}

MannersNetwork::MannersNetwork(bool keyed, bool usual) : QelNetwork(kRuleset) {
  // 8 rules, 13 discrimination, 8 alpha, 8 right and 17 join nodes.
  init(0, 0, 8, 13, 8, 8, 17);
  for (int c = kGuest; c <= kCount; ++c) {
    QelClassNode* node = new QelClassNode(this, c);
    node->name = kClassNames[c];
    node->kind = 1;
    classes.append(node);
  }
  using C = MannersContext;
  // Right nodes: 0 guest, 1 count, 2 seating done, 3 seating not done,
  // 4 path, 5 chosen, 6 last_seat, 7 every seating.
  initDisc(at<QelDiscNode>(discs, 0), kContext, -1, disc(&C::isStartUp));
  initDisc(at<QelDiscNode>(discs, 1), kContext, -1, disc(&C::isAssignSeats));
  initDisc(at<QelDiscNode>(discs, 2), kContext, -1, disc(&C::isMakePath));
  initDisc(at<QelDiscNode>(discs, 3), kContext, -1, disc(&C::isCheckDone));
  initDisc(at<QelDiscNode>(discs, 4), kContext, -1, disc(&C::isPrintResults));
  initDisc(at<QelDiscNode>(discs, 5), kGuest, 0, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 6), kCount, 1, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 7), kSeating, 2, disc(&C::isPathDone));
  initDisc(at<QelDiscNode>(discs, 8), kSeating, 3, disc(&C::isPathNotDone));
  initDisc(at<QelDiscNode>(discs, 9), kPath, 4, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 10), kChosen, 5, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 11), kLastSeat, 6, GetQelNullDisc());
  initDisc(at<QelDiscNode>(discs, 12), kSeating, 7, GetQelNullDisc());

  // Alpha i heads rule i; the rules of one state share its test.
  const int alphaDisc[8] = {0, 1, 2, 2, 3, 3, 4, 4};
  for (int a = 0; a < 8; ++a) {
    addAlphaNode(at<QelDiscNode>(discs, alphaDisc[a]), a, -1, QelPatternPlain);
  }

  auto join = [this](int j, int leftIsJoin, int left, int right, QelJoinTest t,
                     QelPatternType type) {
    initJoin(at<QelJoinNode>(joins, j), leftIsJoin, left, right, t, 0, -1, type);
  };
  const QelPatternType plain = QelPatternPlain;
  const QelPatternType no = QelPatternNot;
  // assign_first_seat
  join(0, 0, 0, 0, GetQelNullJoin(), plain);
  join(1, 1, 0, 1, GetQelNullJoin(), plain);
  // find_seating
  if (usual) {
    join(2, 0, 1, 2, GetQelNullJoin(), plain);
    join(3, 1, 2, 0, test(&C::seatedGuest), plain);
    join(4, 1, 3, 0, test(&C::matchingGuest), plain);
    join(5, 1, 4, 1, test(&C::countGuard), plain);
    join(6, 1, 5, 4, test(&C::guestOnPathUsual), no);
    join(7, 1, 6, 5, test(&C::guestChosenUsual), no);
  } else {
    join(2, 0, 1, 1, GetQelNullJoin(), plain);
    join(3, 1, 2, 2, test(&C::newestSeating), plain);
    join(4, 1, 3, 0, test(&C::seatedGuest), plain);
    join(5, 1, 4, 0, test(&C::matchingGuest), plain);
    join(6, 1, 5, 4, test(&C::guestOnPath), no);
    join(7, 1, 6, 5, test(&C::guestChosen), no);
  }
  // make_path
  join(8, 0, 2, 3, GetQelNullJoin(), plain);
  join(9, 1, 8, 4, test(&C::parentPath), plain);
  join(10, 1, 9, 4, test(&C::nameOnPath), no);
  // path_done
  join(11, 0, 3, 3, GetQelNullJoin(), plain);
  // are_we_done
  join(12, 0, 4, 6, GetQelNullJoin(), plain);
  join(13, 1, 12, 7, test(&C::reachesLastSeat), plain);
  // print_results
  join(14, 0, 6, 7, GetQelNullJoin(), plain);
  join(15, 1, 14, 6, test(&C::isLastSeat), plain);
  join(16, 1, 15, 4, test(&C::resultPath), plain);

  if (keyed) {
    auto keys = [this](int j, QelKeyFunction l, QelRecordKeyFunction r) {
      initJoinKeys(at<QelJoinNode>(joins, j), l, r);
    };
    if (usual) {
      keys(3, lkey(&C::seatedName), rkey(&C::guestName));
      keys(4, lkey(&C::seatedHobby), rkey(&C::guestHobby));
      keys(5, lkey(&C::guardedNextId), rkey(&C::countOf));
      keys(6, lkey(&C::candidateOnPathUsual), rkey(&C::pathIdName));
      keys(7, lkey(&C::candidateChosenUsual), rkey(&C::chosenKey));
    } else {
      keys(3, lkey(&C::countValue), rkey(&C::seatingNextId));
      keys(4, lkey(&C::seatedName), rkey(&C::guestName));
      keys(5, lkey(&C::seatedHobby), rkey(&C::guestHobby));
      keys(6, lkey(&C::candidateOnPath), rkey(&C::pathIdName));
      keys(7, lkey(&C::candidateChosen), rkey(&C::chosenKey));
    }
    keys(9, lkey(&C::seatingPid), rkey(&C::pathId));
    keys(10, lkey(&C::inheritedOnPath), rkey(&C::pathIdName));
    keys(13, lkey(&C::lastSeatValue), rkey(&C::seatingSeat2));
    keys(15, lkey(&C::seatingSeat2Left), rkey(&C::lastSeatOf));
    keys(16, lkey(&C::resultId), rkey(&C::pathId));
  }

  // Within a state the rule that must fire first has the higher priority.
  const int lastJoin[8] = {1, 7, 10, 11, 13, -1, 16, -1};
  const int priority[8] = {0, 0, 1, 0, 1, 0, 1, 0};
  for (int r = 0; r < 8; ++r) {
    initRule(at<QelRuleNode>(rules, r), -1, kRuleNames[r], GetQelNullPrio(),
             priority[r], lastJoin[r], -1);
  }
  const QelActionFunction actions[8] = {
      act(&C::assignFirstSeat),
      usual ? act(&C::findSeatingUsual) : act(&C::findSeating),
      act(&C::makePath),
      act(&C::pathDone),        act(&C::areWeDone),      act(&C::continueSearch),
      act(&C::printResults),    act(&C::allDone)};
  for (int r = 0; r < 8; ++r) {
    if (lastJoin[r] >= 0) {
      initAction(r, actions[r], 0, 1, lastJoin[r]);
    } else {
      initAction(r, actions[r], 0, 0, r);
    }
  }
}

struct Data {
  std::vector<std::string> names;  // symbol index -> text
  std::map<std::string, int> index;
  std::vector<Guest> guests;
  int lastSeat = 0;

  int intern(const std::string& s) {
    auto it = index.find(s);
    if (it != index.end()) return it->second;
    names.push_back(s);
    return index[s] = static_cast<int>(names.size()) - 1;
  }
};

// The words of one line; parentheses separate words like blanks do.
std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char ch : line) {
    if (ch == '(' || ch == ')' || std::isspace(static_cast<unsigned char>(ch))) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += ch;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Reads all of `in` with stdio: iostreams cost more than the parsing.
bool readText(std::FILE* in, std::string& text) {
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  return !std::ferror(in);
}

bool readData(const std::string& text, Data& data) {
  int number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> t = splitWords(text.substr(at, end - at));
    at = end + 1;
    ++number;
    if (t.empty() || t[0][0] == ';' || t[0][0] == '#') continue;
    // Drop slot names of the parenthesised form.
    if (t.size() > 2 && (t[1] == "name" || t[1] == "seat")) {
      std::vector<std::string> values{t[0]};
      for (size_t k = 2; k < t.size(); k += 2) values.push_back(t[k]);
      t.swap(values);
    }
    if (t[0] == "guest" && t.size() == 4) {
      data.guests.push_back(
          Guest{data.intern(t[1]), data.intern(t[2]), data.intern(t[3])});
    } else if (t[0] == "last_seat" && t.size() == 2) {
      data.lastSeat = std::atoi(t[1].c_str());
    } else {
      std::fprintf(stderr, "manners: line %d not understood\n", number);
      return false;
    }
  }
  return data.lastSeat > 0 && !data.guests.empty();
}

double cpuMilliseconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  bool keyed = true;
  bool usual = false;
  bool timed = false;
  const char* path = nullptr;
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--unkeyed") == 0) {
      keyed = false;
    } else if (std::strcmp(argv[a], "--usual") == 0) {
      usual = true;
    } else if (std::strcmp(argv[a], "--time") == 0) {
      timed = true;
    } else if (path == nullptr) {
      path = argv[a];
    } else {
      std::fprintf(stderr, "usage: manners [--unkeyed] [--usual] [--time] [data-file]\n");
      return 2;
    }
  }
  const double start = cpuMilliseconds();
  std::string text;
  std::FILE* in = path != nullptr ? std::fopen(path, "r") : stdin;
  if (in == nullptr || !readText(in, text)) {
    std::fprintf(stderr, "manners: cannot read %s\n", path ? path : "the input");
    return 2;
  }
  if (in != stdin) std::fclose(in);
  Data data;
  if (!readData(text, data)) {
    std::fprintf(stderr, "manners: no guests or no last_seat in the data\n");
    return 2;
  }

  int fired;
  {
    MannersNetwork network(keyed, usual);
    MannersContext context(&network, &data.names);
    for (const Guest& g : data.guests) context.addGuest(g.name, g.sex, g.hobby);
    context.start(data.lastSeat);
    fired = context.run();
  }
  const double end = cpuMilliseconds();
  std::printf("rules fired %d\n", fired);
  if (timed) std::fprintf(stderr, "engine cpu ms %.3f\n", end - start);
  return 0;
}
