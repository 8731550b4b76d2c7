// The Gram matrix N = JᵀJ of a tall row-major Jacobian, for the normal
// equations of a least-squares step. Every entry is one sum in a fixed
// order, N(i, j) = Σ_k J(k, i)·J(k, j) over k ascending from 0.0, with the
// product rounded before it is added: the vector kernels run across
// entries, never along a sum, so they give the bits of gram_plain() on
// every instruction set and with one thread or two.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <vector>

#include "core/vector_isa.h"

namespace identify {

struct GramOptions {
  // Narrowed to best_vector_isa() when the CPU lacks the requested set.
  VectorIsa isa = VectorIsa::kAvx512;
  // 0: two when the machine has two hardware threads and there are at
  // least kGramThreadColumns columns, else one; 1 or 2: that many.
  int threads = 0;
};

// From this many columns a second thread pays for its start (about 50 µs
// against several milliseconds of products).
inline constexpr int kGramThreadColumns = 160;

// Forms JᵀJ for a fixed column count q; its buffers are sized once, so
// repeated products allocate nothing (a second thread is started per
// product).
class Gram {
 public:
  explicit Gram(int q, const GramOptions& options = {});

  // J: n rows of q doubles (row-major). Writes the lower triangle (i >= j)
  // of the q × q `normal`, which is resized to q × q; the strictly upper
  // triangle is left unspecified.
  void compute(const double* J, std::size_t n, Eigen::MatrixXd& normal);

  int columns() const { return q_; }

 private:
  int q_;
  VectorIsa isa_;
  int threads_;
  std::vector<double> sums_;     // padded lower triangle, column-major
  std::vector<double> pack_[2];  // one block of J in panels, per thread
};

// The reference: the same sums, one entry at a time.
void gram_plain(const double* J, std::size_t n, int q, Eigen::MatrixXd& normal);

}  // namespace identify
