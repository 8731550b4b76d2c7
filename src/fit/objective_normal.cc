// lm's normal equations from the Objective. At the scaled unknowns y of a
// round, S = Σ r_m² is the objective's own sum and c = S/2; at an accepted
// point N_x = J_xᵀJ_x comes from the Gram kernel over the objective's
// Jacobian (every free parameter, row-major) and g_x = J_xᵀr from one pass
// over its rows, then both are restricted to the round's unknowns and
// scaled by s. Nothing of size m is allocated.
#include "fit/objective_normal.h"

#include <cmath>
#include <cstring>

namespace identify {

ObjectiveNormal::ObjectiveNormal(ScaledUnknowns& unknowns,
                                 std::vector<double>& all,
                                 const std::vector<int>& free)
    : unknowns_(unknowns),
      all_(all),
      free_(free),
      gram_(unknowns.size()),
      full_gradient_(static_cast<std::size_t>(unknowns.size())) {}

bool move_round(ScaledUnknowns& unknowns, std::vector<double>& all,
                const std::vector<int>& free, const double* block,
                LmTrouble& trouble) {
  for (std::size_t f = 0; f < free.size(); ++f) all[free[f]] = block[f];
  const double norm = unknowns.evaluate(all.data());
  if (unknowns.objective().stop_requested()) return false;
  if (!std::isfinite(norm)) {
    ++trouble.not_finite_in_a_row;
    return false;
  }
  trouble.not_finite_in_a_row = 0;
  return true;
}

bool ObjectiveNormal::move_to(const double* y, double& c) {
  if (!move_round(unknowns_, all_, free_, y, trouble_)) return false;
  c = 0.5 * unknowns_.cost();
  return true;
}

bool ObjectiveNormal::cost(const double* y, double& c) { return move_to(y, c); }

bool ObjectiveNormal::form_full() {
  Objective& f = unknowns_.objective();
  const Table& J = f.jacobian();
  if (f.stop_requested()) return false;
  const std::size_t rows = f.residual_count(), p = J.cols();
  gram_.compute(J.data(), rows, full_normal_);
  const std::vector<double>& r = f.residuals();
  std::fill(full_gradient_.begin(), full_gradient_.end(), 0.0);
  for (std::size_t m = 0; m < rows; ++m) {
    const double* row = J[m];
    for (std::size_t j = 0; j < p; ++j) {
      full_gradient_[j] = row[j] * r[m] + full_gradient_[j];
    }
  }
  return true;
}

bool ObjectiveNormal::normal(const double* y, double& c, Eigen::MatrixXd& N,
                             Eigen::VectorXd& g) {
  for (std::size_t f = 0; f < free_.size(); ++f) all_[free_[f]] = y[f];
  const bool formed_here = formed_at_.size() == all_.size() &&
                           std::memcmp(formed_at_.data(), all_.data(),
                                       all_.size() * sizeof(double)) == 0;
  if (formed_here) {
    c = formed_cost_;
  } else {
    formed_at_.clear();
    if (!move_to(y, c) || !form_full()) return false;
  }
  const auto q = static_cast<Eigen::Index>(free_.size());
  N.resize(q, q);
  g.resize(q);
  for (Eigen::Index a = 0; a < q; ++a) {
    const int fa = free_[a];
    const double sa = unknowns_.scale(fa);
    g[a] = sa * full_gradient_[fa];
    for (Eigen::Index b = 0; b <= a; ++b) {
      const int fb = free_[b];
      N(a, b) = sa * unknowns_.scale(fb) * full_normal_(fa, fb);
    }
  }
  trouble_.jacobian_not_finite =
      !g.allFinite() ||
      !N.triangularView<Eigen::Lower>().toDenseMatrix().allFinite();
  if (trouble_.jacobian_not_finite) return false;
  if (formed_at_.empty()) {
    formed_at_ = all_;
    formed_cost_ = c;
  }
  return true;
}

}  // namespace identify
