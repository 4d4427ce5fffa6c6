// When each line of a run arrived, and what that says about the division
// rate over the run: each member's finish, and the per-core rate measured
// number by number, so that throttling or a noisy neighbour shows.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "verify.hpp"

namespace factorize {

// A number is timed only when its member spent at least this long on it:
// the arrival of a line is known to about a millisecond.
constexpr double kMinSampleMs = 200;

struct TimelineEntry {
    uint64_t number = 0;
    uint64_t tests = 0;
    int64_t member = -1;
    double ms = 0;  // arrival, milliseconds since the start
};

// One number's rate: its remainder tests over the time since its member's
// previous line (or the banner).
struct RateSample {
    double ms = 0;       // when the number's line arrived
    int64_t member = 0;
    uint64_t number = 0;
    double rate = 0;     // remainder tests per second
};

struct RateStats {
    uint64_t samples = 0;
    double median = 0, p10 = 0, p25 = 0, p75 = 0, p90 = 0;
    double relative_spread = 0;                  // (p75 - p25) / median
    std::optional<double> first_quarter_median;  // over the first quarter of the run's time
    std::optional<double> last_quarter_median;   // and its last
    std::optional<double> trend;                 // last / first - 1
};

class Timeline {
public:
    // Notes the banner's arrival: every member's first number starts then.
    void banner(double ms);
    void add(const AcceptedLine& line, double ms);

    const std::vector<TimelineEntry>& entries() const { return entries_; }
    std::optional<double> banner_ms() const { return banner_ms_; }
    // Returns each member's last arrival (index = member), -1 for none.
    std::vector<double> member_finish_ms() const;
    // Returns the numbers long enough to time, in arrival order.
    std::vector<RateSample> rate_samples() const;

private:
    std::optional<double> banner_ms_;
    std::vector<TimelineEntry> entries_;
};

// Returns the statistics of samples; nothing when there are none.
std::optional<RateStats> rate_stats(const std::vector<RateSample>& samples);

// Returns the timeline as the record keeps it.
nlohmann::json timeline_json(const Timeline& timeline);

}  // namespace factorize
