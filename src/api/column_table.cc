// Named, typed columns and their tab-separated text. A number is written
// with 17 significant digits, which read back as the same double; NaN is an
// empty field, the infinities "inf" and "-inf".
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "identify/table.h"

#include "core/exact_number.h"

namespace identify {

namespace {

std::string number_field(double v) {
  if (std::isnan(v)) return "";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return exact_number(v);
}

std::string field(const Column& c, std::size_t row) {
  if (c.kind == Column::Kind::kText) return c.texts[row];
  if (c.texts.size() == c.numbers.size()) return c.texts[row];
  return number_field(c.numbers[row]);
}

void check_text(const std::string& name, const std::string& text) {
  if (text.find_first_of("\t\r\n") != std::string::npos) {
    throw std::invalid_argument("column " + name +
                                ": expected a field without tabs or line "
                                "breaks, found \"" +
                                text + "\"");
  }
}

}  // namespace

std::size_t ColumnTable::rows() const {
  return columns.empty() ? 0 : columns.front().size();
}

const Column* ColumnTable::find(const std::string& name) const {
  for (const Column& c : columns) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

ColumnTable& ColumnTable::add(std::string name, std::vector<double> values) {
  Column c;
  c.name = std::move(name);
  c.kind = Column::Kind::kNumber;
  c.numbers = std::move(values);
  columns.push_back(std::move(c));
  return *this;
}

ColumnTable& ColumnTable::add(std::string name,
                              std::vector<std::string> values) {
  Column c;
  c.name = std::move(name);
  c.kind = Column::Kind::kText;
  c.texts = std::move(values);
  columns.push_back(std::move(c));
  return *this;
}

std::string ColumnTable::tsv() const {
  const std::size_t n = rows();
  std::string text;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].size() != n) {
      throw std::invalid_argument(
          "column " + columns[c].name + ": expected " + std::to_string(n) +
          " rows, found " + std::to_string(columns[c].size()));
    }
    check_text(columns[c].name, columns[c].name);
    text += (c > 0 ? "\t" : "") + columns[c].name;
  }
  text += '\n';
  for (std::size_t r = 0; r < n && !columns.empty(); ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string f = field(columns[c], r);
      check_text(columns[c].name, f);
      if (c > 0) text += '\t';
      text += f;
    }
    text += '\n';
  }
  return text;
}

}  // namespace identify
