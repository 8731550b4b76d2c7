// Entries of the system matrix A as the legacy problem file names them: an
// index pair and the closed interval of a bounded entry. The parameter
// names of the entries (a12, a1_12) are legacy_entry_name's.
#pragma once

#include <cstdint>

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

}  // namespace identify
