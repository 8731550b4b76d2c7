// Resolution and the statistical stop. With J = ∂r/∂y·D (D = diag of the
// unknowns' sizes) and JᵀJ = V Λ Vᵀ, s_i = sqrt(λ_i) are the singular
// values of J: the standard error of the estimate along v_i is σ/s_i in
// units of the sizes, so a direction with s_i < σ is one the data cannot
// place within its own size (below the noise). σ² = S/(n − k) with k the
// resolved directions (found twice: from S/n, then from that k), and only
// from at least kNoiseMinFreedom residual degrees of freedom. The
// Gauss–Newton step over the resolved directions lowers S by
// P = Σ_{resolved} (v_iᵀ Jᵀr)²/λ_i. Over repeated data sets S ~ σ²χ²_{n−k},
// spread σ²·sqrt(2(n − k)); where P is a small fraction of that, no step
// can change what the data say, and the unresolved directions only fit
// noise. The eigenvalues of JᵀJ are accurate to ε·λ_max, enough to compare
// s_i with σ while σ/s_max is above about 1e-7.
//
// The stop itself is gated on the steps' own predicted decreases (cheap):
// S·sqrt(2/n) is a lower bound of the spread (σ² >= S/n), and only after
// kNoiseStopSteps consecutive steps predicted less than kNoiseStopFraction
// of it is the Jacobian decomposed; a well-posed fit has ended on its own
// tests long before that.
#include "fit/noise_stop.h"

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>

#include "fit/wording.h"

namespace identify {

namespace {

using RowMajor =
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

int resolved_count(const Eigen::VectorXd& lambda, double sigma) {
  int k = 0;
  for (Eigen::Index i = 0; i < lambda.size(); ++i) {
    if (lambda[i] > 0.0 && std::sqrt(lambda[i]) >= sigma) ++k;
  }
  return k;
}

}  // namespace

namespace {

// The resolution from G = (JD)ᵀ(JD) (lower triangle) and g = (JD)ᵀr.
Resolution resolve_gram(const Eigen::MatrixXd& G, const Eigen::VectorXd& g,
                        double S, int n) {
  Resolution res;
  res.unknowns = static_cast<int>(G.rows());
  const int q = res.unknowns;
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(G);
  if (eigen.info() != Eigen::Success) return res;
  const Eigen::VectorXd& lambda = eigen.eigenvalues();
  int k = resolved_count(lambda, std::sqrt(S / n));
  if (n - k < kNoiseMinFreedom) return res;
  k = resolved_count(lambda, std::sqrt(S / (n - k)));
  if (n - k < kNoiseMinFreedom) return res;
  const double v = S / (n - k);
  res.sigma = std::sqrt(v);
  res.spread = v * std::sqrt(2.0 * (n - k));
  res.below = q - k;
  const Eigen::VectorXd c = eigen.eigenvectors().transpose() * g;
  for (Eigen::Index i = 0; i < lambda.size(); ++i) {
    if (lambda[i] > 0.0 && std::sqrt(lambda[i]) >= res.sigma) {
      res.resolved_decrease += c[i] * c[i] / lambda[i];
    }
  }
  return res;
}

}  // namespace

Resolution resolve(const double* jacobian, const double* r, int n, int q,
                   const std::vector<double>& sizes) {
  Resolution res;
  res.unknowns = q;
  if (n == 0 || q == 0) return res;
  const Eigen::Map<const RowMajor> J(jacobian, n, q);
  const Eigen::Map<const Eigen::VectorXd> residuals(r, n);
  const Eigen::Map<const Eigen::VectorXd> d(sizes.data(), q);
  const Eigen::MatrixXd Jd = J * d.asDiagonal();
  Eigen::MatrixXd G = Eigen::MatrixXd::Zero(q, q);
  G.selfadjointView<Eigen::Lower>().rankUpdate(Jd.transpose());
  const Eigen::VectorXd g = Jd.transpose() * residuals;
  return resolve_gram(G, g, residuals.squaredNorm(), n);
}

Resolution resolve_normal(const Eigen::MatrixXd& normal,
                          const Eigen::VectorXd& gradient, double S, int n,
                          const std::vector<double>& sizes) {
  const auto q = static_cast<int>(normal.rows());
  Resolution res;
  res.unknowns = q;
  if (n == 0 || q == 0) return res;
  Eigen::MatrixXd G = Eigen::MatrixXd::Zero(q, q);
  Eigen::VectorXd g(q);
  for (int a = 0; a < q; ++a) {
    g[a] = sizes[a] * gradient[a];
    for (int b = 0; b <= a; ++b) G(a, b) = sizes[a] * sizes[b] * normal(a, b);
  }
  return resolve_gram(G, g, S, n);
}

std::vector<double> unknown_sizes(const std::vector<double>& x,
                                  const std::vector<double>& scale) {
  double sum = 0.0;
  for (double v : x) sum = v * v + sum;
  const double rms = x.empty() ? 0.0 : std::sqrt(sum / x.size());
  const double floor = rms > 0.0 && std::isfinite(rms) ? rms : 1.0;
  std::vector<double> sizes(x.size());
  for (std::size_t j = 0; j < x.size(); ++j) {
    sizes[j] = std::max(std::fabs(x[j]), floor) / scale[j];
  }
  return sizes;
}

std::string resolution_text(const Resolution& resolution,
                            const std::string& unknowns) {
  const int resolved = resolution.unknowns - resolution.below;
  return std::to_string(resolution.below) + " of " +
         std::to_string(resolution.unknowns) + " directions of " + unknowns +
         (resolution.below == 1 ? " is" : " are") +
         " below the noise: the data determine " +
         count_text(resolved, "combination", "combinations") +
         "; add experiments from other initial states";
}

std::string noise_stop_text(const Resolution& resolution,
                            const std::string& unknowns) {
  return "noise level reached: a Gauss–Newton step over the resolved "
         "directions would lower the objective by " +
         number_text(resolution.resolved_decrease) +
         ", far below its noise spread " + number_text(resolution.spread) +
         "; " + resolution_text(resolution, unknowns);
}

NoiseStop::NoiseStop(int residuals, bool enabled)
    : residuals_(residuals), enabled_(enabled && residuals > 0) {}

bool NoiseStop::after_step(double predicted, double S, std::int64_t iteration) {
  if (!enabled_ || fired_) return false;
  const double lower_spread = S * std::sqrt(2.0 / residuals_);
  const bool quiet = std::isfinite(predicted) && std::isfinite(S) &&
                     predicted <= kQuietStepFraction * lower_spread;
  quiet_steps_ = quiet ? quiet_steps_ + 1 : 0;
  // The first look: as soon as a step predicts less than the spread.
  const bool first =
      !checked_once_ && std::isfinite(predicted) && predicted <= lower_spread;
  const bool due = quiet_steps_ >= kNoiseStopSteps && iteration >= next_check_;
  if (!first && !due) return false;
  checked_once_ = true;
  next_check_ = iteration + kNoiseStopSteps;
  return true;
}

bool NoiseStop::decide(const Resolution& resolution) {
  last_ = resolution;
  first_found_ = false;
  if (resolution.below > 0 && !found_once_) {
    found_once_ = true;
    first_found_ = true;
  }
  fired_ =
      quiet_steps_ >= kNoiseStopSteps && resolution.below > 0 &&
      resolution.resolved_decrease <= kNoiseStopFraction * resolution.spread;
  return fired_;
}

}  // namespace identify
