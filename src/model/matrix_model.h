// A model of the measured samples as a function of the system matrix A.
// The identification methods see only this interface: they ask for the model
// samples of a matrix and for derivatives of those samples, and never for the
// way the solution is computed (grid sweeps or closed form).
#pragma once

#include <atomic>

#include "core/table.h"
#include "model/stop_flag.h"

namespace identify {

class MatrixModel {
 public:
  virtual ~MatrixModel() = default;

  // Model samples for A: M[k][n] is the model's value of the component that
  // series k observes at its sample n. M has the shape of the measurements
  // (K rows of points). Remembers what gradient() needs for this A.
  virtual void evaluate(const Matrix& A, Table& M) = 0;

  // G[i][j] = sum over k, n of H[k][n]·dM[k][n]/dA[i][j], at the A of the
  // last evaluate(). With H = 2·(M − data) this is the gradient of the sum of
  // squared residuals. G is N×N.
  virtual void gradient(const Matrix& A, const Table& H, Matrix& G) = 0;

  // Jacobian of the samples at the A of the last evaluate(): J has one row
  // per sample, series after series (row k·points + n), and one column per
  // entry of A, row after row (column i·N + j): J[k·points + n][i·N + j] =
  // dM[k][n]/dA[i][j]. J is reshaped if it does not have that shape.
  virtual void jacobian(const Matrix& A, Table& J) = 0;

  // The model solution for A at the TimeGrid nodes t_k = k·(T/3000),
  // k = 0 .. 3000: X[i][k] is x_i(t_k). X is reshaped to N × kNodeCount if
  // it is not. Meant for output after a fit; may allocate.
  virtual void trajectory(const Matrix& A, Trajectory& X) = 0;

  // Lets evaluate(), gradient() and jacobian() end early: once *flag is
  // nonzero a call returns within kStopCheckInterval grid steps (or one
  // sample time), its outputs incomplete. Null (the default): never.
  void set_stop_flag(const std::atomic<int>* flag) { stop_flag_ = flag; }
  const std::atomic<int>* stop_flag() const { return stop_flag_; }

  // True when the stop flag is set. Checked after a call, it says that the
  // call may have ended early: its outputs are to be discarded.
  bool stop_requested() const { return identify::stop_requested(stop_flag_); }

 private:
  const std::atomic<int>* stop_flag_ = nullptr;
};

}  // namespace identify
