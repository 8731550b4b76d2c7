// The token loop shared by both input files: turns a whole file into the flat
// list of its numbers, in file order, with the place where each one stood.
//
// Token rules (files written for this format rely on them):
//  - A "%", line feed, blank or tab at the place of a token discards the rest
//    of the line: comments, empty lines, and lines that begin with a blank or
//    a tab are skipped whole.
//  - With allow_open_bracket, one "[" before a number is dropped.
//  - A number is an optional sign, digits with an optional decimal point and
//    an optional exponent (classic locale). Leading white space of any kind,
//    line feeds included, is skipped before it (this matters only after a
//    carriage return, vertical tab or form feed at the place of a token).
//  - Exactly one character after each number is taken as its separator.
// Mends of the plain loop: any text that cannot begin a number (a letter, a
// second "[", a "[" where none is allowed) is an InputError at its place;
// CR LF reads as LF; a UTF-8 byte-order mark at the start is ignored; the
// list has no size cap; skipped stretches may be of any length; a number too
// large for a double ("1e999") is an InputError. Numbers that the rules skip
// outside a comment produce a warning, never an error:
//   "file:line: warning: line starts with a blank or tab, its numbers are
//    ignored: \"7 8\""
//   "file:line: warning: text after two separators is ignored: \"2 3\""
// Columns count bytes of the line after CR LF became LF and without the
// byte-order mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "input/input_error.h"

namespace identify {

struct NumberToken {
  double value = 0.0;
  int line = 0;      // 1-based line of the number's first character
  int column = 0;    // 1-based column (bytes) of the number's first character
  std::string text;  // the characters that formed the number
};

struct NumberList {
  std::string file;                  // the name used in messages
  std::vector<NumberToken> numbers;  // in file order
  // "file:line: warning: ..." for every skipped stretch that held numbers.
  std::vector<std::string> warnings;
  // The place just past the last character of the file; a final line feed
  // does not open a new line ("1\n" ends at 1:2). 1:1 for an empty file.
  SourcePos end;

  std::size_t size() const { return numbers.size(); }
  double operator[](std::size_t k) const { return numbers[k].value; }
  // Place of number k, or of the end of the file when k is past the list.
  SourcePos pos(std::size_t k) const;
};

// The number as it was written in the file (its text); for a token built
// without text, the shortest text that reads back as its value.
std::string written(const NumberToken& token);

// Reads the whole stream. file_name is used in messages only.
// Throws InputError for text that cannot begin a number, for a number that
// overflows a double, and ("file: cannot read: REASON") for a stream error.
NumberList read_number_list(std::istream& stream, bool allow_open_bracket,
                            const std::string& file_name);

// Opens path for reading only (binary, so that CR LF handling is the same on
// every platform) and reads it. Throws InputError when the file cannot be
// opened or read, naming the system's reason:
// "path: cannot open: No such file or directory",
// "path: cannot read: Is a directory".
NumberList read_number_list_file(const std::string& path,
                                 bool allow_open_bracket);

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

}  // namespace identify
