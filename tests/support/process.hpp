// Starting the project's executables from tests: arguments, environment,
// standard streams, signals, and what they wrote.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct ProcessResult {
    int exit_code = -1;  // the exit status, or -1 when a signal ended it
    int signal = 0;      // the signal that ended it, or 0
    std::string out;     // standard output, unless it was sent to a file
    std::string err;     // standard error
};

struct ProcessOptions {
    std::vector<std::string> argv;             // argv[0] is the program's path
    std::map<std::string, std::string> env;    // set on top of this process's environment
    std::vector<std::string> unset_env;        // removed from it
    std::string stdout_path;                   // when set, standard output goes to this file
    bool pipe_stdin = false;                   // else standard input is /dev/null
};

// A child process whose standard output and error are collected by
// background readers while the test writes to its standard input.
class Child {
public:
    explicit Child(const ProcessOptions& options);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Writes all of data to the child's standard input; false once it is closed.
    bool write_stdin(const std::string& data);
    void close_stdin();
    void send_signal(int sig);
    // Says whether the child ends within this many seconds, without closing
    // its standard input.
    bool ended_within(double seconds);
    // Waits for the child to end and returns what it wrote and how it ended.
    ProcessResult wait();
    // Return what the child has written to standard output or error so far.
    std::string out_so_far();
    std::string err_so_far();

private:
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    std::thread out_reader_, err_reader_;
    struct Shared;
    Shared* shared_;
    bool waited_ = false;
    bool reaped_ = false;
    int status_ = 0;
    ProcessResult result_;
};

// Runs a program to its end with standard input on /dev/null.
ProcessResult run_process(const ProcessOptions& options);
ProcessResult run_process(const std::vector<std::string>& argv);

// Returns the lines of text, each without its "\n".
std::vector<std::string> split_lines(const std::string& text);

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

// Returns a fresh empty directory below the system's temporary directory.
std::string make_temp_dir();

// Returns the path of the executable of this name on PATH, or "" when none.
std::string find_program(const std::string& name);

}  // namespace testing_support
