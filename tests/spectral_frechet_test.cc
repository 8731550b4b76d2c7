// The all-entry derivative of cᵀ·exp(s·B)·z from the eigendecomposition
// against the Padé Fréchet derivative through the adjoint identity
// (∂y/∂B = s·L(s·Bᵀ, c·zᵀ)) and against central differences of exp, on
// symmetric, non-normal, rotating and repeated-eigenvalue matrices; and
// the refusal of near-defective ones.
#include "model/exact/spectral_frechet.h"

#include <gtest/gtest.h>

#include <Eigen/LU>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "model/exact/matrix_exponential.h"

namespace identify {
namespace {

Eigen::MatrixXd random_matrix(int n, std::mt19937& rng) {
  std::normal_distribution<double> normal;
  Eigen::MatrixXd X(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) X(i, j) = normal(rng);
  }
  return X;
}

Eigen::VectorXd random_vector(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Eigen::VectorXd v(n);
  for (int i = 0; i < n; ++i) v[i] = uniform(rng);
  return v;
}

struct Case {
  std::string name;
  Eigen::MatrixXd B;
};

std::vector<Case> accepted_cases() {
  std::mt19937 rng(11);
  std::vector<Case> cases;
  const int n = 12;
  // The well-posed whole-matrix kind: 0.5·G/√n − I, non-normal with
  // complex pairs.
  cases.push_back({"non-normal", 0.5 * random_matrix(n, rng) / std::sqrt(n) -
                                     Eigen::MatrixXd::Identity(n, n)});
  const Eigen::MatrixXd G = random_matrix(n, rng);
  cases.push_back({"symmetric", -0.3 * (G + G.transpose())});
  // Eigenvalues ±3i and a decaying block: divided differences across
  // complex pairs far apart.
  Eigen::MatrixXd rotation = -0.1 * Eigen::MatrixXd::Identity(n, n);
  rotation(0, 1) = 3.0;
  rotation(1, 0) = -3.0;
  rotation.bottomRightCorner(n - 2, n - 2) -= random_matrix(n - 2, rng) * 0.2;
  cases.push_back({"rotation", rotation});
  // Equal eigenvalues (the start of a fit at B = 0) and close ones.
  cases.push_back({"zero", Eigen::MatrixXd::Zero(n, n)});
  // Eigenvalues 1e-9 apart behind well-conditioned eigenvectors: the
  // series of the divided differences.
  Eigen::VectorXd eigenvalues(n);
  for (int i = 0; i < n; ++i) eigenvalues[i] = -1.0 - 1e-9 * i;
  const Eigen::MatrixXd S = Eigen::MatrixXd::Identity(n, n) +
                            0.1 * random_matrix(n, rng) / std::sqrt(n);
  cases.push_back(
      {"close eigenvalues", S * eigenvalues.asDiagonal() * S.inverse()});
  return cases;
}

// max |G − reference| / max |reference|.
double relative_error(const Eigen::MatrixXd& G, const Eigen::MatrixXd& ref) {
  return (G - ref).cwiseAbs().maxCoeff() / ref.cwiseAbs().maxCoeff();
}

TEST(SpectralFrechetTest, MatchesPadeFrechetDerivative) {
  std::mt19937 rng(5);
  for (const Case& c : accepted_cases()) {
    SCOPED_TRACE(c.name);
    const int n = static_cast<int>(c.B.rows());
    SpectralFrechet spectral(n);
    ASSERT_TRUE(spectral.load(c.B)) << "condition " << spectral.condition();
    MatrixExponential expm(n);
    for (const double s : {0.1, 1.0, 2.0}) {
      const Eigen::VectorXd z = random_vector(n, rng),
                            w = random_vector(n, rng);
      spectral.set_sample(s, z);
      Eigen::MatrixXd G(n, n);
      Eigen::VectorXd adjoint(n), state(n);
      spectral.derivative(w, G, &adjoint, &state);
      Eigen::MatrixXd F, L;
      const Eigen::MatrixXd X = s * c.B.transpose();
      const Eigen::MatrixXd W = w * z.transpose();
      expm.compute_with_derivative(X, W, F, L);
      EXPECT_LT(relative_error(G, s * L), 1e-12) << "s = " << s;
      EXPECT_LT(relative_error(adjoint, F * w), 1e-12) << "s = " << s;
      EXPECT_LT(relative_error(state, F.transpose() * z), 1e-12) << "s = " << s;
    }
  }
}

// An observable kept from sample to sample gives the doubles computed
// afresh, and a new load() forgets what was kept for the old B.
TEST(SpectralFrechetTest, KeptObservablesGiveTheSameDoubles) {
  std::mt19937 rng(11);
  const std::vector<Case> cases = accepted_cases();
  const int n = static_cast<int>(cases[0].B.rows());
  SpectralFrechet spectral(n);
  const Eigen::VectorXd w = random_vector(n, rng);
  for (const Case& c : cases) {
    if (c.B.rows() != n) continue;
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(spectral.load(c.B));
    for (const double s : {0.3, 1.7}) {
      spectral.set_sample(s, random_vector(n, rng));
      Eigen::MatrixXd fresh(n, n), kept(n, n);
      Eigen::VectorXd a(n), b(n);
      spectral.derivative(w, fresh, &a, nullptr);
      spectral.derivative(w, kept, &b, nullptr, 0);
      EXPECT_TRUE(fresh == kept) << "s = " << s;
      EXPECT_TRUE(a == b) << "s = " << s;
    }
  }
  // Loading the same B again (the next experiment of a shared A) keeps the
  // decomposition but not what an observable kept: that experiment's
  // observable 0 may read other states.
  const Eigen::VectorXd other = random_vector(n, rng);
  const Eigen::VectorXd z = random_vector(n, rng);
  SpectralFrechet afresh(n);
  ASSERT_TRUE(afresh.load(cases[0].B));
  ASSERT_TRUE(spectral.load(cases[0].B));
  spectral.set_sample(0.7, z);
  Eigen::MatrixXd G(n, n), expected(n, n);
  spectral.derivative(w, G, nullptr, nullptr, 0);
  ASSERT_TRUE(spectral.load(cases[0].B));
  spectral.set_sample(0.7, z);
  spectral.derivative(other, G, nullptr, nullptr, 0);
  afresh.set_sample(0.7, z);
  afresh.derivative(other, expected, nullptr, nullptr);
  EXPECT_TRUE(G == expected);
}

TEST(SpectralFrechetTest, MatchesCentralDifferences) {
  std::mt19937 rng(9);
  const int n = 8;
  const Eigen::MatrixXd B = 0.5 * random_matrix(n, rng) / std::sqrt(n) -
                            Eigen::MatrixXd::Identity(n, n);
  const Eigen::VectorXd z = random_vector(n, rng), w = random_vector(n, rng);
  const double s = 1.5, h = 1e-5;
  SpectralFrechet spectral(n);
  ASSERT_TRUE(spectral.load(B));
  spectral.set_sample(s, z);
  Eigen::MatrixXd G(n, n);
  Eigen::VectorXd adjoint(n);
  spectral.derivative(w, G, &adjoint, nullptr);
  MatrixExponential expm(n);
  Eigen::MatrixXd plus, minus;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      Eigen::MatrixXd Bp = B, Bm = B;
      Bp(i, j) += h;
      Bm(i, j) -= h;
      expm.compute(Eigen::MatrixXd(s * Bp), plus);
      expm.compute(Eigen::MatrixXd(s * Bm), minus);
      const double difference = (w.dot(plus * z) - w.dot(minus * z)) / (2 * h);
      EXPECT_NEAR(G(i, j), difference, 1e-8) << i << "," << j;
    }
  }
}

// A Jordan block and a nearly defective one have ill-conditioned
// eigenvectors; a non-finite entry has none: the caller keeps the Padé
// form for all three.
TEST(SpectralFrechetTest, RefusesIllConditionedOrNonFiniteMatrices) {
  const int n = 4;
  Eigen::MatrixXd jordan = -Eigen::MatrixXd::Identity(n, n);
  for (int i = 0; i + 1 < n; ++i) jordan(i, i + 1) = 1.0;
  Eigen::MatrixXd near = jordan;
  near(n - 1, n - 1) += 1e-8;
  Eigen::MatrixXd not_finite = Eigen::MatrixXd::Zero(n, n);
  not_finite(1, 2) = std::numeric_limits<double>::infinity();
  SpectralFrechet spectral(n);
  EXPECT_FALSE(spectral.load(jordan));
  EXPECT_FALSE(spectral.load(near));
  EXPECT_FALSE(spectral.load(not_finite));
}

}  // namespace
}  // namespace identify
