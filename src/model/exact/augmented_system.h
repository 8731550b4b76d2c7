// One experiment of a FitProblem as a homogeneous linear system. Each source
// amp·exp(rate·t) into state i is itself the solution of u' = rate·u,
// u(0) = amp, and each state i that receives infusions gets a constant
// input v_i (v_i' = 0, the total rate of the infusions running into it,
// changed only at dose events), so the augmented state
// z = (x, u_1 .. u_S, v_1 .. v_I) solves z' = B z between events with
//
//   B = [[A, S, R], [0, diag(rate), 0], [0, 0, 0]],   z(0) = (x0, amp, 0),
//
// S having a 1 at (i, N + q) for the q-th source, into state i, and R a 1
// at (i, N + S + q) for the q-th infused state i. An observable
// y_o = c_o·x + d_o reads z through ĉ_o = (c_o, 0). A source whose
// amplitude is the constant 0 contributes nothing and gets no state.
//
// An experiment that starts at a periodic steady state (SteadyStart) has
// x(0) = x̄(A, amount, duration) of periodic_steady_state.h instead of x0,
// or x0 + x̄; its derivatives then reach every parameter of A and of the
// dose, and a θ at which A has no steady state gives x(0) = NaN.
//
// Every entry of B, z(0), ĉ_o and d_o is a BoundExpression of θ bound in the
// experiment. The constant ones are set once here; load() evaluates the
// others at θ, and load_with_gradients() their gradients too, for the chain
// rule from derivatives with respect to B, z(0), c and d to derivatives with
// respect to θ. All storage is sized in the constructor.
//
// A pre-equilibrated experiment takes x(0) from the steady state of its
// pre-equilibration condition (pre_equilibrated_start.h) for the states it
// does not reset; load() solves for it, and load_with_gradients() for its
// derivatives too (that solve allocates: it serves only such experiments).
#pragma once

#include <Eigen/Core>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "model/exact/periodic_steady_state.h"
#include "model/exact/pre_equilibrated_start.h"
#include "problem/expression.h"
#include "problem/fit_problem.h"

namespace identify {

class AugmentedSystem {
 public:
  // Copies what it needs of experiment `experiment` of `problem` (its
  // matrix terms, x0, sources and observables) and keeps no reference.
  // With `phase` above 0 the matrix is that of the experiment's phase
  // `phase` (1-based), and the start is x0 alone: such a system serves for
  // B after a covariate change, never for z(0).
  AugmentedSystem(const FitProblem& problem, int experiment, int phase = 0);

  int state_count() const { return n_; }  // N
  int size() const { return m_; }         // N + sources + infused states
  // N + sources: the leading states, whose rows of B may depend on θ; the
  // rows of the infusion inputs after them are 0.
  int moving_size() const { return moving_; }
  // The index in z of the infusion input into state i, or -1.
  int infusion_input(int state) const { return infusion_input_[state]; }
  int observable_count() const { return k_; }          // K
  int parameter_count() const { return parameters_; }  // P

  // Evaluates the expressions that depend on θ at theta (one value per
  // parameter, unscaled). `scratch` is the expressions' working storage.
  void load(std::span<const double> theta, std::vector<double>& scratch);
  // load(), and the gradient of each of those expressions.
  void load_with_gradients(std::span<const double> theta,
                           std::vector<double>& scratch);

  // At the θ of the last load: B (m×m), z(0) (m), ĉ_o (m) and d_o.
  Eigen::Map<const Eigen::MatrixXd> matrix() const {
    return Eigen::Map<const Eigen::MatrixXd>(values_.data(), m_, m_);
  }
  Eigen::Map<const Eigen::VectorXd> initial_state() const {
    return Eigen::Map<const Eigen::VectorXd>(values_.data() + initial_, m_);
  }
  Eigen::Map<const Eigen::VectorXd> observable(int o) const {
    return Eigen::Map<const Eigen::VectorXd>(
        values_.data() + coefficients_ + o * m_, m_);
  }
  double offset(int o) const { return values_[offsets_ + o]; }

