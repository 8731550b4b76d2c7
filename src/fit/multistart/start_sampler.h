// The starts of a multi-start fit after the first: Latin hypercube samples
// in the box of the estimated parameters, drawn in the coordinates the fit
// moves them on (the logarithm for log-scaled parameters), from a seeded
// stream so that a run can be repeated exactly. A linear-scale parameter
// whose bounds span decades (0 <= lower < upper, with lower = 0 or
// upper >= 1000·lower) is drawn on a log scale instead, between
// max(lower, 1e-8·upper) and upper: drawn linearly in [0, 1], a start
// almost never comes near a rate of 1e-5. (Not the legacy matrix entries:
// Parameter::drawn_by_decades.)
//
// With d parameters and m drawn starts, each parameter's range is cut into m
// equal cells and every cell holds exactly one start: start i lies in cell
// π_j(i) of parameter j, π_j a random permutation, at a uniform place inside
// it. A start that the caller rejects (its objective is not finite) is drawn
// again, uniformly over the whole box, as often as needed up to
// kMaxStartDraws draws.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "problem/parameter.h"

namespace identify {

// Draws per start, the first included, before a start is given up.
inline constexpr int kMaxStartDraws = 100;

// Bounds spanning at least this ratio are drawn on a log scale.
inline constexpr double kDecadesRatio = 1e3;
// The lowest value drawn on a log scale, relative to the upper bound.
inline constexpr double kDecadesFloor = 1e-8;
// A result on a linearly drawn range closer to 0 than this fraction of the
// range's width is one that drawn starts rarely come near.
inline constexpr double kSmallOnLinear = 1e-3;

// An interval of a parameter's scaled coordinate (lower < upper, or equal
// for a parameter fixed by its bounds), both finite; `logarithmic`: drawn
// uniformly in ln x between ln lower and ln upper (0 < lower).
struct SampleRange {
  double lower = 0.0;
  double upper = 0.0;
  bool logarithmic = false;
};

// Where starts are drawn for parameter `p` whose usual start is `value`
// (unscaled): between its bounds, on its own scale, or on a log scale for a
// linear one whose bounds span decades (see above). A bound that is
// infinite (or 0 on a log scale) is replaced by the value moved that far
// the other way: value ∓ max(|value|, 1) on a linear scale, value divided or
// multiplied by 10 on a log scale.
SampleRange sample_range(const Parameter& p, double value);

// A warning on the result `value` of parameter `name` whose starts were
// drawn in `range`: for a linearly drawn range, a nonzero value closer to 0
// than kSmallOnLinear of its width (where few drawn starts land: a better
// optimum may lie among such values unsampled); empty otherwise.
std::string small_result_warning(const std::string& name,
                                 const SampleRange& range, double value);

class StartSampler {
 public:
  // `count` drawn starts (>= 0) in the box `ranges`, from seed `seed`.
  StartSampler(std::vector<SampleRange> ranges, int count, std::uint64_t seed);

  int dimension() const { return static_cast<int>(ranges_.size()); }
  int count() const { return count_; }

  // Coordinates of drawn start i (0 <= i < count) at draw `draw` (0 <=
  // draw < kMaxStartDraws) into x (dimension() entries): draw 0 in its Latin
  // hypercube cells, later draws anywhere in the box. The same (seed, i,
  // draw) gives the same point whatever else has been drawn.
  void draw(int i, int draw, std::span<double> x) const;

 private:
  std::vector<SampleRange> ranges_;
  int count_ = 0;
  std::uint64_t seed_ = 0;
  // cells_[j·count + i]: the cell of start i along parameter j.
  std::vector<int> cells_;
};

}  // namespace identify
