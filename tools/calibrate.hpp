// Timing this machine's unsigned 64-bit division with the benchmark's loop.
#pragma once

#include <cstdint>

namespace factorize {

struct Calibration {
    double rate = 0;        // remainder tests per second on one core
    double seconds = 0;     // time spent dividing
    uint64_t tests = 0;     // remainder tests made
    uint64_t cofactor = 0;  // the prime that was divided
};

// Runs the benchmark's inner loop shape on cofactor: one unsigned 64-bit
// remainder test per candidate from candidate up to last, stopping early at
// a divisor. Returns the first candidate not tested or found to divide.
uint64_t trial_division_span(uint64_t cofactor, uint64_t candidate, uint64_t last);

// Measures the remainder tests per second that one core makes, dividing the
// range's largest prime by candidates spread evenly from 2 up to it, as the
// benchmark's primes are, for about target_seconds.
Calibration measure_division_rate(double target_seconds = 1.0);

}  // namespace factorize
