// One experiment of a FitProblem as a homogeneous linear system. Each source
// amp·exp(rate·t) into state i is itself the solution of u' = rate·u,
// u(0) = amp, so the augmented state z = (x, u_1 .. u_S) solves z' = B z
// with
//
//   B = [[A, S], [0, diag(rate)]],   z(0) = (x0, amp),
//
// S having a 1 at (i, N + q) for the q-th source, into state i. An
// observable y_o = c_o·x + d_o reads z through ĉ_o = (c_o, 0). A source whose
// amplitude is the constant 0 contributes nothing and gets no state.
//
// Every entry of B, z(0), ĉ_o and d_o is a BoundExpression of θ bound in the
// experiment. The constant ones are set once here; load() evaluates the
// others at θ, and load_with_gradients() their gradients too, for the chain
// rule from derivatives with respect to B, z(0), c and d to derivatives with
// respect to θ. All storage is sized in the constructor.
#pragma once

#include <Eigen/Core>
#include <span>
#include <vector>

#include "problem/expression.h"
#include "problem/fit_problem.h"

namespace identify {

class AugmentedSystem {
 public:
  // Copies what it needs of experiment `experiment` of `problem` (its
  // matrix terms, x0, sources and observables) and keeps no reference.
  AugmentedSystem(const FitProblem& problem, int experiment);

  int state_count() const { return n_; }               // N
  int size() const { return m_; }                      // N + sources
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
  // g[k] += sum over i < N of x[i]·∂c_oi/∂θ_k + w·∂d_o/∂θ_k.
  void add_observable_derivative(int o, const double* x, double w,
                                 std::span<double> g) const;
  // The parameters z(0) depends on, ascending.
  const std::vector<int>& initial_parameters() const {
    return initial_parameters_;
  }
  // S = ∂z(0)/∂θ on those parameters: S(i, c) = ∂z_i(0)/∂θ_k for
  // k = initial_parameters()[c]; the columns of S past them are left as
  // they are (S has m rows and at least that many columns).
  void initial_sensitivity(Eigen::MatrixXd& S) const;

 private:
  // An entry of B, z(0), ĉ or d that depends on θ.
  struct Dependent {
    BoundExpression expression;
    int target = 0;    // its place in values_
    int gradient = 0;  // the place of its first derivative in gradients_
  };
  // Sets values_[target] to a constant expression's value, or adds a
  // Dependent for it.
  void add(const BoundExpression& e, int target);
  // g[k] += weight(target)·∂value/∂θ_k over dependents [begin, end).
  template <typename Weight>
  void chain(int begin, int end, const Weight& weight,
             std::span<double> g) const;

  int n_ = 0, m_ = 0, k_ = 0, parameters_ = 0;
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
  std::vector<int> observable_start_;
  std::vector<int> initial_parameters_;
};

}  // namespace identify
