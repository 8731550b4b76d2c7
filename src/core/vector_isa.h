// The vector instruction sets that the hand-vectorised kernels are compiled
// for, and the widest one this machine runs. Every kernel gives the same
// bits on each of them: vectors run across independent sums, never along
// one, and no multiply is fused into an addition.
#pragma once

#include <vector>

namespace identify {

enum class VectorIsa { kBaseline, kAvx2, kAvx512 };

// The widest set this CPU and operating system support.
inline VectorIsa best_vector_isa() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return VectorIsa::kAvx512;
  if (__builtin_cpu_supports("avx2")) return VectorIsa::kAvx2;
  return VectorIsa::kBaseline;
}

// Every set this machine runs, narrowest first: the kernels' results are
// compared across them.
inline std::vector<VectorIsa> supported_vector_isas() {
  std::vector<VectorIsa> isas;
  for (VectorIsa isa :
       {VectorIsa::kBaseline, VectorIsa::kAvx2, VectorIsa::kAvx512}) {
    if (isa <= best_vector_isa()) isas.push_back(isa);
  }
  return isas;
}

}  // namespace identify
