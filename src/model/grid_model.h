// The model on the TimeGrid: RK4 forward sweep over 3001 nodes, samples read
// at the node (t/T)·3000 truncated toward zero, gradient by the adjoint sweep
// and trapezoid quadrature. All working storage is sized in the constructor;
// evaluate(), gradient() and jacobian() allocate nothing.
#pragma once

#include <vector>

#include "input/records.h"
#include "model/adjoint_sweep.h"
#include "model/model.h"
#include "model/sweep_scratch.h"

namespace identify {

class GridModel : public Model {
 public:
  // Keeps references to neither record: copies what it needs.
  GridModel(const ProblemRecord& problem, const ObservationRecord& obs);

  void evaluate(const Matrix& A, Table& M) override;
  void gradient(const Matrix& A, const Table& H, Matrix& G) override;
  void jacobian(const Matrix& A, Table& J) override;

  // The trajectories of the last evaluate() and gradient() calls.
  const Trajectory& forward_trajectory() const { return X_; }
  const Trajectory& adjoint_trajectory() const { return Psi_; }

 private:
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
};

}  // namespace identify
