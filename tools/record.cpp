#include "record.hpp"

#include <cmath>
#include <cstdio>

namespace factorize {
namespace {

nlohmann::json optional_json(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json messages_json(const Messages& messages) {
    nlohmann::json list = nlohmann::json::array();
    for (const Message& m : messages.kept) list.push_back({{"line", m.line}, {"text", m.text}});
    return list;
}

nlohmann::json estimate_json(const std::optional<ClockEstimate>& e) {
    if (!e) return nullptr;
    return {{"hz", e->hz}, {"low_hz", e->low_hz}, {"high_hz", e->high_hz}, {"tries", e->tries}, {"cpus", e->cpus}};
}

std::string ghz(double hz) {
    char text[32];
    snprintf(text, sizeof text, "%.2f GHz", hz / 1e9);
    return text;
}

}  // namespace

std::string record_text(const nlohmann::json& record) {
    std::string text = "{";
    bool first = true;
    for (auto it = record.begin(); it != record.end(); ++it) {
        text += first ? "\n" : ",\n";
        first = false;
        text += nlohmann::json(it.key()).dump() + ": " +
                it.value().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return text + "\n}\n";
}

std::string record_status(const VerifyResult& result, bool interrupted) {
    if (interrupted) return "interrupted";
    if (!result.complete) return "incomplete";
    return result.valid() ? "valid" : "invalid";
}

nlohmann::json result_json(const VerifyResult& r, const Range& range) {
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
    j["sustained_remainder_tests_per_second"] = optional_json(r.sustained_rate());
    j["problem_count"] = r.problems.total;
    j["problems"] = messages_json(r.problems);
    j["warning_count"] = r.warnings.total;
    j["warnings"] = messages_json(r.warnings);
    return j;
}

nlohmann::json record_head(const std::string& made_by, const std::string& status, const std::string& log,
                           const VerifyResult& result, const Range& range) {
    nlohmann::json j;
    j["schema_version"] = kRecordSchemaVersion;
    j["made_by"] = made_by;
    j["status"] = status;
    j["log"] = log;
    j["result"] = result_json(result, range);
    return j;
}

ClockVerdict judge_clock(const std::optional<ClockEstimate>& before, const std::optional<ClockEstimate>& after,
                         std::optional<double> kernel_mhz, std::optional<double> rate) {
    ClockVerdict v;
    double sum = 0;
    int n = 0;
    for (const auto& e : {before, after})
        if (e && e->hz > 0) {
            sum += e->hz;
            ++n;
        }
    if (n == 0) {
        v.flags.push_back("no estimate of the clock could be made on this processor");
        return v;
    }
    v.hz = sum / n;
    if (rate && *rate > 0) v.cycles_per_test = *v.hz / *rate;
    if (before && after && before->hz > 0 && after->hz > 0 &&
        std::fabs(after->hz / before->hz - 1) > kClockTolerance / 2) {
        v.flags.push_back("the clock changed during the run: " + ghz(before->hz) + " before, " + ghz(after->hz) +
                          " after");
    }
    if (kernel_mhz && *kernel_mhz > 0) {
        double ratio = *v.hz / (*kernel_mhz * 1e6);
        if (std::fabs(ratio - 1) > kClockTolerance) {
            char text[256];
            snprintf(text, sizeof text,
                     "the estimate (%s) is %.0f %% %s the kernel's reported clock (%s): %s", ghz(*v.hz).c_str(),
                     std::fabs(ratio - 1) * 100, ratio > 1 ? "above" : "below", ghz(*kernel_mhz * 1e6).c_str(),
                     ratio > 1 ? "boost, or a virtual machine that reports a nominal clock"
                               : "a slowed or shared core, or a power-saving state");
            v.flags.push_back(text);
        }
    }
    return v;
}

nlohmann::json clock_json(const std::optional<ClockEstimate>& before, const std::optional<ClockEstimate>& after,
                          std::optional<double> kernel_mhz, std::optional<double> rate) {
    ClockVerdict v = judge_clock(before, after, kernel_mhz, rate);
    nlohmann::json j;
    j["method"] = "dependent register-to-register additions, two lengths subtracted, median of tries per estimate";
    j["before"] = estimate_json(before);
    j["after"] = estimate_json(after);
    j["estimate_hz"] = optional_json(v.hz);
    j["kernel_mhz"] = optional_json(kernel_mhz);
    j["cycles_per_remainder_test"] = optional_json(v.cycles_per_test);
    j["flags"] = v.flags;
    return j;
}

std::string clock_text(const ClockVerdict& v, std::optional<double> kernel_mhz) {
    std::string s = "core clock:                ";
    if (!v.hz) return s + "unknown\n";
    s += "about " + ghz(*v.hz) + " (estimated";
    if (kernel_mhz) s += "; the kernel reports " + ghz(*kernel_mhz * 1e6);
    s += ")\n";
    if (v.cycles_per_test) {
        char text[64];
        snprintf(text, sizeof text, "%.2f", *v.cycles_per_test);
        s += "cycles per remainder test: " + std::string(text) + "\n";
    }
    for (const std::string& flag : v.flags) s += "clock: warning: " + flag + "\n";
    return s;
}

nlohmann::json host_json(const RunHost& run) {
    const Host& h = run.host;
    nlohmann::json j;
    j["cpu_model"] = h.cpu_model;
    j["logical_cpus"] = h.logical_cpus;
    j["cores"] = h.cores ? nlohmann::json(*h.cores) : nlohmann::json(nullptr);
    j["threads_per_core"] = h.threads_per_core ? nlohmann::json(*h.threads_per_core) : nlohmann::json(nullptr);
    j["kernel_release"] = h.kernel_release;
    j["governor"] = h.governor ? nlohmann::json(*h.governor) : nlohmann::json(nullptr);
    j["boost"] = h.boost ? nlohmann::json(*h.boost) : nlohmann::json(nullptr);
    j["hypervisor"] = h.hypervisor;
    j["memory_bytes"] = h.memory_bytes ? nlohmann::json(*h.memory_bytes) : nlohmann::json(nullptr);
    j["kernel_mhz"] = optional_json(h.kernel_mhz);
    j["cpu_affinity"] = run.cpu_affinity;
    j["load_avg_1min_start"] = optional_json(run.load_1min_start);
    j["load_avg_1min_end"] = optional_json(run.load_1min_end);
    j["omp_environment"] = h.omp_environment;
    j["start_utc"] = run.start_utc;
    j["end_utc"] = run.end_utc;
    if (h.hostname) j["hostname"] = *h.hostname;
    return j;
}

}  // namespace factorize
