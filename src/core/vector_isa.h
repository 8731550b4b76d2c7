// The vector instruction sets that the hand-vectorised kernels are compiled
// for, and the widest one this machine runs. Every kernel gives the same
// bits on each of them: vectors run across independent sums, never along
// one, and no multiply is fused into an addition.
#pragma once

namespace identify {

enum class VectorIsa { kBaseline, kAvx2, kAvx512 };

// The widest set this CPU and operating system support.
inline VectorIsa best_vector_isa() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return VectorIsa::kAvx512;
  if (__builtin_cpu_supports("avx2")) return VectorIsa::kAvx2;
  return VectorIsa::kBaseline;
}

}  // namespace identify
