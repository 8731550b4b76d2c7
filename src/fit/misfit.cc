// Residual norm sqrt(sum (M − d)²), each square added to the running sum in
// sample order, and the stopping test norm <= epsilon.
#include "fit/misfit.h"

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

}  // namespace identify
