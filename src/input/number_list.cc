// The token loop of the input files. The whole file is read into memory,
// a leading UTF-8 byte-order mark is dropped and every CR LF becomes LF, so
// that the loop sees the same bytes on every platform. The loop then takes
// one token per pass, deciding by the next byte: a skip character discards
// the rest of its line (with a warning when that discards numbers outside a
// comment), anything else must be a number in the classic-locale form that
// formatted extraction of a double accepts, followed by one separator byte.
// Numbers are converted with strtod, which rounds correctly.
#include "input/number_list.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>

namespace identify {
namespace {

// At most this many bytes of offending text are shown in an error.
constexpr std::size_t kFoundLimit = 20;
// At most this many bytes of skipped text are shown in a warning.
constexpr std::size_t kExcerptLimit = 30;

// White space as the classic locale classifies it.
bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The four characters that discard the rest of the line when they stand at
// the place of a token.
bool is_skip(char c) { return c == '%' || c == '\n' || c == ' ' || c == '\t'; }

// Text in double quotes for a message, cut to `limit` bytes (marked by "..."
// after the closing quote). Quotes, backslashes, control bytes and bytes
// outside ASCII are escaped so that the message is one printable line.
std::string quote(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : text.substr(0, limit)) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  if (text.size() > limit) out += "...";
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// The system's reason for the last failed stream operation.
std::string system_reason(int error) {
  return error != 0 ? std::generic_category().message(error) : "unknown error";
}

// The whole content of the stream. A stream that fails other than by
// reaching its end is an InputError naming file_name.
std::string read_all(std::istream& stream, const std::string& file_name) {
  std::string content;
  std::string buffer(1 << 16, '\0');
  errno = 0;
  while (stream) {
    stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    content.append(buffer.data(), static_cast<std::size_t>(stream.gcount()));
  }
  if (stream.bad()) {
    throw input_error(SourcePos{file_name, 0, 0},
                      "cannot read: " + system_reason(errno));
  }
  return content;
}

// Drops a UTF-8 byte-order mark at the start and turns every CR that is
// immediately followed by LF into nothing; a lone CR stays.
std::string normalize(std::string_view raw) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (raw.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    raw.remove_prefix(kByteOrderMark.size());
  }
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  return text;
}

// The place just past the last byte of text, a final line feed not opening
// a new line.
SourcePos end_of(std::string_view text, const std::string& file) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  int line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return SourcePos{file, line, static_cast<int>(text.size() - line_start) + 1};
}

// One pass over normalized text, keeping the line and column of the next
// byte up to date.
class Tokenizer {
 public:
  Tokenizer(std::string_view text, bool allow_open_bracket,
            const std::string& file)
      : text_(text), allow_open_bracket_(allow_open_bracket), file_(file) {}

  NumberList run() {
    NumberList list;
    list.file = file_;
    while (!at_end()) {
      if (is_skip(peek())) {
        skip_rest_of_line(&list);
        continue;
      }
      const bool bracket = allow_open_bracket_ && peek() == '[';
      if (bracket) advance();
      while (!at_end() && is_space(peek())) advance();
      if (at_end()) {
        // Trailing white space ends the file quietly; a "[" there does not.
        if (bracket) throw input_error(here(), "a number", "end of file");
        break;
      }
      list.numbers.push_back(read_number());
      if (!at_end()) advance();  // the separator, whatever it is
    }
    list.end = end_of(text_, file_);
    return list;
  }

 private:
  bool at_end() const { return pos_ == text_.size(); }
  char peek() const { return text_[pos_]; }
  SourcePos here() const { return SourcePos{file_, line_, column_}; }

