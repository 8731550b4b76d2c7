// Field checks shared by the data and dose tables: missing values, numbers
// (with a hint for a decimal comma) and the lists of known names that
// messages show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "input/csv_reader.h"
#include "input/text_file.h"

namespace identify {

// An empty field, "NA", "NaN" or ".".
bool is_missing_value(std::string_view text);

// The field for "found ...": its quoted text, or "an empty field".
std::string found_field(const CsvField& field);

// "a, b, c": at most eight names, then ", ...".
std::string short_name_list(const std::vector<std::string>& names);

// The field's number. Throws InputError at the field:
//   "expected a number, found \"abc\"" (or "found an empty field"),
//   "expected a number with a decimal point, found \"0,74\"",
//   "expected a finite number, found \"1e999\"".
double field_number(const TextFile& file, const CsvField& field);

// The field's number, which must be >= 0 (what: "a time"): a missing value
// gives "expected a time, found \"NA\"", a negative one "expected a time of
// 0 or more, found \"-1\"".
double field_nonnegative(const TextFile& file, const CsvField& field,
                         const std::string& what);

}  // namespace identify
