// A second-order Taylor number: a value v with its gradient g and Hessian H
// with respect to m variables z (m <= kMaxJetVariables), so that arithmetic
// and the elementary functions propagate exact first and second
// derivatives:
//
//   (a·b)'  = a·b' + b·a',   (a·b)'' = a·b'' + b·a'' + a'·b'ᵀ + b'·a'ᵀ,
//   φ(a)'   = φ'(a)·a',      φ(a)''  = φ'(a)·a'' + φ''(a)·a'·a'ᵀ,
//
// and a quotient as a product with the reciprocal. The storage is fixed
// (no allocation), the size m set at run time.
#pragma once

#include <Eigen/Core>
#include <algorithm>
#include <cmath>

namespace identify {

inline constexpr int kMaxJetVariables = 12;

struct Jet {
  using Vector = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kMaxJetVariables, 1>;
  using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0,
                               kMaxJetVariables, kMaxJetVariables>;
  double v = 0.0;
  Vector g;
  Matrix h;

  Jet() = default;
  // The constant c with m variables (0: a plain number that adopts the size
  // of whatever it meets).
  explicit Jet(double c, int m = 0)
      : v(c), g(Vector::Zero(m)), h(Matrix::Zero(m, m)) {}
  // Variable k of m at value c.
  static Jet variable(double c, int k, int m) {
    Jet j(c, m);
    j.g[k] = 1.0;
    return j;
  }
  int size() const { return static_cast<int>(g.size()); }
};

namespace jet_detail {
// φ(a) from φ(a), φ'(a) and φ''(a).
inline Jet chain(const Jet& a, double f0, double f1, double f2) {
  Jet r;
  r.v = f0;
  r.g = f1 * a.g;
  r.h = f1 * a.h + f2 * a.g * a.g.transpose();
  return r;
}
// Brings a size-0 constant to the size of the other operand.
inline Jet sized(const Jet& a, int m) {
  return a.size() == m ? a : Jet(a.v, m);
}
}  // namespace jet_detail

inline Jet operator+(const Jet& a, const Jet& b) {
  const int m = std::max(a.size(), b.size());
  const Jet x = jet_detail::sized(a, m), y = jet_detail::sized(b, m);
  Jet r;
  r.v = x.v + y.v;
  r.g = x.g + y.g;
  r.h = x.h + y.h;
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
inline Jet operator*(const Jet& a, const Jet& b) {
  const int m = std::max(a.size(), b.size());
  const Jet x = jet_detail::sized(a, m), y = jet_detail::sized(b, m);
  Jet r;
  r.v = x.v * y.v;
  r.g = x.v * y.g + y.v * x.g;
  r.h = x.v * y.h + y.v * x.h + x.g * y.g.transpose() + y.g * x.g.transpose();
  return r;
}
inline Jet operator*(double c, const Jet& a) {
  Jet r;
  r.v = c * a.v;
  r.g = c * a.g;
  r.h = c * a.h;
  return r;
}
inline Jet reciprocal(const Jet& a) {
  const double i = 1.0 / a.v;
  return jet_detail::chain(a, i, -i * i, 2.0 * i * i * i);
}
inline Jet operator/(const Jet& a, const Jet& b) { return a * reciprocal(b); }
inline Jet& operator+=(Jet& a, const Jet& b) { return a = a + b; }
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
  const bool constant = b.g.isZero() && b.h.isZero();
  if (!constant) return exp(b * log(a));
  const double c = b.v;
  return jet_detail::chain(a, std::pow(a.v, c), c * std::pow(a.v, c - 1.0),
                           c * (c - 1.0) * std::pow(a.v, c - 2.0));
}

}  // namespace identify
