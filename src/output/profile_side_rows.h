// The sides of profiles that a shard walked, as a table the merge reads
// back to the bit: one row per side with the profiled parameter's name, the
// direction (lower or upper), how the side ended, the value where it ended,
// the point below the optimum it met (if any) and every point it
// re-optimised. A point is its coordinate, its objective and the other
// coordinates, joined by ","; the points of a side are joined by ";".
#pragma once

#include <string>
#include <vector>

#include "fit/profile/profile_likelihood.h"

namespace identify {

// One side of the profile of parameter `name`: direction −1 (towards lower
// values) or +1.
struct NamedSide {
  std::string name;
  int direction = -1;
  ProfileSide side;
};

// The table of `sides`, header first; numbers with 17 significant digits.
std::string format_side_rows(const std::vector<NamedSide>& sides);

// The sides of format_side_rows; `fault` is set for a row that cannot be
// read.
std::vector<NamedSide> parse_side_rows(const std::string& table,
                                       std::string& fault);

}  // namespace identify
