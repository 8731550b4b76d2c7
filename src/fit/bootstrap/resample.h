// The resamples of a bootstrap. Replicate r (from 1) of seed s draws its
// indices from its own SplitMix64 stream, so that any replicate can be
// drawn alone (on another machine, or by a script) without the others:
//
//   state = s XOR (r · 0xD1B54A32D192ED03)            (mod 2^64)
//   next: state += 0x9E3779B97F4A7C15; z = state;
//         z = (z XOR z >> 30) · 0xBF58476D1CE4E5B9;
//         z = (z XOR z >> 27) · 0x94D049BB133111EB;
//         return z XOR z >> 31
//   index = next() mod n, drawn n times
//
// (the modulo's bias is below n/2^64). A problem with several experiments
// is resampled by experiment (case bootstrap): the n drawn experiments,
// repeats included, make the replicate's problem. A problem with one
// experiment is resampled by residual: with h the observable's
// transformation, σ the sigma, y the model value at the estimate and v the
// measurement, measurement m gets the value v* with
//
//   h(v*_m) = h(y_m) + σ_m · ((h(v_j) − h(y_j)) / σ_j),   j the m-th index,
//
// the standardised residual of the drawn measurement put on measurement
// m's model value; only counted measurements are drawn and resampled.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "problem/fit_problem.h"

namespace identify {

// The bootstrap stream of replicate `replicate` of `seed`.
class BootstrapStream {
 public:
  BootstrapStream(std::uint64_t seed, std::uint64_t replicate);
  std::uint64_t next();

 private:
  std::uint64_t state_;
};

// `n` indices from 0 to n − 1 drawn with replacement by the stream of
// (seed, replicate).
std::vector<std::size_t> bootstrap_indices(std::uint64_t seed,
                                           std::uint64_t replicate,
                                           std::size_t n);

// Whether `problem` is resampled by experiment (several experiments) or
// by residual (one).
bool resamples_experiments(const FitProblem& problem);

// The items a replicate draws from: the experiments, or the counted
// measurements.
std::size_t resample_items(const FitProblem& problem);

// The problem of the experiments `drawn`, in that order.
FitProblem experiment_resample(const FitProblem& problem,
                               std::span<const std::size_t> drawn);

// The problem of one experiment with its counted measurements resampled by
// residual: `drawn` indexes the counted measurements; `model_values` and
// `sigmas` are those of every measurement at the estimate, in problem
// order.
FitProblem residual_resample(const FitProblem& problem,
                             std::span<const double> model_values,
                             std::span<const double> sigmas,
                             std::span<const std::size_t> drawn);

// The percentile interval of `values` (finite ones) at two-sided level
// `level`: the quantiles (1 − level)/2 and (1 + level)/2, each interpolated
// linearly between order statistics at position q·(k − 1) of the k sorted
// values. NaN for both when fewer than two values are finite.
std::pair<double, double> percentile_interval(std::vector<double> values,
                                              double level);

}  // namespace identify
