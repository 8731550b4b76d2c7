// Errors in the user's input files. Every message names the file, the line
// and the column of the offending place and says what was expected and what
// was found: "input.txt:7:3: expected a number, found \"abc\"". The driver
// adds the program name in front and exits with the input-error code.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace identify {

// A place in an input file: 1-based line and column (column in bytes).
// line == 0 means the file as a whole (it could not be opened, say).
struct SourcePos {
  std::string file;
  int line = 0;
  int column = 0;
};

class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message)
      : std::runtime_error(message) {}
};

// "file:line:col: " (or "file: " when pos.line is 0).
std::string format_pos(const SourcePos& pos);

// Builds the one standard form: "file:line:col: expected WHAT, found WHAT".
InputError input_error(const SourcePos& pos, const std::string& expected,
                       const std::string& found);

// A free-form reason at a place: "file:line:col: REASON".
InputError input_error(const SourcePos& pos, const std::string& reason);

// `text` in double quotes for a message, cut after `limit` bytes (marked by
// "..." after the closing quote); quotes, backslashes, control bytes and
// bytes outside ASCII are escaped so that the message stays one printable
// line ("\"", "\\", "\t", "\r", "\n", "\xHH").
std::string quote_text(std::string_view text, std::size_t limit = 20);

// `text` with its control bytes and bytes outside ASCII escaped as in
// quote_text, no quotes added: for a library's message that may carry a
// byte of the input ("unknown escape character: \n").
std::string printable_text(std::string_view text);

}  // namespace identify
