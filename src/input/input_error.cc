// Message building for errors in the input files. Every reader reports a
// fault through these functions, so all messages share one shape: the place
// ("file:line:col: ", or "file: " for the file as a whole), then either
// "expected WHAT, found WHAT" or a free-form reason.
#include "input/input_error.h"

#include <string>

namespace identify {

std::string format_pos(const SourcePos& pos) {
  if (pos.line == 0) return pos.file + ": ";
  return pos.file + ":" + std::to_string(pos.line) + ":" +
         std::to_string(pos.column) + ": ";
}

InputError input_error(const SourcePos& pos, const std::string& expected,
                       const std::string& found) {
  return InputError(
      format_pos(pos) + "expected " + expected + ", found " + found, pos.file,
      pos.line, pos.column);
}

InputError input_error(const SourcePos& pos, const std::string& reason) {
  return InputError(format_pos(pos) + reason, pos.file, pos.line,
                    pos.column);
}

}  // namespace identify
