#include "calibrate.hpp"

#include <algorithm>
#include <chrono>

#include "primes.hpp"
#include "range.hpp"

namespace factorize {

// Kept out of line so that its machine code can be checked for the width of
// its division, as the benchmark's is.
__attribute__((noinline)) uint64_t trial_division_span(uint64_t cofactor, uint64_t candidate, uint64_t last) {
    while (candidate <= last) {
        if (cofactor % candidate == 0) break;
        candidate = candidate + 1;
    }
    return candidate;
}

Calibration measure_division_rate(double target_seconds) {
    using Clock = std::chrono::steady_clock;
    Calibration result;
    result.cofactor = kBenchmarkRange.last;
    while (!is_prime(result.cofactor)) --result.cofactor;
    const uint64_t p = result.cofactor;

    // The cost of a 64-bit division can depend on its operands, so the
    // candidates are sampled in spans spread over the whole climb 2..p.
    constexpr int kSpans = 64;
    auto time_span = [&](uint64_t first, uint64_t length) {
        uint64_t last = std::min(first + length - 1, p - 1);
        auto start = Clock::now();
        uint64_t reached = trial_division_span(p, first, last);
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.tests += reached - first;
        result.seconds += seconds;
    };
    time_span(p / 2, 1 << 20);  // a first estimate, which sizes the spans
    const double estimate = static_cast<double>(result.tests) / std::max(result.seconds, 1e-9);
    const uint64_t length =
        std::max<uint64_t>(1000, static_cast<uint64_t>(estimate * target_seconds / kSpans));
    result.tests = 0;
    result.seconds = 0;
    for (int span = 0; span < kSpans; ++span) {
        uint64_t first = 2 + static_cast<uint64_t>((static_cast<double>(p) - 2) * (span + 0.5) / kSpans);
        time_span(first, length);
    }
    result.rate = static_cast<double>(result.tests) / std::max(result.seconds, 1e-9);
    return result;
}

}  // namespace factorize
