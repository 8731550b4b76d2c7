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

namespace identify {

namespace {

constexpr int kDegree = 16;

JetMatrix identity(int n, int m, int q) {
  JetMatrix r{n, std::vector<Jet>(n * n, Jet(0.0, m, q))};
  for (int i = 0; i < n; ++i) r(i, i) = Jet(1.0, m, q);
  return r;
}

JetMatrix multiply(const JetMatrix& x, const JetMatrix& y, int m, int q) {
  const int n = x.n;
  JetMatrix r{n, std::vector<Jet>(n * n, Jet(0.0, m, q))};
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < n; ++k) {
      const Jet& xik = x(i, k);
      if (xik.v == 0.0 && xik.is_constant()) continue;
      for (int j = 0; j < n; ++j) r(i, j) += xik * y(k, j);
    }
  }
  return r;
}

}  // namespace

JetMatrix jet_exponential(const JetMatrix& mat) {
  const int n = mat.n;
  const int m = n > 0 ? mat.a[0].size() : 0;
  const int q = n > 0 ? mat.a[0].hessian_columns() : 0;
  double norm = 0.0;
  for (int c = 0; c < n; ++c) {
    double column = 0.0;
    for (int r = 0; r < n; ++r) column += std::abs(mat(r, c).v);
    norm = std::max(norm, column);
  }
  int s = 0;
  if (norm > 0.25) s = static_cast<int>(std::ceil(std::log2(norm / 0.25)));
  const double scale = std::ldexp(1.0, -s);
  JetMatrix x = mat;
  for (Jet& e : x.a) e = scale * e;
  // Horner: E = I + X/1·(I + X/2·(I + … (I + X/kDegree))).
  JetMatrix e = identity(n, m, q);
  for (int k = kDegree; k >= 1; --k) {
    JetMatrix t = multiply(x, e, m, q);
    for (Jet& v : t.a) v = (1.0 / k) * v;
    for (int i = 0; i < n; ++i) t(i, i).v += 1.0;
    e = std::move(t);
  }
  for (int k = 0; k < s; ++k) e = multiply(e, e, m, q);
  return e;
}

std::vector<Jet> jet_product(const JetMatrix& mat, const std::vector<Jet>& x) {
  const int n = mat.n;
  const int m = x.empty() ? 0 : x[0].size();
  const int q = x.empty() ? 0 : x[0].hessian_columns();
  std::vector<Jet> r(n, Jet(0.0, m, q));
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < n; ++k) r[i] += mat(i, k) * x[k];
  }
  return r;
}

}  // namespace identify