  void advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
    ++pos_;
  }

  // Moves over count bytes that hold no line feed.
  void advance_within_line(std::size_t count) {
    pos_ += count;
    column_ += static_cast<int>(count);
  }

  // Discards from the current byte up to and including the next line feed.
  // A stretch that starts with a blank or tab and holds a digit before any
  // "%" loses numbers that were probably meant to be read: warn about it.
  void skip_rest_of_line(NumberList* list) {
    std::size_t stop = text_.find('\n', pos_);
    if (stop == std::string_view::npos) stop = text_.size();
    const std::string_view stretch = text_.substr(pos_, stop - pos_);
    if (peek() == ' ' || peek() == '\t') {
      const std::string_view before_comment =
          trim(stretch.substr(0, stretch.find('%')));
      bool has_digit = false;
      for (const char c : before_comment) has_digit = has_digit || is_digit(c);
      if (has_digit) {
        const char* what =
            column_ == 1
                ? "line starts with a blank or tab, its numbers are ignored"
                : "text after two separators is ignored";
        list->warnings.push_back(file_ + ":" + std::to_string(line_) +
                                 ": warning: " + what + ": " +
                                 quote(before_comment, kExcerptLimit));
      }
    }
    advance_within_line(stretch.size());
    if (!at_end()) advance();
  }

  // Reads the longest prefix that formatted extraction of a double takes:
  // [sign] digits with at most one '.', then, only after a mantissa digit,
  // e or E, [sign], digits. The prefix must hold a mantissa digit and, when
  // an exponent was started, an exponent digit.
  NumberToken read_number() {
    const SourcePos start = here();
    std::size_t end = pos_;
    const auto has = [&](auto predicate) {
      return end < text_.size() && predicate(text_[end]);
    };
    const auto is_sign = [](char c) { return c == '+' || c == '-'; };
    if (has(is_sign)) ++end;
    bool mantissa_digit = false;
    bool point = false;
    while (true) {
      if (has(is_digit)) {
        mantissa_digit = true;
      } else if (!point && has([](char c) { return c == '.'; })) {
        point = true;
      } else {
        break;
      }
      ++end;
    }
    bool complete = mantissa_digit;
    if (mantissa_digit && has([](char c) { return c == 'e' || c == 'E'; })) {
      ++end;
      if (has(is_sign)) ++end;
      bool exponent_digit = false;
      while (has(is_digit)) {
        exponent_digit = true;
        ++end;
      }
      complete = exponent_digit;
    }
    if (!complete) {
      std::size_t word_end = pos_;
      while (word_end < text_.size() && !is_space(text_[word_end])) ++word_end;
      throw input_error(
          start, "a number",
          quote(text_.substr(pos_, word_end - pos_), kFoundLimit));
    }
    NumberToken token;
    token.text = std::string(text_.substr(pos_, end - pos_));
    token.value = std::strtod(token.text.c_str(), nullptr);
    token.line = start.line;
    token.column = start.column;
    if (!std::isfinite(token.value)) {
      throw input_error(start, "a finite number",
                        quote(token.text, kFoundLimit));
    }
    advance_within_line(end - pos_);
    return token;
  }

  std::string_view text_;
  bool allow_open_bracket_;
  const std::string& file_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
};

}  // namespace

SourcePos NumberList::pos(std::size_t k) const {
  if (k >= numbers.size()) return end;
  return SourcePos{file, numbers[k].line, numbers[k].column};
}

std::string written(const NumberToken& token) {
  if (!token.text.empty()) return token.text;
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, token.value);
  return std::string(buffer, result.ptr);
}

NumberList read_number_list(std::istream& stream, bool allow_open_bracket,
                            const std::string& file_name) {
  const std::string text = normalize(read_all(stream, file_name));
  return Tokenizer(text, allow_open_bracket, file_name).run();
}

NumberList read_number_list_file(const std::string& path,
                                 bool allow_open_bracket) {
  errno = 0;
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    throw input_error(SourcePos{path, 0, 0},
                      "cannot open: " + system_reason(errno));
  }
  return read_number_list(file, allow_open_bracket, path);
}

// InputError at the end of the file when the list holds fewer than count
// numbers; `expected` says what the layout needs.
void require_numbers(const NumberList& list, std::int64_t count,
                     const std::string& expected) {
  if (static_cast<std::int64_t>(list.size()) >= count) return;
  throw input_error(list.end, expected, std::to_string(list.size()));
}

// Value of number k, which must be finite.
double finite_number(const NumberList& list, std::size_t k) {
  const NumberToken& token = list.numbers[k];
  if (!std::isfinite(token.value)) {
    throw input_error(list.pos(k), "a finite number",
                      "\"" + written(token) + "\"");
  }
  return token.value;
}

// A count: number k truncated toward zero, within 0 .. max.
std::int32_t count_number(const NumberList& list, std::size_t k,
                          const std::string& what, std::int32_t max) {
  const double value = std::trunc(finite_number(list, k));
  if (value < 0.0) {
    throw input_error(list.pos(k), what + " of 0 or more",
                      written(list.numbers[k]));
  }
  if (value > max) {
    throw input_error(list.pos(k), what + " of at most " + std::to_string(max),
                      written(list.numbers[k]));
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace identify
