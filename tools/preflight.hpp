// The pre-flight: what would make a run unfit to compare, said before it
// starts. It warns; it never refuses.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace factorize {

// A 1-minute load average at or above this is not an idle machine.
constexpr double kIdleLoad = 0.5;

struct PreflightFacts {
    std::optional<double> load_1min;
    std::optional<std::string> governor;      // where the system shows it
    int64_t team = 0;                         // the team the run will get; 0 unknown
    uint64_t allowed_cpus = 0;                // the CPUs the command may use
    std::optional<uint64_t> allowed_cores;    // the distinct cores among them
    bool build_checked = false;               // a binary is to be run
    std::optional<nlohmann::json> build;      // its build, when known
    bool hypervisor = false;
};

struct Finding {
    bool warning = true;  // else a note
    std::string text;
};

// Returns what the facts say against comparing the run, warnings first.
std::vector<Finding> preflight(const PreflightFacts& facts);

// Returns the team a default-sized region gets: OMP_NUM_THREADS's first
// value, capped by OMP_THREAD_LIMIT, else (as GNU OpenMP does) the CPUs
// the process may use; 0 when OMP_NUM_THREADS cannot be read.
int64_t default_team(const std::map<std::string, std::string>& omp_environment, uint64_t allowed_cpus);

// Returns the findings as lines "pre-flight: warning: ..." and "pre-flight: note: ...".
std::string preflight_text(const std::vector<Finding>& findings);
nlohmann::json preflight_json(const std::vector<Finding>& findings);

}  // namespace factorize
