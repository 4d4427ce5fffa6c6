// `factorize_check plot`: draws run records (and a plan) with matplotlib,
// through tools/plot_records.py and a Python interpreter that has the
// library: python3 on PATH may be another interpreter than the system's.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "build_info.hpp"
#include "calibrate.hpp"
#include "commands.hpp"
#include "compare.hpp"
#include "console.hpp"
#include "cost.hpp"
#include "probe.hpp"
#include "report.hpp"

namespace factorize {
namespace {

// Runs argv, with all its output discarded when silent, or its standard
// output sent to standard error when stdout_to_stderr; returns its exit
// status, or -1 when it could not run.
int run_program(const std::vector<std::string>& argv, bool silent, bool stdout_to_stderr) {
    std::vector<std::string> args = argv;
    std::vector<char*> pointers;
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (silent) {
            int null = open("/dev/null", O_WRONLY);
            if (null >= 0) {
                dup2(null, 1);
                dup2(null, 2);
            }
        } else if (stdout_to_stderr) {
            dup2(2, 1);
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (!WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
}

}  // namespace

std::string find_plotting_python() {
    std::vector<std::string> candidates;
    if (const char* chosen = getenv("FACTORIZE_PYTHON"); chosen && *chosen) {
        candidates.push_back(chosen);  // the user's choice, and only it
    } else {
        // Debian's python3-matplotlib belongs to the system's interpreter,
        // which need not be the python3 found first on PATH.
        candidates.push_back("/usr/bin/python3");
        candidates.push_back(resolve_command("python3"));
    }
    std::set<std::string> tried;
    for (const std::string& python : candidates) {
        if (!tried.insert(python).second || access(python.c_str(), X_OK) != 0) continue;
        if (run_program({python, "-c", "import matplotlib"}, true, false) == 0) return python;
    }
    return "";
}

std::string plot_script() {
    std::vector<std::string> candidates;
    // The script installed with this program first: a source tree that
    // happens to be on the machine may be of another version.
    if (const std::string share = installed_share_dir(); !share.empty()) candidates.push_back(share + "/plot_records.py");
#ifdef FACTORIZE_PLOT_SCRIPT
    candidates.push_back(FACTORIZE_PLOT_SCRIPT);
#endif
    for (const std::string& path : candidates)
        if (access(path.c_str(), R_OK) == 0) return path;
    return "";
}

int run_plot_script(const std::vector<std::string>& args, bool stdout_to_stderr, std::string& error) {
    const std::string python = find_plotting_python();
    if (python.empty()) {
        error = "no Python with matplotlib was found (Debian: apt-get install python3-matplotlib; or set "
                "FACTORIZE_PYTHON to an interpreter that has it)";
        return -1;
    }
    const std::string script = plot_script();
    if (script.empty()) {
        error = "the plotting script plot_records.py was not found";
        return -1;
    }
    std::vector<std::string> argv = {python, script};
    argv.insert(argv.end(), args.begin(), args.end());
    int status = run_program(argv, false, stdout_to_stderr);
    if (status < 0) error = "cannot run " + python + " " + script;
    return status;
}

int run_plot(const PlotOptions& options) {
    std::error_code fs_error;
    if (!std::filesystem::is_directory(options.out, fs_error)) {
        console().err("factorize_check: plot: " + options.out + " is not a directory\n");
        return kExitUsage;
    }
    std::vector<std::string> args = {"--out", options.out};
    if (options.plan) {
        // The plan drawn is that of the records' range and machine, at their
        // measured per-core rate, unless told otherwise.
        Range range = kBenchmarkRange;
        std::vector<double> rates;
        std::set<uint64_t> teams;
        std::optional<uint64_t> cpus = options.cpus;
        bool range_taken = false;
        for (const std::string& file : options.records) {
            std::ifstream in(file, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            LoadedRecord record;
            if (!in || !load_record(file, bytes.str(), true, record).empty()) continue;
            const nlohmann::json& r = record.j;
            if (!range_taken) {
                range.first = r["result"]["first_number"].get<uint64_t>();
                range.last = r["result"]["last_number"].get<uint64_t>();
                range_taken = true;
            }
            const nlohmann::json* rate = nullptr;
            if (r.contains("timeline") && r["timeline"].is_object() && r["timeline"].contains("per_core_rate") &&
                r["timeline"]["per_core_rate"].is_object() && r["timeline"]["per_core_rate"].contains("median"))
                rate = &r["timeline"]["per_core_rate"]["median"];
            if (rate && rate->is_number() && rate->get<double>() > 0) rates.push_back(rate->get<double>());
            if (r["result"].contains("team") && r["result"]["team"].is_number_unsigned() &&
                r["result"]["team"].get<uint64_t>() > 0 && r["result"]["team"].get<uint64_t>() <= 4096)
                teams.insert(r["result"]["team"].get<uint64_t>());
            if (!cpus && r.contains("host") && r["host"].is_object() && r["host"].contains("logical_cpus") &&
                r["host"]["logical_cpus"].is_number_unsigned() && r["host"]["logical_cpus"].get<uint64_t>() > 0 &&
                r["host"]["logical_cpus"].get<uint64_t>() <= 4096)
                cpus = r["host"]["logical_cpus"].get<uint64_t>();
        }
        if (range.last - range.first >= kMaxRangeCount) {
            console().err("factorize_check: plot: the records' range is too large to plan\n");
            return kExitUsage;
        }
        const uint64_t machine_cpus = cpus.value_or(logical_cpus());
        for (uint64_t team : default_teams(machine_cpus)) teams.insert(team);
        Calibration calibration;
        bool rate_given = true;
        if (options.rate) {
            calibration.rate = *options.rate;
        } else if (!rates.empty()) {
            std::sort(rates.begin(), rates.end());
            calibration.rate = rates[rates.size() / 2];
        } else {
            calibration = measure_division_rate();
            rate_given = false;
        }
        RangeCost costs(range);
        std::vector<PlanRow> rows =
            plan_rows(costs, std::vector<uint64_t>(teams.begin(), teams.end()), machine_cpus, calibration.rate);
        const std::string plan_path = options.out + "/plan.json";
        std::ofstream plan(plan_path);
        plan << plan_json(costs, rows, machine_cpus, calibration, rate_given, machine_context()).dump(2) << "\n";
        plan.close();
        if (!plan) {
            console().err("factorize_check: plot: cannot write " + plan_path + "\n");
            return kExitUsage;
        }
        args.push_back("--plan");
        args.push_back(plan_path);
    }
    args.insert(args.end(), options.records.begin(), options.records.end());
    std::string error;
    int status = run_plot_script(args, false, error);
    if (status < 0) {
        console().err("factorize_check: plot: " + error + "\n");
        return kExitUsage;
    }
    return status == 0 ? kExitValid : kExitUsage;
}

}  // namespace factorize
