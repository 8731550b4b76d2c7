// exp(X) by scaling and squaring: the smallest degree m in 3, 5, 7, 9, 13
// whose bound θ_m on ‖X‖₁ keeps the backward error of the diagonal Padé
// approximant r_m = (V − U)⁻¹(V + U) below double rounding, or m = 13 after
// halving X s times until ‖X/2^s‖₁ < θ_13, followed by s squarings
// (Higham, SIAM J. Matrix Anal. Appl. 26 (2005) 1179-1193). U holds the odd
// and V the even powers of the numerator p_m(x) = sum b_j x^j.
//
// The squarings carry F = r − I rather than r: F = q⁻¹(p − q) = 2·q⁻¹U
// with p = V + U, q = V − U, and (I + F)² = I + (2F + F²). A slow mode,
// whose r(x/2^s) lies within 2^−s of 1, keeps its difference from 1 to full
// relative accuracy; squaring r itself would round that difference against
// 1 and each squaring double the error, about 2^s·u in all (2e-12 for
// eigenvalues −1e4 and −0.1 at t = 8). But I + F holds a value decayed far
// below 1 only to u absolute, so the last ten squarings carry r: a slow
// mode loses at most 2^10·u, and a value e^{−λ} is rounded at
// e^{−λ/2^10} instead of at e^{−λ} (see kSquaringsOfR).
//
// L(X, E) alongside (Al-Mohy and Higham, SIAM J. Matrix Anal. Appl. 30
// (2009) 1639-1657, Algorithm 6.4): differentiating r = q⁻¹p with
// p = V + U, q = V − U in the direction E gives
// L_r = q⁻¹((L_U + L_V) + (L_U − L_V)·r), where L_U and L_V follow from the
// derivatives of the even powers, M_2 = x·e + e·x,
// M_2k = x^2j·M_2(k−j) + M_2j·x^2(k−j), and U = x·w(x²) gives
// L_U = x·L_w + e·w. exp(X) = r(X/2^s)^(2^s), and each squaring
// R ← R² carries L ← R·L + L·R (the product rule). The degree bounds ℓ_m
// (their Table 6.1) keep the backward error of both below double rounding.
//
// For upper triangular x, q = V − U is upper triangular and is solved by
// back substitution, and the squarings carry R = I + F with the diagonal
// and first superdiagonal of exp(2^(k−s)·X) put back after the k-th
// (triangular_form.h): a decayed diagonal entry e^{−44} then keeps full
// relative accuracy, which I + F, rounding against 1, would lose, and a
// slow mode keeps it through the exact band rather than through F.
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

// The same bounds for the pair exp(X), L(X, E), m = 3, 5, 7, 9, 13.
constexpr double kEll3 = 1.08e-2;
constexpr double kEll5 = 2.00e-1;
constexpr double kEll7 = 7.83e-1;
constexpr double kEll9 = 1.78e0;
constexpr double kEll13 = 4.74e0;

// The last squarings carry r itself rather than F = r − I. Squaring r
// doubles its relative error each time: 2^10·u = 2.3e-13 for a slow mode
// at most. Squaring F keeps a slow mode to u but holds r = I + F only to u
// absolute, which a value decayed to e^{−690} would lose entirely; carried
// as r for the last 10 squarings, such a value is rounded at r^(2^−10) =
// e^{−0.67} and keeps 2^10·e^{0.67}·u = 4.4e-13 of relative accuracy.
constexpr int kSquaringsOfR = 10;

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

