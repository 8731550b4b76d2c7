// Reading a PEtab table: the CSV reader with a tab as the delimiter, the
// first record as the header, every other record as a row of exactly as
// many cells. The numbers of a table are decimals, and also "inf" and "nan"
// in any case, which PEtab allows (a time of inf, a NaN that keeps a
// model's value).
#include "input/petab/petab_table.h"

#include <cmath>
#include <limits>

#include "input/decimal.h"
#include "input/yaml_problem_file.h"

namespace identify {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

bool is_petab_missing(std::string_view text) {
  return text.empty() || lower(text) == "nan";
}

PetabTable::PetabTable(const std::string& path, const std::string& name)
    : file_(name, read_text_file(path, kMaxTableBytes).text()) {
  read();
}

PetabTable::PetabTable(TextFile file) : file_(std::move(file)) { read(); }

void PetabTable::read() {
  bool header = true;
  read_csv(file_, '\t', [&](const CsvRecord& record) {
    if (header) {
      header = false;
      for (const CsvField& f : record.fields) {
        for (const std::string& c : columns_) {
          if (c == f.text) {
            throw input_error(file_.pos(f.offset), "a column named once",
                              "\"" + c + "\" again");
          }
        }
        columns_.emplace_back(f.text);
      }
      return;
    }
    if (record.fields.size() != columns_.size()) {
      throw input_error(
          file_.pos(record.fields.front().offset),
          std::to_string(columns_.size()) + " cells as the header has",
          std::to_string(record.fields.size()));
    }
    std::vector<PetabCell>& row = cells_.emplace_back();
    for (const CsvField& f : record.fields)
      row.push_back({std::string(f.text), f.offset});
  });
  if (header)
    throw input_error(file_.end(), "a header of column names", "end of file");
}

std::optional<std::size_t> PetabTable::find(std::string_view column) const {
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    if (columns_[c] == column) return c;
  }
  return std::nullopt;
}

std::size_t PetabTable::require(std::string_view column) const {
  const std::optional<std::size_t> c = find(column);
  if (c) return *c;
  std::string list;
  for (const std::string& k : columns_) list += (list.empty() ? "" : ", ") + k;
  throw input_error(file_.pos(0), "a column \"" + std::string(column) + "\"",
                    list.empty() ? "no columns" : list);
}

std::string PetabTable::text(std::size_t row,
                             std::optional<std::size_t> column) const {
  return column ? cells_[row][*column].text : std::string();
}

void PetabTable::fail(const PetabCell& cell,
                      const std::string& expected) const {
  throw input_error(
      pos(cell), expected,
      cell.text.empty() ? "an empty cell" : "\"" + cell.text + "\"");
}

double PetabTable::number(const PetabCell& cell) const {
  const std::string l = lower(cell.text);
  if (l == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (l == "inf" || l == "+inf") return std::numeric_limits<double>::infinity();
  if (l == "-inf") return -std::numeric_limits<double>::infinity();
  const Decimal d = parse_decimal(cell.text);
  if (d.fault != DecimalFault::kNone) fail(cell, "a number");
  return d.value;
}

}  // namespace identify
