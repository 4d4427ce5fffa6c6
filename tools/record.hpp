// A run's record: one JSON document that says what the run gave, how the
// binary was built, what the machine was and did, and what the figure means
// in the processor's own units. `watch` writes it at the end of a guided
// run; `verify --json` gives the same document for a plain log, without what
// only `watch` can know (build, host, clock, pre-flight, timeline).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "clock.hpp"
#include "probe.hpp"
#include "range.hpp"
#include "verify.hpp"

namespace factorize {

// The version of the record's layout; compare refuses any other.
constexpr int kRecordSchemaVersion = 1;

// An estimate further than this from the kernel's reported clock is flagged.
constexpr double kClockTolerance = 0.15;

// Returns a record as text: one top-level field a line, each value compact,
// so that a whole run's record stays small and diffs line by line.
std::string record_text(const nlohmann::json& record);

// Returns "valid", "invalid", "incomplete" or "interrupted".
std::string record_status(const VerifyResult& result, bool interrupted);

// Returns the result section: everything verify reports.
nlohmann::json result_json(const VerifyResult& result, const Range& range);

// Returns the head of a record: schema, maker, status, log, result.
nlohmann::json record_head(const std::string& made_by, const std::string& status, const std::string& log,
                           const VerifyResult& result, const Range& range);

// What the clock estimates say, with the cycles per remainder test.
struct ClockVerdict {
    std::optional<double> hz;                 // the mean of the estimates made
    std::optional<double> cycles_per_test;    // hz / the per-core rate
    std::vector<std::string> flags;           // what looks wrong
};

// Judges the estimates made before and after a run against the kernel's
// reported clock and each other; rate is the per-core remainder tests/s.
ClockVerdict judge_clock(const std::optional<ClockEstimate>& before, const std::optional<ClockEstimate>& after,
                         std::optional<double> kernel_mhz, std::optional<double> rate);

nlohmann::json clock_json(const std::optional<ClockEstimate>& before, const std::optional<ClockEstimate>& after,
                          std::optional<double> kernel_mhz, std::optional<double> rate);

// Returns one line for people: the clock, and cycles per remainder test.
std::string clock_text(const ClockVerdict& verdict, std::optional<double> kernel_mhz);

// The host section: the machine, and what the run got of it.
struct RunHost {
    Host host;
    std::vector<int> cpu_affinity;             // of the command
    std::optional<double> load_1min_start, load_1min_end;
    std::string start_utc, end_utc;
};
nlohmann::json host_json(const RunHost& run);

}  // namespace factorize
