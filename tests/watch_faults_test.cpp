// factorize_check watch under faults: a full device, a file-size limit, a
// hang-up, SIGINT and SIGTERM during a long wait, a benchmark killed in
// mid-run, a pseudo-terminal that cannot be set up; and the exit status when
// several things go wrong at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <cstring>

#include "commands.hpp"
#include "pty.hpp"
#include "support/process.hpp"
#include "support/run_output.hpp"
#include "support/watch_fixture.hpp"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

class WatchFaults : public WatchFixture {
protected:
    // Waits until the child's standard error holds text; false on timeout.
    static bool wait_for_err(Child& child, const std::string& text, double seconds = 20) {
        auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline) {
            if (child.err_so_far().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

// Returns the fallback file that a watch's message names, or "".
std::string rescue_file(const std::string& err) {
    std::smatch m;
    return std::regex_search(err, m, std::regex("bytes are in (\\S+\\.rest) ")) ? std::string(m[1]) : "";
}

// A log on a full device: the failure is said while the run goes on, and at
// the end the whole output is in a fallback file that the message names.
TEST_F(WatchFaults, AFullDeviceLosesNoByte) {
    const std::string text = made_run(MadeRun{});
    const size_t half = text.find('\n', text.size() / 2) + 1;
    Child child(watch({"--force", "/dev/full"}));
    child.write_stdin(text.substr(0, half));
    EXPECT_TRUE(wait_for_err(child, "cannot write /dev/full: No space left on device; keeping the output in memory"))
        << "the failure must be said at once, not at the end:\n"
        << child.err_so_far();
    child.write_stdin(text.substr(half));
    ProcessResult result = child.wait();
    EXPECT_EQ(result.exit_code, 2) << result.err;
    const std::string rescued = rescue_file(result.err);
    ASSERT_NE(rescued, "") << result.err;
    EXPECT_EQ(std::filesystem::path(rescued).parent_path(), std::filesystem::path(dir_)) << "TMPDIR is honoured";
    EXPECT_EQ(read_file(rescued), text);
    EXPECT_NE(result.err.find("it holds 0 of the " + std::to_string(text.size()) + " bytes received"),
              std::string::npos)
        << result.err;
}

// A file-size limit: no SIGXFSZ death; the log keeps what fits and the rest
// goes to a file beside it or, when no file can take it, to standard output.
TEST_F(WatchFaults, AFileSizeLimitLosesNoByte) {
    struct {
        const char* context;
        MadeRun run;
        int blocks;             // bash's ulimit -f, in 1024-byte blocks
        bool beside_the_log;    // else on standard output
    } const cases[] = {
        {"the rest fits a fallback file", MadeRun{0, 99, 3, 0.5}, 1, true},
        {"no file can take the rest", MadeRun{}, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        std::remove(log().c_str());
        std::remove(record().c_str());
        const std::string text = made_run(c.run);
        std::string range = std::to_string(c.run.first) + ".." + std::to_string(c.run.last);
        ProcessOptions options = watch({});
        options.argv = {"/bin/bash", "-c", "ulimit -f " + std::to_string(c.blocks) + " && exec \"$0\" watch --range " +
                                             range + " \"$1\"",
                        CHECK_PROGRAM, log()};
        Child child(options);
        child.write_stdin(text);
        child.close_stdin();
        ProcessResult result = child.wait();
        EXPECT_EQ(result.signal, 0) << "killed by a signal";
        EXPECT_EQ(result.exit_code, 2) << result.err;
        const std::string logged = read_file(log());
        EXPECT_EQ(logged.size(), static_cast<size_t>(c.blocks) * 1024);
        const std::string rescued = rescue_file(result.err);
        if (c.beside_the_log) {
            EXPECT_EQ(std::filesystem::path(rescued).parent_path(), std::filesystem::path(dir_)) << result.err;
            EXPECT_EQ(logged + read_file(rescued), text);
        } else {
            EXPECT_EQ(rescued, "") << result.err;
            EXPECT_NE(result.err.find("went to standard output"), std::string::npos) << result.err;
            EXPECT_EQ(logged + result.out, text) << "standard output holds exactly what the log lacks";
        }
    }
}

// The terminal of watch hangs up (a closed SSH session): the run goes on to
// its end, the log is whole and the display stops without a word. However
// late a loaded machine lets watch see the hang-up, its display must fall
// silent: the test waits for ten intervals without a new line, which never
// come while the display runs.
TEST_F(WatchFaults, AHangUpOnlyStopsTheDisplay) {
    auto progress_lines = [](const std::string& err) {
        size_t n = 0;
        for (size_t at = err.find("progress: "); at != std::string::npos; at = err.find("progress: ", at + 1)) ++n;
        return n;
    };
    const std::string text = made_run(MadeRun{});
    const size_t half = text.find('\n', text.size() / 2) + 1;
    Child child(watch({log(), "--interval", "0.02"}));
    child.write_stdin(text.substr(0, half));
    ASSERT_TRUE(wait_for_err(child, "progress: "));
    child.send_signal(SIGHUP);
    size_t shown = progress_lines(child.err_so_far());
    bool silent = false;
    for (auto deadline = Clock::now() + std::chrono::seconds(10); !silent && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // ten intervals
        const size_t now_shown = progress_lines(child.err_so_far());
        silent = now_shown == shown;
        shown = now_shown;
    }
    EXPECT_TRUE(silent) << "the display must stop at the hang-up";
    child.write_stdin(text.substr(half));
    child.close_stdin();
    ProcessResult result = child.wait();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(progress_lines(result.err), shown) << "no progress after the hang-up";
    EXPECT_EQ(read_file(log()), text);
    EXPECT_NE(result.out.find("valid run:"), std::string::npos);
}

// SIGINT and SIGTERM reach watch at once, even in the middle of a long
// --interval; each stops the benchmark and keeps the log whole. A log that
// could not be written outranks the interrupt in the exit status.
TEST_F(WatchFaults, SignalsStopTheBenchmarkAtOnceAndKeepTheLog) {
    struct {
        const char* context;
        int sig;
        bool full_log;
        int exit_code;
        const char* said;
    } const cases[] = {
        {"SIGINT", SIGINT, false, 130, "interrupted; "},
        {"SIGTERM", SIGTERM, false, 143, "terminated; "},
        {"SIGTERM with a full log: the I/O error decides", SIGTERM, true, 2, "cannot write /dev/full"},
    };
    const std::string printed = made_run_lines(MadeRun{})[0] + made_run_lines(MadeRun{})[1];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        std::remove(log().c_str());
        std::remove(record().c_str());
        const std::string target = c.full_log ? "/dev/full" : log();
        // The stand-in benchmark prints two lines and then divides for a minute.
        Child child(watch({"--force", "--interval", "3600", target, "--", "/bin/sh", "-c",
                           "printf '%s' \"$0\"; exec sleep 60", printed}));
        if (!c.full_log) {
            auto deadline = Clock::now() + std::chrono::seconds(20);
            while (read_file(log()) != printed && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            ASSERT_TRUE(wait_for_err(child, "keeping the output in memory"));
        }
        const auto sent = Clock::now();
        child.send_signal(c.sig);
        EXPECT_TRUE(child.ended_within(10));
        const double took = std::chrono::duration<double>(Clock::now() - sent).count();
        ProcessResult result = child.wait();
        EXPECT_LT(took, 5) << "the signal must not wait for the interval";
        EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        if (!c.full_log) {
            EXPECT_EQ(read_file(log()), printed);
            nlohmann::json r = nlohmann::json::parse(read_file(record()));
            EXPECT_EQ(r["status"], "interrupted");
            EXPECT_EQ(r["interrupted_by"], strsignal(c.sig));
            EXPECT_EQ(r["timeline"]["number"].size(), 1u);
        }
    }
}

// The benchmark dies in mid-run: its signal is said, the log keeps every
// line it printed, and the run is incomplete.
TEST_F(WatchFaults, ABenchmarkKilledInMidRunIsReported) {
    const std::vector<std::string> lines = made_run_lines(MadeRun{0, 99, 2, 0.5});
    const std::string printed = lines[0] + lines[1] + lines[2];
    ProcessResult result = run_process(watch({"--range", "0..99", log(), "--", "/bin/sh", "-c",
                                              "printf '%s' \"$0\"; kill -KILL $$", printed}));
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_NE(result.err.find("was ended by signal 9"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("incomplete: 2 of the 100 factorization lines arrived"), std::string::npos)
        << result.err;
    EXPECT_EQ(read_file(log()), printed);
}

// Every step of the pseudo-terminal's setup that runs out of descriptors
// says so and leaves none open.
TEST(PtySetup, FailuresAreSaidAndLeakNothing) {
    auto open_descriptors = [] {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++n;
        }
        return n - 1;  // the iterator's own
    };
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const size_t before = open_descriptors();
    int failures = 0;
    bool started = false;
    // The setup opens five descriptors; allow each count from none to all.
    for (rlim_t extra = 0; extra <= 6 && !started; ++extra) {
        SCOPED_TRACE("descriptors allowed beyond those open: " + std::to_string(extra));
        struct rlimit limit = saved;
        limit.rlim_cur = before + extra;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
        factorize::PtyChild child;
        std::string error = factorize::start_under_pty({"/bin/true"}, child);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
        if (error.empty()) {
            started = true;
            EXPECT_GT(child.pid, 0);
            child.master.reset();
            int status;
            waitpid(child.pid, &status, 0);
        } else {
            ++failures;
            EXPECT_NE(error.find("Too many open files"), std::string::npos) << error;
        }
        EXPECT_EQ(open_descriptors(), before);
    }
    EXPECT_TRUE(started);
    EXPECT_GE(failures, 3) << "each early step should have been made to fail";
}

TEST(ExitStatus, FollowsOneOrder) {
    using factorize::Outcome;
    struct {
        const char* context;
        Outcome outcome;
        int status;
    } const cases[] = {
        {"valid", {false, 0, false}, 0},
        {"invalid or incomplete", {false, 0, true}, 1},
        {"interrupted beats invalid", {false, SIGINT, true}, 130},
        {"terminated beats invalid", {false, SIGTERM, true}, 143},
        {"an I/O error beats an interrupt", {true, SIGINT, true}, 2},
        {"an I/O error beats a valid run", {true, 0, false}, 2},
    };
    for (const auto& c : cases) EXPECT_EQ(factorize::exit_status(c.outcome), c.status) << c.context;
}

}  // namespace
