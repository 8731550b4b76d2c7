// The normal equations of lm's scaled unknowns taken straight from the
// Objective's residuals and Jacobian, with no copy of either: a fit of a
// long data table then holds nothing per measurement beyond what the
// objective and the model keep.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "fit/gram.h"
#include "fit/lm_words.h"
#include "fit/long_table.h"
#include "fit/normal_lm.h"
#include "fit/scaled_unknowns.h"

namespace identify {

// Moves `unknowns` to the round's unknowns `free` at `block` (the others
// keep their values in `all`, every unknown scaled). False where the model
// was cut short by the stop flag or the residual norm is not finite; the
// latter counted in trouble.not_finite_in_a_row, which a usable point
// resets.
bool move_round(ScaledUnknowns& unknowns, std::vector<double>& all,
                const std::vector<int>& free, const double* block,
                LmTrouble& trouble);

// The source for a round over the unknowns `free` (ascending) of
// `unknowns`, whose others keep their values in `all` (every unknown,
// scaled). With y = x/s, J_y = J_x·diag(s), so
//   N_y(a, b) = s_a·s_b·(J_xᵀJ_x)(f_a, f_b),   g_y(a) = s_a·(J_xᵀr)(f_a).
// Needs an objective whose S is the plain sum of squares (no σ rows).
// normal() at the point of its last successful call (every unknown equal
// bit for bit, whatever the round) returns what that call formed without
// calling the model again, and leaves the objective where it is: the
// polish starts where lm's last round ended, and a round where the one
// before it did.
class ObjectiveNormal : public NormalEquations {
 public:
  ObjectiveNormal(ScaledUnknowns& unknowns, std::vector<double>& all,
                  const std::vector<int>& free);

  bool cost(const double* y, double& c) override;
  bool normal(const double* y, double& c, Eigen::MatrixXd& N,
              Eigen::VectorXd& g) override;

  const LmTrouble& trouble() const { return trouble_; }

 private:
  // Moves the objective to y; false where S is not usable.
  bool move_to(const double* y, double& c);
  // Forms J_xᵀJ_x and J_xᵀr at the objective's current point; false
  // where the model was cut short by the stop flag.
  bool form_full();

  ScaledUnknowns& unknowns_;
  std::vector<double>& all_;
  const std::vector<int>& free_;
  Gram gram_;
  Eigen::MatrixXd full_normal_;  // J_xᵀJ_x over every unknown
  std::vector<double> full_gradient_;
  // Every scaled unknown and c where full_normal_ and full_gradient_ were
  // formed; empty when they were not.
  std::vector<double> formed_at_;
  double formed_cost_ = 0.0;
  LmTrouble trouble_;
};

}  // namespace identify
