// Residual norm sqrt(sum (M − d)²), the stopping test norm <= epsilon, and the
// composite trapezoid rule arranged as (h/2)·sum_i (a[i+1]b[i+1] + a[i]b[i]):
// each interval contributes the products at its two ends, right end first,
// and the halved step multiplies the whole sum once at the end. In double
// precision this arrangement differs from h·(a0b0/2 + ... ) in the last bits;
// this one is the reference.
#include "identify/misfit.h"

#include <cmath>

namespace identify {

double residual_norm(const Table& M, const Table& data) {
  double s = 0.0;
  const std::size_t count = M.size();
  const double* m = M.data();
  const double* d = data.data();
  for (std::size_t q = 0; q < count; ++q) {
    const double r = m[q] - d[q];
    s = r * r + s;
  }
  return std::sqrt(s);
}

void residual_jumps(const Table& M, const Table& data, Table& H) {
  const std::size_t count = M.size();
  for (std::size_t q = 0; q < count; ++q) {
    H.data()[q] = (M.data()[q] - data.data()[q]) * 2.0;
  }
}

bool misfit_converged(double epsilon, const Table& M, const Table& data) {
  return epsilon >= residual_norm(M, data);
}

double gradient_entry(double T, int count, const double* a, const double* b) {
  const double h = T / static_cast<double>(count - 1);
  double s = 0.0;
  for (int i = 0; i < count - 1; ++i) {
    double p = a[i + 1] * b[i + 1];
    p = p + a[i] * b[i];
    s = p + s;
  }
  return (h / 2.0) * s;
}

}  // namespace identify
