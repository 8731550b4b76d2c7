// Composite trapezoid rule arranged as (h/2)·sum_i (a[i+1]b[i+1] + a[i]b[i]):
// each interval contributes the products at its two ends, right end first,
// and the halved step multiplies the whole sum once at the end. In double
// precision this arrangement differs from h·(a0b0/2 + ... ) in the last bits;
// this one is the reference.
#include "model/grid/quadrature.h"

namespace identify {

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
