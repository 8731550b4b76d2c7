// The token loop shared by both input files: turns a whole file into the flat
// list of its numbers, in file order, with the place where each one stood.
//
// Token rules (files written for this format rely on them):
//  - A "%", line feed, blank or tab at the place of a token discards the rest
//    of the line: comments, empty lines, and lines that begin with a blank or
//    a tab are skipped whole.
//  - With allow_open_bracket, one "[" before a number is dropped.
//  - A number is an optional sign, digits with an optional decimal point and
//    an optional exponent (classic locale; see number_syntax.h). Leading
//    white space of any kind, line feeds included, is skipped before it
//    (this matters only after a carriage return, vertical tab or form feed
//    at the place of a token).
//  - Exactly one character after each number is taken as its separator.
// Mends of the plain loop: any text that cannot begin a number (a letter, a
// second "[", a "[" where none is allowed) is an InputError at its place;
// CR LF reads as LF; a UTF-8 byte-order mark at the start is ignored; there
// is no cap on the count of numbers or the length of a line (up to a file of
// kMaxInputBytes); a number too large for a double ("1e999") is an
// InputError. Numbers that the rules skip or split silently produce a
// warning, never an error:
//   "file:line: warning: line starts with a blank or tab, its numbers are
//    ignored: \"7 8\""
//   "file:line: warning: text after two separators is ignored: \"2 3\""
//   "file:line: warning: \"0x10\" is read as 0 and 10: the \"x\" after 0 is
//    taken as a separator" (a letter, digit, ".", "_" or NUL glued to a
//    number; one such warning per line)
// At most kMaxWarnings warnings are given per file, then one line
//   "file: warning: 5 more warnings are not shown".
// Columns count bytes of the line after CR LF became LF and without the
// byte-order mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "input/input_error.h"

namespace identify {

inline constexpr int kMaxWarnings = 10;

// The numbers of one file in file order. A number costs 12 bytes: its value
// and the byte offset of its first character in the file's text, which the
// list keeps; the line, the column and the number as written are recovered
// from the text when a message needs them. (Deques grow without copying, so
// the peak stays at the final size.)
class NumberList {
 public:
  NumberList() = default;
  // An empty list over `text` (normalized: see normalize_line_ends), named
  // `file` in messages. text.size() must be at most kMaxInputBytes.
  NumberList(std::string file, std::string text);

  const std::string& file() const { return file_; }
  const std::string& text() const { return text_; }
  std::size_t size() const { return values_.size(); }
  double operator[](std::size_t k) const { return values_[k]; }

  // Appends a number whose first character is text()[offset].
  void append(double value, std::uint32_t offset);

  // Line and column of the first character of number k, or end() when k is
  // past the list.
  SourcePos pos(std::size_t k) const;
  // The place just past the last character of the file; a final line feed
  // does not open a new line ("1\n" ends at 1:2). 1:1 for an empty file.
  SourcePos end() const;
  // Number k as written in the file; when no number is written at its
  // offset (a list built by hand), the shortest text of its value.
  std::string written(std::size_t k) const;

 private:
  SourcePos place(std::size_t offset) const;

  std::string file_;
  std::string text_;
  std::deque<double> values_;
  std::deque<std::uint32_t> offsets_;
};

// Reads the bytes of a whole file (CR LF and a byte-order mark are
// normalized here). file_name is used in messages only. Warnings are
// appended to *warnings (when not null) as they are found, so those found
// before an error survive it. Throws InputError for text that cannot begin
// a number, for a number that overflows a double, and for more than
// kMaxInputBytes bytes ("file: expected a file of at most 2147483647 bytes,
// found 2147483648 bytes").
NumberList read_number_list(std::string bytes, bool allow_open_bracket,
                            const std::string& file_name,
                            std::vector<std::string>* warnings);

// Reads the file at path (see read_input_file for what is refused and the
// messages) and then its numbers.
NumberList read_number_list_file(const std::string& path,
                                 bool allow_open_bracket,
                                 std::vector<std::string>* warnings);

// Field access shared by both file layouts; each throws InputError.
// Checks that the list holds at least `count` numbers; otherwise reports
// `expected` against the count found, at the end of the file.
void require_numbers(const NumberList& list, std::int64_t count,
                     const std::string& expected);
// Value of number k, which must be finite.
double finite_number(const NumberList& list, std::size_t k);
// A count: number k truncated toward zero, within 0 .. max; `what` names it
// in messages ("a number of series").
std::int32_t count_number(const NumberList& list, std::size_t k,
                          const std::string& what, std::int32_t max);
// When the list holds more than the `used` numbers of its layout, appends
// "file:line: warning: 2 numbers after the last WHAT are ignored" (or "1
// number ... is ignored") to *warnings, at the line of the first of them.
void warn_unused_numbers(const NumberList& list, std::size_t used,
                         const std::string& what,
                         std::vector<std::string>* warnings);

}  // namespace identify
