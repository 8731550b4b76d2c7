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
  return InputError(format_pos(pos) + "expected " + expected + ", found " +
                    found);
}

InputError input_error(const SourcePos& pos, const std::string& reason) {
  return InputError(format_pos(pos) + reason);
}

namespace {

// Appends byte `c` so that it prints as itself or as an escape: "\t",
// "\r", "\n", "\xHH" for other control bytes and bytes outside ASCII, and
// with `quotes` also "\"" and "\\".
void append_escaped(std::string& out, char c, bool quotes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto byte = static_cast<unsigned char>(c);
  if (quotes && (c == '"' || c == '\\')) {
    out += '\\';
    out += c;
  } else if (c == '\t') {
    out += "\\t";
  } else if (c == '\n') {
    out += "\\n";
  } else if (c == '\r') {
    out += "\\r";
  } else if (byte < 0x20 || byte >= 0x7F) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  } else {
    out += c;
  }
}

}  // namespace

std::string quote_text(std::string_view text, std::size_t limit) {
  std::string out = "\"";
  for (const char c : text.substr(0, limit)) append_escaped(out, c, true);
  out += '"';
  if (text.size() > limit) out += "...";
  return out;
}

std::string printable_text(std::string_view text) {
  std::string out;
  for (const char c : text) append_escaped(out, c, false);
  return out;
}

}  // namespace identify
