// A table of named, typed columns: the data tables a problem reads and the
// result tables a fit writes. A number column holds doubles (NaN where a
// field is empty or not a number), a text column strings. Result tables also
// keep each cell's text exactly as the program's TSV files write it (17
// significant digits, which read back as the same double), so that a table
// written from this object and the file the program writes are the same
// text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace identify {

struct Column {
  enum class Kind { kNumber, kText };
  std::string name;
  Kind kind = Kind::kText;
  std::vector<double> numbers;     // kNumber: one value per row
  std::vector<std::string> texts;  // kText: one string per row; for result
                                   // tables also the field text of kNumber
  std::size_t size() const {
    return kind == Kind::kNumber ? numbers.size() : texts.size();
  }
};

struct ColumnTable {
  std::vector<Column> columns;

  // Rows of the first column (0 without columns).
  std::size_t rows() const;
  // The column of that name, or null.
  const Column* find(const std::string& name) const;
  // Adds a number column / a text column; returns *this for chaining.
  ColumnTable& add(std::string name, std::vector<double> values);
  ColumnTable& add(std::string name, std::vector<std::string> values);
  // Tab-separated text with a header row. Number cells are the kept field
  // text when there is one, else the value with 17 significant digits
  // ("inf", "-inf", an empty field for NaN). Throws std::invalid_argument
  // for columns of unequal length, or a text cell holding a tab or a line
  // break.
  std::string tsv() const;
};

}  // namespace identify
