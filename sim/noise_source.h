// Seeded, cheap Gaussian noise for the simulated sensor: a xorshift generator indexing a
// table of normal deviates drawn once from the seed.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

namespace Zelvo::sim {

class NoiseSource {
public:
    explicit NoiseSource(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {
        for (size_t i = 0; i < table_.size(); i += 2) {
            // Box-Muller on two uniform deviates in (0, 1].
            double u1 = (next() + 1.0) / 4294967296.0;
            double u2 = (next() + 1.0) / 4294967296.0;
            double radius = std::sqrt(-2.0 * std::log(u1));
            table_[i] = static_cast<float>(radius * std::cos(6.283185307179586 * u2));
            table_[i + 1] = static_cast<float>(radius * std::sin(6.283185307179586 * u2));
        }
    }

    // A standard normal deviate.
    float gaussian() { return table_[next() & (kTableSize - 1)]; }

private:
    static constexpr size_t kTableSize = 4096;

    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

    uint32_t state_;
    std::array<float, kTableSize> table_{};
};

}  // namespace Zelvo::sim
