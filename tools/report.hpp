// What factorize_check prints: verify's summary and plan's table, as text
// for people and as JSON for other programs.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "calibrate.hpp"
#include "cost.hpp"
#include "probe.hpp"
#include "verify.hpp"

namespace factorize {

// Returns verify's summary of a valid run, one fact per line.
std::string verify_summary_text(const VerifyResult& result, const Range& range);

// Writes the problems and warnings as "NAME:LINE: text" lines, the first
// kKeptMessages of each and then how many more.
std::string messages_text(const VerifyResult& result, const std::string& name);

// One row of plan's table.
struct PlanRow {
    TeamCost cost;
    double predicted_elapsed = 0;  // seconds
    double predicted_rate = 0;     // factorizations per second
};

// Computes plan's rows for these team sizes on cpus cores of this rate.
std::vector<PlanRow> plan_rows(const RangeCost& costs, const std::vector<uint64_t>& teams, uint64_t cpus,
                               double rate);

// Returns the default team sizes: 1, 2, 4, ... up to twice cpus, and
// twice cpus itself.
std::vector<uint64_t> default_teams(uint64_t cpus);

std::string plan_text(const RangeCost& costs, const std::vector<PlanRow>& rows, uint64_t cpus,
                      const Calibration& calibration, bool rate_given);
nlohmann::json plan_json(const RangeCost& costs, const std::vector<PlanRow>& rows, uint64_t cpus,
                         const Calibration& calibration, bool rate_given, const Context& context);

}  // namespace factorize
