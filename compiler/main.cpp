// qelc, the rule compiler.
//
//   qelc compile RULES.clp... -o OUT.cpp   writes the generated code
//   qelc run FILE.clp... [--stats] [--repeat N]
//                                          compiles, builds (cached) and runs
//   qelc plan RULES.clp...                 prints the model and the plan
//
// `run` performs (reset) and (run): files that hold facts only are read
// after the reset, in order. With --stats the program prints "N rules
// fired" and its CPU time on stderr; --repeat N does (reset) and (run) N
// times in the one process.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "driver.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: qelc compile RULES.clp... -o OUT.cpp\n"
               "       qelc run FILE.clp... [--stats] [--repeat N]\n"
               "       qelc plan RULES.clp...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string command = argv[1];
  std::vector<std::string> files;
  std::string output;
  bool stats = false;
  std::string repeat;
  for (int a = 2; a < argc; ++a) {
    if (std::strcmp(argv[a], "-o") == 0 && a + 1 < argc) {
      output = argv[++a];
    } else if (std::strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
      repeat = argv[++a];
      if (repeat.empty() || repeat.find_first_not_of("0123456789") != std::string::npos) return usage();
    } else if (std::strcmp(argv[a], "--stats") == 0) {
      stats = true;
    } else {
      files.push_back(argv[a]);
    }
  }
  if (files.empty()) return usage();
  qelc::CompileResult result;
  qelc::Error error;
  if (!qelc::compileFiles(files, result, error)) {
    std::fprintf(stderr, "%s\n", error.text().c_str());
    return 1;
  }
  if (command == "plan") {
    std::fputs(result.plan.c_str(), stdout);
    return 0;
  }
  if (command == "compile") {
    if (output.empty()) return usage();
    std::ofstream out(output);
    out << result.program;
    if (!out) {
      std::fprintf(stderr, "qelc: cannot write %s\n", output.c_str());
      return 1;
    }
    return 0;
  }
  if (command != "run") return usage();
  qelc::Toolchain tools;
  std::string executable, message;
  if (!qelc::findToolchain(tools, message) || !qelc::buildProgram(result.program, tools, executable, message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  std::vector<char*> args;
  args.push_back(const_cast<char*>(executable.c_str()));
  if (stats) args.push_back(const_cast<char*>("--stats"));
  if (!repeat.empty()) {
    args.push_back(const_cast<char*>("--repeat"));
    args.push_back(const_cast<char*>(repeat.c_str()));
  }
  for (std::string& d : result.data) args.push_back(const_cast<char*>(d.c_str()));
  args.push_back(nullptr);
  std::fflush(stdout);
  execv(args[0], args.data());
  std::perror("qelc: cannot start the compiled program");
  return 1;
}
