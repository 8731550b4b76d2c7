// The token loop of the input files. The loop takes one token per pass over
// the normalized text, deciding by the next byte: a skip character discards
// the rest of its line (with a warning when that discards numbers outside a
// comment), anything else must be a number (number_syntax.h), followed by
// one separator byte. A separator that is a letter, a digit, ".", "_" or
// NUL is almost always a typo ("0x10", "1_000", "1.5.5", "2.5s") and gets a
// warning that says how the text was split. Each number is stored as its
// value and its byte offset; the loop itself keeps only the current offset,
// line and line start.
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/input_text.h"
#include "input/number_list.h"
#include "input/number_syntax.h"

namespace identify {
namespace {

// At most this many bytes of offending text are shown in an error.
constexpr std::size_t kFoundLimit = 20;
// At most this many bytes of skipped or split text are shown in a warning.
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

// A separator that looks like part of the number it ends.
bool is_glued(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) ||
         c == '.' || c == '_' || c == '\0';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// A number as written, cut for a message like quote_text() text.
std::string shown(std::string_view number) {
  if (number.size() <= kFoundLimit) return std::string(number);
  return std::string(number.substr(0, kFoundLimit)) + "...";
}

// Keeps the first kMaxWarnings warnings and counts the rest.
class WarningSink {
 public:
  WarningSink(std::vector<std::string>* out, const std::string& file)
      : out_(out), file_(file) {}
  void add(std::string warning) {
    if (out_ != nullptr && count_ < kMaxWarnings) {
      out_->push_back(std::move(warning));
    }
    ++count_;
  }
  // The count of the warnings not kept, once, at the end of the file.
  void finish() {
    if (out_ == nullptr || count_ <= kMaxWarnings) return;
    out_->push_back(file_ +
                    ": warning: " + std::to_string(count_ - kMaxWarnings) +
                    " more warnings are not shown");
    count_ = kMaxWarnings;
  }

 private:
  std::vector<std::string>* out_;
  const std::string& file_;
  long long count_ = 0;
};

// One pass over the normalized text of a list.
class Tokenizer {
 public:
  Tokenizer(NumberList& list, bool allow_open_bracket,
            std::vector<std::string>* warnings)
      : list_(list),
        text_(list.text()),
        allow_open_bracket_(allow_open_bracket),
        sink_(warnings, list.file()) {}

  void run() {
    try {
      loop();
    } catch (const InputError&) {
      sink_.finish();
      throw;
    }
    sink_.finish();
  }

 private:
  void loop() {
    while (!at_end()) {
      if (is_skip(peek())) {
        skip_rest_of_line();
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
      const std::size_t start = pos_;
      read_number();
      if (at_end()) break;
      if (is_glued(peek()) && line_ != glued_warning_line_) warn_glued(start);
      advance();  // the separator, whatever it is
    }
  }

  bool at_end() const { return pos_ == text_.size(); }
  char peek() const { return text_[pos_]; }
  SourcePos here() const {
    return SourcePos{list_.file(), line_,
                     static_cast<int>(pos_ - line_start_) + 1};
  }
  std::string line_prefix() const {
    return list_.file() + ":" + std::to_string(line_) + ": warning: ";
  }

  void advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      line_start_ = pos_ + 1;
    }
    ++pos_;
  }

  // Discards from the current byte up to and including the next line feed.
  // A stretch that starts with a blank or tab and holds a digit before any
  // "%" loses numbers that were probably meant to be read: warn about it.
  void skip_rest_of_line() {
    std::size_t stop = text_.find('\n', pos_);
    if (stop == std::string_view::npos) stop = text_.size();
    const std::string_view stretch = text_.substr(pos_, stop - pos_);
    if (peek() == ' ' || peek() == '\t') {
      const std::string_view before_comment =
          trim(stretch.substr(0, stretch.find('%')));
      if (before_comment.find_first_of("0123456789") !=
          std::string_view::npos) {
        const char* what =
            pos_ == line_start_
                ? "line starts with a blank or tab, its numbers are ignored"
                : "text after two separators is ignored";
        sink_.add(line_prefix() + what + ": " +
                  quote_text(before_comment, kExcerptLimit));
      }
    }
    pos_ = stop;
    if (!at_end()) advance();
  }

  // Reads the number at the current byte and stores it.
  void read_number() {
    const std::size_t end = number_end(text_, pos_);
    if (end == std::string_view::npos) {
      std::size_t word_end = pos_;
      while (word_end < text_.size() && !is_space(text_[word_end])) ++word_end;
      throw input_error(
          here(), "a number",
          quote_text(text_.substr(pos_, word_end - pos_), kFoundLimit));
    }
    const std::string_view number = text_.substr(pos_, end - pos_);
    const double value = number_value(number);
    if (!std::isfinite(value)) {
      throw input_error(here(), "a finite number",
                        quote_text(number, kFoundLimit));
    }
    list_.append(value, static_cast<std::uint32_t>(pos_));
    pos_ = end;
  }

  // The separator at the current byte ends the number from `start` and is
  // glued to it. Says how the text is read: the number, and the number that
  // the next pass reads right after the separator, if any (it may follow a
  // "[" or white space other than blanks and tabs, like any number).
  void warn_glued(std::size_t start) {
    const std::string_view first = text_.substr(start, pos_ - start);
    std::size_t next = pos_ + 1;
    std::size_t next_end = std::string_view::npos;
    if (next < text_.size() && !is_skip(text_[next])) {
      if (allow_open_bracket_ && text_[next] == '[') ++next;
      while (next < text_.size() && is_space(text_[next])) ++next;
      next_end = number_end(text_, next);
    }
    std::string reading = shown(first);
    std::size_t excerpt_end = pos_ + 1;
    if (next_end != std::string_view::npos) {
      reading += " and " + shown(text_.substr(next, next_end - next));
      excerpt_end = next_end;
    }
    sink_.add(
        line_prefix() +
        quote_text(text_.substr(start, excerpt_end - start), kExcerptLimit) +
        " is read as " + reading + ": the " +
        quote_text(text_.substr(pos_, 1), 1) + " after " + shown(first) +
        " is taken as a separator");
    glued_warning_line_ = line_;
  }

  NumberList& list_;
  std::string_view text_;
  bool allow_open_bracket_;
  WarningSink sink_;
  std::size_t pos_ = 0;
  int line_ = 1;
  std::size_t line_start_ = 0;
  int glued_warning_line_ = 0;
};

}  // namespace

NumberList read_number_list(std::string bytes, bool allow_open_bracket,
                            const std::string& file_name,
                            std::vector<std::string>* warnings) {
  if (bytes.size() > kMaxInputBytes) {
    throw file_too_large(file_name, kMaxInputBytes, bytes.size());
  }
  normalize_line_ends(bytes);
  NumberList list(file_name, std::move(bytes));
  Tokenizer(list, allow_open_bracket, warnings).run();
  return list;
}

}  // namespace identify
