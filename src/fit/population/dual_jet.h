// A jet (jet.h) with a tangent: v + ε·d, ε² = 0, where v is a jet over z
// and d is its derivative along one direction of the outer unknowns (the
// value, gradient and η-Hessian columns of v all moved along that
// direction). Jet arithmetic is bilinear in its operands, so a product has
// the tangent a.d·b.v + a.v·b.d; an elementary function φ(a) with the jet
// rule φ(a)' = φ'·a', φ(a)'' = φ'·a'' + φ''·a'·a'ᵀ has the tangent
//
//   d(φ(a))   = φ'·a.d,
//   d(φ(a))'  = φ'·a.d' + φ''·(a.d)·a',
//   d(φ(a))'' = φ'·a.d'' + φ''·[(a.d)·a'' + a.d'·a'ᵀ + a'·a.d'ᵀ]
//               + φ'''·(a.d)·a'·a'ᵀ,
//
// (a.d the value of the tangent), which needs the third derivative of φ. A
// pass over the model in these numbers gives the exact derivative of the
// jets along the direction: the third derivatives of the model that the
// Hessian of the outer objective needs, one direction per pass.
#pragma once

#include "fit/population/jet.h"

namespace identify {

struct DualJet {
  Jet v;  // the jet
  Jet d;  // its derivative along the direction

  DualJet() = default;
  // The constant c (tangent 0) with m variables, q in the Hessian.
  explicit DualJet(double c, int m = 0, int q = 0) : v(c, m, q), d(0.0, m, q) {}
  DualJet(Jet value, Jet tangent)
      : v(std::move(value)), d(std::move(tangent)) {}
  int size() const { return v.size() != 0 ? v.size() : d.size(); }
  int hessian_columns() const {
    return v.size() != 0 ? v.hessian_columns() : d.hessian_columns();
  }
  bool is_constant() const {
    return v.is_constant() && d.is_constant() && d.v == 0.0;
  }
  bool is_finite() const { return v.is_finite() && d.is_finite(); }
};

// The value of a jet or a dual jet, as a plain number.
inline double jet_value(const Jet& a) { return a.v; }
inline double jet_value(const DualJet& a) { return a.v.v; }
// Whether a is exactly 0 with every derivative (and tangent) 0.
inline bool jet_is_zero(const Jet& a) { return a.v == 0.0 && a.is_constant(); }
inline bool jet_is_zero(const DualJet& a) {
  return a.v.v == 0.0 && a.is_constant();
}
// a + c for a plain number c.
inline void add_to_value(Jet& a, double c) { a.v += c; }
inline void add_to_value(DualJet& a, double c) { a.v.v += c; }

namespace jet_detail {
// φ(a) from φ(a) and its first three derivatives at a.
inline DualJet chain(const DualJet& a, double f0, double f1, double f2,
                     double f3) {
  DualJet r;
  r.v = chain(a.v, f0, f1, f2);
  const double t = a.d.v;
  const int m = a.size(), q = a.hessian_columns();
  if (m == 0) {
    r.d = Jet(f1 * t);
    return r;
  }
  const Jet x = a.v.size() != 0 ? a.v : Jet(a.v.v, m, q);
  const Jet dx = a.d.size() != 0 ? a.d : Jet(a.d.v, m, q);
  r.d.v = f1 * t;
  r.d.g = f1 * dx.g + (f2 * t) * x.g;
  r.d.h =
      f1 * dx.h + f2 * t * x.h +
      f2 * (dx.g * x.g.head(q).transpose() + x.g * dx.g.head(q).transpose()) +
      (f3 * t) * x.g * x.g.head(q).transpose();
  return r;
}
}  // namespace jet_detail

inline DualJet operator+(const DualJet& a, const DualJet& b) {
  return {a.v + b.v, a.d + b.d};
}
inline DualJet operator-(const DualJet& a) { return {-a.v, -a.d}; }
inline DualJet operator-(const DualJet& a, const DualJet& b) {
  return a + (-b);
}
inline DualJet operator*(double c, const DualJet& a) {
  return {c * a.v, c * a.d};
}
inline DualJet operator*(const DualJet& a, const DualJet& b) {
  return {a.v * b.v, a.d * b.v + a.v * b.d};
}
inline DualJet reciprocal(const DualJet& a) {
  const double i = 1.0 / a.v.v;
  return jet_detail::chain(a, i, -i * i, 2.0 * i * i * i, -6.0 * i * i * i * i);
}
inline DualJet operator/(const DualJet& a, const DualJet& b) {
  return a * reciprocal(b);
}
inline DualJet& operator+=(DualJet& a, const DualJet& b) { return a = a + b; }
// r += a·b and a ← c·a, as for jets (jet.h).
inline void add_product(DualJet& r, const DualJet& a, const DualJet& b) {
  r += a * b;
}
inline void scale(DualJet& a, double c) { a = c * a; }
inline DualJet exp(const DualJet& a) {
  const double e = std::exp(a.v.v);
  return jet_detail::chain(a, e, e, e, e);
}
inline DualJet log(const DualJet& a) {
  const double x = a.v.v;
  return jet_detail::chain(a, std::log(x), 1.0 / x, -1.0 / (x * x),
                           2.0 / (x * x * x));
}
inline DualJet sqrt(const DualJet& a) {
  const double x = a.v.v, s = std::sqrt(x);
  return jet_detail::chain(a, s, 0.5 / s, -0.25 / (s * x), 0.375 / (s * x * x));
}
// a^b as for jets: a one-argument power for a constant b, else exp(b·ln a).
inline DualJet pow(const DualJet& a, const DualJet& b) {
  if (!b.is_constant()) return exp(b * log(a));
  const double c = b.v.v, x = a.v.v;
  return jet_detail::chain(a, std::pow(x, c), c * std::pow(x, c - 1.0),
                           c * (c - 1.0) * std::pow(x, c - 2.0),
                           c * (c - 1.0) * (c - 2.0) * std::pow(x, c - 3.0));
}

}  // namespace identify
