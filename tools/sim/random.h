// Small, portable random streams for the simulator: the same seed gives the
// same input set with every compiler and standard library (the distributions
// of <random> are implementation-defined, so they are not used).
#pragma once

#include <cmath>
#include <cstdint>

namespace sim_random {

// splitmix64: turns any 64-bit value into a well-mixed one; used for seeding.
inline std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// xoshiro256**, with uniform and standard normal draws.
struct Stream {
  std::uint64_t s[4];
  double spare = 0.0;
  bool has_spare = false;

  // One independent stream per (seed, stream_id).
  Stream(std::uint64_t seed, std::uint64_t stream_id) {
    std::uint64_t mix = seed;
    std::uint64_t key = splitmix64(mix) ^ (stream_id * 0xD1B54A32D192ED03ULL);
    for (auto& word : s) word = splitmix64(key);
  }

  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  std::uint64_t next() {
    const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
  }

  // Uniform in [0, 1).
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  // Uniform integer in [0, bound), bound > 0 (Lemire's multiply-shift; the
  // bias is below 2^-32 for the bounds used here).
  std::uint64_t below(std::uint64_t bound) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(next()) * bound) >> 64);
  }

  // Standard normal by the polar method; the second value of a pair is kept.
  double normal() {
    if (has_spare) {
      has_spare = false;
      return spare;
    }
    double u, v, q;
    do {
      u = 2.0 * uniform() - 1.0;
      v = 2.0 * uniform() - 1.0;
      q = u * u + v * v;
    } while (q >= 1.0 || q == 0.0);
    const double f = std::sqrt(-2.0 * std::log(q) / q);
    spare = v * f;
    has_spare = true;
    return u * f;
  }
};

}  // namespace sim_random
