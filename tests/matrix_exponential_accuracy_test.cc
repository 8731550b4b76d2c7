// Entrywise accuracy of the matrix exponential on chains of compartments
// whose flow far exceeds their own decay (x1 -> x2 -> ... with the
// sub-diagonal 50 to 1000 times the diagonal): the small early entries of
// exp(A) sit next to entries 1e10 times larger, and a solve that
// interchanges rows would mix the rounding of the large ones into them.
// References from tools/exact_accuracy_reference.py (mpmath expm at 60
// digits, checked at 90), the derivative from the block matrix
// [[A, E], [0, A]]; both for the matrix as given, for a symmetric
// permutation of it (the same chain with its states in another order) and
// for its transpose. Then matrices with a cycle whose entries decay by up
// to 1e-226, where I + (r − I) would keep only their difference from 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <span>
#include <string>
#include <unsupported/Eigen/MatrixFunctions>
#include <vector>

#include "block_derivative.h"
#include "model/exact/matrix_exponential.h"

namespace identify {
namespace {

// exp(A) of A = lower bidiagonal, diagonal −1, sub-diagonal 1000 (N = 5),
// its lower triangle row by row, and the first column of L(A, e_2·e_1ᵀ).
constexpr double kChain5Exp[] = {
    3.678794411714423215955238e-1,  3.678794411714423215955238e+2,
    3.678794411714423215955238e-1,  1.839397205857211607977619e+5,
    3.678794411714423215955238e+2,  3.678794411714423215955238e-1,
    6.13132401952403869325873e+7,   1.839397205857211607977619e+5,
    3.678794411714423215955238e+2,  3.678794411714423215955238e-1,
    1.532831004881009673314682e+10, 6.13132401952403869325873e+7,
    1.839397205857211607977619e+5,  3.678794411714423215955238e+2,
    3.678794411714423215955238e-1,
};
constexpr double kChain5Derivative[] = {
    0.0,
    3.678794411714423215955238e-1,
    1.839397205857211607977619e+2,
    6.13132401952403869325873e+4,
    1.532831004881009673314682e+7,
};
// The same for N = 10, diagonal −0.2·i (i = 1 .. 10), sub-diagonal 50.
constexpr double kChain10Exp[] = {
    8.187307530779818495801982e-1, 3.710267676058563887035276e+1,
    6.703200460356392858603379e-1, 8.406967843978028029805511e+2,
    3.03771024854032170065249e+1,  5.488116360940264448145252e-1,
    1.269937274979599694140644e+4, 6.883043114002508312241923e+2,
    2.487066799420121005106285e+1, 4.493289641172215714758879e-1,
    1.438753584210949427502008e+5, 1.039736701505847788934997e+4,
    5.635359072195491011693511e+2, 2.036238073644481699144782e+1,
    3.678794411714423215955238e-1, 1.304008893581366077299455e+6,
    1.177951805494676226519524e+5, 8.512644126266996083853441e+3,
    4.613841777043451519434832e+2, 1.66713073148100565954829e+1,
    3.011942119122021100206876e-1, 9.84902958829618032063491e+6,
    1.067632183462257769286532e+6, 9.644253688022246963684137e+4,
    6.969563536183436698151249e+3, 3.77749415270143930136316e+2,
    1.364931199264890582541013e+1, 2.465969639416064988420714e-1,
    6.376164915654010593559713e+7, 8.063703411913057255332679e+6,
    8.74103301576344384415537e+5,  7.896047084869558000763141e+4,
    5.70619600260430734789816e+3,  3.092750632388922318252978e+2,
    1.117511148673776714673343e+1, 2.018965179946553905531662e-1,
    3.611883164097486926438016e+8, 5.220362303142814753039572e+7,
    6.602001967033069101298533e+6, 7.156552543675507171887387e+5,
    6.464736576134456566385663e+4, 4.671838150422794239858059e+3,
    2.532130054338186926481495e+2, 9.149407443267216930853257,
    1.652988882215865309560595e-1, 1.818675947572965354622661e+9,
    2.95715982297121940281213e+8,  4.274071159792024557272119e+7,
    5.405262042291302206281651e+6, 5.859289653525594690388162e+5,
    5.292878645429337628308031e+4, 3.824977567154100172318568e+3,
    2.073132746279694837858016e+2, 7.490901246243461428829198,
    1.353352832366126918939995e-1,
};
constexpr double kChain10Derivative[] = {
    0.0,
    7.420535352117127774070551e-1,
    1.681393568795605605961102e+1,
    2.539874549959199388281287e+2,
    2.877507168421898855004015e+3,
    2.60801778716273215459891e+4,
    1.969805917659236064126982e+5,
    1.275232983130802118711943e+6,
    7.223766328194973852876031e+6,
    3.637351895145930709245322e+7,
};

struct Chain {
  int n;
  double sub;
  std::vector<double> diagonal;
  std::span<const double> exp_lower;
  std::span<const double> derivative;
};

std::vector<Chain> chains() {
  std::vector<double> tenth;
  for (int i = 1; i <= 10; ++i) tenth.push_back(-0.2 * i);
  return {
      {5, 1000.0, std::vector<double>(5, -1.0), kChain5Exp, kChain5Derivative},
      {10, 50.0, tenth, kChain10Exp, kChain10Derivative}};
}

Eigen::MatrixXd chain_matrix(const Chain& c) {
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(c.n, c.n);
  for (int i = 0; i < c.n; ++i) {
    A(i, i) = c.diagonal[i];
    if (i > 0) A(i, i - 1) = c.sub;
  }
  return A;
}

// The entry of exp(A) at (i, j), 0 above the diagonal.
double reference_exp(const Chain& c, int i, int j) {
  return j > i ? 0.0 : c.exp_lower[i * (i + 1) / 2 + j];
}

// Each (i, j) of `got` against reference(i, j), relative; exact zeros.
template <typename Reference>
void expect_entrywise(const Eigen::MatrixXd& got, int n, const Reference& ref,
                      double tolerance) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double want = ref(i, j);
      SCOPED_TRACE(::testing::Message() << "(" << i << ", " << j << ")");
      if (want == 0.0) {
        EXPECT_EQ(got(i, j), 0.0);
      } else {
        EXPECT_NEAR(got(i, j), want, tolerance * std::abs(want));
      }
    }
  }
}

