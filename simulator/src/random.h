// A seeded source of randomness whose sequence is the same on every platform, so a --seed
// reproduces a run.
#pragma once

#include <cstdint>
#include <random>

namespace em1sim {

class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}

    std::uint32_t Next() { return static_cast<std::uint32_t>(engine_()); }
    // Uniform in [0, 1).
    double Unit() { return Next() / 4294967296.0; }
    // Uniform in [-amplitude, amplitude).
    double Jitter(double amplitude) { return (Unit() * 2.0 - 1.0) * amplitude; }

  private:
    std::mt19937 engine_;
};

} // namespace em1sim
