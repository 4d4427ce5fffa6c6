#include "probe.hpp"

#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

extern char** environ;

namespace factorize {
namespace {

std::optional<std::string> read_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string value_after_colon(const std::string& line) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return "";
    size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
}

}  // namespace

uint64_t logical_cpus() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint64_t>(n) : 1;
}

std::vector<int> cpu_affinity(pid_t pid) {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(pid, sizeof set, &set) != 0) return cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
    return cpus;
}

std::map<int, std::string> cpu_cores() {
    std::map<int, std::string> cores;
    const long online = sysconf(_SC_NPROCESSORS_CONF);
    for (int cpu = 0; cpu < online && cpu < CPU_SETSIZE; ++cpu) {
        const std::string dir = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        auto package = read_line(dir + "physical_package_id");
        auto core = read_line(dir + "core_id");
        if (package && core) cores[cpu] = *package + ":" + *core;
    }
    return cores;
}

std::optional<uint64_t> cores_among(const std::vector<int>& cpus) {
    const std::map<int, std::string> cores = cpu_cores();
    std::set<std::string> distinct;
    for (int cpu : cpus) {
        auto it = cores.find(cpu);
        if (it == cores.end()) return std::nullopt;
        distinct.insert(it->second);
    }
    if (distinct.empty()) return std::nullopt;
    return distinct.size();
}

std::optional<double> load_average_1min() {
    auto line = read_line("/proc/loadavg");
    if (!line) return std::nullopt;
    char* end = nullptr;
    double load = std::strtod(line->c_str(), &end);
    if (end == line->c_str()) return std::nullopt;
    return load;
}

std::string utc_now() {
    char date[32];
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return date;
}

std::optional<std::string> loaded_openmp_library(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string path = line.substr(slash);
        std::string name = std::filesystem::path(path).filename().string();
        for (const char* library : {"libgomp", "libomp", "libiomp"})
            if (name.rfind(library, 0) == 0) return path;
    }
    return std::nullopt;
}

Host probe_host(bool with_hostname) {
    Host host;
    host.cpu_model = "unknown";
    host.logical_cpus = logical_cpus();
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    bool model_found = false;
    double mhz_sum = 0;
    int mhz_count = 0;
    while (std::getline(cpuinfo, line)) {
        if (!model_found) {
            for (const char* key : {"model name", "Model", "Hardware", "cpu model"}) {
                if (line.rfind(key, 0) != 0) continue;
                host.cpu_model = value_after_colon(line);
                model_found = true;
                break;
            }
        }
        if (line.rfind("cpu MHz", 0) == 0) {
            mhz_sum += std::strtod(value_after_colon(line).c_str(), nullptr);
            ++mhz_count;
        }
        if (line.rfind("flags", 0) == 0 && (" " + value_after_colon(line) + " ").find(" hypervisor ") != std::string::npos)
            host.hypervisor = true;
    }
    if (mhz_count > 0 && mhz_sum > 0) host.kernel_mhz = mhz_sum / mhz_count;
    if (read_line("/sys/hypervisor/type")) host.hypervisor = true;

    std::vector<int> online;
    for (int cpu = 0; cpu < static_cast<int>(host.logical_cpus); ++cpu) online.push_back(cpu);
    host.cores = cores_among(online);
    if (host.cores && *host.cores > 0) host.threads_per_core = (host.logical_cpus + *host.cores - 1) / *host.cores;

    struct utsname names;
    if (uname(&names) == 0) host.kernel_release = names.release;
    host.governor = read_line("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor");
    if (auto boost = read_line("/sys/devices/system/cpu/cpufreq/boost"))
        host.boost = *boost == "1";
    else if (auto no_turbo = read_line("/sys/devices/system/cpu/intel_pstate/no_turbo"))
        host.boost = *no_turbo == "0";

    std::ifstream meminfo("/proc/meminfo");
    while (std::getline(meminfo, line))
        if (line.rfind("MemTotal:", 0) == 0) {
            host.memory_bytes = std::strtoull(value_after_colon(line).c_str(), nullptr, 10) * 1024;
            break;
        }
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (entry.rfind("OMP_", 0) == 0 && eq != std::string::npos)
            host.omp_environment[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    if (with_hostname) {
        char name[HOST_NAME_MAX + 1] = {};
        if (gethostname(name, sizeof name - 1) == 0) host.hostname = name;
    }
    return host;
}

Context machine_context() {
    Host host = probe_host();
    Context context;
    context.cpu_model = host.cpu_model;
    context.logical_cpus = host.logical_cpus;
    context.omp_environment = host.omp_environment;
    context.date = utc_now();
    return context;
}

}  // namespace factorize
