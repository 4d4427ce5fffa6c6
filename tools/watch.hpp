// Live progress of a running benchmark: what `factorize_check watch` shows
// while the output arrives, and its estimate of the time left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cost.hpp"
#include "verify.hpp"

namespace factorize {

struct Progress {
    bool has_team = false;       // the banner has arrived
    double fraction = 0;         // remainder tests done / the range's total
    uint64_t numbers_done = 0;
    uint64_t numbers = 0;        // the range's count
    double elapsed = 0;          // seconds since the watch began
    std::optional<double> eta;   // seconds left, once a rate has been seen
    double member_rate = 0;      // remainder tests per second of one busy member
};

// Follows the members' work from the verifier's counts. The time left is
// each unfinished member's remaining remainder tests over the rate that the
// members have shown so far (tests done over the time they were busy); the
// slowest member decides. Lines arrive only when a number is finished, so
// early estimates lean long, never short.
class ProgressTracker {
public:
    explicit ProgressTracker(const RangeCost& costs);

    // Takes the verifier's counts at now seconds since the watch began.
    void update(const VerifyResult& result, double now);
    Progress progress(double now) const;

private:
    const RangeCost& costs_;
    int64_t team_ = 0;
    std::vector<uint64_t> block_tests_;   // per busy member: its whole block
    std::vector<uint64_t> done_tests_;    // per busy member: its finished numbers
    std::vector<double> finished_at_;     // per busy member: when its block was done, or < 0
    uint64_t total_done_ = 0;
    uint64_t numbers_done_ = 0;
};

// Returns seconds as H:MM:SS, or M:SS under an hour.
std::string format_duration(double seconds);

// Returns a progress bar line for a terminal.
std::string progress_bar(const Progress& p, int width = 30);

// Returns a plain progress line for a log.
std::string progress_line(const Progress& p);

}  // namespace factorize
