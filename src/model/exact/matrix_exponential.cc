// exp(X) by scaling and squaring: the smallest degree m in 3, 5, 7, 9, 13
// whose bound θ_m on ‖X‖₁ keeps the backward error of the diagonal Padé
// approximant r_m = (V − U)⁻¹(V + U) below double rounding, or m = 13 after
// halving X s times until ‖X/2^s‖₁ < θ_13, followed by s squarings
// (Higham, SIAM J. Matrix Anal. Appl. 26 (2005) 1179-1193). U holds the odd
// and V the even powers of the numerator p_m(x) = sum b_j x^j.
#include "model/exact/matrix_exponential.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace identify {
namespace {

// Largest 1-norms at which the degree-m approximant is accurate to double
// rounding, m = 3, 5, 7, 9, 13.
constexpr double kTheta3 = 1.495585217958292e-2;
constexpr double kTheta5 = 2.539398330063230e-1;
constexpr double kTheta7 = 9.504178996162932e-1;
constexpr double kTheta9 = 2.097847961257068e0;
constexpr double kTheta13 = 5.371920351148152e0;

// Coefficients b_0 .. b_m of the Padé numerator p_m(x) = sum b_j x^j (the
// denominator is p_m(−x)), each list scaled to integers.
constexpr double kPade3[] = {120.0, 60.0, 12.0, 1.0};
constexpr double kPade5[] = {30240.0, 15120.0, 3360.0, 420.0, 30.0, 1.0};
constexpr double kPade7[] = {17297280.0, 8648640.0, 1995840.0, 277200.0,
                             25200.0,    1512.0,    56.0,      1.0};
constexpr double kPade9[] = {
    17643225600.0, 8821612800.0, 2075673600.0, 302702400.0, 30270240.0,
    2162160.0,     110880.0,     3960.0,       90.0,        1.0};
constexpr double kPade13[] = {64764752532480000.0,
                              32382376266240000.0,
                              7771770303897600.0,
                              1187353796428800.0,
                              129060195264000.0,
                              10559470521600.0,
                              670442572800.0,
                              33522128640.0,
                              1323241920.0,
                              40840800.0,
                              960960.0,
                              16380.0,
                              182.0,
                              1.0};

}  // namespace

MatrixExponential::MatrixExponential(int n)
    : scaled_(n, n),
      a2_(n, n),
      a4_(n, n),
      a6_(n, n),
      u_(n, n),
      v_(n, n),
      tmp_(n, n),
      lu_(n) {}

void MatrixExponential::pade(const Eigen::MatrixXd& x, int degree) {
  if (degree == 13) {
    // U = x·[a6·(b13·a6 + b11·a4 + b9·a2) + b7·a6 + b5·a4 + b3·a2 + b1·I],
    // V = a6·(b12·a6 + b10·a4 + b8·a2) + b6·a6 + b4·a4 + b2·a2 + b0·I.
    const double* b = kPade13;
    a2_.noalias() = x * x;
    a4_.noalias() = a2_ * a2_;
    a6_.noalias() = a4_ * a2_;
    tmp_ = b[13] * a6_ + b[11] * a4_ + b[9] * a2_;
    v_.noalias() = a6_ * tmp_;
    v_ += b[7] * a6_ + b[5] * a4_ + b[3] * a2_;
    v_.diagonal().array() += b[1];
    u_.noalias() = x * v_;
    tmp_ = b[12] * a6_ + b[10] * a4_ + b[8] * a2_;
    v_.noalias() = a6_ * tmp_;
    v_ += b[6] * a6_ + b[4] * a4_ + b[2] * a2_;
    v_.diagonal().array() += b[0];
    return;
  }
  // Degrees 3 .. 9: U = x·sum_k b_{2k+1}·x^{2k}, V = sum_k b_{2k}·x^{2k},
  // with x^8 = a4·a4 kept in a6_ once a6 has been used.
  const double* b = degree == 3   ? kPade3
                    : degree == 5 ? kPade5
                    : degree == 7 ? kPade7
                                  : kPade9;
  a2_.noalias() = x * x;
  tmp_ = b[3] * a2_;
  v_ = b[2] * a2_;
  if (degree >= 5) {
    a4_.noalias() = a2_ * a2_;
    tmp_ += b[5] * a4_;
    v_ += b[4] * a4_;
  }
  if (degree >= 7) {
    a6_.noalias() = a4_ * a2_;
    tmp_ += b[7] * a6_;
    v_ += b[6] * a6_;
  }
  if (degree >= 9) {
    a6_.noalias() = a4_ * a4_;
    tmp_ += b[9] * a6_;
    v_ += b[8] * a6_;
  }
  tmp_.diagonal().array() += b[1];
  v_.diagonal().array() += b[0];
  u_.noalias() = x * tmp_;
}

void MatrixExponential::compute(const Eigen::MatrixXd& X,
                                Eigen::MatrixXd& result) {
  const Eigen::Index n = X.rows();
  if (result.rows() != n || result.cols() != n) result.resize(n, n);
  if (n == 0) return;
  const double norm = X.cwiseAbs().colwise().sum().maxCoeff();
  if (!std::isfinite(norm)) {
    result.setConstant(std::numeric_limits<double>::quiet_NaN());
    return;
  }
  int squarings = 0;
  if (norm < kTheta3) {
    pade(X, 3);
  } else if (norm < kTheta5) {
    pade(X, 5);
  } else if (norm < kTheta7) {
    pade(X, 7);
  } else if (norm < kTheta9) {
    pade(X, 9);
  } else {
    std::frexp(norm / kTheta13, &squarings);
    squarings = std::max(squarings, 0);
    scaled_ = std::ldexp(1.0, -squarings) * X;
    pade(scaled_, 13);
  }
  tmp_ = v_ - u_;
  v_ += u_;
  lu_.compute(tmp_);
  result = lu_.solve(v_);
  for (int s = 0; s < squarings; ++s) {
    tmp_.noalias() = result * result;
    result.swap(tmp_);
  }
}

}  // namespace identify
