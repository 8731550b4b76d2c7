// A second-order Taylor number: a value v with its gradient g with respect
// to m variables z (m <= kMaxJetVariables) and the part of its Hessian that
// involves the first q of them (the random effects η): h(k, s) =
// ∂²v/∂z_k∂z_s for every k and s < q, which is all of the second
// derivatives the outer gradient needs. Arithmetic and the elementary
// functions propagate them exactly:
//
//   (a·b)'  = a·b' + b·a',   (a·b)'' = a·b'' + b·a'' + a'·b'ᵀ + b'·a'ᵀ,
//   φ(a)'   = φ'(a)·a',      φ(a)''  = φ'(a)·a'' + φ''(a)·a'·a'ᵀ,
//
// (the outer products restricted to the columns s < q), and a quotient as
// a product with the reciprocal. The storage is fixed (no allocation), the
// sizes set at run time; a jet of size 0 is a plain number that adopts the
// sizes of whatever it meets.
#pragma once

#include <Eigen/Core>
#include <algorithm>
#include <cmath>

namespace identify {

inline constexpr int kMaxJetVariables = 12;

struct Jet {
  using Vector =
      Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kMaxJetVariables, 1>;
  using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0,
                               kMaxJetVariables, kMaxJetVariables>;
  double v = 0.0;
  Vector g;
  Matrix h;  // m × q

  Jet() = default;
  // The constant c with m variables, the first q of them in the Hessian.
  explicit Jet(double c, int m = 0, int q = 0)
      : v(c), g(Vector::Zero(m)), h(Matrix::Zero(m, q)) {}
  // Variable k of m (q of them in the Hessian) at value c.
  static Jet variable(double c, int k, int m, int q) {
    Jet j(c, m, q);
    j.g[k] = 1.0;
    return j;
  }
  int size() const { return static_cast<int>(g.size()); }
  int hessian_columns() const { return static_cast<int>(h.cols()); }
  bool is_constant() const { return g.isZero() && h.isZero(); }
  bool is_finite() const {
    return std::isfinite(v) && g.allFinite() && h.allFinite();
  }
};

namespace jet_detail {
// φ(a) from φ(a), φ'(a) and φ''(a).
inline Jet chain(const Jet& a, double f0, double f1, double f2) {
  Jet r;
  r.v = f0;
  r.g = f1 * a.g;
  const int q = a.hessian_columns();
  r.h = f1 * a.h + f2 * a.g * a.g.head(q).transpose();
  return r;
}
}  // namespace jet_detail

inline Jet operator+(const Jet& a, const Jet& b) {
  if (a.size() == 0 && b.size() != 0) return b + a;
  Jet r = a;
  r.v += b.v;
  if (b.size() != 0) {
    r.g += b.g;
    r.h += b.h;
  }
  return r;
}
inline Jet operator-(const Jet& a) {
  Jet r;
  r.v = -a.v;
  r.g = -a.g;
  r.h = -a.h;
  return r;
}
inline Jet operator-(const Jet& a, const Jet& b) { return a + (-b); }
inline Jet operator*(double c, const Jet& a) {
  Jet r;
  r.v = c * a.v;
  r.g = c * a.g;
  r.h = c * a.h;
  return r;
}
inline Jet operator*(const Jet& a, const Jet& b) {
  if (a.size() == 0) return a.v * b;
  if (b.size() == 0) return b.v * a;
  const int q = a.hessian_columns();
  Jet r;
  r.v = a.v * b.v;
  r.g = a.v * b.g + b.v * a.g;
  r.h = a.v * b.h + b.v * a.h + a.g * b.g.head(q).transpose() +
        b.g * a.g.head(q).transpose();
  return r;
}
inline Jet reciprocal(const Jet& a) {
  const double i = 1.0 / a.v;
  return jet_detail::chain(a, i, -i * i, 2.0 * i * i * i);
}
inline Jet operator/(const Jet& a, const Jet& b) { return a * reciprocal(b); }
inline Jet& operator+=(Jet& a, const Jet& b) { return a = a + b; }
// r += a·b in place, with the roundings of r = r + a·b term for term (the
// jet exponential's inner loop, where the temporaries would cost more than
// the arithmetic).
inline void add_product(Jet& r, const Jet& a, const Jet& b) {
  const int m = a.size();
  if (m == 0 || b.size() != m || r.size() != m) {
    r += a * b;
    return;
  }
  const int q = a.hessian_columns();
  r.v += a.v * b.v;
  for (int i = 0; i < m; ++i) r.g[i] += a.v * b.g[i] + b.v * a.g[i];
  for (int c = 0; c < q; ++c) {
    for (int i = 0; i < m; ++i) {
      r.h(i, c) += ((a.v * b.h(i, c) + b.v * a.h(i, c)) + a.g[i] * b.g[c]) +
                   b.g[i] * a.g[c];
    }
  }
}
// a ← c·a in place.
inline void scale(Jet& a, double c) {
  a.v *= c;
  a.g *= c;
  a.h *= c;
}
inline Jet exp(const Jet& a) {
  const double e = std::exp(a.v);
  return jet_detail::chain(a, e, e, e);
}
inline Jet log(const Jet& a) {
  return jet_detail::chain(a, std::log(a.v), 1.0 / a.v, -1.0 / (a.v * a.v));
}
inline Jet sqrt(const Jet& a) {
  const double s = std::sqrt(a.v);
  return jet_detail::chain(a, s, 0.5 / s, -0.25 / (s * a.v));
}
// a^b: a one-argument power for a constant b (any sign of a at a whole b),
// else exp(b·ln a).
inline Jet pow(const Jet& a, const Jet& b) {
  if (!b.is_constant()) return exp(b * log(a));
  const double c = b.v;
  return jet_detail::chain(a, std::pow(a.v, c), c * std::pow(a.v, c - 1.0),
                           c * (c - 1.0) * std::pow(a.v, c - 2.0));
}

}  // namespace identify
