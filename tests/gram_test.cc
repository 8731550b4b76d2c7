// JᵀJ by the blocked vector kernels against the one-entry-at-a-time
// reference, byte for byte (signed zeros count), on every instruction set
// this machine has and with one and two threads.
#include "fit/gram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace identify {
namespace {

// Entries spread over many binades so that the order of the additions
// shows in the last bits, with exact zeros of both signs and a zero column.
std::vector<double> random_jacobian(std::size_t n, int q, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::uniform_int_distribution<int> binade(-20, 20);
  std::vector<double> J(n * q);
  for (std::size_t k = 0; k < n; ++k) {
    for (int i = 0; i < q; ++i) {
      double v = std::ldexp(u(rng), binade(rng));
      if (rng() % 11 == 0) v = rng() % 2 == 0 ? 0.0 : -0.0;
      if (i == q / 2) v = 0.0;
      J[k * q + i] = v;
    }
  }
  return J;
}

bool same_lower_bytes(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  if (a.rows() != b.rows() || a.cols() != b.cols()) return false;
  for (Eigen::Index j = 0; j < a.cols(); ++j) {
    for (Eigen::Index i = j; i < a.rows(); ++i) {
      if (std::memcmp(&a(i, j), &b(i, j), sizeof(double)) != 0) return false;
    }
  }
  return true;
}

TEST(Gram, EqualsTheReferenceBitForBit) {
  // Shapes: one column, fewer columns than a panel, panel edges, more rows
  // than a block and not a multiple of it, no rows, and a size large enough
  // for the second thread.
  const struct {
    std::size_t n;
    int q;
  } shapes[] = {{7, 1}, {5, 3},    {300, 16}, {257, 17}, {600, 33},
                {0, 9}, {513, 40}, {1, 5},    {700, 170}};
  unsigned seed = 1;
  for (const auto& s : shapes) {
    const std::vector<double> J = random_jacobian(s.n, s.q, seed++);
    Eigen::MatrixXd expected;
    gram_plain(J.data(), s.n, s.q, expected);
    for (VectorIsa isa : supported_vector_isas()) {
      for (int threads : {1, 2}) {
        Gram gram(s.q, {isa, threads});
        Eigen::MatrixXd got;
        gram.compute(J.data(), s.n, got);
        EXPECT_TRUE(same_lower_bytes(expected, got))
            << "n " << s.n << ", q " << s.q << ", isa " << static_cast<int>(isa)
            << ", threads " << threads;
        // The same object again: nothing carried over from the first call.
        gram.compute(J.data(), s.n, got);
        EXPECT_TRUE(same_lower_bytes(expected, got)) << "second call";
      }
    }
  }
}

TEST(Gram, ReferenceIsJTransposeJ) {
  const std::size_t n = 40;
  const int q = 6;
  const std::vector<double> J = random_jacobian(n, q, 99);
  Eigen::MatrixXd N;
  gram_plain(J.data(), n, q, N);
  using RowMajor =
      Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  const Eigen::Map<const RowMajor> M(J.data(), n, q);
  const Eigen::MatrixXd expected = M.transpose() * M;
  for (int j = 0; j < q; ++j) {
    for (int i = j; i < q; ++i) {
      EXPECT_NEAR(N(i, j), expected(i, j), 1e-12 * expected.norm());
    }
  }
}

}  // namespace
}  // namespace identify
