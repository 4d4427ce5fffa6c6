#include "preflight.hpp"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace factorize {
namespace {

std::optional<int64_t> leading_count(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    int64_t value = 0;
    size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value < (int64_t{1} << 40))
        value = value * 10 + (text[i++] - '0');
    if (i == start || value <= 0) return std::nullopt;
    return value;
}

// Returns the -O level that the compiler takes from flags: the last one.
std::string optimization_level(const std::string& flags) {
    std::istringstream words(flags);
    std::string word, level;
    while (words >> word)
        if (word.rfind("-O", 0) == 0) level = word;
    return level;
}

std::string fixed(double value, int decimals) {
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

int64_t default_team(const std::map<std::string, std::string>& omp_environment, uint64_t allowed_cpus) {
    int64_t team = static_cast<int64_t>(allowed_cpus);
    auto threads = omp_environment.find("OMP_NUM_THREADS");
    if (threads != omp_environment.end()) {
        std::optional<int64_t> first = leading_count(threads->second);
        if (!first) return 0;
        team = *first;
    }
    auto limit = omp_environment.find("OMP_THREAD_LIMIT");
    if (limit != omp_environment.end())
        if (std::optional<int64_t> cap = leading_count(limit->second)) team = std::min(team, *cap);
    return team;
}

std::vector<Finding> preflight(const PreflightFacts& f) {
    std::vector<Finding> out;
    if (f.load_1min && *f.load_1min >= kIdleLoad)
        out.push_back({true, "the load average is " + fixed(*f.load_1min, 2) +
                                 " over the last minute: other work is running and will share the cores"});
    if (f.governor && *f.governor != "performance")
        out.push_back({true, "the frequency governor is \"" + *f.governor +
                                 "\", not \"performance\": the clock may vary during the run"});
    if (f.team > 0 && f.allowed_cpus > 0 && static_cast<uint64_t>(f.team) > f.allowed_cpus)
        out.push_back({true, "a team of " + std::to_string(f.team) + " on " + std::to_string(f.allowed_cpus) +
                                 " CPUs it may use: members will take turns on the CPUs"});
    else if (f.team > 0 && f.allowed_cores && static_cast<uint64_t>(f.team) > *f.allowed_cores)
        out.push_back({true, "a team of " + std::to_string(f.team) + " on " + std::to_string(*f.allowed_cores) +
                                 " cores: members will share a core's divider (hyper-threads)"});
    if (f.build_checked) {
        if (!f.build) {
            out.push_back({true, "the binary's build is unknown: whether it is optimized and GCC's cannot be checked"});
        } else {
            const nlohmann::json& b = *f.build;
            auto text_of = [&](const char* key) {
                return b.contains(key) && b[key].is_string() ? b[key].get<std::string>() : std::string();
            };
            const std::string level = optimization_level(text_of("compile_flags"));
            if (level != "-O2" && level != "-O3" && level != "-Ofast")
                out.push_back({true, "the benchmark is not optimized for speed (" +
                                         (level.empty() ? std::string("no -O flag") : level) + ", build type \"" +
                                         text_of("build_type") + "\")"});
            if (text_of("compiler_id") != "GNU")
                out.push_back({true, "the benchmark was built by " + text_of("compiler_id") +
                                         ", not GCC: it may divide in 32 bits where GCC divides in 64"});
        }
    }
    if (f.hypervisor)
        out.push_back({false, "a hypervisor is present: the CPUs are virtual and may be shared with other guests"});
    return out;
}

std::string preflight_text(const std::vector<Finding>& findings) {
    std::string s;
    for (const Finding& f : findings) s += std::string("pre-flight: ") + (f.warning ? "warning: " : "note: ") + f.text + "\n";
    return s;
}

nlohmann::json preflight_json(const std::vector<Finding>& findings) {
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : findings) list.push_back({{"level", f.warning ? "warning" : "note"}, {"text", f.text}});
    return list;
}

}  // namespace factorize
