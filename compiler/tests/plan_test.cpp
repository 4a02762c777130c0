// The plan's analyses: sharing, equality keys and masks.
#include <gtest/gtest.h>

#include <string>

#include "plan.h"
#include "test_source.h"

namespace qelc {
namespace {

std::string planned(const std::string& source) {
  Model model;
  std::string message;
  if (!modelOf(source, model, message)) return message;
  Plan plan;
  buildPlan(model, plan);
  return plan.print();
}

TEST(Plan, SharesDiscriminationAlphaRightNodesAndJoinPrefixes) {
  const std::string p = planned(
      "(deftemplate avh (slot a) (slot v) (slot h))\n"
      "(defrule r1 (avh (a color) (v red) (h ?h)) (avh (v dog) (a pet) (h ?h)) (x ?h) => )\n"
      "(defrule r2 (avh (v red) (a color) (h ?c)) (avh (a pet) (v dog) (h ?c)) (y) => )\n"
      "(defrule r3 (avh (a pet) (v dog)) => )\n");
  // Tests are shared whatever their order and the variables' names; first
  // links get nodes of their own, visited before those of later links.
  EXPECT_EQ(p,
            "disc 0 class 1 (eq $.0 color) (eq $.1 red) alpha 0\n"
            "disc 1 class 1 (eq $.0 pet) (eq $.1 dog) alpha 1\n"
            "disc 2 class 1 (eq $.1 dog) (eq $.0 pet) right 0\n"
            "disc 3 class 2 right 1\n"
            "disc 4 class 3 right 2\n"
            "alpha 0 noupdate fffffffe\n"
            "alpha 1 noupdate ffffffff\n"
            "join 0 plain link 1 left alpha 0 right 0 (eq $1.2 $0.2) key $0.2=$1.2 indep fffffffc noupdate fffffffd\n"
            "join 1 plain link 2 left join 0 right 1 (eq $2.0 $0.2) key $0.2=$2.0 indep fffffffa noupdate ffffffff\n"
            "join 2 plain link 2 left join 0 right 2 indep ffffffff noupdate ffffffff\n"
            "rule 0 at join 1\nrule 1 at join 2\nrule 2 at alpha 1\n");
}

TEST(Plan, KeysComeFromEqualitiesWithEarlierLinksOnly) {
  const std::string p = planned(
      "(defrule r (a ?x ?y) (b ?z&:(> ?z ?x)&=(+ ?y 1)) (not (c ?x ?z)) => )\n");
  // =(+ ?y 1) is a key (left side an expression), :(> ?z ?x) is not; the
  // not join keys on both of its equalities.
  EXPECT_NE(p.find("join 0 plain link 1 left alpha 0 right 0 (> $1.0 $0.0) (eq $1.0 (+ $0.1 1)) "
                   "key (+ $0.1 1)=$1.0 indep fffffffc"),
            std::string::npos)
      << p;
  EXPECT_NE(p.find("join 1 not link 2 left join 0 right 1 (eq $2.0 $0.0) (eq $2.1 $1.0) "
                   "key $0.0=$2.0 key $1.0=$2.1 indep fffffff8"),
            std::string::npos)
      << p;
  // The alpha passes updates of ?x on (join 0 and join 1 read it); join 0
  // passes its own object's updates on (join 1 reads ?z) and ?x's.
  EXPECT_NE(p.find("alpha 0 noupdate fffffffe"), std::string::npos) << p;
  EXPECT_NE(p.find("indep fffffffc noupdate fffffffc"), std::string::npos) << p;
}

}  // namespace
}  // namespace qelc
