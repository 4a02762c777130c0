// The Miss Manners ruleset, in the form a rule compiler emits it: the
// object classes, a QelNetwork subclass that builds the network through
// the construction interface, and a QelContext subclass whose member
// functions are the tests, keys and actions the network refers to.
//
// Source ruleset (also in bench/clips/manners.clp):
//
//   assign_first_seat  context(start_up), guest(?n), count(?c)
//   find_seating       context(assign_seats),
//                      seating(?seat2, name2 ?n2, id ?id, path_done yes),
//                      guest(?n2, sex ?s1, hobby ?h1),
//                      guest(?g2, sex ~?s1, hobby ?h1), count(?c),
//                      test(?id = ?c - 1),
//                      not path(id ?id, name ?g2),
//                      not chosen(id ?id, name ?g2, hobby ?h1)
//   make_path          context(make_path), seating(id ?id, pid ?pid, no),
//                      path(id ?pid, ?n1, ?s), not path(id ?id, name ?n1)
//   path_done          context(make_path), seating(path_done no)
//   are_we_done        context(check_done), last_seat(?l),
//                      seating(seat2 ?l)
//   continue           context(check_done)
//   print_results      context(print_results), seating(id ?id, seat2 ?s2),
//                      last_seat(?s2), path(id ?id, ?n, ?s)
//   all_done           context(print_results) -> halt
#ifndef MANNERS_RULESET_H
#define MANNERS_RULESET_H

#include <cstdio>
#include <string>
#include <unordered_set>

#include "qel.h"

namespace manners {

// Symbols are interned: equal symbols are the same pointer, so tests and
// keys compare them by identity.
class SymbolTable {
 public:
  const char* intern(const std::string& text) {
    return symbols_.insert(text).first->c_str();
  }

 private:
  std::unordered_set<std::string> symbols_;
};

enum ClassIndex {
  kGuest,
  kLastSeat,
  kSeating,
  kContext,
  kPath,
  kChosen,
  kCount,
  kClassCount
};

struct Guest {
  const char* name;
  const char* sex;
  const char* hobby;
};
struct LastSeat {
  int seat;
};
struct Seating {
  int seat1;
  const char* name1;
  const char* name2;
  int seat2;
  int id;
  int pid;
  bool pathDone;
};
struct Context {
  const char* state;
};
struct Path {
  int id;
  const char* name;
  int seat;
};
struct Chosen {
  int id;
  const char* name;
  const char* hobby;
};
struct Count {
  int c;
};

class MannersNetwork : public QelNetwork {
 public:
  MannersNetwork();
  // all_done halts the agenda: its action node returns a stop result.
  QelActionNode* newActionNode(QelRuleNode* rule) override;
};

class MannersContext : public QelContext {
 public:
  MannersContext(MannersNetwork* network, SymbolTable* symbols,
                 std::FILE* out);
  // Retracts whatever is left, deleting the objects.
  ~MannersContext() override;
  const char* getRulesetName() const override { return "manners"; }

  // Runs the agenda to the halt; returns the number of rules fired.
  int run();

  // Discrimination tests.
  unsigned char isStartUp(QelInfo* i);
  unsigned char isAssignSeats(QelInfo* i);
  unsigned char isMakePath(QelInfo* i);
  unsigned char isCheckDone(QelInfo* i);
  unsigned char isPrintResults(QelInfo* i);
  unsigned char isPathDone(QelInfo* i);
  unsigned char isPathNotDone(QelInfo* i);

  // Join tests and their equality keys (left: of the partial; right: of the
  // new object).
  unsigned char newestSeating(QelPartial* p, QelInfo* i);
  void* countKey(QelPartial* p);
  void* seatingIdKey(QelInfo* i);
  unsigned char seatedGuest(QelPartial* p, QelInfo* i);
  void* name2Key(QelPartial* p);
  void* guestNameKey(QelInfo* i);
  unsigned char matchingGuest(QelPartial* p, QelInfo* i);
  void* hobbyKey(QelPartial* p);
  void* guestHobbyKey(QelInfo* i);
  unsigned char guestOnPath(QelPartial* p, QelInfo* i);
  void* seatingGuestKey(QelPartial* p);
  void* pathIdNameKey(QelInfo* i);
  unsigned char guestChosen(QelPartial* p, QelInfo* i);
  void* seatingGuestHobbyKey(QelPartial* p);
  void* chosenKey(QelInfo* i);
  unsigned char parentPath(QelPartial* p, QelInfo* i);
  void* pidKey(QelPartial* p);
  void* pathIdKey(QelInfo* i);
  unsigned char nameOnPath(QelPartial* p, QelInfo* i);
  void* seatingPathNameKey(QelPartial* p);
  unsigned char lastSeating(QelPartial* p, QelInfo* i);
  void* lastSeatKey(QelPartial* p);
  void* seat2Key(QelInfo* i);
  unsigned char resultPath(QelPartial* p, QelInfo* i);
  void* resultIdKey(QelPartial* p);

  // Actions.
  void assignFirstSeat(QelPartial* p);
  void findSeating(QelPartial* p);
  void makePath(QelPartial* p);
  void pathDone(QelPartial* p);
  void areWeDone(QelPartial* p);
  void continueSearch(QelPartial* p);
  void printResults(QelPartial* p);
  void allDone(QelPartial* p);

 protected:
  void notifyBeginRule(QelInstance*) override { ++fired_; }

 private:
  void setState(Context* context, const char* state);

  SymbolTable* symbols_;
  std::FILE* out_;
  int fired_;
  const char* startUp_;
  const char* assignSeats_;
  const char* makePath_;
  const char* checkDone_;
  const char* printResults_;
};

}  // namespace manners

#endif  // MANNERS_RULESET_H
