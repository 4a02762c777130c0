// The parser and the model on good input (printed back in canonical form)
// and on bad input (one message with the right location).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "model.h"
#include "parser.h"
#include "test_source.h"

namespace qelc {
namespace {

const std::string kFile = "t.clp";

std::string parsed(const std::string& source) {
  SourceFile file;
  Error error;
  if (!parseSource(source, &kFile, file, error)) return error.text();
  return file.print();
}

std::string modelled(const std::string& source) {
  Model model;
  std::string message;
  return modelOf(source, model, message) ? model.print() : message;
}

TEST(Parser, ConstructsPrintBackInCanonicalForm) {
  struct Case {
    const char* source;
    const char* printed;
  } cases[] = {
      {"(deftemplate p \"doc\" (slot a) (field b (default 3)))",
       "(deftemplate p (slot a) (slot b (default 3)))\n"},
      {"(deffacts d (a 1 2.5 \"s\\\"q\") (b))", "(deffacts d (a 1 2.5 \"s\"q\") (b))\n"},
      // Connectives: & binds tighter than |, a leading variable stays apart.
      {"(defrule r ?f <- (p ?x&~red|blue ?) => (retract ?f))",
       "(defrule r ?f <- (p ?x&{~red|blue} ?) => (retract ?f))\n"},
      {"(defrule r (declare (salience -5)) (p (a ?x&:(> ?x 1)) (b =(+ ?x 1))) => )",
       "(defrule r (salience -5) (p (a ?x&:(> ?x 1)) (b =(+ ?x 1))) =>)\n"},
      {"(defrule r (or (a) (and (b) (not (c)))) (exists (d ?)) (test (eq 1 1)) => (halt))",
       "(defrule r (or (a) (and (b) (not (c)))) (exists (d ?)) (test (eq 1 1)) => (halt))\n"},
      {"; a comment\n(x 1) (y \"z\")", "(x 1)\n(y \"z\")\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(parsed(c.source), c.printed) << c.source;
}

TEST(Parser, ErrorsCarryTheirLocation) {
  struct Case {
    std::string source;
    const char* message;
  } cases[] = {
      {"(defrule r\n  (a \"open => )", "t.clp:2:6: error: unterminated string"},
      {std::string("(a \0 b)", 7), "t.clp:1:4: error: unexpected NUL character"},
      {"(deftemplate t (slot a)", "t.clp:1:1: error: '(' is never closed"},
      {")", "t.clp:1:1: error: unexpected ')'"},
      {"(defrule r (a) => ) )", "t.clp:1:21: error: unexpected ')'"},
      {"(deffunction f () 1)", "t.clp:1:2: error: deffunction is not supported"},
      {"(deftemplate t (multislot a))", "t.clp:1:17: error: multislot is not supported"},
      {"(defrule r (a $?x) => )", "t.clp:1:15: error: multifield variable $?x is not supported"},
      {"(defrule r (a) )", "t.clp:1:1: error: rule r has no '=>'"},
      {"(defrule r (forall (a) (b)) => )", "t.clp:1:13: error: conditional element forall is not supported"},
      {"(defrule r (not (a) (b)) => )",
       "t.clp:1:12: error: not takes one conditional element; use (not (and ...))"},
      {"(defrule r (p (a 1 2)) => )",
       "t.clp:1:20: error: more than one field in slot a (a multislot constraint) is not supported"},
      {"(defrule r ?f (a) => )", "t.clp:1:12: error: expected ?f <- (pattern)"},
      {"(defrule r (declare (auto-focus TRUE)) => )",
       "t.clp:1:21: error: declaration (auto-focus TRUE) is not supported"},
      {"(deftemplate t (slot a)) (a 1)",
       "t.clp:1:26: error: 'a' is not a construct (a data file holds facts only)"},
  };
  for (const Case& c : cases) EXPECT_EQ(parsed(c.source), c.message) << c.source;
}

TEST(Model, VariablesBecomeSlotReferences) {
  const std::string printed = modelled(
      "(deftemplate p (slot a) (slot b))\n"
      "(defrule r ?f <- (p (a ?x) (b ?x)) (q ?y&~?x) (not (q ?x)) (test (> ?y 1))\n"
      "  => (modify ?f (b ?y)) (bind ?z (+ ?y 1)) (printout t ?z crlf))");
  EXPECT_NE(printed.find("  0 pattern 1 (eq $.1 $.0)\n"), std::string::npos) << printed;
  // ?y's test moves to the link that binds ?y; the not link reads ?x.
  EXPECT_NE(printed.find("  1 pattern 2 (> $.0 1) | (neq $.0 $0.0)\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("  2 not 2 | (eq $.0 $0.0)\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("=> (modify $0 (fact#1 1=$1.0))"), std::string::npos) << printed;
}

TEST(Model, OrMakesOneRulePerBranchAndRootGroupsOrderTheFirstFirings) {
  const std::string printed = modelled(
      "(defrule a => )\n(defrule b (not (x)) => )\n(defrule c (or (x) (and (y) (z))) => )\n"
      "(defrule d (test (> 2 1)) => )\n(defrule e => )");
  // Rules starting with not fire first after a reset, then the others in
  // the order their first conditions appear.
  EXPECT_NE(printed.find("group 0 (not (x))\ngroup 1 \ngroup 2 (test (> 2 1))\n"), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("rule c salience 0\n  0 pattern 1\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("rule c#1 salience 0\n  0 pattern 2\n  1 pattern 3\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("rule e salience 0\n  0 root 1\n"), std::string::npos) << printed;
}

TEST(Model, ErrorsCarryTheirLocation) {
  struct Case {
    const char* source;
    const char* message;
  } cases[] = {
      {"(defrule r (p (a 1)) => )", "t.clp:1:13: error: unknown template p"},
      {"(deftemplate p (slot a))\n(defrule r (p (b 1)) => )", "t.clp:2:16: error: unknown slot b in template p"},
      {"(defrule r (a ?x) (test (> ?y 1)) => )", "t.clp:1:28: error: unbound variable ?y"},
      {"(defrule r (a ?x) => (printout t ?y))", "t.clp:1:34: error: unbound variable ?y"},
      {"(defrule r (a ?x) => (retract ?x))",
       "t.clp:1:31: error: ?x is not bound to a fact (bind it with ?x <- pattern)"},
      {"(defrule r (a ?x) => (printout stdout ?x))",
       "t.clp:1:32: error: output to stdout is not supported (only t)"},
      {"(defrule r (a ?x) => (while (> 1 2) (halt)))", "t.clp:1:23: error: function while is not supported"},
      {"(defrule r (a) => ())", "t.clp:1:19: error: expected an action"},
      {"(defrule r (not (and (a ?x) (b ?y))) => (printout t ?x))", "t.clp:1:53: error: unbound variable ?x"},
      {"(defrule r (a ?x&:(assert (b))) => )", "t.clp:1:19: error: assert is not supported in a condition"},
      {"(defrule r (a) => )\n(defrule r (b) => )", "t.clp:2:1: error: rule r is defined twice"},
  };
  for (const Case& c : cases) EXPECT_EQ(modelled(c.source), c.message) << c.source;
}

}  // namespace
}  // namespace qelc
