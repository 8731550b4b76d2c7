// The model on the TimeGrid: RK4 forward sweep over 3001 nodes, samples read
// at the node (t/T)·3000 truncated toward zero, gradient by the adjoint sweep
// and trapezoid quadrature. All working storage is sized in the constructor;
// evaluate(), gradient() and jacobian() allocate nothing. The fast kernels
// and the plain reference functions give the same results to the last bit.
// Every sweep and quadrature of these calls looks at the stop flag (see
// MatrixModel::set_stop_flag), so even a system of thousands of components
// ends a call within a fraction of a second of the flag being set.
#pragma once

#include <memory>
#include <vector>

#include "input/records.h"
#include "model/grid/adjoint_sweep.h"
#include "model/grid/fast_kernels.h"
#include "model/grid/sweep_scratch.h"
#include "model/matrix_model.h"

namespace identify {

class GridMatrixModel : public MatrixModel {
 public:
  // Keeps references to neither record: copies what it needs.
  GridMatrixModel(const ProblemRecord& problem, const ObservationRecord& obs,
            Kernels kernels = Kernels::kFast);

  void evaluate(const Matrix& A, Table& M) override;
  void gradient(const Matrix& A, const Table& H, Matrix& G) override;
  void jacobian(const Matrix& A, Table& J) override;
  // The forward sweep itself: X holds every node.
  void trajectory(const Matrix& A, Trajectory& X) override;

  // The trajectories of the last evaluate() and gradient() calls.
  const Trajectory& forward_trajectory() const { return X_; }
  const Trajectory& adjoint_trajectory() const { return Psi_; }

 private:
  // The forward sweep for A into X, on the fast or the plain kernels.
  void sweep_forward(const Matrix& A, Trajectory& X);

  int n_;
  double T_;
  double dt_;
  Vector x0_, amp_, rate_;
  Vector zero_terminal_;
  std::vector<int> components_;  // component observed by each series
  std::vector<int> nodes_;       // K × points: node each sample is read at
  std::vector<Jump> jumps_;
  Trajectory X_, Psi_;
  SweepScratch scratch_;
  Table unit_jump_;  // jacobian(): one unit jump at a time
  Matrix unit_grad_;
  std::unique_ptr<FastKernels> fast_;  // null for Kernels::kPlain
};

}  // namespace identify