TEST(MatrixExponentialAccuracyTest, ChainsKeepEveryEntryToItsOwnAccuracy) {
  std::mt19937 rng(5);
  for (const Chain& c : chains()) {
    const Eigen::MatrixXd A = chain_matrix(c);
    // A symmetric permutation: state k of the chain is index order[k].
    std::vector<int> order(c.n);
    for (int k = 0; k < c.n; ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), rng);
    Eigen::MatrixXd shuffled(c.n, c.n), E = Eigen::MatrixXd::Zero(c.n, c.n);
    for (int i = 0; i < c.n; ++i) {
      for (int j = 0; j < c.n; ++j) shuffled(order[i], order[j]) = A(i, j);
    }
    E(order[1], order[0]) = 1.0;
    MatrixExponential expm(c.n);
    Eigen::MatrixXd result, paired, derivative;
    for (const char* form : {"as given", "shuffled", "transposed"}) {
      SCOPED_TRACE(::testing::Message() << "N = " << c.n << ", " << form);
      const std::string name(form);
      const Eigen::MatrixXd X = name == "as given"   ? A
                                : name == "shuffled" ? shuffled
                                                     : A.transpose();
      // Entry (i, j) of exp(X) is entry (k, l) of exp(A).
      const auto ref = [&](int i, int j) {
        if (name == "as given") return reference_exp(c, i, j);
        if (name == "transposed") return reference_exp(c, j, i);
        int k = 0, l = 0;
        while (order[k] != i) ++k;
        while (order[l] != j) ++l;
        return reference_exp(c, k, l);
      };
      expm.compute(X, result);
      expect_entrywise(result, c.n, ref, 1e-13);
      if (name != "shuffled") continue;
      expm.compute_with_derivative(X, E, paired, derivative);
      expect_entrywise(paired, c.n, ref, 1e-13);
      for (int k = 0; k < c.n; ++k) {
        const double want = c.derivative[k];
        const double got = derivative(order[k], order[0]);
        if (want == 0.0) {
          EXPECT_EQ(got, 0.0) << k;
        } else {
          EXPECT_NEAR(got, want, 1e-13 * std::abs(want)) << k;
        }
      }
    }
  }
}

// t·T for T lower triangular (diagonal −0.5 − 0.3·i, entries below it in
// [1, 3]) whose last state is a constant input into the first, with its
// states in mixed order: index (i + 2) mod n holds state i. A symmetric
// permutation of a triangular matrix, not itself triangular.
Eigen::MatrixXd mixed_chain(int n, double t, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Eigen::MatrixXd T = Eigen::MatrixXd::Zero(n, n);
  for (int i = 0; i + 1 < n; ++i) {
    T(i, i) = -0.5 - 0.3 * i;
    for (int j = 0; j < i; ++j) T(i, j) = 2.0 + unit(rng);
  }
  T(0, n - 1) = 1.0;
  Eigen::MatrixXd X(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) X((i + 2) % n, (j + 2) % n) = t * T(i, j);
  }
  return X;
}

