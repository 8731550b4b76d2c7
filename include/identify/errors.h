// The exceptions of the library. Their messages are the console program's
// messages without its "identify: " prefix.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace identify {

// A fault in an input file or table: `file`, 1-based `line` and `column`
// (line 0: the file as a whole, or no place) and the message, which starts
// with the place: "data.csv:4:12: expected a number, found \"0,74\"".
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message)
      : std::runtime_error(message) {}
  InputError(const std::string& message, std::string file, int line,
             int column)
      : std::runtime_error(message),
        file(std::move(file)),
        line(line),
        column(column) {}

  std::string file;
  int line = 0;
  int column = 0;
};

// Fit options out of range, a parameter name that is not fitted, a model
// that cannot serve the problem: "--starts: expected a whole number from 1
// to 1000000, found \"0\"". The console program exits with its usage code.
class OptionsError : public std::invalid_argument {
 public:
  explicit OptionsError(const std::string& message)
      : std::invalid_argument(message) {}
};

}  // namespace identify
