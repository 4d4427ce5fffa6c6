// factorize_check: verifies a factorize_ZOVE run's output and explains its
// time. This file only reads the command line; the work is in the library.
//
//     factorize_check verify [FILE] [--json] [--range FIRST..LAST]
//     factorize_check plan [TEAM ...] [--rate R] [--cpus N] [--json] [--range FIRST..LAST]
//     factorize_ZOVE | factorize_check watch LOG [options]
//     factorize_check watch LOG [--force] [--interval S] [--record FILE] [--hostname]
//                           [--range FIRST..LAST] -- factorize_ZOVE
//     factorize_check compare RECORD... [--baseline N] [--include-invalid]
//                             [--format text|markdown|csv|json] [--width N]
//     factorize_check plot [RECORD...] [--out DIR] [--plan] [--rate R] [--cpus N]
//     factorize_check --help | --version
#include <CLI/CLI.hpp>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "commands.hpp"
#include "console.hpp"

using namespace factorize;

namespace {

int run(int argc, char** argv) {
    CLI::App app{"Verifies a factorize_ZOVE run's output, explains its time, records, compares and draws runs.",
                 "factorize_check"};
    app.footer("Pictures of runs: factorize_check plot RECORD... --out DIR (see README.md).");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("factorize_check ") + FACTORIZE_VERSION,
                         "Print the version of this program and its package");
    std::string range_text;
    auto add_range = [&](CLI::App* command) {
        command->add_option("--range", range_text,
                            "Numbers FIRST..LAST of a test build of the benchmark (default: the real range)");
    };

    VerifyOptions verify;
    CLI::App* verify_command = app.add_subcommand("verify", "Check a benchmark output, all of it");
    verify_command->add_option("file", verify.file, "The output to check; standard input when absent or -");
    verify_command->add_flag("--json", verify.json, "Print the result as one JSON object");
    add_range(verify_command);

    PlanOptions plan;
    double rate = 0;
    uint64_t cpus = 0;
    CLI::App* plan_command = app.add_subcommand("plan", "Predict a run's time for some team sizes");
    plan_command->add_option("team", plan.teams, "Team sizes (default: 1, 2, 4, ... up to twice the CPUs)")
        ->check(CLI::Range(uint64_t{1}, uint64_t{INT_MAX}));
    CLI::Option* rate_option =
        plan_command->add_option("--rate", rate, "Remainder tests per second on one core, instead of timing it")
            ->check(CLI::PositiveNumber);
    CLI::Option* cpus_option = plan_command->add_option("--cpus", cpus, "Cores to predict for (default: this machine's)")
                                   ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 20));
    plan_command->add_flag("--json", plan.json, "Print the plan as one JSON object");
    add_range(plan_command);

    WatchOptions watch;
    CLI::App* watch_command = app.add_subcommand(
        "watch", "Log a running benchmark's output, show its progress, verify it at the end");
    watch_command->add_option("log", watch.log, "The file that receives every byte of the output")->required();
    watch_command->add_option("command", watch.command,
                              "After --: the benchmark to start under a pseudo-terminal (default: read standard input)");
    watch_command->add_flag("--force", watch.force, "Overwrite the log if it exists");
    watch_command->add_option("--interval", watch.interval,
                              "Seconds between progress lines when standard error is not a terminal")
        ->check(CLI::Range(0.01, 86400.0));
    watch_command->add_option("--record", watch.record,
                              "Where the run's JSON record goes (default: LOG's name with .json)");
    watch_command->add_flag("--hostname", watch.hostname, "Put the host name in the record (left out by default)");
    add_range(watch_command);

    CompareOptions compare;
    CLI::App* compare_command =
        app.add_subcommand("compare", "Show run records side by side, and what their differences mean");
    compare_command->add_option("records", compare.files, "Run records (JSON) made by watch or verify --json")
        ->required();
    compare_command->add_option("--baseline", compare.baseline, "The record (1 for the first) the others are set against")
        ->check(CLI::PositiveNumber);
    compare_command->add_flag("--include-invalid", compare.include_invalid, "Show invalid and incomplete runs too");
    compare_command->add_option("--format", compare.format, "text (default), markdown, csv or json")
        ->check(CLI::IsMember({"text", "markdown", "csv", "json"}));
    compare_command->add_option("--width", compare.width, "Columns for text (default: the terminal's, or $COLUMNS, or 100)")
        ->check(CLI::Range(size_t{40}, size_t{10000}));

    PlotOptions plot;
    double plot_rate = 0;
    uint64_t plot_cpus = 0;
    CLI::App* plot_command = app.add_subcommand(
        "plot", "Draw run records as SVG and PNG pictures (needs Python's matplotlib)");
    plot_command->add_option("records", plot.records, "Run records (JSON) made by watch");
    plot_command->add_option("--out", plot.out, "The directory that receives the pictures (default: .)");
    plot_command->add_flag("--plan", plot.plan, "Also draw the plan of the records' range and machine");
    CLI::Option* plot_rate_option = plot_command->add_option(
        "--rate", plot_rate, "The plan's remainder tests per second per core (default: the records', else timed)")
        ->check(CLI::PositiveNumber);
    CLI::Option* plot_cpus_option = plot_command->add_option(
        "--cpus", plot_cpus, "The plan's cores (default: the records' machine, else this one)")
        ->check(CLI::Range(uint64_t{1}, uint64_t{4096}));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return app.exit(CLI::CallForHelp());
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        fprintf(stderr, "factorize_check: %s\nRun with --help for usage.\n", e.what());
        return kExitUsage;
    }

    Range range = kBenchmarkRange;
    if (!range_text.empty()) {
        std::string error = parse_range(range_text, range);
        if (!error.empty()) {
            fprintf(stderr, "factorize_check: --range: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    if (*verify_command) {
        verify.range = range;
        return run_verify(verify);
    }
    if (*compare_command) return run_compare(compare);
    if (*plot_command) {
        if (*plot_rate_option) plot.rate = plot_rate;
        if (*plot_cpus_option) plot.cpus = plot_cpus;
        if (plot.records.empty() && !plot.plan) {
            fprintf(stderr, "factorize_check: plot: name a record, or ask for --plan\n");
            return kExitUsage;
        }
        return run_plot(plot);
    }
    if (*watch_command) {
        watch.range = range;
        return run_watch(watch);
    }
    plan.range = range;
    if (*rate_option) plan.rate = rate;
    if (*cpus_option) plan.cpus = cpus;
    return run_plan(plan);
}

}  // namespace

// Runs the command, then makes sure that what it reported reached its
// reader: a report lost on a full device or a closed pipe is an I/O error.
int main(int argc, char** argv) {
    int status = run(argc, argv);
    std::cout.flush();
    if (fflush(stdout) != 0 || ferror(stdout) || !std::cout)
        fprintf(stderr, "factorize_check: cannot write standard output: %s\n", strerror(errno));
    else if (!console().lost() && !ferror(stderr))
        return status;
    else if (console().lost())
        fprintf(stderr, "factorize_check: cannot write %s\n", console().lost_what().c_str());
    return kExitUsage;
}
