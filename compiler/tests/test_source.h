// The parser and the model run on a source text in one step, for the
// tests of the passes that follow them.
#ifndef QELC_TESTS_TEST_SOURCE_H
#define QELC_TESTS_TEST_SOURCE_H

#include <string>
#include <utility>
#include <vector>

#include "model.h"
#include "parser.h"

namespace qelc {

// Builds the model of `source`, read as the file t.clp. On failure
// `message` is the error's text, with its location.
inline bool modelOf(const std::string& source, Model& model, std::string& message) {
  static const std::string kFile = "t.clp";
  SourceFile file;
  Error error;
  std::vector<SourceFile> files;
  if (parseSource(source, &kFile, file, error)) {
    files.push_back(std::move(file));
    if (buildModel(files, model, error)) return true;
  }
  message = error.text();
  return false;
}

}  // namespace qelc

#endif  // QELC_TESTS_TEST_SOURCE_H
