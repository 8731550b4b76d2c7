// Records of a delimited text table (CSV or TSV) with the place of every
// field, for the data-table and dose-table readers.
//
// Syntax: fields separated by the delimiter, records ended by LF, CR LF or
// CR; a field may be wholly enclosed in double quotes, and then holds
// delimiters, line breaks and doubled quotes ("" for one "). Blanks (and,
// in a comma-separated table, tabs) around an unquoted field are dropped.
// Empty lines are skipped, and so is a line whose first byte is "#" outside
// a quoted field (a comment). A quote inside an unquoted field, text after a
// closing quote and a quote left open at the end of the file are errors.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

#include "input/text_file.h"

namespace identify {

struct CsvField {
  std::string_view text;   // the content, quotes removed
  std::size_t offset = 0;  // first byte of the field in the file's text
                           // (its opening quote, if quoted)
  bool quoted = false;
};

// One record: its fields, and the offset of the byte that ended it (its
// line break, or the end of the file).
struct CsvRecord {
  std::span<const CsvField> fields;
  std::size_t end = 0;
};

// The delimiter of `file`: a tab for names ending ".tsv" or ".tab", a comma
// for ".csv"; otherwise a tab if the first line that is not empty or a
// comment holds one, else a comma.
char table_delimiter(const TextFile& file);

// Calls on_record for every record of `file` in order. The views in a
// record are valid during the call only. Throws InputError at the place of
// a syntax fault:
//   "f.csv:3:5: expected a quote only at the start of a field, found \"\\\"\""
//   "f.csv:3:7: expected a delimiter or a line end after a closing quote,
//    found \"x\""
//   "f.csv:3:1: expected a closing quote for this field, found end of file"
void read_csv(const TextFile& file, char delimiter,
              const std::function<void(const CsvRecord&)>& on_record);

}  // namespace identify
