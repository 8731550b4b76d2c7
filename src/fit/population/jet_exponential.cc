// exp(M) by scaling and squaring with a Taylor polynomial: with s the least
// integer >= 0 for which ‖M‖₁/2^s <= 1/4 (the norm of the values), X =
// M/2^s and
//
//   exp(X) ≈ Σ_{k<=kDegree} X^k/k!   (Horner form),   exp(M) = exp(X)^(2^s),
//
// the truncation below 4^−(kDegree+1)/(kDegree+1)! ≈ 1e−21 relative for the
// value and, the series being differentiated term by term, of the same order
// for the first and second derivatives, which the jets carry through every
// product. The scaling is chosen from the values only, so it is the same
// for every jet variable and the derivatives are those of one fixed
// algorithm.
#include "fit/population/jet_exponential.h"

#include <cmath>
#include <utility>

namespace identify {

namespace {

constexpr int kDegree = 16;

template <class J>
JetMatrixOf<J> identity(int n, int m, int q) {
  JetMatrixOf<J> r{n, std::vector<J>(n * n, J(0.0, m, q))};
  for (int i = 0; i < n; ++i) r(i, i) = J(1.0, m, q);
  return r;
}

// r = x·y, r distinct from both, sized like them. A product with an exact
// zero (value and every derivative 0, the structural zeros of a compartment
// matrix and of its powers) is skipped: it would add an exact zero. `zero`
// is working storage.
template <class J>
void multiply(const JetMatrixOf<J>& x, const JetMatrixOf<J>& y, int m, int q,
              JetMatrixOf<J>& r, std::vector<char>& zero) {
  const int n = x.n;
  for (J& v : r.a) v = J(0.0, m, q);
  zero.resize(y.a.size());
  for (std::size_t k = 0; k < y.a.size(); ++k) zero[k] = jet_is_zero(y.a[k]);
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < n; ++k) {
      const J& xik = x(i, k);
      if (jet_is_zero(xik)) continue;
      for (int j = 0; j < n; ++j) {
        if (!zero[k * n + j]) add_product(r(i, j), xik, y(k, j));
      }
    }
  }
}

}  // namespace

template <class J>
JetMatrixOf<J> jet_exponential(const JetMatrixOf<J>& mat) {
  const int n = mat.n;
  const int m = n > 0 ? mat.a[0].size() : 0;
  const int q = n > 0 ? mat.a[0].hessian_columns() : 0;
  double norm = 0.0;
  for (int c = 0; c < n; ++c) {
    double column = 0.0;
    for (int r = 0; r < n; ++r) column += std::abs(jet_value(mat(r, c)));
    norm = std::max(norm, column);
  }
  int s = 0;
  if (norm > 0.25) s = static_cast<int>(std::ceil(std::log2(norm / 0.25)));
  const double scale_factor = std::ldexp(1.0, -s);
  JetMatrixOf<J> x = mat;
  for (J& v : x.a) scale(v, scale_factor);
  // Horner: E = I + X/1·(I + X/2·(I + … (I + X/kDegree))), t the product
  // buffer swapped with E after each step.
  JetMatrixOf<J> e = identity<J>(n, m, q);
  JetMatrixOf<J> t = e;
  std::vector<char> zero;
  for (int k = kDegree; k >= 1; --k) {
    multiply(x, e, m, q, t, zero);
    for (J& v : t.a) scale(v, 1.0 / k);
    for (int i = 0; i < n; ++i) add_to_value(t(i, i), 1.0);
    std::swap(e, t);
  }
  for (int k = 0; k < s; ++k) {
    multiply(e, e, m, q, t, zero);
    std::swap(e, t);
  }
  return e;
}

template <class J>
std::vector<J> jet_product(const JetMatrixOf<J>& mat, const std::vector<J>& x) {
  const int n = mat.n;
  const int m = x.empty() ? 0 : x[0].size();
  const int q = x.empty() ? 0 : x[0].hessian_columns();
  std::vector<J> r(n, J(0.0, m, q));
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < n; ++k) r[i] += mat(i, k) * x[k];
  }
  return r;
}

template JetMatrixOf<Jet> jet_exponential(const JetMatrixOf<Jet>&);
template JetMatrixOf<DualJet> jet_exponential(const JetMatrixOf<DualJet>&);
template std::vector<Jet> jet_product(const JetMatrixOf<Jet>&,
                                      const std::vector<Jet>&);
template std::vector<DualJet> jet_product(const JetMatrixOf<DualJet>&,
                                          const std::vector<DualJet>&);

}  // namespace identify
