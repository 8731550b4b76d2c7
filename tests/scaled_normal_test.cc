// The normal equations of the scaled Jacobian against the SVD of Js: the
// condition estimate, the Gauss–Newton step through the Cholesky factor,
// and the refusals (a zero column, a condition beyond the limit).
#include "fit/scaled_normal.h"

#include <gtest/gtest.h>

#include <Eigen/QR>
#include <Eigen/SVD>
#include <cmath>
#include <random>
#include <vector>

namespace identify {
namespace {

using RowMajor =
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// n × q with columns of very different scales and Js of condition about
// `condition`: U·diag(σ)·Vᵀ with σ spread geometrically, columns scaled.
RowMajor tall_matrix(int n, int q, double condition, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> normal;
  const auto random = [&](int rows, int cols) {
    Eigen::MatrixXd m(rows, cols);
    for (Eigen::Index k = 0; k < m.size(); ++k) m.data()[k] = normal(rng);
    return m;
  };
  const Eigen::MatrixXd U =
      Eigen::HouseholderQR<Eigen::MatrixXd>(random(n, q)).householderQ() *
      Eigen::MatrixXd::Identity(n, q);
  const Eigen::MatrixXd V =
      Eigen::HouseholderQR<Eigen::MatrixXd>(random(q, q)).householderQ();
  Eigen::VectorXd sigma(q);
  for (int i = 0; i < q; ++i)
    sigma[i] = std::pow(condition, -double(i) / (q - 1));
  RowMajor J = U * sigma.asDiagonal() * V.transpose();
  for (int c = 0; c < q; ++c) J.col(c) *= std::pow(10.0, c % 7 - 3);
  return J;
}

double scaled_condition(const RowMajor& J) {
  const Eigen::MatrixXd Js = J * J.colwise().norm().cwiseInverse().asDiagonal();
  const Eigen::VectorXd s =
      Eigen::JacobiSVD<Eigen::MatrixXd>(Js).singularValues();
  return s[0] / s[s.size() - 1];
}

TEST(ScaledNormal, EstimatesTheConditionAndSolvesTheStep) {
  const int n = 300, q = 40;
  const RowMajor J = tall_matrix(n, q, 50.0, 1);
  Gram gram(q);
  const ScaledNormal s = scaled_normal(gram, J.data(), n);
  ASSERT_TRUE(s.usable);
  const double exact = scaled_condition(J);
  EXPECT_LE(s.condition, exact * (1.0 + 1e-12));
  EXPECT_GE(s.condition, exact / 2.0);
  // The least-squares step of the scaled problem, against the SVD's.
  Eigen::VectorXd r(n);
  for (int k = 0; k < n; ++k) r[k] = std::sin(0.37 * k);
  const Eigen::MatrixXd Js = J * s.norms.cwiseInverse().asDiagonal();
  const Eigen::VectorXd expected =
      Js.jacobiSvd(Eigen::ComputeThinU | Eigen::ComputeThinV).solve(r);
  const Eigen::VectorXd z = s.cholesky.solve(Js.transpose() * r);
  EXPECT_LT((z - expected).norm(), 1e-10 * expected.norm());
}

TEST(ScaledNormal, RefusesWhatItCannotResolve) {
  const int n = 200, q = 30;
  Gram gram(q);
  const RowMajor ill = tall_matrix(n, q, 1e7, 2);
  EXPECT_FALSE(scaled_normal(gram, ill.data(), n).usable);
  RowMajor zero = tall_matrix(n, q, 10.0, 3);
  zero.col(4).setZero();
  EXPECT_FALSE(scaled_normal(gram, zero.data(), n).usable);
}

}  // namespace
}  // namespace identify
