// What this machine is and what state it is in, read from the kernel's
// files: the host part of a run's record and of the pre-flight.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace factorize {

struct Host {
    std::string cpu_model;                     // /proc/cpuinfo; "unknown" when absent
    uint64_t logical_cpus = 0;                 // online
    std::optional<uint64_t> cores;             // distinct physical cores online
    std::optional<uint64_t> threads_per_core;  // logical CPUs per core
    std::string kernel_release;                // uname -r
    std::optional<std::string> governor;       // cpufreq scaling governor, where shown
    std::optional<bool> boost;                 // turbo/boost enabled, where shown
    bool hypervisor = false;                   // a hypervisor announces itself
    std::optional<uint64_t> memory_bytes;      // MemTotal
    std::optional<double> kernel_mhz;          // the kernel's reported clock: mean "cpu MHz"
    std::map<std::string, std::string> omp_environment;  // every OMP_* variable
    std::optional<std::string> hostname;       // only when asked for
};

// Reads the host now; the host name only when with_hostname.
Host probe_host(bool with_hostname = false);

// Returns the logical CPUs online, at least 1.
uint64_t logical_cpus();

// Returns the CPUs that process pid (0: this one) may run on, ascending;
// empty when they cannot be read.
std::vector<int> cpu_affinity(pid_t pid = 0);

// Returns the core of each logical CPU as "package:core", where sysfs shows it.
std::map<int, std::string> cpu_cores();

// Returns how many distinct cores these CPUs lie on, where known.
std::optional<uint64_t> cores_among(const std::vector<int>& cpus);

// Returns the 1-minute load average.
std::optional<double> load_average_1min();

// Returns the time now, UTC, ISO 8601 to the second.
std::string utc_now();

// Returns the OpenMP runtime that process pid has loaded, from its memory
// map: the real path of the first libgomp, libomp or libiomp mapped.
std::optional<std::string> loaded_openmp_library(pid_t pid);

// The machine and settings a result was obtained under: the short form that
// plan reports.
struct Context {
    std::string cpu_model;
    uint64_t logical_cpus = 0;
    std::map<std::string, std::string> omp_environment;  // every OMP_* variable that is set
    std::string date;                                     // UTC, ISO 8601
};

// Reads this machine's context now.
Context machine_context();

}  // namespace factorize
