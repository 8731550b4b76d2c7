// One table of a PEtab problem (conditions, measurements, observables,
// parameters): a tab-separated file whose first record names the columns.
// Cells keep their text and place, so that every fault found later is
// placed at the cell that holds it. Columns are looked up by name; a
// column the format requires is checked for by require().
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/csv_reader.h"
#include "input/input_error.h"
#include "input/text_file.h"

namespace identify {

struct PetabCell {
  std::string text;
  std::size_t offset = 0;  // in the file's text
};

class PetabTable {
 public:
  // Reads the table at `path` (named `name` in messages). Throws
  // InputError for a syntax fault, a table without a header, a column
  // named twice, or a row with more or fewer cells than the header.
  PetabTable(const std::string& path, const std::string& name);
  // The same from text in memory (for the fuzz target).
  PetabTable(TextFile file);

  const std::string& name() const { return file_.name(); }
  const std::vector<std::string>& columns() const { return columns_; }
  std::size_t rows() const { return cells_.size(); }
  // Index of the column named `column`, or nothing.
  std::optional<std::size_t> find(std::string_view column) const;
  // Index of a required column. Throws InputError at the header:
  // "m.tsv:1:1: expected a column \"time\", found observableId, ...".
  std::size_t require(std::string_view column) const;
  const PetabCell& cell(std::size_t row, std::size_t column) const {
    return cells_[row][column];
  }
  // The text of a cell in an optional column ("" when there is no column).
  std::string text(std::size_t row, std::optional<std::size_t> column) const;
  SourcePos pos(const PetabCell& cell) const { return file_.pos(cell.offset); }
  [[noreturn]] void fail(const PetabCell& cell,
                         const std::string& expected) const;
  // The cell's number (also "inf", "-inf", "nan" as PEtab writes them).
  double number(const PetabCell& cell) const;

 private:
  void read();

  TextFile file_;
  std::vector<std::string> columns_;
  std::vector<std::vector<PetabCell>> cells_;
};

// PEtab's missing value: an empty cell or NaN in any case.
bool is_petab_missing(std::string_view text);

}  // namespace identify
