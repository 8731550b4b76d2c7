// The model in closed form on the matrix A (the MatrixModel interface of
// the two input files; exact_model.h has the model on parameters θ): the
// solution of dx/dt = A x + amp·exp(rate·t), x(0) = x0, taken at the exact
// sample times through matrix exponentials, with exact derivatives from the
// Fréchet derivative of the exponential. Unlike the grid model there is no time
// grid: a sample at time t is x(t) itself, to rounding. All working storage is
// sized in the constructor; evaluate(), gradient() and jacobian() allocate
// nothing when their output tables already have the right shape. They look
// at the stop flag (see MatrixModel::set_stop_flag) once per distinct sample
// time.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "input/records.h"
#include "model/exact/matrix_exponential.h"
#include "model/matrix_model.h"

namespace identify {

class ExactMatrixModel : public MatrixModel {
 public:
  // Copies what it needs from the records (N, x0, amp, rate, the component
  // each series observes and its sample times) and keeps no reference to
  // them. Relies on the invariants the readers establish (see records.h).
  ExactMatrixModel(const ProblemRecord& problem, const ObservationRecord& obs);

  // M[k][n] = x_c(t) with c = is_data_exist[k] and t = data_time[k][n]:
  // the exact solution, one matrix exponential per distinct sample time
  // (t = 0 gives x0 exactly). M is K × points; it is reshaped if it is not.
  void evaluate(const Matrix& A, Table& M) override;

  // G[i][j] = sum over k, n of H[k][n]·dM[k][n]/dA[i][j], exact to
  // rounding, at the A passed (the same A as the last evaluate() in every
  // caller's use; nothing from evaluate() is needed). H is K × points; G is
  // N×N and is reshaped if it is not.
  void gradient(const Matrix& A, const Table& H, Matrix& G) override;

  // J[k·points + n][i·N + j] = dM[k][n]/dA[i][j] at the A passed, exact to
  // rounding. J is (K·points) × (N·N) and is reshaped if it is not.
  void jacobian(const Matrix& A, Table& J) override;

  // x(t_k) at t_k = k·(T/3000), one matrix exponential per node.
  void trajectory(const Matrix& A, Trajectory& X) override;

 private:
  // Sets the top-left N×N block of state_matrix_ to A.
  void load_matrix(const Matrix& A);
  // x = x(t) for the matrix loaded: x0 at t = 0, else the top N rows of
  // exp(B·t)·z0. Every caller gets the same products, so a trajectory node
  // at a sample time holds the sample's value to the last bit.
  void state_at(double t, Eigen::Ref<Eigen::VectorXd> x);
  // Puts t·Bᵀ on both diagonal blocks of block_ and w·z0ᵀ/scale into the
  // top N rows of its upper-right block, exponentiates, and returns the
  // upper-right block's top-left N×N corner, times t·scale, in frechet_:
  // frechet_[i][j] = sum over c of w_c·d x_c(t)/dA[i][j].
  void weighted_derivative(double t, const Eigen::VectorXd& w);

  int n_;     // N, the components of x
  double T_;  // final time
  int m_;     // N plus the number of nonzero entries of amp
  int points_;
  Eigen::VectorXd z0_;           // (x0, the nonzero entries of amp)
  std::vector<double> times_;    // distinct sample times, ascending
  std::vector<int> components_;  // component observed by each series
  // Samples grouped by distinct time: sample_order_ lists the flat indices
  // k·points + n of time i at positions time_start_[i] .. time_start_[i+1]−1.
  std::vector<int> time_start_;
  std::vector<int> sample_order_;
  // Distinct components observed at time i, at positions
  // component_start_[i] .. component_start_[i+1]−1 of observed_.
  std::vector<int> component_start_;
  std::vector<int> observed_;

  Eigen::MatrixXd state_matrix_;  // B = [[A, S], [0, diag(rate_S)]], m×m
  Eigen::MatrixXd scaled_;        // B·t
  Eigen::MatrixXd propagator_;    // exp(B·t)
  Eigen::MatrixXd states_;        // N × distinct times: x(t) of evaluate()
  Eigen::MatrixXd block_;         // [[t·Bᵀ, W], [0, t·Bᵀ]], 2m×2m
  Eigen::MatrixXd block_exp_;     // exp(block_)
  Eigen::MatrixXd frechet_;       // N×N, see weighted_derivative()
  Eigen::VectorXd weights_;       // N
  MatrixExponential expm_small_;  // m×m
  MatrixExponential expm_block_;  // 2m×2m
};

}  // namespace identify
