// Which least-squares path lm takes for a long table: a plain sum of
// squares of many residuals is fitted on the objective's own normal
// equations (objective_normal.h), which hold nothing per residual beyond
// the objective's r and J.
#pragma once

#include <cstddef>

namespace identify {

// From this many residuals a plain sum of squares is fitted on the
// objective's normal equations: Ceres' dense QR would hold several copies
// of r and J.
inline constexpr std::size_t kLongTableResiduals = 100000;
// The fewest residuals per unknown for which lm uses the normal equations.
inline constexpr std::size_t kNormalRowsPerUnknown = 4;

// Whether lm fits `residuals` residuals in `unknowns` unknowns on the
// objective's normal equations: a long table whose S is a plain sum of
// squares.
inline bool long_table_fit(bool sum_of_squares, std::size_t residuals,
                           std::size_t unknowns) {
  return sum_of_squares && residuals >= kLongTableResiduals &&
         residuals >= kNormalRowsPerUnknown * unknowns;
}

}  // namespace identify
