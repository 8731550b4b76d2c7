// The Fréchet derivative of the matrix exponential by the block identity
// exp([[X, E], [0, X]]) = [[e^X, L(X, E)], [0, e^X]], with Eigen's own
// exponential: an independent reference for the derivatives under test.
#ifndef IDENTIFY_TESTS_BLOCK_DERIVATIVE_H_
#define IDENTIFY_TESTS_BLOCK_DERIVATIVE_H_

#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>

namespace identify::testing {

// L(X, E) as the upper-right block of Eigen's exp of [[X, E], [0, X]].
inline Eigen::MatrixXd block_derivative(const Eigen::MatrixXd& X,
                                        const Eigen::MatrixXd& E) {
  const Eigen::Index n = X.rows();
  Eigen::MatrixXd block = Eigen::MatrixXd::Zero(2 * n, 2 * n);
  block.topLeftCorner(n, n) = X;
  block.bottomRightCorner(n, n) = X;
  block.topRightCorner(n, n) = E;
  return block.exp().topRightCorner(n, n);
}

}  // namespace identify::testing

#endif  // IDENTIFY_TESTS_BLOCK_DERIVATIVE_H_
