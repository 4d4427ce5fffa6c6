#include "report.hpp"

#include <cinttypes>
#include <cstdio>

namespace factorize {
namespace {

// Returns value with this many decimals, as "%.*f" prints it.
std::string fixed(double value, int decimals) {
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Returns value with four significant digits, as "%.4g" prints it.
std::string general(double value) {
    char text[64];
    snprintf(text, sizeof text, "%.4g", value);
    return text;
}

nlohmann::json context_json(const Context& context) {
    return {{"cpu_model", context.cpu_model},
            {"logical_cpus", context.logical_cpus},
            {"omp_environment", context.omp_environment},
            {"date", context.date}};
}

}  // namespace

std::string verify_summary_text(const VerifyResult& r, const Range& range) {
    std::string s;
    auto row = [&](const char* name, const std::string& value) { s += std::string(name) + value + "\n"; };
    row("valid run:                 ", std::to_string(range.count()) + " numbers from " + std::to_string(range.first) +
                                           " to " + std::to_string(range.last) + ", each factored once, correctly");
    row("team size:                 ", std::to_string(r.team));
    row("elapsed time:              ", r.elapsed_text + " s");
    const char kUntimed[] = "unknown: the elapsed time is printed as 0.00 s, too short to time";
    row("rate:                      ", r.timed() ? r.rate_text + " factorizations/s"
                                                 : std::string(kUntimed) + " (printed as " + r.rate_text + ")");
    row("remainder tests:           ", std::to_string(r.total_tests));
    row("slowest member:            ", std::to_string(r.slowest_member) + ", with " + std::to_string(r.slowest_tests) +
                                           " remainder tests");
    row("split efficiency:          ", fixed(100 * r.split_efficiency(), 2) + " %");
    std::optional<double> sustained = r.sustained_rate();
    row("sustained division rate:   ", sustained ? general(*sustained) +
                                                       " remainder tests/s per core (slowest member's tests / elapsed)"
                                                 : std::string(kUntimed));
    return s;
}

std::string messages_text(const VerifyResult& r, const std::string& name) {
    std::string s;
    auto list = [&](const Messages& messages, const char* kind, const char* one, const char* many) {
        for (const Message& m : messages.kept) s += name + ":" + std::to_string(m.line) + ": " + kind + m.text + "\n";
        if (messages.total > messages.kept.size())
        {
            uint64_t more = messages.total - messages.kept.size();
            s += name + ": ... and " + std::to_string(more) + " more " + (more == 1 ? one : many) + "\n";
        }
    };
    list(r.problems, "", "problem", "problems");
    list(r.warnings, "warning: ", "warning", "warnings");
    return s;
}

std::vector<PlanRow> plan_rows(const RangeCost& costs, const std::vector<uint64_t>& teams, uint64_t cpus,
                               double rate) {
    std::vector<PlanRow> rows;
    for (uint64_t team : teams) {
        PlanRow row;
        row.cost = costs.team_cost(team);
        row.predicted_elapsed = predicted_elapsed(row.cost.member_tests, cpus, rate);
        row.predicted_rate = static_cast<double>(costs.range().count()) / row.predicted_elapsed;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<uint64_t> default_teams(uint64_t cpus) {
    std::vector<uint64_t> teams;
    for (uint64_t team = 1; team <= 2 * cpus; team *= 2) teams.push_back(team);
    if (teams.back() != 2 * cpus) teams.push_back(2 * cpus);
    return teams;
}

std::string plan_text(const RangeCost& costs, const std::vector<PlanRow>& rows, uint64_t cpus,
                      const Calibration& calibration, bool rate_given) {
    const Range& range = costs.range();
    std::string s = "range " + std::to_string(range.first) + ".." + std::to_string(range.last) + ": " +
                    std::to_string(range.count()) + " numbers, " + std::to_string(costs.total()) +
                    " remainder tests in all\n";
    s += "this machine: " + plural(cpus, "logical CPU", "logical CPUs") + "; one core makes " +
         general(calibration.rate) + " remainder tests/s";
    s += rate_given ? " (as given)\n" : " (timed over " + fixed(calibration.seconds, 2) + " s)\n";
    s += "\n   team  slowest member   its remainder tests  split efficiency  predicted elapsed  predicted rate\n";
    for (const PlanRow& row : rows) {
        char line[256];
        snprintf(line, sizeof line, "%7" PRIu64 "  %14" PRIu64 "  %20" PRIu64 "  %15.2f%%  %15.1f s  %11.2f /s\n",
                 row.cost.team, row.cost.slowest_member, row.cost.slowest_tests, 100 * row.cost.split_efficiency(),
                 row.predicted_elapsed, row.predicted_rate);
        s += line;
    }
    return s;
}

nlohmann::json plan_json(const RangeCost& costs, const std::vector<PlanRow>& rows, uint64_t cpus,
                         const Calibration& calibration, bool rate_given, const Context& context) {
    nlohmann::json j;
    j["first_number"] = costs.range().first;
    j["last_number"] = costs.range().last;
    j["total_remainder_tests"] = costs.total();
    j["cpus"] = cpus;
    j["division_rate"] = calibration.rate;
    j["division_rate_source"] = rate_given ? "given" : "timed";
    j["calibration_seconds"] = calibration.seconds;
    nlohmann::json teams = nlohmann::json::array();
    for (const PlanRow& row : rows)
        teams.push_back({{"team", row.cost.team},
                         {"slowest_member", row.cost.slowest_member},
                         {"slowest_member_remainder_tests", row.cost.slowest_tests},
                         {"split_efficiency", row.cost.split_efficiency()},
                         {"predicted_elapsed_seconds", row.predicted_elapsed},
                         {"predicted_rate", row.predicted_rate}});
    j["teams"] = teams;
    j["context"] = context_json(context);
    return j;
}

}  // namespace factorize
