// The emitter: writes one C++ file per ruleset from the model and the
// plan. The file holds the constants and templates, the network class
// (built through the library's construction interface), the context class
// (its member functions are the tests, keys and actions) and a main() that
// runs (reset) and (run), reading further facts from the files it is
// given.
#ifndef QELC_EMIT_H
#define QELC_EMIT_H

#include <map>
#include <string>
#include <vector>

#include "model.h"
#include "plan.h"

namespace qelc {

struct EmitOptions {
  std::string rulesetName;           // used for class names and the network
  std::vector<std::string> sources;  // the source files, named in the header
  // The lines of each source file, quoted above the tests and actions.
  std::map<std::string, std::vector<std::string>> lines;
};

// The generated program's text.
std::string emitProgram(const Model& model, const Plan& plan, const EmitOptions& options);

}  // namespace qelc

#endif  // QELC_EMIT_H
