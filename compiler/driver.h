// The passes from source files to generated code, and the build of that
// code into a program, cached by content.
#ifndef QELC_DRIVER_H
#define QELC_DRIVER_H

#include <string>
#include <vector>

#include "diagnostic.h"

namespace qelc {

struct CompileResult {
  std::string program;              // the generated C++
  std::vector<std::string> data;    // files that hold facts only, in order
  std::string plan;                 // the plan's text, for --plan
};

// Parses, models, plans and emits the given files. Files of facts only
// are not compiled: their names are returned in `data`.
bool compileFiles(const std::vector<std::string>& paths, CompileResult& out, Error& error);

// Where the headers and the library are: next to the executable when
// installed, else in the build tree it was built in.
struct Toolchain {
  std::string compiler;  // $QELC_CXX or c++
  std::vector<std::string> includeDirs;
  std::string libDir;
};
bool findToolchain(Toolchain& tools, std::string& error);

// Builds `program` into an executable under the cache directory, unless
// an executable of the same content is there already; returns its path.
bool buildProgram(const std::string& program, const Toolchain& tools, std::string& executable,
                  std::string& error);

}  // namespace qelc

#endif  // QELC_DRIVER_H
