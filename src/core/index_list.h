// Lists of indices into a larger set (the free parameters among all, the
// unknowns of one round among all unknowns).
#pragma once

#include <cstddef>
#include <vector>

namespace identify {

// Whether `indices` is 0, 1, …, size − 1: every member of a set of `size`,
// in order, so that a row can be taken whole instead of entry by entry.
inline bool is_whole_set(const std::vector<int>& indices, std::size_t size) {
  if (indices.size() != size) return false;
  for (std::size_t k = 0; k < size; ++k) {
    if (indices[k] != static_cast<int>(k)) return false;
  }
  return true;
}

}  // namespace identify
