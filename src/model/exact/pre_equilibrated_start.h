// The start of a pre-equilibrated experiment: its x(0) is the steady state
// (equilibrium.h) of the pre-equilibration condition's system
// dx/dt = A_pre x + b_pre from x_pre(0), but for the states the experiment
// resets, which keep their own x0. A_pre, b_pre and x_pre(0) are
// expressions of θ; their gradients give the exact derivative of the
// steady state with respect to each parameter they use.
#pragma once

#include <Eigen/Core>
#include <span>
#include <vector>

#include "model/exact/equilibrium.h"
#include "problem/expression.h"
#include "problem/fit_problem.h"

namespace identify {

class PreEquilibratedStart {
 public:
  PreEquilibratedStart(const PreEquilibration& pre, int states);

  // Whether state i takes the steady state (it is not reset).
  bool from_steady_state(int i) const { return !reset_[i]; }
  // The parameters the steady state depends on, ascending.
  const std::vector<int>& parameters() const { return parameters_; }

  // The steady state at θ into x (NaN if there is none); with gradients,
  // also its derivative with respect to each of parameters() (one column
  // each, N×C) into dx.
  void evaluate(std::span<const double> theta, std::vector<double>& scratch,
                Eigen::VectorXd& x, Eigen::MatrixXd* dx);

 private:
  struct Entry {
    BoundExpression expression;
    int target;  // place in A (column-major), or i for b and x0
  };
  // Adds grad·(∂e/∂θ) into the column of each parameter of the entry.
  void spread(const Entry& e, std::span<const double> grad, int kind);

  int n_;
  std::vector<bool> reset_;
  std::vector<Entry> matrix_, inputs_, start_;
  std::vector<int> parameters_;
  std::vector<int> column_;  // of each parameter, -1 if none
  bool has_rate_ = false;    // an input that is not constant: no steady state
  Equilibrium equilibrium_;
  Eigen::MatrixXd a_;
  Eigen::VectorXd b_, x0_;
  // Directions of A, b and x0 along each parameter.
  std::vector<Eigen::MatrixXd> da_;
  Eigen::MatrixXd db_, dx0_;
  std::vector<double> grad_;
};

}  // namespace identify
