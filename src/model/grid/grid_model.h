// The grid model on parameters θ, for the problems the legacy files can
// pose: one experiment; every entry of A a number or a single parameter;
// numbers for x0 and the sources amp·exp(rate·t); observables that each read
// one state as it is; no doses. The system runs on the TimeGrid over
// [0, T] (T the problem's end time): RK4 forward sweep over 3001 nodes, a
// measurement at time t read at node (t/T)·3000 truncated toward zero, and
// derivatives from the adjoint sweep with the weights as jumps at those
// nodes and the trapezoid quadrature of psi_i·x_j, which gives ∂/∂A[i][j]
// for all entries at once; a parameter's derivative is the sum over the
// entries it stands in. The Jacobian row of a measurement is that for a unit
// weight on it. These are the derivatives of the continuous problem
// discretised on the grid, not the exact derivatives of the grid's own
// samples: near an optimum the two differ in the last few digits.
//
// With θ equal to the entries of A, evaluate() and gradient() give the same
// doubles as the sweeps on A, bit for bit, fast kernels or plain reference
// functions alike. The forward trajectory of the last evaluate() is reused
// when a derivative is asked for at the same θ and swept again otherwise, so
// every call is right for the Evaluation it is given. All working storage is
// sized in the constructor; evaluate(), gradient() and jacobian() allocate
// nothing. The stop flag (Model::set_stop_flag) is looked at every few grid
// steps.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/grid/adjoint_sweep.h"
#include "model/grid/fast_kernels.h"
#include "model/grid/sweep_scratch.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

// Empty if the grid model can serve `problem`, otherwise what it lacks, in
// one line ("the grid model takes one experiment, found 2").
std::string grid_supports(const FitProblem& problem);

class GridModel : public Model {
 public:
  // Copies what it needs of `problem`; throws ProblemError with
  // grid_supports()'s reason if it cannot serve it.
  explicit GridModel(const FitProblem& problem,
                     Kernels kernels = Kernels::kFast);

  void evaluate(std::span<const double> theta, Evaluation& out) override;
  void jacobian(const Evaluation& at, Table& J) override;
  void gradient(const Evaluation& at, std::span<const double> w,
                std::span<double> g) override;
  // x at the node each time falls on, from a forward sweep at θ: node k
  // for the grid time k·(T/3000) itself (so that a trajectory asked for at
  // the grid times is the sweep, node for node), otherwise the node a
  // measurement at that time is read at.
  void states(std::span<const double> theta, int experiment,
              std::span<const double> times, Table& X) override;

  double end_time() const { return T_; }

 private:
  // A_ from θ: each entry its number or its parameter's value.
  void load_matrix(std::span<const double> theta);
  // X_ for θ, swept unless it is already the trajectory of that θ.
  void ensure_forward(std::span<const double> theta);
  void sweep_forward(Trajectory& X);
  // G_ = ∂(Σ H·y)/∂A for the jumps in H_, at the θ of X_ (loaded in A_).
  void matrix_gradient();
  // g[k] = Σ over the entries parameter k stands in of G_.
  void chain_to_parameters(std::span<double> g) const;

  int n_ = 0;
  double T_ = 0.0;
  double dt_ = 0.0;
  int parameters_ = 0;
  Vector x0_, amp_, rate_, zero_terminal_;
  Matrix constant_matrix_;  // the entries that are numbers
  // Entries that are a parameter: (i·N + j, parameter), row-major, and
  // whether each is its parameter's first entry.
  std::vector<std::pair<int, int>> entry_parameter_;
  std::vector<char> first_entry_;
  std::vector<int> components_;  // component each measurement reads
  std::vector<int> nodes_;       // node each measurement is read at
  std::vector<Jump> jumps_;
  Matrix A_;
  Trajectory X_, Psi_;
  std::vector<double> theta_of_x_;  // θ of X_
  bool has_x_ = false;
  Table H_;  // 1 × measurements: the weights as jumps
  Matrix G_;
  SweepScratch scratch_;
  std::unique_ptr<FastKernels> fast_;  // null for Kernels::kPlain
};

}  // namespace identify
