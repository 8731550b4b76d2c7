// The two-stage summary of fits made one experiment at a time
// (--separately): per parameter, the spread of its estimates over the
// experiments, as a standard two-stage analysis gives it when a population
// cannot be fitted yet.
//
// An experiment counts for a parameter when its fit estimated it and
// determined it: the parameter is not fixed, the fit's sum of squares is
// finite and the estimate not "not determined" (status_word); an estimate
// at a bound counts. The statistics are of the estimates on the
// parameter's scale (s = v, ln v or log10 v): mean, sample SD (n − 1),
// median (the mean of the middle two for an even count), min and max; each
// is then transformed back, v = scale⁻¹(s), so that on a log scale the back
// mean is the geometric mean and the back SD the geometric SD factor.
#pragma once

#include <string>
#include <vector>

#include "output/result_tables.h"

namespace identify {

struct ParameterSpread {
  std::string name;
  Scale scale = Scale::kLin;
  int experiments = 0;  // with a determined estimate
  // On the scale; NaN where not defined (no estimate; SD of fewer than 2).
  double mean = 0.0, sd = 0.0, median = 0.0, min = 0.0, max = 0.0;
};

// The spread of every parameter that some fit of `fits` estimates, in the
// problem's parameter order.
std::vector<ParameterSpread> two_stage_summary(
    const std::vector<FitResultView>& fits);

// Header parameterId, scale, experiments, mean, sd, median, min, max,
// backMean, backSD, backMedian, backMin, backMax; numbers with 17
// significant digits, an empty field where a value is not defined.
std::string format_two_stage_summary(const std::vector<FitResultView>& fits);

}  // namespace identify
