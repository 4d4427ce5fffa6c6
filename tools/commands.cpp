#include "commands.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "calibrate.hpp"
#include "console.hpp"
#include "cost.hpp"
#include "report.hpp"
#include "preflight.hpp"
#include "probe.hpp"
#include "record.hpp"
#include "verify.hpp"

namespace factorize {
namespace {

const char kProgram[] = "factorize_check";

bool read_decimal(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

void say(const std::string& text) { console().err(std::string(kProgram) + ": " + text + "\n"); }

}  // namespace

std::string parse_range(const std::string& text, Range& range) {
    size_t dots = text.find("..");
    Range parsed;
    if (dots == std::string::npos || !read_decimal(text.substr(0, dots), parsed.first) ||
        !read_decimal(text.substr(dots + 2), parsed.last))
        return "expected FIRST..LAST with two decimal numbers, got \"" + text + "\"";
    if (parsed.first > parsed.last) return "the range's first number is above its last: \"" + text + "\"";
    if (parsed.last - parsed.first >= kMaxRangeCount)
        return "a range of at most " + std::to_string(kMaxRangeCount) + " numbers, got \"" + text + "\"";
    range = parsed;
    return "";
}

int run_verify(const VerifyOptions& options) {
    const bool from_stdin = options.file.empty() || options.file == "-";
    const std::string name = from_stdin ? "<stdin>" : options.file;
    int fd = 0;
    if (!from_stdin) {
        struct stat st;
        if (stat(options.file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            say(name + " is a directory; expected a benchmark output file");
            return kExitUsage;
        }
        fd = open(options.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            say("cannot open " + name + ": " + strerror(errno));
            return kExitUsage;
        }
    }
    Verifier verifier(options.range);
    static char buffer[1 << 16];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            say("cannot read " + name + ": " + strerror(errno));
            if (fd != 0) close(fd);
            return kExitUsage;
        }
        if (n == 0) break;
        verifier.feed(std::string_view(buffer, static_cast<size_t>(n)));
    }
    if (fd != 0) close(fd);
    verifier.finish();

    const VerifyResult& result = verifier.result();
    console().err(messages_text(result, name));
    if (!result.valid())
        say(name + " is not a valid run: " + plural(result.problems.total, "problem", "problems") + " in " +
            plural(result.lines, "line", "lines"));
    if (options.json)
        console().out(record_head("factorize_check verify", record_status(result, false), name, result, options.range)
                          .dump(2) +
                      "\n");
    else if (result.valid())
        console().out(verify_summary_text(result, options.range));
    return result.valid() ? kExitValid : kExitInvalid;
}

int run_plan(const PlanOptions& options) {
    const uint64_t cpus = options.cpus.value_or(logical_cpus());
    const std::vector<uint64_t> teams = options.teams.empty() ? default_teams(cpus) : options.teams;
    Calibration calibration;
    if (options.rate) {
        calibration.rate = *options.rate;
    } else {
        calibration = measure_division_rate();
    }
    RangeCost costs(options.range);
    std::vector<PlanRow> rows = plan_rows(costs, teams, cpus, calibration.rate);

    // The same probes as a guided run's pre-flight, for the team that a run
    // started from here would get.
    const Host host = probe_host();
    const std::vector<int> affinity = cpu_affinity();
    PreflightFacts facts;
    facts.load_1min = load_average_1min();
    facts.governor = host.governor;
    facts.allowed_cpus = affinity.size();
    facts.allowed_cores = cores_among(affinity);
    facts.team = default_team(host.omp_environment, affinity.size());
    facts.hypervisor = host.hypervisor;
    const std::vector<Finding> findings = preflight(facts);
    // The clock of the core that timed the division rate, when it was timed here.
    std::optional<ClockEstimate> clock;
    if (!options.rate) clock = estimate_clock();
    const ClockVerdict verdict = judge_clock(clock, std::nullopt, host.kernel_mhz,
                                             options.rate ? std::nullopt : std::optional<double>(calibration.rate));
    if (options.json) {
        nlohmann::json j = plan_json(costs, rows, cpus, calibration, options.rate.has_value(), machine_context());
        j["clock"] = clock_json(clock, std::nullopt, host.kernel_mhz,
                                options.rate ? std::nullopt : std::optional<double>(calibration.rate));
        j["preflight"] = preflight_json(findings);
        console().out(j.dump(2) + "\n");
    } else {
        std::string text = plan_text(costs, rows, cpus, calibration, options.rate.has_value());
        if (!options.rate) text += "\n" + clock_text(verdict, host.kernel_mhz);
        console().out(text + preflight_text(findings));
    }
    return kExitValid;
}

}  // namespace factorize
