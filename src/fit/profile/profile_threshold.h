// The level of the objective S that bounds a 95% profile-likelihood
// interval. With known measurement errors (S the chi-square of the weighted
// residuals, or −2 ln L when the errors are estimated) it is the likelihood
// ratio test: S* + χ²₁(0.95) = S* + 3.84. With unit errors (their size
// unknown, S a plain sum of squares) it is the profile-t interval of
// nonlinear regression (Bates and Watts):
//   S <= S*·(1 + t²(0.975, n − p)/(n − p)),
// n the measurements and p the estimated parameters.
#pragma once

#include <cstdint>
#include <optional>

namespace identify {

enum class ThresholdKind {
  kLikelihoodRatio,  // S* + χ²₁(0.95)
  kProfileT,         // S*·(1 + t²/(n − p))
};

struct ProfileThreshold {
  ThresholdKind kind = ThresholdKind::kLikelihoodRatio;
  double optimum = 0.0;     // S* at the optimum
  double value = 0.0;       // the level: a value of S at most this is inside
  double quantile = 0.0;    // χ²₁(0.95) = 3.84146, or t(0.975, n − p)
  std::int64_t dof = 0;     // n − p (kProfileT)
  bool likelihood = false;  // S is −2 ln L (objective.h), not a chi-square
};

// The threshold for optimum S* = `optimum`, n measurements and p estimated
// parameters. `errors_known`: S is a chi-square (the measurements have
// their own σ, or σ is estimated). Nothing when the errors are unknown and
// n <= p (no degrees of freedom to estimate them from) or S* is not finite.
std::optional<ProfileThreshold> profile_threshold(double optimum,
                                                  bool errors_known,
                                                  std::int64_t n, int p);

}  // namespace identify
