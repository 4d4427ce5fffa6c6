// factorize_check's subcommands, apart from the parsing of its command line.
// Each returns the process's exit status. When several things happen at
// once, the first of these that applies decides: 2 for a usage or I/O error
// (a report or a byte of the run that could not be written), 130 after
// SIGINT or 143 after SIGTERM, 1 for an invalid or incomplete run, 0 for
// success (a valid run).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "range.hpp"

namespace factorize {

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;

// Largest range a --range option may name: the verifier keeps a few bytes
// per number, and the cost model factors each.
constexpr uint64_t kMaxRangeCount = uint64_t{1} << 24;

// Parses "FIRST..LAST" into range; returns "" or what is wrong.
std::string parse_range(const std::string& text, Range& range);

struct VerifyOptions {
    std::string file = "-";  // "-" for standard input
    bool json = false;
    Range range = kBenchmarkRange;
};

struct PlanOptions {
    std::vector<uint64_t> teams;     // empty for the default list
    std::optional<double> rate;      // remainder tests/s per core; timed when absent
    std::optional<uint64_t> cpus;    // this machine's logical CPUs when absent
    bool json = false;
    Range range = kBenchmarkRange;
};

struct WatchOptions {
    std::string log;                   // where every byte of the output goes
    bool force = false;                // overwrite an existing log
    double interval = 10;              // seconds between plain progress lines
    std::vector<std::string> command;  // run under a pseudo-terminal; else read standard input
    std::string record;                // the run's record; "" for LOG's name with .json
    bool hostname = false;             // put the host name in the record
    Range range = kBenchmarkRange;
};

// Returns where watch writes the record of LOG by default: LOG with its
// extension replaced by .json, or .json added when it has none.
std::string default_record_path(const std::string& log);

// The exit status after an interrupt, as a shell reports SIGINT and SIGTERM.
constexpr int kExitInterrupted = 130;
constexpr int kExitTerminated = 143;

// What happened during a command, for its exit status.
struct Outcome {
    bool io_error = false;    // a usage or I/O error
    int interrupted_by = 0;   // SIGINT or SIGTERM, or 0
    bool invalid = false;     // an invalid or incomplete run
};

// Returns the exit status for an outcome, in the order above.
int exit_status(const Outcome& outcome);

struct CompareOptions {
    std::vector<std::string> files;
    size_t baseline = 1;          // 1-based: the column the others are compared with
    bool include_invalid = false; // show invalid and incomplete runs too
    std::string format = "text";  // text, markdown, csv or json
    size_t width = 0;             // text's width; 0 for the terminal's
};

struct PlotOptions {
    std::vector<std::string> records;
    std::string out = ".";           // where the pictures go
    bool plan = false;               // also draw the plan of the records' machine
    std::optional<double> rate;      // the plan's per-core rate; else the records'
    std::optional<uint64_t> cpus;    // the plan's CPUs; else the records'
};

// Returns a Python interpreter that can import matplotlib, or "".
std::string find_plotting_python();
// Returns the path of plot_records.py, or "".
std::string plot_script();
// Runs plot_records.py with args; returns its exit status, or -1 with error
// set when it cannot run. Its standard output goes to standard error when
// stdout_to_stderr.
int run_plot_script(const std::vector<std::string>& args, bool stdout_to_stderr, std::string& error);

int run_verify(const VerifyOptions& options);
int run_plot(const PlotOptions& options);
int run_compare(const CompareOptions& options);
int run_watch(const WatchOptions& options);
int run_plan(const PlanOptions& options);

}  // namespace factorize
