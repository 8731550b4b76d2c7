// The memory a fit by a dense method needs, from the size of its problem
// alone, so that a run can refuse up front a problem it could not hold:
// once a dense factorisation has begun it cannot be interrupted, and a
// machine short of memory would only swap its way through it.
#pragma once

#include <cstdint>

namespace identify {

// Bytes of the dense fit of `measurements` residuals in `unknowns`
// unknowns on `workers` threads at once (each its own fit), and of the
// statistics after it: per fit about twelve arrays the size of the
// Jacobian, 96·m·n bytes, or two, 16·m·n, for a long table fitted on the
// objective's normal equations (`normal_equations`, objective_normal.h);
// for the statistics the Jacobian twice and two n×n matrices,
// 16·(m·n + n²) bytes.
// The larger of the two stretches; `workers` 0 for a method that forms no
// Jacobian (the statistics alone).
double dense_fit_bytes(std::int64_t measurements, std::int64_t unknowns,
                       int workers, bool normal_equations = false);

// The memory this process may use: the machine's physical memory, or less
// when an address-space limit (RLIMIT_AS) is set; 0 when unknown.
double usable_memory_bytes();

}  // namespace identify
