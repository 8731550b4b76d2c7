// Dense row-major tables of doubles: the system matrix, the trajectories on
// the time grid and the per-series sample tables all use this one layout, so
// that every row is a contiguous run of doubles.
#pragma once

#include <cstddef>
#include <vector>

#include "core/large_page_allocator.h"
#include "core/time_grid.h"

namespace identify {

// A rows × cols block of doubles stored row after row. Indexing t[r][c]
// yields the entry of row r, column c; t[r] is a pointer to the whole row.
class Table {
 public:
  Table() = default;
  Table(std::size_t rows, std::size_t cols, double fill = 0.0)
      : rows_(rows), cols_(cols), data_(rows * cols, fill) {}

  std::size_t rows() const { return rows_; }
  std::size_t cols() const { return cols_; }

  double* operator[](std::size_t r) { return data_.data() + r * cols_; }
  const double* operator[](std::size_t r) const {
    return data_.data() + r * cols_;
  }
  double* data() { return data_.data(); }
  const double* data() const { return data_.data(); }
  std::size_t size() const { return data_.size(); }

  void fill(double v) { data_.assign(data_.size(), v); }
  // Gives the table rows × cols zeros, unless it has that shape already: then
  // it keeps its contents and nothing is allocated.
  void reshape(std::size_t rows, std::size_t cols) {
    if (rows != rows_ || cols != cols_) *this = Table(rows, cols);
  }
  friend bool operator==(const Table&, const Table&) = default;

 private:
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  std::vector<double, LargePageAllocator<double>> data_;
};

// Matrix: N×N, indexed [row][column]. Row i of A feeds component i.
using Matrix = Table;
// Trajectory: N rows (components) × kNodeCount columns (grid nodes).
using Trajectory = Table;
// Vector: N doubles indexed by component.
using Vector = std::vector<double>;

inline Matrix make_matrix(int n) { return Matrix(n, n); }
inline Trajectory make_trajectory(int n) { return Trajectory(n, kNodeCount); }

}  // namespace identify
