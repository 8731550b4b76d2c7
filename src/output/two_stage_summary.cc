// Two-stage statistics of per-experiment estimates s_1 .. s_n on a
// parameter's scale: mean m = Σ s_i / n, sample SD sqrt(Σ (s_i − m)² /
// (n − 1)), the median of the sorted values, their min and max, each
// transformed back through the scale's inverse (monotone, so the back
// median, min and max are those of the values themselves).
#include "output/two_stage_summary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/exact_number.h"

namespace identify {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool counts(const FitResultView& f, int k) {
  if (std::find(f.parameters.begin(), f.parameters.end(), k) ==
      f.parameters.end()) {
    return false;
  }
  const std::string status = status_word(*f.stats, k);
  return std::isfinite(f.stats->ssr) && status != "fixed" &&
         status != "not determined" &&
         std::isfinite(f.stats->parameters[k].value);
}

ParameterSpread spread_of(const Parameter& p, std::vector<double> s) {
  ParameterSpread out{p.name, p.scale, static_cast<int>(s.size()),
                      kNaN,   kNaN,    kNaN,
                      kNaN,   kNaN};
  if (s.empty()) return out;
  const std::size_t n = s.size();
  double sum = 0.0;
  for (const double v : s) sum += v;
  out.mean = sum / static_cast<double>(n);
  if (n > 1) {
    double squares = 0.0;
    for (const double v : s) squares += (v - out.mean) * (v - out.mean);
    out.sd = std::sqrt(squares / static_cast<double>(n - 1));
  }
  std::sort(s.begin(), s.end());
  out.median = n % 2 == 1 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2.0;
  out.min = s.front();
  out.max = s.back();
  return out;
}

std::string field(double v) { return std::isnan(v) ? "" : exact_number(v); }

}  // namespace

std::vector<ParameterSpread> two_stage_summary(
    const std::vector<FitResultView>& fits) {
  std::vector<ParameterSpread> rows;
  if (fits.empty()) return rows;
  const std::vector<Parameter>& parameters = fits[0].problem->parameters;
  for (int k = 0; k < static_cast<int>(parameters.size()); ++k) {
    const Parameter& p = parameters[k];
    bool estimated = false;
    std::vector<double> scaled;
    for (const FitResultView& f : fits) {
      const bool in = std::find(f.parameters.begin(), f.parameters.end(), k) !=
                      f.parameters.end();
      estimated = estimated || (in && f.problem->parameters[k].estimated);
      if (counts(f, k)) {
        scaled.push_back(to_scaled(p.scale, f.stats->parameters[k].value));
      }
    }
    if (estimated) rows.push_back(spread_of(p, std::move(scaled)));
  }
  return rows;
}

std::string format_two_stage_summary(const std::vector<FitResultView>& fits) {
  std::string text =
      "parameterId\tscale\texperiments\tmean\tsd\tmedian\tmin\tmax\tbackMean\t"
      "backSD\tbackMedian\tbackMin\tbackMax\n";
  for (const ParameterSpread& r : two_stage_summary(fits)) {
    const double values[] = {r.mean, r.sd, r.median, r.min, r.max};
    text += r.name + '\t' + scale_name(r.scale) + '\t' +
            std::to_string(r.experiments);
    for (const double v : values) text += '\t' + field(v);
    for (const double v : values) {
      text += '\t' + field(std::isnan(v) ? v : from_scaled(r.scale, v));
    }
    text += '\n';
  }
  return text;
}

}  // namespace identify