template <typename Matrix>
MatrixExponential::Pade<Matrix>::Pade(int n)
    : scaled_(n, n),
      a2_(n, n),
      a4_(n, n),
      a6_(n, n),
      u_(n, n),
      v_(n, n),
      q_(n, n),
      tmp_(n, n),
      scaled_e_(n, n),
      m2_(n, n),
      m4_(n, n),
      m6_(n, n),
      w1_(n, n),
      z1_(n, n),
      lw_(n, n),
      lu_d_(n, n),
      lv_(n, n),
      lu_(n) {}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::pade(const Matrix& x, int degree) {
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

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::exponential(const Matrix& X,
                                                  Matrix& result,
                                                  bool triangular) {
  triangular_ = triangular;
  const double norm = X.cwiseAbs().colwise().sum().maxCoeff();
  if (!std::isfinite(norm)) {
    result.setConstant(std::numeric_limits<double>::quiet_NaN());
    return;
  }
  if (triangular && X.rows() <= 2) {
    // Every entry of a triangular matrix of order 2 lies on its band: the
    // exact band is the whole exponential, bit for bit the result the
    // squarings below would end on.
    result.setZero();
    TriangularForm::set_exact_band(X, 1.0, result);
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
  solve_difference(result);
  if (triangular_) return square_triangular(X, squarings, result, nullptr);
  square(squarings, result, nullptr);
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::solve_difference(Matrix& difference) {
  q_ = v_ - u_;
  if (!triangular_) lu_.compute(q_);
  u_ *= 2.0;
  solve(u_, difference);
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::solve(const Matrix& rhs, Matrix& out) {
  if (triangular_) {
    out = q_.template triangularView<Eigen::Upper>().solve(rhs);
  } else {
    out = lu_.solve(rhs);
  }
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::square_once(Matrix& result,
                                                  Matrix* derivative) {
  if (derivative != nullptr) {
    tmp_.noalias() = result * *derivative;
    tmp_.noalias() += *derivative * result;
    derivative->swap(tmp_);
  }
  tmp_.noalias() = result * result;
  result.swap(tmp_);
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::square_triangular(const Matrix& x,
                                                        int squarings,
                                                        Matrix& result,
                                                        Matrix* derivative) {
  result.diagonal().array() += 1.0;
  TriangularForm::set_exact_band(x, std::ldexp(1.0, -squarings), result);
  for (int s = 1; s <= squarings; ++s) {
    square_once(result, derivative);
    TriangularForm::set_exact_band(x, std::ldexp(1.0, s - squarings), result);
  }
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::square_difference(Matrix& difference) {
  tmp_.noalias() = difference * difference;
  tmp_ += 2.0 * difference;
  difference.swap(tmp_);
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::pade_with_derivative(const Matrix& x,
                                                           const Matrix& e,
                                                           int degree) {
  // w = sum_k b_{2k+1}·x^{2k} in tmp_, V in v_, and their derivatives
  // L_w = sum_k b_{2k+1}·M_2k in lw_, L_V = sum_k b_2k·M_2k in lv_, with
  // x^8, M_8 taking the places of x^6, M_6 once those have been used.
  const double* b = degree == 3   ? kPade3
                    : degree == 5 ? kPade5
                    : degree == 7 ? kPade7
                                  : kPade9;
  a2_.noalias() = x * x;
  m2_.noalias() = x * e;
  m2_.noalias() += e * x;
  tmp_ = b[3] * a2_;
  v_ = b[2] * a2_;
  lw_ = b[3] * m2_;
  lv_ = b[2] * m2_;
  if (degree >= 5) {
    a4_.noalias() = a2_ * a2_;
    m4_.noalias() = a2_ * m2_;
    m4_.noalias() += m2_ * a2_;
    tmp_ += b[5] * a4_;
    v_ += b[4] * a4_;
    lw_ += b[5] * m4_;
    lv_ += b[4] * m4_;
  }
  if (degree >= 7) {
    a6_.noalias() = a4_ * a2_;
    m6_.noalias() = a4_ * m2_;
    m6_.noalias() += m4_ * a2_;
    tmp_ += b[7] * a6_;
    v_ += b[6] * a6_;
    lw_ += b[7] * m6_;
    lv_ += b[6] * m6_;
  }
  if (degree >= 9) {
    a6_.noalias() = a4_ * a4_;
    m6_.noalias() = a4_ * m4_;
    m6_.noalias() += m4_ * a4_;
    tmp_ += b[9] * a6_;
    v_ += b[8] * a6_;
    lw_ += b[9] * m6_;
    lv_ += b[8] * m6_;
  }
  tmp_.diagonal().array() += b[1];
  v_.diagonal().array() += b[0];
  u_.noalias() = x * tmp_;
  lu_d_.noalias() = x * lw_;
  lu_d_.noalias() += e * tmp_;
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::pade13_with_derivative(const Matrix& x,
                                                             const Matrix& e) {
  // With w1 = b13·x^6 + b11·x^4 + b9·x^2, z1 = b12·x^6 + b10·x^4 + b8·x^2:
  // U = x·(x^6·w1 + b7·x^6 + b5·x^4 + b3·x^2 + b1·I),
  // V = x^6·z1 + b6·x^6 + b4·x^4 + b2·x^2 + b0·I, and term by term
  // L_w = x^6·L_w1 + M_6·w1 + b7·M_6 + b5·M_4 + b3·M_2,
  // L_V = x^6·L_z1 + M_6·z1 + b6·M_6 + b4·M_4 + b2·M_2.
  const double* b = kPade13;
  a2_.noalias() = x * x;
  m2_.noalias() = x * e;
  m2_.noalias() += e * x;
  a4_.noalias() = a2_ * a2_;
  m4_.noalias() = a2_ * m2_;
  m4_.noalias() += m2_ * a2_;
  a6_.noalias() = a4_ * a2_;
  m6_.noalias() = a4_ * m2_;
  m6_.noalias() += m4_ * a2_;
  w1_ = b[13] * a6_ + b[11] * a4_ + b[9] * a2_;
  z1_ = b[12] * a6_ + b[10] * a4_ + b[8] * a2_;
  tmp_ = b[13] * m6_ + b[11] * m4_ + b[9] * m2_;
  lw_.noalias() = a6_ * tmp_;
  lw_.noalias() += m6_ * w1_;
  lw_ += b[7] * m6_ + b[5] * m4_ + b[3] * m2_;
  tmp_ = b[12] * m6_ + b[10] * m4_ + b[8] * m2_;
  lv_.noalias() = a6_ * tmp_;
  lv_.noalias() += m6_ * z1_;
  lv_ += b[6] * m6_ + b[4] * m4_ + b[2] * m2_;
  tmp_.noalias() = a6_ * w1_;
  tmp_ += b[7] * a6_ + b[5] * a4_ + b[3] * a2_;
  tmp_.diagonal().array() += b[1];
  u_.noalias() = x * tmp_;
  lu_d_.noalias() = x * lw_;
  lu_d_.noalias() += e * tmp_;
  v_.noalias() = a6_ * z1_;
  v_ += b[6] * a6_ + b[4] * a4_ + b[2] * a2_;
  v_.diagonal().array() += b[0];
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::exponential_with_derivative(
    const Matrix& X, const Matrix& E, Matrix& result, Matrix& derivative,
    bool triangular) {
  triangular_ = triangular;
  const double norm = X.cwiseAbs().colwise().sum().maxCoeff();
  if (!std::isfinite(norm)) {
    result.setConstant(std::numeric_limits<double>::quiet_NaN());
    derivative.setConstant(std::numeric_limits<double>::quiet_NaN());
    return;
  }
  int squarings = 0;
  if (norm <= kEll3) {
    pade_with_derivative(X, E, 3);
  } else if (norm <= kEll5) {
    pade_with_derivative(X, E, 5);
  } else if (norm <= kEll7) {
    pade_with_derivative(X, E, 7);
  } else if (norm <= kEll9) {
    pade_with_derivative(X, E, 9);
  } else {
    std::frexp(norm / kEll13, &squarings);
    squarings = std::max(squarings, 0);
    const double scale = std::ldexp(1.0, -squarings);
    scaled_ = scale * X;
    scaled_e_ = scale * E;
    pade13_with_derivative(scaled_, scaled_e_);
  }
  // F = r − I as for exp alone, and L_r = q⁻¹((L_U + L_V) + (L_U − L_V)·r)
  // = q⁻¹(2·L_U + (L_U − L_V)·F); lv_ takes L_U − L_V.
  solve_difference(result);
  tmp_ = 2.0 * lu_d_;
  lv_ = lu_d_ - lv_;
  tmp_.noalias() += lv_ * result;
  solve(tmp_, derivative);
  if (triangular_) {
    return square_triangular(X, squarings, result, &derivative);
  }
  square(squarings, result, &derivative);
}

template <typename Matrix>
void MatrixExponential::Pade<Matrix>::square(int squarings, Matrix& result,
                                             Matrix* derivative) {
  const int of_difference = std::max(0, squarings - kSquaringsOfR);
  for (int s = 0; s < of_difference; ++s) {
    if (derivative != nullptr) {
      // (I + F)·L + L·(I + F) = 2L + F·L + L·F.
      tmp_.noalias() = result * *derivative;
      tmp_.noalias() += *derivative * result;
      tmp_ += 2.0 * *derivative;
      derivative->swap(tmp_);
    }
    square_difference(result);
  }
  result.diagonal().array() += 1.0;
  for (int s = of_difference; s < squarings; ++s) {
    square_once(result, derivative);
  }
}

// The four kinds of matrix the steps run on (matrix_exponential_forms.cc).
template class MatrixExponential::Pade<Eigen::MatrixXd>;
template class MatrixExponential::Pade<Eigen::Matrix<double, 2, 2>>;
template class MatrixExponential::Pade<Eigen::Matrix<double, 4, 4>>;
template class MatrixExponential::Pade<Eigen::Matrix<double, 6, 6>>;

}  // namespace identify
