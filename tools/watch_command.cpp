// `factorize_check watch`: passes a running benchmark's output through to a
// log, byte for byte and at once, while verifying it and showing progress.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.hpp"
#include "cost.hpp"
#include "report.hpp"
#include "verify.hpp"
#include "watch.hpp"

namespace factorize {
namespace {

const char kProgram[] = "factorize_check";
// After an interrupt, how long the output may take to end: the benchmark
// gets the same interrupt, and what it wrote before is still to be read.
constexpr double kDrainSeconds = 2.0;
constexpr double kTerminalRefresh = 0.5;

volatile sig_atomic_t interrupts = 0;

void on_interrupt(int) { interrupts = interrupts + 1; }

void catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll must return at once
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void say(const std::string& text) { write_all(2, text.data(), text.size()); }

// Starts command with its standard output on a pseudo-terminal in raw mode,
// so that the C library line-buffers it and no byte is translated. The
// terminal is the command's controlling terminal: if the watch ends, the
// command gets SIGHUP rather than dividing on unwatched.
bool start_under_pty(const std::vector<std::string>& command, int& master, pid_t& pid, std::string& error) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
        return false;
    }
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios raw {};
    if (slave < 0 || tcgetattr(slave, &raw) != 0) {
        error = std::string("cannot open the pseudo-terminal ") + name + ": " + strerror(errno);
        return false;
    }
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int status[2];
    if (null < 0 || pipe2(status, O_CLOEXEC) != 0) {
        error = std::string("cannot start the command: ") + strerror(errno);
        return false;
    }
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid = fork();
    if (pid < 0) {
        error = std::string("cannot start the command: ") + strerror(errno);
        return false;
    }
    if (pid == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(null, 0);
        dup2(slave, 1);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_DFL);
        execvp(argv[0], argv.data());
        int code = errno;
        ssize_t ignored = write(status[1], &code, sizeof code);
        (void)ignored;
        _exit(127);
    }
    close(slave);
    close(null);
    close(status[1]);
    int code = 0;
    ssize_t n;
    while ((n = read(status[0], &code, sizeof code)) < 0 && errno == EINTR) {
    }
    close(status[0]);
    if (n > 0) {
        waitpid(pid, nullptr, 0);
        error = "cannot run " + command[0] + ": " + strerror(code);
        return false;
    }
    return true;
}

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

}  // namespace

int run_watch(const WatchOptions& options) {
    int log = open(options.log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (options.force ? O_TRUNC : O_EXCL), 0644);
    if (log < 0) {
        if (errno == EEXIST)
            say(std::string(kProgram) + ": " + options.log +
                " exists already; name a new log, or pass --force to overwrite it\n");
        else
            say(std::string(kProgram) + ": cannot create " + options.log + ": " + strerror(errno) + "\n");
        return kExitUsage;
    }
    catch_interrupts();
    int input = 0;
    pid_t child = -1;
    if (!options.command.empty()) {
        std::string error;
        if (!start_under_pty(options.command, input, child, error)) {
            say(std::string(kProgram) + ": " + error + "\n");
            close(log);
            return kExitUsage;
        }
    }

    const RangeCost costs(options.range);
    Verifier verifier(options.range);
    ProgressTracker tracker(costs);
    const bool terminal = isatty(2);
    const double period = terminal ? kTerminalRefresh : options.interval;
    const auto start = std::chrono::steady_clock::now();
    auto clock = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

    std::string log_error, input_error;
    uint64_t bytes = 0;
    int interrupts_seen = 0;
    double drain_until = INFINITY, next_report = period;
    static char buffer[1 << 16];
    for (;;) {
        double now = clock();
        if (interrupts > interrupts_seen) {
            interrupts_seen = interrupts;
            if (interrupts_seen > 1) break;  // a second interrupt: stop now
            if (child > 0) kill(child, SIGINT);
            drain_until = now + kDrainSeconds;
        }
        if (now >= drain_until) break;
        if (now >= next_report) {
            Progress p = tracker.progress(now);
            say(terminal ? "\r" + progress_bar(p) + "\033[K" : progress_line(p) + "\n");
            next_report = now + period;
        }
        double wait = std::min(next_report, drain_until) - now;
        struct pollfd ready = {input, POLLIN, 0};
        int polled = poll(&ready, 1, static_cast<int>(std::ceil(std::max(wait, 0.0) * 1000)));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) continue;
        ssize_t n = read(input, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n == 0 || (n < 0 && errno == EIO)) break;  // EIO: the pseudo-terminal's last writer has gone
        if (n < 0) {
            input_error = strerror(errno);
            break;
        }
        // The log first, so that whatever happens next, it holds these bytes.
        if (log_error.empty() && !write_all(log, buffer, static_cast<size_t>(n))) log_error = strerror(errno);
        bytes += static_cast<uint64_t>(n);
        verifier.feed(std::string_view(buffer, static_cast<size_t>(n)));
        tracker.update(verifier.result(), clock());
    }
    // An interrupt may have come while the last bytes were read.
    if (interrupts > interrupts_seen) interrupts_seen = interrupts;
    if (close(log) != 0 && log_error.empty()) log_error = strerror(errno);
    verifier.finish();
    const double elapsed = clock();
    if (terminal) say("\r\033[K");

    int child_status = 0;
    if (child > 0) {
        if (interrupts_seen > 0) kill(child, SIGINT);
        child_status = wait_command(child);
    }

    const VerifyResult& result = verifier.result();
    say(messages_text(result, options.log));
    int status = result.valid() ? kExitValid : kExitInvalid;
    if (!result.complete) {
        double done = costs.total() ? static_cast<double>(result.total_tests) / static_cast<double>(costs.total()) : 1;
        say(std::string(kProgram) + ": incomplete: " + std::to_string(result.numbers_done) + " of the " +
            std::to_string(options.range.count()) + " factorization lines arrived (" + percent(done) +
            " of the remainder tests) in " + format_duration(elapsed) + "\n");
    } else if (!result.valid()) {
        say(std::string(kProgram) + ": " + options.log + " is not a valid run: " +
            plural(result.problems.total, "problem", "problems") + "\n");
    } else {
        std::string summary = verify_summary_text(result, options.range);
        write_all(1, summary.data(), summary.size());
    }
    if (child > 0 && child_status != 0 && interrupts_seen == 0) {
        if (WIFSIGNALED(child_status))
            say(std::string(kProgram) + ": " + options.command[0] + " was ended by signal " +
                std::to_string(WTERMSIG(child_status)) + "\n");
        else
            say(std::string(kProgram) + ": " + options.command[0] + " exited with status " +
                std::to_string(WEXITSTATUS(child_status)) + "\n");
        status = kExitInvalid;
    }
    if (!input_error.empty()) {
        say(std::string(kProgram) + ": cannot read the benchmark's output: " + input_error + "\n");
        status = kExitUsage;
    }
    if (!log_error.empty()) {
        say(std::string(kProgram) + ": cannot write " + options.log + ": " + log_error + "; it is incomplete\n");
        status = kExitUsage;
    }
    if (interrupts_seen > 0) {
        say(std::string(kProgram) + ": interrupted; " + options.log + " holds every byte received (" +
            std::to_string(bytes) + " bytes)\n");
        status = kExitInterrupted;
    }
    return status;
}

}  // namespace factorize
