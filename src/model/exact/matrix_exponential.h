// The matrix exponential and its Fréchet derivative by scaling and squaring
// with diagonal Padé approximants.
//
// exp(X): the approximant's degree and the number of squarings are chosen
// from the 1-norm of X so that the backward error of the approximation
// stays below the unit roundoff u = 2^-53 (Higham 2005). The squarings act
// on exp − I, so that slow modes next to fast ones (stiff systems) keep
// their relative accuracy, except for the last ten, which act on exp
// itself, so that values decayed by many orders keep theirs too.
//
// L(X, E), the Fréchet derivative (d/dh exp(X + h·E) at h = 0), together
// with exp(X): the Padé approximant r_m(X) and its own Fréchet derivative
// are formed side by side and carried through the squarings (Al-Mohy and
// Higham 2009, Algorithm 6.4). Degree and scaling come from smaller bounds
// ℓ_m on ‖X‖₁ than those of exp alone, so that the computed pair is exactly
// exp(X + ΔX) and L(X + ΔX, E + ΔE) with ‖ΔX‖₁ <= u·‖X‖₁ and
// ‖ΔE‖₁ <= u·‖E‖₁ as far as the approximation goes; rounding in the
// squarings adds an error that grows with their number, as for exp. Cost
// about three exponentials, against eight for exp of the 2n×2n block
// matrix [[X, E], [0, X]] whose upper-right block is L(X, E).
//
// Both are then as accurate as the conditioning of exp at X allows: tested
// against Eigen's MatrixFunctions (exp, and L through the block matrix) to
// 1e-13 relative for 1-norms from 1e-3 to 300 and on a stiff matrix with
// eigenvalues −1e4 and −0.1 at t = 8.
//
// A matrix that is a symmetric permutation of a triangular one (a chain of
// compartments without a cycle, with its inputs) is handled in upper
// triangular form (triangular_form.h): the Padé denominator is solved by
// back substitution, without the row interchanges that would mix large
// entries into small ones, and the squarings carry r itself with its
// diagonal and first superdiagonal reset to their exact values after each
// one. Every entry of exp(X) then keeps its own relative accuracy, however
// small against the others: 1e-15 against 50-digit references on chains
// with a sub-diagonal 1000 times the diagonal, and on values decayed by
// e^{-44}.
#pragma once

#include <Eigen/Core>
#include <Eigen/LU>

#include "model/exact/triangular_form.h"

namespace identify {

// exp(X), and L(X, E) with it, of square matrices by scaling and squaring
// with a diagonal Padé approximant of degree 3, 5, 7, 9 or 13 chosen from
// the 1-norm of X. The work matrices are kept: repeated calls at one size
// allocate nothing. Sizes up to 6 (compartment models with an input or
// two, small reaction networks) run on matrices of fixed size, about twice
// as fast. A triangular form of order 1 or 2 is its own exact band, so its
// exponential is that band (what the squarings would end on) with no
// approximant at all.
class MatrixExponential {
 public:
  // Work matrices for n×n arguments (n >= 0).
  explicit MatrixExponential(int n);

  // result = exp(X). X is n×n with the n of the constructor; result is
  // resized to n×n if it is not, and must not be X. A non-finite entry of X
  // gives a result of NaNs.
  void compute(const Eigen::MatrixXd& X, Eigen::MatrixXd& result);

  // result = exp(X) and derivative = L(X, E) = sum over k >= 1 of
  // (1/k!)·sum over j < k of X^j·E·X^(k−1−j), the change of exp(X) per unit
  // change of X in the direction E. X and E are n×n; result and derivative
  // are resized to n×n if they are not and must be distinct from each other
  // and from X and E. L is linear in E. A non-finite entry of X gives NaNs
  // in both; one of E, non-finite entries in the derivative.
  void compute_with_derivative(const Eigen::MatrixXd& X,
                               const Eigen::MatrixXd& E,
                               Eigen::MatrixXd& result,
                               Eigen::MatrixXd& derivative);

 private:
  // The steps of both on one kind of matrix: Eigen::MatrixXd, or a 2×2,
  // 4×4 or 6×6 matrix of fixed size for small arguments.
  template <typename Matrix>
  class Pade {
   public:
    explicit Pade(int n);
    // result = exp(x), squaring the approximant's difference from I; for
    // `triangular` x (upper triangular), squaring the approximant with its
    // exact band.
    void exponential(const Matrix& x, Matrix& result, bool triangular);
    void exponential_with_derivative(const Matrix& x, const Matrix& e,
                                     Matrix& result, Matrix& derivative,
                                     bool triangular);

