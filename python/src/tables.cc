// Column tables copied to and from Python lists and numpy arrays. The
// numbers are copied as doubles, bit for bit, so that a result column in
// Python holds the very doubles the library computed (and its TSV file
// writes with 17 significant digits, which read back as the same doubles).
#include "tables.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace identify::python {

namespace py = pybind11;

py::list columns_of(const ColumnTable& table) {
  py::list columns;
  for (const Column& c : table.columns) {
    if (c.kind == Column::Kind::kNumber) {
      py::array_t<double> numbers(static_cast<py::ssize_t>(c.numbers.size()));
      std::copy(c.numbers.begin(), c.numbers.end(), numbers.mutable_data());
      columns.append(py::make_tuple(c.name, numbers, py::cast(c.texts)));
    } else {
      columns.append(py::make_tuple(c.name, py::none(), py::cast(c.texts)));
    }
  }
  return columns;
}

namespace {

Column column_from(const py::handle& item) {
  const auto entry = item.cast<py::tuple>();
  if (entry.size() != 3) {
    throw std::invalid_argument("a column is (name, numbers, texts)");
  }
  Column c;
  c.name = entry[0].cast<std::string>();
  if (!entry[1].is_none()) {
    c.kind = Column::Kind::kNumber;
    const auto numbers =
        py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(
            entry[1]);
    if (!numbers || numbers.ndim() != 1) {
      throw std::invalid_argument("column " + c.name +
                                  ": expected one dimension of numbers");
    }
    c.numbers.assign(numbers.data(), numbers.data() + numbers.size());
  } else {
    c.kind = Column::Kind::kText;
    c.texts = entry[2].cast<std::vector<std::string>>();
  }
  return c;
}

}  // namespace

std::vector<ColumnTable> tables_from(const py::list& tables) {
  std::vector<ColumnTable> out;
  for (const py::handle& table : tables) {
    ColumnTable t;
    for (const py::handle& column : table.cast<py::list>()) {
      t.columns.push_back(column_from(column));
      if (t.columns.back().size() != t.columns.front().size()) {
        throw std::invalid_argument(
            "column " + t.columns.back().name + ": expected " +
            std::to_string(t.columns.front().size()) + " rows as column " +
            t.columns.front().name + ", found " +
            std::to_string(t.columns.back().size()));
      }
    }
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace identify::python
