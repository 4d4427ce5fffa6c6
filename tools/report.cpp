#include "report.hpp"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <fstream>

extern char** environ;

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

std::string cpu_model() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        for (const char* key : {"model name", "Model", "Hardware", "cpu model"}) {
            if (line.rfind(key, 0) != 0) continue;
            size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            size_t start = line.find_first_not_of(" \t", colon + 1);
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "unknown";
}

nlohmann::json messages_json(const Messages& messages) {
    nlohmann::json list = nlohmann::json::array();
    for (const Message& m : messages.kept) list.push_back({{"line", m.line}, {"text", m.text}});
    return list;
}

nlohmann::json context_json(const Context& context) {
    return {{"cpu_model", context.cpu_model},
            {"logical_cpus", context.logical_cpus},
            {"omp_environment", context.omp_environment},
            {"date", context.date}};
}

}  // namespace

uint64_t logical_cpus() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint64_t>(n) : 1;
}

Context machine_context() {
    Context context;
    context.cpu_model = cpu_model();
    context.logical_cpus = logical_cpus();
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (entry.rfind("OMP_", 0) == 0 && eq != std::string::npos)
            context.omp_environment[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    char date[32];
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc);
    context.date = date;
    return context;
}

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

nlohmann::json verify_json(const VerifyResult& r, const Range& range, const Context& context) {
    nlohmann::json j;
    j["valid"] = r.valid();
    j["complete"] = r.complete;
    j["first_number"] = range.first;
    j["last_number"] = range.last;
    j["lines"] = r.lines;
    j["numbers_done"] = r.numbers_done;
    j["team"] = r.team;
    j["elapsed_seconds"] = r.has_elapsed ? nlohmann::json(r.elapsed) : nlohmann::json(nullptr);
    // A rate printed after an elapsed time of 0.00 measures nothing.
    j["rate"] = r.has_rate && r.timed() ? nlohmann::json(r.rate) : nlohmann::json(nullptr);
    j["total_remainder_tests"] = r.total_tests;
    j["slowest_member"] = r.slowest_member;
    j["slowest_member_remainder_tests"] = r.slowest_tests;
    j["split_efficiency"] = r.split_efficiency();
    std::optional<double> sustained = r.sustained_rate();
    j["sustained_remainder_tests_per_second"] = sustained ? nlohmann::json(*sustained) : nlohmann::json(nullptr);
    j["problem_count"] = r.problems.total;
    j["problems"] = messages_json(r.problems);
    j["warning_count"] = r.warnings.total;
    j["warnings"] = messages_json(r.warnings);
    j["context"] = context_json(context);
    return j;
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