   private:
    // u_ = U, v_ = V of the degree-m approximant (V − U)⁻¹(V + U) at x.
    void pade(const Matrix& x, int degree);
    // u_, v_ as pade(), and lu_d_ = L_U(x, e), lv_ = L_V(x, e), their
    // Fréchet derivatives in the direction e, for degrees 3 .. 9.
    void pade_with_derivative(const Matrix& x, const Matrix& e, int degree);
    // The same for degree 13.
    void pade13_with_derivative(const Matrix& x, const Matrix& e);
    // difference = (V − U)⁻¹(V + U) − I = 2·(V − U)⁻¹U, the approximant
    // less the identity; leaves q_ holding V − U (and lu_ its factors
    // unless triangular_) and u_ holding 2U.
    void solve_difference(Matrix& difference);
    // out = (V − U)⁻¹·rhs after solve_difference().
    void solve(const Matrix& rhs, Matrix& out);
    // difference = 2·difference + difference²: the difference of the
    // square.
    void square_difference(Matrix& difference);
    // result = r^(2^squarings) from result = F = r − I (and with
    // L ← r·L + L·r when derivative is not null): F squared as F, the last
    // squarings on r itself.
    void square(int squarings, Matrix& result, Matrix* derivative);
    // result ← r² for result = r (and L ← r·L + L·r first when derivative
    // is not null): one step of the squaring phase.
    void square_once(Matrix& result, Matrix* derivative);
    // For triangular x scaled by 2^-squarings into the approximant: the
    // difference turned into r = I + difference with its exact band, and
    // squared `squarings` times (with L ← r·L + L·r when derivative is not
    // null), the band reset after each squaring.
    void square_triangular(const Matrix& x, int squarings, Matrix& result,
                           Matrix* derivative);

    bool triangular_ = false;
    Matrix scaled_, a2_, a4_, a6_, u_, v_, q_, tmp_;
    // Only for the derivative: the scaled direction, the derivatives
    // m_2k = L(x^2k) of the even powers, and of U and V.
    Matrix scaled_e_, m2_, m4_, m6_, w1_, z1_, lw_, lu_d_, lv_;
    Eigen::PartialPivLU<Matrix> lu_;
  };
  // The same steps on X in the top left corner of a Size×Size matrix of
  // fixed size, zero elsewhere. Its exponential is exp(X) beside I, its
  // Fréchet derivative L(X, E) beside zeros, and every added term from the
  // padding is an exact zero; the products of fixed size cost a fraction of
  // those of run-time size.
  template <int Size>
  struct Padded {
    using Matrix = Eigen::Matrix<double, Size, Size>;
    Padded();
    void exponential(const Eigen::MatrixXd& X, Eigen::MatrixXd& result,
                     bool triangular);
    void exponential_with_derivative(const Eigen::MatrixXd& X,
                                     const Eigen::MatrixXd& E,
                                     Eigen::MatrixXd& result,
                                     Eigen::MatrixXd& derivative,
                                     bool triangular);
    Pade<Matrix> pade;
    Matrix x, e, result, derivative;
  };

  // exp(X), and L(X, E), on the steps for n, X upper triangular when
  // `triangular`.
  void run(const Eigen::MatrixXd& X, Eigen::MatrixXd& result, bool triangular);
  void run_with_derivative(const Eigen::MatrixXd& X, const Eigen::MatrixXd& E,
                           Eigen::MatrixXd& result, Eigen::MatrixXd& derivative,
                           bool triangular);

  int n_;
  // The triangular form of the argument when it has one, and the argument,
  // direction, exponential and derivative in that form.
  TriangularForm form_;
  Eigen::MatrixXd form_x_, form_e_, form_result_, form_derivative_;
  Pade<Eigen::MatrixXd> general_;
  // Padded steps for 1 <= n <= 2, 3 <= n <= 4 and 5 <= n <= 6.
  Padded<2> tiny_;
  Padded<4> small_;
  Padded<6> medium_;
};

}  // namespace identify
