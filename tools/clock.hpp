// Estimating the clock of the cores without performance counters.
//
// A chain of dependent register-to-register additions runs at one addition
// per cycle on every x86-64 core. Timing the chain at two lengths and taking
// the difference cancels the fixed costs (the clock reads, the call); the
// median of many tries on each CPU discards interruptions.
#pragma once

#include <optional>
#include <vector>

namespace factorize {

struct ClockEstimate {
    double hz = 0;        // the median of all tries
    double low_hz = 0;    // the lowest try
    double high_hz = 0;   // the highest try
    int tries = 0;        // tries in all, over every CPU
    std::vector<int> cpus;  // the CPUs it ran on
};

// Estimates the clock on each of these CPUs in turn (this process's own
// CPUs when empty), tries times each. Nothing where the chain cannot be run
// (not x86-64) or no CPU could be used.
std::optional<ClockEstimate> estimate_clock(std::vector<int> cpus = {}, int tries = 15);

}  // namespace factorize
