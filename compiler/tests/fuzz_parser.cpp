// libFuzzer target: any text goes through the parser, the model, the plan
// and the emitter. Each pass may refuse it with an error value, none may
// crash; an error must carry a message. Built and run by
// scripts/fuzz-qelc.sh.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "emit.h"
#include "model.h"
#include "parser.h"
#include "plan.h"

namespace {

const std::string kFile = "fuzz.clp";

void refused(const qelc::Error& error) {
  if (error.message.empty()) std::abort();  // every refusal says why
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qelc::Error error;
  qelc::SourceFile file;
  if (!qelc::parseSource(text, &kFile, file, error)) {
    refused(error);
    return 0;
  }
  // A file of facts only is data, read by the generated program.
  if (!file.facts.empty()) return 0;
  std::vector<qelc::SourceFile> files;
  files.push_back(std::move(file));
  qelc::Model model;
  if (!qelc::buildModel(files, model, error)) {
    refused(error);
    return 0;
  }
  qelc::Plan plan;
  qelc::buildPlan(model, plan);
  qelc::EmitOptions options;
  options.rulesetName = "fuzz";
  options.sources.push_back(kFile);
  std::vector<std::string>& lines = options.lines[kFile];
  for (size_t at = 0; at <= text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (qelc::emitProgram(model, plan, options).empty()) std::abort();
  return 0;
}