  // The chain rule at the θ of the last load_with_gradients(), added into
  // g (one entry per parameter):
  // g[k] += sum over i, j of G(i, j)·∂B_ij/∂θ_k, G m×m.
  void add_matrix_derivative(const Eigen::MatrixXd& G,
                             std::span<double> g) const;
  // The parameters B depends on, ascending.
  const std::vector<int>& matrix_parameters() const {
    return matrix_parameters_;
  }
  // Bdot = scale·∂B/∂θ_k for k = matrix_parameters()[c], at the θ of the
  // last load_with_gradients(); Bdot is m×m.
  void matrix_direction(int c, double scale, Eigen::MatrixXd& Bdot) const;
  // g[k] += sum over i < N of x[i]·∂c_oi/∂θ_k + w·∂d_o/∂θ_k.
  void add_observable_derivative(int o, const double* x, double w,
                                 std::span<double> g) const;
  // The parameters z(0) depends on, ascending.
  const std::vector<int>& initial_parameters() const {
    return initial_parameters_;
  }
  // S(i, column[k]) = ∂z_i(0)/∂θ_k for the parameters k that z(0) depends
  // on (column[k] >= 0 for each of them); other entries are left as they
  // are.
  void initial_sensitivity(std::span<const int> column,
                           Eigen::MatrixXd& S) const;

 private:
  // An entry of B, z(0), ĉ or d that depends on θ.
  struct Dependent {
    BoundExpression expression;
    int target = 0;    // its place in values_
    int gradient = 0;  // the place of its first derivative in gradients_
  };
  // Fills initial_parameters_ from the dependents of z(0) (and, for a
  // steady start, of A and the dose).
  void collect_initial_parameters();
  // x(0) of a steady start at the values loaded, and with `gradients` its
  // derivatives in steady_sensitivity_.
  void load_steady_start(std::span<const double> theta,
                         std::vector<double>& scratch, bool gradients);
  // Fills matrix_parameters_ and the direction lists from the dependents
  // of B.
  void index_directions();
  // Sets values_[target] to a constant expression's value, or adds a
  // Dependent for it.
  void add(const BoundExpression& e, int target);
  // g[k] += weight(target)·∂value/∂θ_k over dependents [begin, end).
  template <typename Weight>
  void chain(int begin, int end, const Weight& weight,
             std::span<double> g) const;

  int n_ = 0, m_ = 0, moving_ = 0, k_ = 0, parameters_ = 0;
  std::vector<int> infusion_input_;
  // Offsets into values_, which holds B column-major (m·m), then z(0) (m),
  // then ĉ_0 .. ĉ_{K−1} (m each), then d_0 .. d_{K−1}.
  int initial_ = 0, coefficients_ = 0, offsets_ = 0;
  std::vector<double> values_;
  std::vector<Dependent> dependents_;
  std::vector<double> gradients_;
  // Dependents of B are [0, matrix_end_), of z(0) [matrix_end_,
  // initial_end_), of ĉ_o and d_o [observable_start_[o],
  // observable_start_[o + 1]).
  int matrix_end_ = 0, initial_end_ = 0;
  // Each use of a parameter by a dependent of B: its entry in values_, the
  // parameter and the place of the derivative in gradients_.
  struct MatrixUse {
    int target = 0;
    int parameter = 0;
    int gradient = 0;
  };
  std::vector<MatrixUse> matrix_uses_;
  std::vector<int> observable_start_;
  std::vector<int> initial_parameters_;
  // ∂B/∂θ_k for k = matrix_parameters_[c]: the entries
  // direction_entries_[direction_start_[c] .. direction_start_[c + 1] − 1],
  // each (place in values_, place of the derivative in gradients_).
  std::vector<int> matrix_parameters_;
  std::vector<int> direction_start_;
  std::vector<std::pair<int, int>> direction_entries_;
  // A steady start, its solver, the constant x0 entries (restored before
  // each load) and ∂x(0)/∂θ_k for k = initial_parameters_[c] in column c.
  std::optional<SteadyStart> steady_;
  std::optional<PeriodicSteadyState> steady_solver_;
  std::vector<double> x0_constants_;
  Eigen::MatrixXd steady_sensitivity_, direction_;
  Eigen::VectorXd steady_state_, steady_derivative_;
  std::vector<double> dose_gradient_;
  // The steady state start, its value and derivatives at the last load.
  std::optional<PreEquilibratedStart> pre_;
  Eigen::VectorXd pre_x_;
  Eigen::MatrixXd pre_dx_;
  // Loads the steady state into z(0) (with derivatives when dx is set).
  void load_pre(std::span<const double> theta, std::vector<double>& scratch,
                Eigen::MatrixXd* dx);
};

}  // namespace identify
