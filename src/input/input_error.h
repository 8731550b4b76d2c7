// Errors in the user's input files. Every message names the file, the line
// and the column of the offending place and says what was expected and what
// was found: "input.txt:7:3: expected a number, found \"abc\"". The driver
// adds the program name in front and exits with the input-error code. The
// exception type is the public identify::InputError, which also carries
// the place.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/quoted_text.h"
#include "identify/errors.h"

namespace identify {

// A place in an input file: 1-based line and column (column in bytes).
// line == 0 means the file as a whole (it could not be opened, say).
struct SourcePos {
  std::string file;
  int line = 0;
  int column = 0;
};

// "file:line:col: " (or "file: " when pos.line is 0).
std::string format_pos(const SourcePos& pos);

// Builds the one standard form: "file:line:col: expected WHAT, found WHAT".
InputError input_error(const SourcePos& pos, const std::string& expected,
                       const std::string& found);

// A free-form reason at a place: "file:line:col: REASON".
InputError input_error(const SourcePos& pos, const std::string& reason);

}  // namespace identify
