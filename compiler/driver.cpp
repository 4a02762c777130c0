#include "driver.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "emit.h"
#include "model.h"
#include "parser.h"
#include "plan.h"

namespace qelc {

namespace {

bool readFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string baseName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool exists(const std::string& path) {
  struct stat s;
  return stat(path.c_str(), &s) == 0;
}

std::string executableDir() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  buffer[n] = '\0';
  std::string path(buffer);
  return path.substr(0, path.rfind('/'));
}

std::uint64_t fnv1a(const std::string& text, std::uint64_t h = 1469598103934665603ull) {
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

bool makeDirs(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      const std::string part = path.substr(0, at);
      if (!exists(part) && mkdir(part.c_str(), 0755) != 0 && !exists(part)) return false;
    }
  }
  return true;
}

// The text of every header in `dir`, by name order: a program built
// against older runtime headers must not be taken from the cache.
std::string headerTexts(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(d)) {
      const std::string name = entry->d_name;
      if (name.size() > 2 && name.compare(name.size() - 2, 2, ".h") == 0) names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string texts;
  for (const std::string& name : names) {
    std::string text;
    if (readFile(dir + "/" + name, text)) texts += name + "\n" + text;
  }
  return texts;
}

std::string cacheDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/qelc";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.cache/qelc";
}

// Runs a command without a shell; true when it exits with 0.
bool runCommand(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool compileFiles(const std::vector<std::string>& paths, CompileResult& out, Error& error) {
  // The names outlive every location that points to them.
  static std::vector<std::unique_ptr<std::string>> names;
  std::vector<SourceFile> files;
  EmitOptions options;
  for (const std::string& path : paths) {
    names.emplace_back(new std::string(path));
    std::string text;
    if (!readFile(path, text)) {
      error = Error{Location{names.back().get(), 0, 0}, "cannot read the file"};
      return false;
    }
    SourceFile file;
    if (!parseSource(text, names.back().get(), file, error)) return false;
    if (!file.facts.empty()) {
      out.data.push_back(path);
      continue;
    }
    options.lines[path] = splitLines(text);
    options.sources.push_back(path.substr(path.rfind('/') + 1));
    files.push_back(std::move(file));
  }
  if (files.empty()) {
    error = Error{Location{names.empty() ? nullptr : names.back().get(), 0, 0}, "no rules to compile"};
    return false;
  }
  Model model;
  if (!buildModel(files, model, error)) return false;
  Plan plan;
  buildPlan(model, plan);
  options.rulesetName = baseName(paths[0]);
  for (const std::string& p : paths) {
    bool isData = false;
    for (const std::string& d : out.data) isData = isData || d == p;
    if (!isData) {
      options.rulesetName = baseName(p);
      break;
    }
  }
  out.plan = model.print() + plan.print();
  out.program = emitProgram(model, plan, options);
  return true;
}

bool findToolchain(Toolchain& tools, std::string& error) {
  const char* cxx = std::getenv("QELC_CXX");
  tools.compiler = cxx && *cxx ? cxx : "c++";
  const std::string installed = executableDir() + "/..";
  if (exists(installed + "/include/qel/qelrt_facts.h")) {
    tools.includeDirs = {installed + "/include/qel"};
    tools.libDir = installed + "/" QELC_INSTALL_LIBDIR;
    return true;
  }
  if (exists(std::string(QELC_SOURCE_INCLUDE) + "/qel.h")) {
    tools.includeDirs = {QELC_SOURCE_INCLUDE, QELC_SOURCE_RUNTIME};
    tools.libDir = QELC_BUILD_LIBDIR;
    return true;
  }
  error = "qelc: cannot find the qel headers (neither installed next to qelc nor in " QELC_SOURCE_INCLUDE ")";
  return false;
}

bool buildProgram(const std::string& program, const Toolchain& tools, std::string& executable,
                  std::string& error) {
  std::vector<std::string> command = {tools.compiler, "-std=c++17", "-O2", "-Wall", "-Wextra"};
  for (const std::string& dir : tools.includeDirs) command.push_back("-I" + dir);
  std::string key = program;
  for (const std::string& c : command) key += "\n" + c;
  key += "\n" + tools.libDir;
  for (const std::string& dir : tools.includeDirs) key += "\n" + headerTexts(dir);
  char hash[32];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
  const std::string dir = cacheDir() + "/" + hash;
  executable = dir + "/program";
  if (exists(executable)) return true;
  if (!makeDirs(dir)) {
    error = "qelc: cannot create " + dir;
    return false;
  }
  const std::string source = dir + "/program.cpp";
  {
    std::ofstream out(source);
    out << program;
    if (!out) {
      error = "qelc: cannot write " + source;
      return false;
    }
  }
  const std::string temporary = executable + ".tmp" + std::to_string(getpid());
  command.push_back(source);
  command.push_back("-o");
  command.push_back(temporary);
  command.push_back("-L" + tools.libDir);
  command.push_back("-Wl,-rpath," + tools.libDir);
  command.push_back("-lqel");
  if (!runCommand(command)) {
    std::remove(temporary.c_str());
    error = "qelc: the C++ compiler failed on " + source;
    return false;
  }
  // Renaming makes the finished program appear at once to other runs.
  if (std::rename(temporary.c_str(), executable.c_str()) != 0) {
    error = "qelc: cannot move the program into " + dir;
    return false;
  }
  return true;
}

}  // namespace qelc
