// Bootstrap resamples: SplitMix64 streams per replicate, experiments drawn
// with replacement, residuals standardised on the observable's scale and
// put back on the model values, and percentile intervals interpolated
// between order statistics (the formulas in resample.h).
#include "fit/bootstrap/resample.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "problem/noise_model.h"

namespace identify {

namespace {

constexpr std::uint64_t kReplicateMix = 0xD1B54A32D192ED03ull;
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// The value whose transformation by `scale` is `h`.
double untransformed(Scale scale, double h) {
  switch (scale) {
    case Scale::kLog:
      return std::exp(h);
    case Scale::kLog10:
      return std::pow(10.0, h);
    case Scale::kLin:
      break;
  }
  return h;
}

}  // namespace

BootstrapStream::BootstrapStream(std::uint64_t seed, std::uint64_t replicate)
    : state_(seed ^ (replicate * kReplicateMix)) {}

std::uint64_t BootstrapStream::next() {
  state_ += kGolden;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::vector<std::size_t> bootstrap_indices(std::uint64_t seed,
                                           std::uint64_t replicate,
                                           std::size_t n) {
  BootstrapStream stream(seed, replicate);
  std::vector<std::size_t> drawn(n);
  for (std::size_t& d : drawn) d = stream.next() % n;
  return drawn;
}

bool resamples_experiments(const FitProblem& problem) {
  return problem.experiments.size() > 1;
}

std::size_t resample_items(const FitProblem& problem) {
  if (resamples_experiments(problem)) return problem.experiments.size();
  std::size_t counted = 0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) counted += m.counted ? 1 : 0;
  }
  return counted;
}

FitProblem experiment_resample(const FitProblem& problem,
                               std::span<const std::size_t> drawn) {
  FitProblem resample = problem;
  resample.experiments.clear();
  for (std::size_t e : drawn) {
    resample.experiments.push_back(problem.experiments[e]);
  }
  return resample;
}

FitProblem residual_resample(const FitProblem& problem,
                             std::span<const double> model_values,
                             std::span<const double> sigmas,
                             std::span<const std::size_t> drawn) {
  FitProblem resample = problem;
  // Where each counted measurement is in problem order.
  std::vector<std::size_t> counted;
  std::vector<Measurement*> targets;
  std::size_t position = 0;
  for (Experiment& e : resample.experiments) {
    for (Measurement& m : e.measurements.edit()) {
      if (m.counted) {
        counted.push_back(position);
        targets.push_back(&m);
      }
      ++position;
    }
  }
  // The standardised residuals, from the original values.
  std::vector<double> residual(counted.size());
  for (std::size_t i = 0; i < counted.size(); ++i) {
    const Measurement& m = *targets[i];
    const Scale h = problem.noise_of(m.observable).transformation;
    const std::size_t p = counted[i];
    residual[i] =
        (transformed(h, m.value) - transformed(h, model_values[p])) / sigmas[p];
  }
  for (std::size_t i = 0; i < counted.size(); ++i) {
    Measurement& m = *targets[i];
    const Scale h = problem.noise_of(m.observable).transformation;
    const std::size_t p = counted[i];
    m.value = untransformed(
        h, transformed(h, model_values[p]) + sigmas[p] * residual[drawn[i]]);
  }
  return resample;
}

std::pair<double, double> percentile_interval(std::vector<double> values,
                                              double level) {
  std::erase_if(values, [](double v) { return !std::isfinite(v); });
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  if (values.size() < 2) return {kNaN, kNaN};
  std::sort(values.begin(), values.end());
  const auto quantile = [&](double q) {
    const double at = q * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(std::floor(at));
    if (below + 1 >= values.size()) return values.back();
    const double share = at - static_cast<double>(below);
    return values[below] + share * (values[below + 1] - values[below]);
  };
  return {quantile((1.0 - level) / 2.0), quantile((1.0 + level) / 2.0)};
}

}  // namespace identify
