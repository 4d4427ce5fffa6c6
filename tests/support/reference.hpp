// Slow, obviously correct references that tests compare the project against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Returns the prime factors of n, ascending, by trial division up to the
// square root (0 and 1 have none).
inline std::vector<uint64_t> reference_factors(uint64_t n) {
    std::vector<uint64_t> factors;
    if (n < 2) return factors;
    for (uint64_t d = 2; d <= n / d; ++d)
        while (n % d == 0) {
            factors.push_back(d);
            n /= d;
        }
    if (n > 1) factors.push_back(n);
    return factors;
}

// Returns the benchmark's line for n, "n: f1xf2x...\n".
inline std::string reference_line(uint64_t n) {
    std::string line = std::to_string(n) + ": ";
    std::vector<uint64_t> factors = reference_factors(n);
    for (size_t i = 0; i < factors.size(); ++i) line += (i ? "x" : "") + std::to_string(factors[i]);
    return line + "\n";
}

// Returns the remainder tests that the benchmark's loop makes for n, counted
// by running that loop's shape: one per candidate and one after each factor.
inline uint64_t reference_remainder_tests(uint64_t n) {
    uint64_t tests = 0;
    if (n < 2) return 0;
    for (uint64_t candidate = 2; candidate <= n; ++candidate) {
        ++tests;
        if (n % candidate != 0) continue;
        do {
            n /= candidate;
            ++tests;
        } while (n % candidate == 0);
    }
    return tests;
}

// The offsets [begin, end) that member owns in a team of team splitting
// count numbers: one contiguous block each, the remainder spread one number
// each over the lowest-numbered members.
struct ReferenceBlock {
    uint64_t begin, end;
};

inline ReferenceBlock reference_block(uint64_t count, uint64_t team, uint64_t member) {
    const uint64_t q = count / team, r = count % team;
    if (member < r) return {member * (q + 1), member * (q + 1) + q + 1};
    return {member * q + r, member * q + r + q};
}

}  // namespace testing_support
