// The report of an evaluation without a fit (--evaluate): one line per
// number, name and value separated by a tab, values with 17 significant
// digits:
//
//   objective   <Σ r² for a sum of squares, else −2 ln L>
//   chi2        <Σ r²>
//   llh         <ln L>
//   minus_2_ln_L <−2 ln L>
#pragma once

#include <string>

#include "fit/point_evaluation.h"

namespace identify {

std::string format_evaluation(const PointEvaluation& evaluation);

}  // namespace identify
