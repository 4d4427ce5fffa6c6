#include "pty.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace factorize {

int Fd::reset() {
    int result = 0;
    if (fd_ >= 0) result = close(fd_);
    fd_ = -1;
    return result;
}

namespace {

// What the child reports through the status pipe when a step fails before
// the command runs.
struct ChildFailure {
    int step;
    int error;
};

const char* const kChildSteps[] = {"setsid", "setting the controlling terminal", "redirecting standard input",
                                   "redirecting standard output", "resetting signals", "exec"};

std::string failed(const std::string& what) { return what + ": " + strerror(errno); }

[[noreturn]] void child_fail(int status_fd, int step) {
    ChildFailure failure{step, errno};
    ssize_t ignored = write(status_fd, &failure, sizeof failure);
    (void)ignored;
    _exit(127);
}

}  // namespace

std::string start_under_pty(const std::vector<std::string>& command, PtyChild& child) {
    if (command.empty()) return "no command to start";
    Fd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.valid()) return failed("cannot open a pseudo-terminal");
    if (grantpt(master.get()) != 0) return failed("cannot grant the pseudo-terminal");
    if (unlockpt(master.get()) != 0) return failed("cannot unlock the pseudo-terminal");
    char name[128];
    if (ptsname_r(master.get(), name, sizeof name) != 0) return failed("cannot name the pseudo-terminal");
    Fd slave(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.valid()) return failed(std::string("cannot open the pseudo-terminal ") + name);
    struct termios raw {};
    if (tcgetattr(slave.get(), &raw) != 0) return failed(std::string("cannot read the modes of ") + name);
    // Raw: no "\n" to "\r\n" translation, so the log holds the bytes as written.
    cfmakeraw(&raw);
    if (tcsetattr(slave.get(), TCSANOW, &raw) != 0) return failed(std::string("cannot set raw mode on ") + name);
    Fd null(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!null.valid()) return failed("cannot open /dev/null");
    int status_pipe[2];
    if (pipe2(status_pipe, O_CLOEXEC) != 0) return failed("cannot make a pipe");
    Fd status_read(status_pipe[0]), status_write(status_pipe[1]);

    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) return failed("cannot start " + command[0]);
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        const int report = status_write.get();
        if (setsid() < 0) child_fail(report, 0);
        if (ioctl(slave.get(), TIOCSCTTY, 0) != 0) child_fail(report, 1);
        if (dup2(null.get(), 0) < 0) child_fail(report, 2);
        if (dup2(slave.get(), 1) < 0) child_fail(report, 3);
        // Ignored signals stay ignored across exec, and a blocked mask is
        // inherited: give the benchmark the defaults.
        sigset_t none;
        sigemptyset(&none);
        if (sigprocmask(SIG_SETMASK, &none, nullptr) != 0) child_fail(report, 4);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
            if (signal(sig, SIG_DFL) == SIG_ERR) child_fail(report, 4);
        execvp(argv[0], argv.data());
        child_fail(report, 5);
    }
    status_write.reset();
    slave.reset();
    null.reset();
    ChildFailure failure{};
    ssize_t n;
    while ((n = read(status_read.get(), &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (n != 0) {
        // The pipe closed on exec only if exec succeeded; anything else is a failure.
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (n < 0) return failed("cannot learn whether " + command[0] + " started");
        if (n != static_cast<ssize_t>(sizeof failure) || failure.step < 0 || failure.step > 5)
            return "cannot start " + command[0] + ": its start-up report was cut short";
        if (failure.step == 5) return "cannot run " + command[0] + ": " + strerror(failure.error);
        return "cannot start " + command[0] + ": " + kChildSteps[failure.step] + " failed: " + strerror(failure.error);
    }
    child.master = std::move(master);
    child.pid = pid;
    return "";
}

}  // namespace factorize
