// What the data determine at a point of a least-squares fit, and the
// statistical stop of lm built on it: a fit whose Jacobian has directions
// below the noise, and whose steps predict a decrease of S far below S's
// own noise spread, has nothing left that the data could tell, and walking
// the flat valley of the unresolved directions buys nothing but time.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace identify {

// A step whose predicted decrease of S is at most this fraction of S's
// noise spread counts as far below the noise.
inline constexpr double kQuietStepFraction = 1e-2;
// The stop fires where a Gauss–Newton step over the resolved directions
// predicts a decrease of S of at most this fraction of its noise spread.
inline constexpr double kNoiseStopFraction = 1e-3;
// Consecutive steps far below the noise before the resolution is checked,
// and iterations between two checks that did not stop the fit.
inline constexpr int kNoiseStopSteps = 5;

// The fewest residual degrees of freedom n − k that the noise level is
// estimated from: below them the estimate (relative standard error
// 1/sqrt(2(n − k)), 10% at 50) is too rough, and too easily inflated by
// misfit far from the optimum, to say anything is below the noise.
inline constexpr int kNoiseMinFreedom = 50;

// The resolution at one point.
struct Resolution {
  int unknowns = 0;  // q, the directions of the unknowns
  int below = 0;     // directions whose singular value is below the noise
  double sigma = std::numeric_limits<double>::quiet_NaN();   // noise SD
  double spread = std::numeric_limits<double>::quiet_NaN();  // of S
  // The decrease of S a Gauss–Newton step over the resolved directions
  // predicts.
  double resolved_decrease = 0.0;
};

// The resolution of the residuals r (n of them, S = |r|²) at a point with
// Jacobian ∂r/∂y (row-major n × q) and sizes[j] the size of unknown j in
// y: the Jacobian is measured against parameter changes of those sizes.
// A direction with singular value s_i is below the noise when its standard
// error σ/s_i exceeds 1 (one size); σ² = S/(n − k) with k the resolved
// directions, the spread of S is σ²·sqrt(2(n − k)). With no residual
// freedom left (n − k < kNoiseMinFreedom) sigma and spread are NaN and
// nothing is below.
Resolution resolve(const double* jacobian, const double* r, int n, int q,
                   const std::vector<double>& sizes);

// The same from the normal equations of ∂r/∂y: N = JᵀJ (q × q, lower
// triangle), g = Jᵀr and S = |r|², for n residuals.
Resolution resolve_normal(const Eigen::MatrixXd& normal,
                          const Eigen::VectorXd& gradient, double S, int n,
                          const std::vector<double>& sizes);

// The size of each unknown for resolve(): max(|x_j|, the RMS of the |x|)
// in the parameters' own units (1 when every x is 0), divided by the scale
// s_j of the unknowns y = x/s.
std::vector<double> unknown_sizes(const std::vector<double>& x,
                                  const std::vector<double>& scale);

// "92 of 100 directions of A are below the noise: the data determine 8
// combinations; add experiments from other initial states"; `unknowns`
// names what the directions are of ("A", "the parameters").
std::string resolution_text(const Resolution& resolution,
                            const std::string& unknowns);

// The statistical stop's clause of the verdict: "noise level reached: " the
// resolution, and the decrease a Gauss–Newton step over the resolved
// directions still predicts against the spread of S.
std::string noise_stop_text(const Resolution& resolution,
                            const std::string& unknowns);

// The decision of the statistical stop, one trust-region step at a time.
class NoiseStop {
 public:
  // n residuals; the e rows of a varying σ (−2 ln L) turn the stop off.
  NoiseStop(int residuals, bool enabled);

  // After a step: `predicted` the decrease of S its model predicted (NaN
  // when not known), S at the current iterate. True when the resolution is
  // to be checked at this iterate (the Jacobian there is needed).
  bool after_step(double predicted, double S, std::int64_t iteration);

  // The resolution found at the iterate of the last after_step that asked
  // for it. True when the fit is to stop there.
  bool decide(const Resolution& resolution);

  // The first check that found directions below the noise happened at the
  // last decide(), and it did not stop the fit: time to say so.
  bool first_found() const { return first_found_; }
  bool fired() const { return fired_; }
  // The steps have been far below the noise long enough for a check to
  // stop the fit; a check before that only looks.
  bool quiet() const { return quiet_steps_ >= kNoiseStopSteps; }
  // The next step may open a check: a Jacobian kept now may be used.
  bool nearly_due() const {
    return enabled_ && !fired_ && quiet_steps_ >= kNoiseStopSteps - 1;
  }
  const Resolution& resolution() const { return last_; }

 private:
  int residuals_;
  bool enabled_;
  int quiet_steps_ = 0;  // consecutive steps far below the noise
  std::int64_t next_check_ = 0;
  bool checked_once_ = false;
  bool found_once_ = false;
  bool first_found_ = false;
  bool fired_ = false;
  Resolution last_;
};

}  // namespace identify
