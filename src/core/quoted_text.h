// Text from a user's file as a one-line message shows it. Any byte may reach
// a message (a name, a token, a library's complaint about a byte), and a
// message must stay one printable line whatever the file holds: control
// bytes and bytes outside ASCII are written as escapes ("\t", "\r", "\n",
// "\xHH"), and within quotes also the quote and the backslash ("\"", "\\").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace identify {

namespace quoted_text_detail {

inline void append_escaped(std::string& out, char c, bool quotes) {
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

}  // namespace quoted_text_detail

// `text` in double quotes for a message, cut after `limit` bytes (marked by
// "..." after the closing quote), escaped as above.
inline std::string quote_text(std::string_view text, std::size_t limit = 20) {
  std::string out = "\"";
  for (const char c : text.substr(0, limit)) {
    quoted_text_detail::append_escaped(out, c, true);
  }
  out += '"';
  if (text.size() > limit) out += "...";
  return out;
}

// `text` with its control bytes and bytes outside ASCII escaped, no quotes
// added: for a library's message that may carry a byte of the input
// ("unknown escape character: \n").
inline std::string printable_text(std::string_view text) {
  std::string out;
  for (const char c : text) quoted_text_detail::append_escaped(out, c, false);
  return out;
}

}  // namespace identify
