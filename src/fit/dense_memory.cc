// With m residuals and n unknowns the Jacobian holds m·n doubles. A fit by
// lm holds about twelve arrays of that size at once (the objective's
// Jacobian, its scaled copy, the solver's, the factors of its QR
// decomposition and their workspaces): measured, the peak resident memory
// of one fit of n = m = 1000 and of n = m = 2000 differ by 97 bytes per
// entry added. A long table fitted on the objective's normal equations
// holds the model's and the objective's Jacobians alone. Each of
// `workers` threads runs a fit of its own. The
// statistics after the fits hold the Jacobian, a copy for its singular
// value decomposition and two n×n matrices (V and the covariance).
#include "fit/dense_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace identify {

double dense_fit_bytes(std::int64_t measurements, std::int64_t unknowns,
                       int workers, bool normal_equations) {
  const double m = static_cast<double>(measurements);
  const double n = static_cast<double>(unknowns);
  const double fits = (normal_equations ? 16.0 : 96.0) * m * n * workers;
  const double statistics = 16.0 * (m * n + n * n);
  return std::max(fits, statistics);
}

double usable_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  double have = pages > 0 && page > 0
                    ? static_cast<double>(pages) * static_cast<double>(page)
                    : 0.0;
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const double cap = static_cast<double>(limit.rlim_cur);
    have = have > 0.0 ? std::min(have, cap) : cap;
  }
  return have;
}

}  // namespace identify
