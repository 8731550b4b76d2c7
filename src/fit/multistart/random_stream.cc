// xoshiro256** (Blackman and Vigna): a 256-bit state advanced by shifts,
// rotations and exclusive ors, output x = rotl(s1·5, 7)·9. The state is
// filled from the seed by SplitMix64 (z += 0x9e3779b97f4a7c15, then two
// multiply-xorshift rounds), after mixing the stream number into the seed
// by one SplitMix64 step of its own. uniform() takes the top 53 bits as a
// fraction; below(n) rejects the draws in the incomplete last block of
// 2^64 mod n values so that every integer is equally likely.
#include "fit/multistart/random_stream.h"

namespace identify {

namespace {

std::uint64_t splitmix64(std::uint64_t& z) {
  z += 0x9e3779b97f4a7c15ULL;
  std::uint64_t x = z;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}

}  // namespace

RandomStream::RandomStream(std::uint64_t seed, std::uint64_t stream) {
  std::uint64_t mix = stream;
  std::uint64_t z = seed ^ splitmix64(mix);
  for (std::uint64_t& word : s_) word = splitmix64(z);
}

std::uint64_t RandomStream::next() {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double RandomStream::uniform() {
  return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

std::uint64_t RandomStream::below(std::uint64_t n) {
  const std::uint64_t reject_from = -n % n;  // 2^64 mod n
  for (;;) {
    const std::uint64_t x = next();
    if (x >= reject_from) return x % n;
  }
}

}  // namespace identify