// exp and L(X, E) in random directions in the triangular form against
// Eigen (exp, and the block matrix for L) and against central differences
// of exp.
TEST(MatrixExponentialAccuracyTest, PermutedTriangularDerivativeIsExact) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (const int n : {3, 6, 8}) {
    for (const double t : {0.01, 1.0, 40.0}) {
      SCOPED_TRACE(::testing::Message() << "n = " << n << ", t = " << t);
      const Eigen::MatrixXd X = mixed_chain(n, t, rng);
      Eigen::MatrixXd E(n, n);
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) E(i, j) = unit(rng);
      }
      MatrixExponential expm(n);
      Eigen::MatrixXd result, derivative, up, down;
      expm.compute_with_derivative(X, E, result, derivative);
      const Eigen::MatrixXd reference = X.exp();
      EXPECT_LE((result - reference).norm(), 1e-13 * reference.norm());
      const Eigen::MatrixXd want = testing::block_derivative(X, E);
      EXPECT_LE((derivative - want).norm(), 1e-12 * want.norm());
      // X ± h·E has a cycle, and exp(s·X) a transient hump whose rounding
      // swamps the differences at t = 40: compared at the smaller t only.
      if (t > 1.0) continue;
      const double h = 1e-5 * std::max(1.0, X.norm());
      expm.compute(X + h * E, up);
      expm.compute(X - h * E, down);
      const Eigen::MatrixXd difference = (up - down) / (2.0 * h);
      EXPECT_LE((derivative - difference).norm(), 1e-7 * difference.norm());
    }
  }
}

// exp(t·M) of matrices with a cycle, whose entries decay by many orders:
// M = [[−1, 0.5], [0.8, −0.9]] at t = 45, 300 and 650, gut → central ⇄
// peripheral at t = 400 (the gut at 1e-226 beside the others at 1e-6), and
// a stiff one (eigenvalues near −1e4, −0.1 and −0.01) at t = 8; every entry
// row by row, from the same script.
constexpr double kCycle45[] = {
    3.133522716623346038652244e-7,
    2.680841792578668846704089e-7,
    4.289346868125870154726542e-7,
    3.669691075139079807993062e-7,
};
constexpr double kCycle300[] = {
    3.532478452533911779313226e-42,
    3.022162825467348870478613e-42,
    4.835460520747758192765781e-42,
    4.136911017627381553408948e-42,
};
constexpr double kCycle650[] = {
    3.804525036455263880788486e-90,
    3.254908497881213619636163e-90,
    5.20785359660994179141786e-90,
    4.455506736031506604715719e-90,
};
constexpr double kPeripheral400[] = {
    1.468484646909508464440658e-226,
    0.0,
    0.0,
    2.451004752134376968014796e-6,
    2.398370066153315783215929e-6,
    3.873722441541405539084284e-6,
    7.426004041721892175834633e-6,
    7.266532547229786156508058e-6,
    1.173652498321151973094566e-5,
};
constexpr double kStiffCycle8[] = {
    3.468621284655107938989125e-6, 3.468607004342831058779579e-6,
    6.125502610202983560421013e-7, 6.937214008685661732466423e-1,
    6.937185448261031629908198e-1, 1.225111946267569934207877e-1,
    3.062751305101491716454187e-1, 3.062779865668924941781215e-1,
    8.774881928229819862808563e-1,
};

TEST(MatrixExponentialAccuracyTest, DecayedEntriesOfCyclesKeepTheirAccuracy) {
  const Eigen::Matrix2d cycle{{-1.0, 0.5}, {0.8, -0.9}};
  const Eigen::Matrix3d peripheral{
      {-1.3, 0.0, 0.0}, {1.3, -0.25, 0.0733}, {0.0, 0.1375, -0.0733}};
  const Eigen::Matrix3d stiff{
      {-1e4, 0.05, 0.0}, {1e4, -0.1, 0.02}, {0.0, 0.05, -0.02}};
  const struct {
    Eigen::MatrixXd M;
    double t;
    const double* want;
  } cases[] = {{cycle, 45.0, kCycle45},
               {cycle, 300.0, kCycle300},
               {cycle, 650.0, kCycle650},
               {peripheral, 400.0, kPeripheral400},
               {stiff, 8.0, kStiffCycle8}};
  for (const auto& c : cases) {
    const int n = static_cast<int>(c.M.rows());
    SCOPED_TRACE(::testing::Message() << "n = " << n << ", t = " << c.t);
    const Eigen::MatrixXd X = c.t * c.M;
    MatrixExponential expm(n);
    Eigen::MatrixXd result, paired, derivative;
    expm.compute(X, result);
    expm.compute_with_derivative(X, Eigen::MatrixXd::Identity(n, n), paired,
                                 derivative);
    const auto ref = [&](int i, int j) { return c.want[i * n + j]; };
    expect_entrywise(result, n, ref, 2e-13);
    expect_entrywise(paired, n, ref, 2e-13);
    // L(X, I) = exp(X): X commutes with I.
    expect_entrywise(derivative, n, ref, 2e-13);
  }
}

}  // namespace
}  // namespace identify
