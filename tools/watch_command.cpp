// `factorize_check watch`: passes a running benchmark's output through to a
// log, byte for byte and at once, while verifying it and showing progress.
//
// An hour of division is worth protecting, so: every byte read stays in
// memory until it is in the log (a full disk or a file-size limit costs
// nothing but a message and a fallback file); a hang-up of watch's own
// terminal only stops the display; SIGINT and SIGTERM stop the benchmark and
// keep the log whole; signals wake the loop at once through a self-pipe.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "build_info.hpp"
#include "clock.hpp"
#include "commands.hpp"
#include "console.hpp"
#include "cost.hpp"
#include "log_keeper.hpp"
#include "preflight.hpp"
#include "probe.hpp"
#include "pty.hpp"
#include "record.hpp"
#include "report.hpp"
#include "timeline.hpp"
#include "verify.hpp"
#include "watch.hpp"

namespace factorize {
namespace {

const char kProgram[] = "factorize_check";
// After an interrupt, how long the output may take to end: the benchmark
// gets the same signal, and what it wrote before is still to be read.
constexpr double kDrainSeconds = 2.0;
constexpr double kTerminalRefresh = 0.5;
// How often a failing log is tried again while no output arrives.
constexpr double kRetrySeconds = 1.0;

// What the signal handler tells the loop. Each flag is set by the handler
// and cleared only by the loop; the self-pipe wakes poll.
volatile sig_atomic_t got_interrupt = 0;  // SIGINT or SIGTERM: the first signal number
volatile sig_atomic_t interrupt_count = 0;
volatile sig_atomic_t got_hangup = 0;
int wake_fd = -1;

void on_signal(int sig) {
    const int saved = errno;
    if (sig == SIGHUP) {
        got_hangup = 1;
    } else {
        if (got_interrupt == 0) got_interrupt = sig;
        interrupt_count = interrupt_count + 1;
    }
    char byte = 0;
    ssize_t ignored = write(wake_fd, &byte, 1);
    (void)ignored;
    errno = saved;
}

// Installs the handlers and the self-pipe; returns "" or what failed.
std::string catch_signals(Fd& wake_read, Fd& wake_write) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return std::string("cannot make a pipe: ") + strerror(errno);
    wake_read = Fd(fds[0]);
    wake_write = Fd(fds[1]);
    wake_fd = wake_write.get();
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // the self-pipe, not EINTR, wakes the loop
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (sigaction(sig, &action, nullptr) != 0) return std::string("cannot catch signals: ") + strerror(errno);
    // A closed reader and a file-size limit must show as failed writes, not
    // as the end of the watch.
    if (signal(SIGPIPE, SIG_IGN) == SIG_ERR || signal(SIGXFSZ, SIG_IGN) == SIG_ERR)
        return std::string("cannot ignore SIGPIPE and SIGXFSZ: ") + strerror(errno);
    return "";
}

void drain(int fd) {
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

void say(const std::string& text) { console().err(std::string(kProgram) + ": " + text + "\n"); }

// Waits for the command to end, ending it if it outlives its output.
int wait_command(pid_t pid) {
    int status = 0;
    for (int tries = 0; tries < 200; ++tries) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return 0;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string percent(double fraction) {
    char text[32];
    snprintf(text, sizeof text, "%.1f%%", 100 * fraction);
    return text;
}

std::string signal_name(int sig) {
    const char* description = strsignal(sig);
    return std::to_string(sig) + (description ? std::string(" (") + description + ")" : "");
}

}  // namespace

std::string default_record_path(const std::string& log) {
    std::filesystem::path path(log);
    if (path.has_extension() && path.extension() != ".json") return path.replace_extension(".json").string();
    return log + ".json";
}

int exit_status(const Outcome& outcome) {
    if (outcome.io_error) return kExitUsage;
    if (outcome.interrupted_by == SIGTERM) return kExitTerminated;
    if (outcome.interrupted_by != 0) return kExitInterrupted;
    if (outcome.invalid) return kExitInvalid;
    return kExitValid;
}

int run_watch(const WatchOptions& options) {
    int log_fd = open(options.log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (options.force ? O_TRUNC : O_EXCL), 0644);
    if (log_fd < 0) {
        if (errno == EEXIST)
            say(options.log + " exists already; name a new log, or pass --force to overwrite it");
        else
            say("cannot create " + options.log + ": " + strerror(errno));
        return kExitUsage;
    }
    LogKeeper keeper(log_fd, options.log);
    // The record's file is claimed now, not after an hour of division.
    struct stat log_stat;
    const bool log_is_file = fstat(log_fd, &log_stat) == 0 && S_ISREG(log_stat.st_mode);
    const std::string record_path =
        !options.record.empty() ? options.record : log_is_file ? default_record_path(options.log) : "";
    std::optional<LogKeeper> record;
    if (!record_path.empty()) {
        int record_fd = open(record_path.c_str(),
                             O_WRONLY | O_CREAT | O_CLOEXEC | (options.force ? O_TRUNC : O_EXCL), 0644);
        if (record_fd < 0) {
            say(errno == EEXIST ? record_path + " exists already; name another record with --record, or pass --force"
                                : "cannot create " + record_path + ": " + strerror(errno));
            if (!options.force) unlink(options.log.c_str());  // created by this watch, still empty
            return kExitUsage;
        }
        record.emplace(record_fd, record_path);
    } else {
        say("note: " + options.log + " is not a regular file; pass --record FILE for the run's record");
    }
    // Before anything has run, a failure leaves no empty log or record behind.
    auto abandon = [&](const std::string& why) {
        say(why);
        unlink(options.log.c_str());
        if (record) unlink(record_path.c_str());
        return kExitUsage;
    };
    Fd wake_read, wake_write;
    std::string error = catch_signals(wake_read, wake_write);
    if (!error.empty()) return abandon(error);
    // What the machine is and how the binary was built, before the run, and
    // the pre-flight from the same probes.
    RunHost run_host;
    run_host.host = probe_host(options.hostname);
    run_host.load_1min_start = load_average_1min();
    run_host.start_utc = utc_now();
    const std::vector<int> own_cpus = cpu_affinity();
    std::optional<BuildMatch> build;
    if (!options.command.empty())
        build = match_build(resolve_command(options.command[0]), default_build_info_dirs());
    PreflightFacts facts;
    facts.load_1min = run_host.load_1min_start;
    facts.governor = run_host.host.governor;
    facts.allowed_cpus = own_cpus.size();
    facts.allowed_cores = cores_among(own_cpus);
    facts.team = default_team(run_host.host.omp_environment, own_cpus.size());
    facts.build_checked = build.has_value();
    if (build) facts.build = build->info;
    facts.hypervisor = run_host.host.hypervisor;
    const std::vector<Finding> findings = preflight(facts);
    console().err(preflight_text(findings));
    const std::optional<ClockEstimate> clock_before = estimate_clock(own_cpus);

    PtyChild child;
    int input = 0;
    if (!options.command.empty()) {
        error = start_under_pty(options.command, child);
        if (!error.empty()) return abandon(error);
        input = child.master.get();
        run_host.cpu_affinity = cpu_affinity(child.pid);
    }

    const RangeCost costs(options.range);
    Verifier verifier(options.range);
    verifier.keep_accepted();
    Timeline timeline;
    std::optional<std::string> openmp_loaded;
    ProgressTracker tracker(costs);
    const bool terminal = isatty(2);
    const double period = terminal ? kTerminalRefresh : options.interval;
    const auto start = std::chrono::steady_clock::now();
    auto clock = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

    Outcome outcome;
    std::string input_error;
    int interrupts_seen = 0;
    bool display_shown = false;
    double drain_until = INFINITY, next_report = period, next_retry = kRetrySeconds;
    static char buffer[1 << 16];
    for (;;) {
        double now = clock();
        if (got_hangup && !console().hung_up()) console().hang_up();  // the display stops; the run goes on
        if (interrupt_count > interrupts_seen) {
            interrupts_seen = interrupt_count;
            if (interrupts_seen > 1) break;  // a second interrupt: stop now
            outcome.interrupted_by = got_interrupt;
            if (child.pid > 0) kill(child.pid, got_interrupt);
            drain_until = now + kDrainSeconds;
        }
        if (now >= drain_until) break;
        if (keeper.failing() && now >= next_retry) {
            keeper.retry();
            next_retry = now + kRetrySeconds;
        }
        std::string news = keeper.take_news();
        if (!news.empty()) {
            if (display_shown) console().err("\r\033[K");
            display_shown = false;
            say(news);
        }
        if (now >= next_report) {
            if (!console().hung_up()) {
                Progress p = tracker.progress(now);
                console().err(terminal ? "\r" + progress_bar(p) + "\033[K" : progress_line(p) + "\n");
                display_shown = terminal;
            }
            next_report = now + period;
        }
        double until = std::min(next_report, drain_until);
        if (keeper.failing()) until = std::min(until, next_retry);
        struct pollfd ready[2] = {{input, POLLIN, 0}, {wake_read.get(), POLLIN, 0}};
        int polled = poll(ready, 2, static_cast<int>(std::ceil(std::max(until - now, 0.0) * 1000)));
        if (polled < 0 && errno != EINTR) {
            input_error = strerror(errno);
            break;
        }
        if (polled <= 0) continue;
        if (ready[1].revents) drain(wake_read.get());
        if (!ready[0].revents) continue;
        ssize_t n = read(input, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n == 0 || (n < 0 && errno == EIO)) break;  // EIO: the pseudo-terminal's last writer has gone
        if (n < 0) {
            input_error = strerror(errno);
            break;
        }
        // Kept first, so that whatever happens next, these bytes survive.
        keeper.append(std::string_view(buffer, static_cast<size_t>(n)));
        verifier.feed(std::string_view(buffer, static_cast<size_t>(n)));
        const double arrived = clock();
        if (verifier.result().team > 0 && !timeline.banner_ms()) {
            timeline.banner(arrived * 1000);
            // By its banner the benchmark has loaded its OpenMP runtime.
            if (child.pid > 0) openmp_loaded = loaded_openmp_library(child.pid);
        }
        for (const AcceptedLine& line : verifier.take_accepted()) timeline.add(line, arrived * 1000);
        tracker.update(verifier.result(), arrived);
    }
    // A signal may have come while the last bytes were read.
    if (interrupt_count > interrupts_seen && outcome.interrupted_by == 0) outcome.interrupted_by = got_interrupt;
    if (got_hangup) console().hang_up();
    verifier.finish();
    const double elapsed = clock();
    if (display_shown && !console().hung_up()) console().err("\r\033[K");

    int child_status = 0;
    if (child.pid > 0) {
        if (outcome.interrupted_by != 0) kill(child.pid, outcome.interrupted_by);
        child.master.reset();
        child_status = wait_command(child.pid);
    }

    const std::optional<ClockEstimate> clock_after = estimate_clock(own_cpus);
    run_host.load_1min_end = load_average_1min();
    run_host.end_utc = utc_now();

    const Rescue rescue = keeper.finish();
    const VerifyResult& result = verifier.result();
    const ClockVerdict verdict =
        judge_clock(clock_before, clock_after, run_host.host.kernel_mhz, result.sustained_rate());
    console().err(messages_text(result, options.log));
    outcome.invalid = !result.valid();
    if (!result.complete) {
        double done = costs.total() ? static_cast<double>(result.total_tests) / static_cast<double>(costs.total()) : 1;
        say("incomplete: " + std::to_string(result.numbers_done) + " of the " + std::to_string(options.range.count()) +
            " factorization lines arrived (" + percent(done) + " of the remainder tests) in " +
            format_duration(elapsed));
    } else if (!result.valid()) {
        say(options.log + " is not a valid run: " + plural(result.problems.total, "problem", "problems"));
    } else {
        std::string summary = verify_summary_text(result, options.range) + clock_text(verdict, run_host.host.kernel_mhz);
        // Standard output holds the rescued bytes alone when it took them.
        if (rescue.place == "standard output")
            console().err(summary);
        else
            console().out(summary);
    }
    if (child.pid > 0 && child_status != 0 && outcome.interrupted_by == 0) {
        if (WIFSIGNALED(child_status))
            say(options.command[0] + " was ended by signal " + signal_name(WTERMSIG(child_status)) + "; " +
                options.log + " holds every line it printed");
        else
            say(options.command[0] + " exited with status " + std::to_string(WEXITSTATUS(child_status)));
        outcome.invalid = true;
    }
    if (!input_error.empty()) {
        say("cannot read the benchmark's output: " + input_error);
        outcome.io_error = true;
    }
    if (rescue.needed) {
        outcome.io_error = true;
        std::string head = "cannot write " + options.log + (rescue.why.empty() ? "" : ": " + rescue.why) + "; it holds " +
                           std::to_string(rescue.from) + " of the " + std::to_string(keeper.data().size()) +
                           " bytes received";
        if (rescue.place.empty())
            say(head + ", and the other " + std::to_string(rescue.bytes) + " bytes could be saved nowhere");
        else if (rescue.place == "standard output")
            say(head + "; the other " + std::to_string(rescue.bytes) + " bytes went to standard output");
        else
            say(head + "; the other " + std::to_string(rescue.bytes) + " bytes are in " + rescue.place +
                " (cat " + rescue.place + " >> " + options.log + " makes it whole)");
    }
    if (record) {
        std::string status = record_status(result, outcome.interrupted_by != 0);
        if (status == "valid" && outcome.invalid) status = "invalid";  // the benchmark itself failed
        nlohmann::json j = record_head("factorize_check watch", status, options.log, result, options.range);
        nlohmann::json command = {{"argv", options.command}};
        if (child.pid > 0) {
            command["exit_status"] = WIFEXITED(child_status) ? nlohmann::json(WEXITSTATUS(child_status)) : nullptr;
            command["signal"] = WIFSIGNALED(child_status) ? nlohmann::json(WTERMSIG(child_status)) : nullptr;
            command["openmp_library_loaded"] = openmp_loaded ? nlohmann::json(*openmp_loaded) : nullptr;
        }
        j["interrupted_by"] = outcome.interrupted_by ? nlohmann::json(strsignal(outcome.interrupted_by)) : nullptr;
        j["command"] = command;
        j["build"] = build ? build_json(*build) : nlohmann::json{{"known", false},
                                                                  {"why_unknown", "read from standard input: "
                                                                                  "the binary is not known to watch"}};
        if (child.pid <= 0) run_host.cpu_affinity.clear();  // the benchmark's own are not known
        j["host"] = host_json(run_host);
        j["clock"] = clock_json(clock_before, clock_after, run_host.host.kernel_mhz, result.sustained_rate());
        j["preflight"] = preflight_json(findings);
        j["timeline"] = timeline_json(timeline);
        // What the cost model gives each member of the banner's team, for
        // the progress each member should have made.
        j["timeline"]["member_block_tests"] =
            result.team > 0 ? nlohmann::json(costs.team_cost(static_cast<uint64_t>(result.team)).member_tests)
                            : nlohmann::json::array();
        record->append(record_text(j));
        // Standard output is kept for the run's own bytes.
        const Rescue saved = record->finish(false);
        if (saved.needed) {
            outcome.io_error = true;
            say("cannot write the record " + record_path + (saved.why.empty() ? "" : ": " + saved.why) +
                (saved.place.empty() ? "; it could be saved nowhere" : "; it is in " + saved.place));
        } else {
            console().err(std::string(kProgram) + ": record: " + record_path + "\n");
            // Pictures of the run beside its record, where matplotlib is
            // installed; else the command that would draw them.
            std::string out_dir = std::filesystem::path(record_path).parent_path().string();
            if (out_dir.empty()) out_dir = ".";
            std::string plot_error;
            const int drawn = run_plot_script({"--out", out_dir, record_path}, true, plot_error);
            if (drawn < 0)
                say("no pictures: " + plot_error + "; then run: factorize_check plot " + record_path + " --out " +
                    out_dir);
            else if (drawn != 0)
                say("some pictures of the run could not be made (see above)");
        }
    }
    if (outcome.interrupted_by != 0)
        say(std::string(outcome.interrupted_by == SIGTERM ? "terminated" : "interrupted") + "; " +
            (rescue.needed ? "the output" : options.log) + " holds every byte received (" +
            std::to_string(keeper.data().size()) + " bytes)");
    return exit_status(outcome);
}

}  // namespace factorize
