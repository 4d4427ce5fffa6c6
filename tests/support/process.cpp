#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {

struct Child::Shared {
    std::mutex mutex;
    std::string out, err;
};

namespace {

void drain(int fd, std::string* sink, std::mutex* mutex) {
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::lock_guard<std::mutex> lock(*mutex);
        sink->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
}

std::vector<std::string> child_environment(const ProcessOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq) env[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
    for (const auto& name : options.unset_env) env.erase(name);
    for (const auto& [name, value] : options.env) env[name] = value;
    std::vector<std::string> list;
    for (const auto& [name, value] : env) list.push_back(name + "=" + value);
    return list;
}

}  // namespace

Child::Child(const ProcessOptions& options) : shared_(new Shared) {
    if (options.argv.empty()) throw std::invalid_argument("Child: empty argv");
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2];
    if (options.pipe_stdin && pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (options.stdout_path.empty() && pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");

    // Everything the child needs is prepared before fork: only async-signal-
    // safe calls may follow it in a multi-threaded test process.
    std::vector<std::string> env = child_environment(options);
    std::vector<char*> envp, argv;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = options.argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    int out_file = -1;
    if (!options.stdout_path.empty()) {
        out_file = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out_file < 0) throw std::runtime_error("cannot open " + options.stdout_path);
    }
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        dup2(options.pipe_stdin ? in_pipe[0] : null_fd, 0);
        dup2(out_file >= 0 ? out_file : out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(null_fd);
    if (out_file >= 0) close(out_file);
    if (options.pipe_stdin) {
        close(in_pipe[0]);
        stdin_fd_ = in_pipe[1];
    }
    if (out_pipe[1] >= 0) {
        close(out_pipe[1]);
        out_reader_ = std::thread(drain, out_pipe[0], &shared_->out, &shared_->mutex);
    }
    close(err_pipe[1]);
    err_reader_ = std::thread(drain, err_pipe[0], &shared_->err, &shared_->mutex);
}

Child::~Child() {
    if (!waited_) {
        send_signal(SIGKILL);
        wait();
    }
    delete shared_;
}

bool Child::write_stdin(const std::string& data) {
    size_t done = 0;
    while (stdin_fd_ >= 0 && done < data.size()) {
        ssize_t n = write(stdin_fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return stdin_fd_ >= 0;
}

void Child::close_stdin() {
    if (stdin_fd_ >= 0) close(stdin_fd_);
    stdin_fd_ = -1;
}

void Child::send_signal(int sig) {
    if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

std::string Child::out_so_far() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->out;
}

std::string Child::err_so_far() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->err;
}

bool Child::ended_within(double seconds) {
    for (int waited_ms = 0; !reaped_; waited_ms += 10) {
        if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
        else if (waited_ms >= seconds * 1000) return false;
        else usleep(10000);
    }
    return true;
}

ProcessResult Child::wait() {
    if (waited_) return result_;
    close_stdin();
    int status = status_;
    while (!reaped_ && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    if (out_reader_.joinable()) out_reader_.join();
    err_reader_.join();
    waited_ = true;
    result_.out = shared_->out;
    result_.err = shared_->err;
    if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
    return result_;
}

ProcessResult run_process(const ProcessOptions& options) {
    Child child(options);
    return child.wait();
}

ProcessResult run_process(const std::vector<std::string>& argv) {
    ProcessOptions options;
    options.argv = argv;
    return run_process(options);
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string make_temp_dir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/factorize-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    return pattern;
}

std::string find_program(const std::string& name) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return "";
}

}  // namespace testing_support
