// Entries of the system matrix A as the problem file names them: an index
// pair and the closed interval of a bounded entry.
#pragma once

#include <cstdint>
#include <string>

namespace identify {

// One entry of A, 0-based.
struct EntryIndex {
  std::int32_t row = 0;
  std::int32_t col = 0;
  friend bool operator==(const EntryIndex&, const EntryIndex&) = default;
};

// Closed interval [lower, upper] for one entry of A.
struct EntryBounds {
  double lower = 0.0;
  double upper = 0.0;
  friend bool operator==(const EntryBounds&, const EntryBounds&) = default;
};

// "a12" for row 0, column 1 of an N×N matrix with N <= 9; "a(1,12)" style
// for larger N, where digits alone would be ambiguous. row, col 0-based.
inline std::string matrix_entry_name(int row, int col, int n) {
  const std::string r = std::to_string(row + 1);
  const std::string c = std::to_string(col + 1);
  return n <= 9 ? "a" + r + c : "a(" + r + "," + c + ")";
}

}  // namespace identify
