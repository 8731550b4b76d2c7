// Tables between the library and Python. On the Python side a table is a
// list of columns, each a tuple (name, numbers, texts): numbers a float64
// numpy array for a number column and None for a text column, texts a list
// of str (for a result table's number column the field text of its TSV
// file, for a text column its values).
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "identify/table.h"

namespace identify::python {

// The columns of `table` as above.
pybind11::list columns_of(const ColumnTable& table);

// The tables given as lists of columns as above (texts ignored for a
// number column). Throws std::invalid_argument for columns of unequal
// length.
std::vector<ColumnTable> tables_from(const pybind11::list& tables);

}  // namespace identify::python
