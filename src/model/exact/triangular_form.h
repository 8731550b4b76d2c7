// Upper triangular form for the matrix exponential. A matrix whose graph
// (an edge i -> j for each nonzero X(i, j), i != j) has no cycle is a
// symmetric permutation of an upper triangular matrix T: P·X·Pᵀ = T, and
// exp(X) = Pᵀ·exp(T)·P, every step exact. Compartment chains (gut ->
// central -> ..., with inputs) are of this kind.
//
// For T upper triangular, exp(T) is upper triangular with the exact
// diagonal exp(t_ii) and first superdiagonal
//
//   exp(T)_{i,i+1} = t_{i,i+1}·(e^a − e^b)/(a − b),  a, b = t_ii, t_{i+1,i+1}
//
// (t_{i,i+1}·e^a when a = b), evaluated as t·e^a·(−expm1(b − a))/(a − b)
// with a the larger, which neither overflows nor cancels. Putting these
// back after every squaring of the scaled approximant keeps decayed
// diagonals and slow modes to full relative accuracy (Higham, SIAM J.
// Matrix Anal. Appl. 31 (2009) 970-989, section 2).
#pragma once

#include <Eigen/Core>
#include <vector>

namespace identify {

class TriangularForm {
 public:
  // Work storage for n×n matrices.
  explicit TriangularForm(int n);

  // True, with the order kept, if X (n×n) is a symmetric permutation of an
  // upper triangular matrix; false if its graph has a cycle. O(n²).
  bool find(const Eigen::MatrixXd& X);
  // After a successful find: out = P·X·Pᵀ, upper triangular for the X of
  // find(), and out = Pᵀ·Y·P, the inverse map. out must not alias the
  // argument; it is resized to n×n if it is not.
  void permute(const Eigen::MatrixXd& X, Eigen::MatrixXd& out) const;
  void restore(const Eigen::MatrixXd& Y, Eigen::MatrixXd& out) const;

  // R's diagonal and first superdiagonal set to those of exp(c·T), for T
  // upper triangular and c a power of 2 (so that c·T is exact). Defined
  // for Eigen::MatrixXd and the fixed sizes 2×2, 4×4 and 6×6.
  template <typename Matrix>
  static void set_exact_band(const Matrix& T, double c, Matrix& R);

 private:
  int n_;
  std::vector<int> order_;     // order_[a]: the index in X of row a of T
  std::vector<int> incoming_;  // per index: edges from unplaced indices
};

}  // namespace identify
