// A seeded stream of pseudo-random numbers that gives the same numbers on
// every platform and standard library: SplitMix64 for seeding and
// xoshiro256** for the stream, with uniform doubles and bounded integers
// formed here rather than by the library's distributions (whose algorithms
// the C++ standard leaves open).
#pragma once

#include <array>
#include <cstdint>

namespace identify {

class RandomStream {
 public:
  // Stream `stream` of seed `seed`: distinct (seed, stream) pairs give
  // independent-looking streams, so that start i of a run draws the same
  // numbers whichever thread draws them and in whatever order.
  explicit RandomStream(std::uint64_t seed, std::uint64_t stream = 0);

  // 64 uniformly distributed bits.
  std::uint64_t next();
  // Uniform in [0, 1), a multiple of 2^-53.
  double uniform();
  // Uniform integer in [0, n), n >= 1, without modulo bias.
  std::uint64_t below(std::uint64_t n);

 private:
  std::array<std::uint64_t, 4> s_{};
};

}  // namespace identify
