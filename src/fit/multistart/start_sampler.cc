// Latin hypercube sampling. The permutations come from stream 0 of the seed
// (a Fisher–Yates shuffle per parameter); start i takes its places inside
// the cells from stream i + 1, d uniform numbers per draw, so that draw k of
// start i is the same numbers whichever thread asks and in whatever order.
// A place u in [0, 1) of cell c of m maps to the fraction f = (c + u)/m
// of the range, a later draw to f = u; the fraction is taken of
// [lower, upper], or of [ln lower, ln upper] for a range drawn on a log
// scale (then x = exp of it), so that each decade gets as many starts.
#include "fit/multistart/start_sampler.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "fit/multistart/random_stream.h"
#include "fit/wording.h"

namespace identify {

namespace {

// How far a missing bound is replaced from the value, in scaled units.
double missing_bound_reach(Scale scale, double scaled_value) {
  switch (scale) {
    case Scale::kLin:
      return std::max(std::abs(scaled_value), 1.0);
    case Scale::kLog:
      return std::log(10.0);
    case Scale::kLog10:
      return 1.0;
  }
  return 1.0;
}

}  // namespace

SampleRange sample_range(const Parameter& p, double value) {
  if (p.drawn_by_decades && p.scale == Scale::kLin && std::isfinite(p.upper) &&
      p.lower >= 0.0 && p.lower < p.upper &&
      (p.lower == 0.0 || p.upper >= kDecadesRatio * p.lower)) {
    return {std::max(p.lower, kDecadesFloor * p.upper), p.upper, true};
  }
  const double lower = to_scaled(p.scale, p.lower);
  const double upper = to_scaled(p.scale, p.upper);
  const double v = std::clamp(to_scaled(p.scale, value), lower, upper);
  const double reach = missing_bound_reach(p.scale, v);
  SampleRange range;
  range.lower = std::isfinite(lower) ? lower : v - reach;
  range.upper = std::isfinite(upper) ? upper : v + reach;
  return range;
}

StartSampler::StartSampler(std::vector<SampleRange> ranges, int count,
                           std::uint64_t seed)
    : ranges_(std::move(ranges)), count_(count), seed_(seed) {
  const std::size_t m = static_cast<std::size_t>(count_);
  cells_.resize(ranges_.size() * m);
  RandomStream stream(seed_, 0);
  for (std::size_t j = 0; j < ranges_.size(); ++j) {
    int* cells = cells_.data() + j * m;
    for (std::size_t i = 0; i < m; ++i) cells[i] = static_cast<int>(i);
    for (std::size_t i = m; i > 1; --i) {
      std::swap(cells[i - 1], cells[stream.below(i)]);
    }
  }
}

void StartSampler::draw(int i, int draw, std::span<double> x) const {
  RandomStream stream(seed_, static_cast<std::uint64_t>(i) + 1);
  const std::size_t d = ranges_.size();
  for (std::size_t skip = 0; skip < static_cast<std::size_t>(draw) * d;
       ++skip) {
    stream.next();
  }
  for (std::size_t j = 0; j < d; ++j) {
    const SampleRange& r = ranges_[j];
    const double u = stream.uniform();
    const double fraction =
        draw == 0 ? (cells_[j * count_ + i] + u) / count_ : u;
    if (r.logarithmic) {
      const double low = std::log(r.lower), high = std::log(r.upper);
      x[j] =
          std::clamp(std::exp(low + fraction * (high - low)), r.lower, r.upper);
    } else {
      x[j] = std::min(r.lower + fraction * (r.upper - r.lower), r.upper);
    }
  }
}

std::string small_result_warning(const std::string& name,
                                 const SampleRange& range, double value) {
  const double width = range.upper - range.lower;
  if (range.logarithmic || value == 0.0 ||
      !(std::abs(value) < kSmallOnLinear * width)) {
    return "";
  }
  return name + " = " + number_text(value) + " is closer to 0 than " +
         number_text(kSmallOnLinear) + " of the width of its start range [" +
         number_text(range.lower) + ", " + number_text(range.upper) +
         "], drawn on a linear scale: few starts come near such values, and "
         "an optimum among them may have been missed (scale: log, or bounds "
         "from 0, draw the starts by decades)";
}

}  // namespace identify
