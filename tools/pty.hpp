// Starting a command with its standard output on a pseudo-terminal.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace factorize {

// Closes a file descriptor when it goes out of scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor now; returns close's result (0 when none was open).
    int reset();

private:
    int fd_ = -1;
};

// A started command: the terminal's master side, which delivers what the
// command writes, and the command's process.
struct PtyChild {
    Fd master;
    pid_t pid = -1;
};

// Starts command with its standard output on a new pseudo-terminal in raw
// mode (so that the C library line-buffers it and no byte is translated),
// its standard input on /dev/null and its standard error unchanged. The
// terminal is the command's controlling terminal, in a session of its own:
// if the watching process ends, the command gets SIGHUP rather than dividing
// on unwatched, while a hang-up of the watcher's own terminal does not reach
// it. Returns "" on success; else what failed, with nothing left open and
// no process left behind.
std::string start_under_pty(const std::vector<std::string>& command, PtyChild& child);

}  // namespace factorize
