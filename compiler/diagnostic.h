// Source locations and compile errors. Errors are values: every pass
// returns the first one it meets instead of stopping the program.
#ifndef QELC_DIAGNOSTIC_H
#define QELC_DIAGNOSTIC_H

#include <string>

namespace qelc {

struct Location {
  const std::string* file = nullptr;  // owned by whoever read the source
  int line = 0;                       // from 1
  int column = 0;                     // from 1

  std::string text() const {
    return (file ? *file : std::string("?")) + ":" + std::to_string(line) + ":" +
           std::to_string(column);
  }
};

struct Error {
  Location where;
  std::string message;

  // FILE:LINE:COL: error: MESSAGE
  std::string text() const { return where.text() + ": error: " + message; }
};

}  // namespace qelc

#endif  // QELC_DIAGNOSTIC_H
