// factorize_check watch: the log, the progress and its estimate, an early
// end, an interrupt, and a benchmark started under a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cost.hpp"
#include "support/process.hpp"
#include "support/run_output.hpp"
#include "support/watch_fixture.hpp"
#include "watch.hpp"

namespace {

using namespace testing_support;
using Clock = std::chrono::steady_clock;

TEST(WatchText, FormatsDurationsAndProgress) {
    EXPECT_EQ(factorize::format_duration(0), "0:00");
    EXPECT_EQ(factorize::format_duration(59.6), "1:00");
    EXPECT_EQ(factorize::format_duration(3599), "59:59");
    EXPECT_EQ(factorize::format_duration(3675.95), "1:01:16");
    factorize::Progress p;
    p.has_team = true;
    p.fraction = 0.5;
    p.numbers_done = 8000;
    p.numbers = 16384;
    p.elapsed = 1800;
    p.eta = 1830;
    EXPECT_EQ(factorize::progress_bar(p, 10), "[#####.....]  50.0%  8000/16384 numbers  elapsed 30:00  ETA 30:30");
    EXPECT_EQ(factorize::progress_line(p),
              "progress: 50.0% of the remainder tests, 8000/16384 numbers, elapsed 30:00, ETA 30:30");
    p.has_team = false;
    EXPECT_NE(factorize::progress_line(p).find("waiting for the banner"), std::string::npos);
}

// The estimate, from members' counts alone: two members, one twice as
// loaded, both at 100 tests/s.
TEST(WatchEstimate, TheSlowestMemberDecides) {
    factorize::RangeCost costs(factorize::Range{2, 9});
    factorize::ProgressTracker tracker(costs);
    factorize::VerifyResult result;
    result.team = 2;
    result.member_tests = {0, 0};
    tracker.update(result, 0);
    EXPECT_FALSE(tracker.progress(1).eta.has_value()) << "no rate before any line";
    // Team of 2 over 2..9: member 0 takes 2..5, member 1 takes 6..9.
    const uint64_t block0 = costs.span_tests(0, 4), block1 = costs.span_tests(4, 8);
    result.member_tests = {costs.number_tests(0), costs.number_tests(4)};
    result.total_tests = result.member_tests[0] + result.member_tests[1];
    tracker.update(result, 2);
    factorize::Progress p = tracker.progress(2);
    ASSERT_TRUE(p.eta.has_value());
    double rate = static_cast<double>(result.total_tests) / 4;  // two members busy for 2 s each
    EXPECT_DOUBLE_EQ(p.member_rate, rate);
    const uint64_t left = std::max(block0 - result.member_tests[0], block1 - result.member_tests[1]);
    EXPECT_DOUBLE_EQ(*p.eta, static_cast<double>(left) / rate);
    // Member 0 finishes at 3 s; its time stops counting from then on.
    result.member_tests[0] = block0;
    tracker.update(result, 3);
    p = tracker.progress(5);
    EXPECT_DOUBLE_EQ(p.member_rate, static_cast<double>(block0 + result.member_tests[1]) / (3 + 5));
}

using Watch = WatchFixture;

struct ProgressLine {
    double percent, elapsed, eta;  // eta < 0 when unknown
};

double seconds_of(const std::string& text) {
    int h = 0, m = 0, s = 0;
    if (sscanf(text.c_str(), "%d:%d:%d", &h, &m, &s) == 3) return h * 3600 + m * 60 + s;
    sscanf(text.c_str(), "%d:%d", &m, &s);
    return m * 60 + s;
}

std::vector<ProgressLine> progress_lines(const std::string& err) {
    std::vector<ProgressLine> lines;
    const std::regex line("progress: ([0-9.]+)% of the remainder tests, \\d+/\\d+ numbers, elapsed ([0-9:]+), (.*)");
    for (const std::string& text : split_lines(err)) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) continue;
        std::smatch eta;
        std::string rest = m[3];
        bool known = std::regex_match(rest, eta, std::regex("ETA ([0-9:]+)"));
        lines.push_back({std::stod(m[1]), seconds_of(m[2]), known ? seconds_of(eta[1]) : -1});
    }
    return lines;
}

// A made run of a team of 2 at a steady division rate, each line arriving
// when its member would have finished it, on the test's own clock: an hour's
// run in a moment, and no load on the machine can move a line's time. The
// estimate must track the time actually left.
TEST(WatchEstimate, TracksTheTimeLeftOfARunOnTheTestsClock) {
    const double duration = 3600;
    const std::vector<std::string> lines = made_run_lines(MadeRun{});
    factorize::RangeCost costs;
    const double rate = static_cast<double>(costs.team_cost(2).slowest_tests) / duration;
    // When each line is due: members' blocks are 1999999999.. and 2000008191..
    std::vector<std::pair<double, std::string>> schedule;
    std::vector<double> busy(2, 0);
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
        uint64_t number = std::stoull(lines[i]);
        size_t member = number - 1999999999 < 8192 ? 0 : 1;
        busy[member] += static_cast<double>(costs.number_tests(number - 1999999999)) / rate;
        schedule.push_back({busy[member], lines[i]});
    }
    std::stable_sort(schedule.begin(), schedule.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const double end = schedule.back().first;

    factorize::Verifier verifier;
    factorize::ProgressTracker tracker(costs);
    verifier.feed(lines[0]);
    tracker.update(verifier.result(), 0);
    size_t next = 0;
    double last_fraction = 0;
    int checked = 0;
    for (double now = 30; now < end; now += 30) {  // a progress line every 30 s
        for (; next < schedule.size() && schedule[next].first <= now; ++next) {
            verifier.feed(schedule[next].second);
            tracker.update(verifier.result(), schedule[next].first);
        }
        const factorize::Progress p = tracker.progress(now);
        EXPECT_GE(p.fraction, last_fraction);
        last_fraction = p.fraction;
        if (now < 120 || !p.eta) continue;  // the first lines are too few to show a rate
        const double left = end - now;
        SCOPED_TRACE("at " + std::to_string(now) + " s, " + std::to_string(left) + " s left");
        // Finished lines only: the estimate may lean a little long, never short.
        EXPECT_GT(*p.eta, left - 30);
        EXPECT_LT(*p.eta, left * 1.05 + 30);
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

// Output that arrives in pieces, cut inside lines and spread over a while:
// the log must equal the input, and progress must only go forward.
TEST_F(Watch, APieceByPieceFeedIsLoggedByteForByte) {
    const std::string text = made_run(MadeRun{});
    Child child(watch({log(), "--interval", "0.02"}));
    const size_t pieces = 25, piece = text.size() / pieces + 7;  // 7: cuts fall inside lines
    for (size_t at = 0; at < text.size(); at += piece) {
        child.write_stdin(text.substr(at, piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets progress lines interleave
    }
    child.close_stdin();
    ProcessResult result = child.wait();

    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(read_file(log()), text);
    EXPECT_NE(result.out.find("slowest member:            1, with 1310199216627"), std::string::npos) << result.out;
    std::vector<ProgressLine> progress = progress_lines(result.err);
    ASSERT_GE(progress.size(), 2u) << result.err;
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i].percent, progress[i - 1].percent);
}

TEST_F(Watch, AnEarlyEndIsIncomplete) {
    std::string text = made_run(MadeRun{});
    std::string half = text.substr(0, text.find("\n", text.size() / 2) + 1);
    Child child(watch({log()}));
    child.write_stdin(half);
    ProcessResult result = child.wait();
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(read_file(log()), half);
    const size_t arrived = split_lines(half).size() - 1;  // all but the banner
    EXPECT_NE(result.err.find("incomplete: " + std::to_string(arrived) + " of the 16384 factorization lines arrived"),
              std::string::npos)
        << result.err;
}

// Ctrl-C reaches both ends of the pipe; the watch reads what is still on its
// way and stops, with every byte received in the log.
TEST_F(Watch, AnInterruptKeepsEveryByteReceived) {
    for (bool writer_closes : {true, false}) {
        SCOPED_TRACE(writer_closes ? "the writer stops" : "the writer stays silent");
        std::string text = made_run(MadeRun{});
        std::string part = text.substr(0, 100000);  // ends inside a line
        std::remove(log().c_str());
        std::remove(record().c_str());
        Child child(watch({log()}));
        child.write_stdin(part);
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (read_file(log()).size() < part.size() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        child.send_signal(SIGINT);
        if (writer_closes) child.close_stdin();
        EXPECT_TRUE(child.ended_within(10)) << "the watch must stop by itself";
        ProcessResult result = child.wait();
        EXPECT_EQ(result.exit_code, 130) << result.err;
        EXPECT_EQ(read_file(log()), part);
        EXPECT_NE(result.err.find("interrupted; " + log() + " holds every byte received (100000 bytes)"),
                  std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("incomplete"), std::string::npos);
    }
}

TEST_F(Watch, RefusesToOverwriteALogUnlessForced) {
    FILE* f = fopen(log().c_str(), "w");
    fputs("an earlier run\n", f);
    fclose(f);
    ProcessResult refused = run_process(watch({log()}));
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.err.find("exists already"), std::string::npos);
    EXPECT_EQ(read_file(log()), "an earlier run\n");

    Child forced(watch({"--force", log()}));
    forced.write_stdin(made_run(MadeRun{}));
    EXPECT_EQ(forced.wait().exit_code, 0);
    EXPECT_EQ(read_file(log()), made_run(MadeRun{}));
}

// The benchmark started by the watch itself: a test build of 100 numbers.
TEST_F(Watch, RunsTheBenchmarkUnderAPseudoTerminal) {
    ProcessOptions options = watch({"--range", "0..99", log(), "--", SMALL_RANGE_PROGRAM});
    options.env["OMP_NUM_THREADS"] = "3";
    ProcessResult result = run_process(options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::string text = read_file(log());
    EXPECT_EQ(split_lines(text).size(), 103u);
    EXPECT_EQ(text.find('\r'), std::string::npos) << "the terminal must pass bytes unchanged";
    EXPECT_NE(result.out.find("team size:                 3"), std::string::npos) << result.out;
}

TEST_F(Watch, TheCommandSeesATerminalAndItsFailureCounts) {
    struct {
        const char* context;
        std::vector<std::string> command;
        int exit_code;
        const char* err;
        const char* log;
    } const cases[] = {
        {"standard output is a terminal, bytes untranslated", {"/bin/sh", "-c", "test -t 1 && printf 'a\\nb\\n'"}, 1,
         "incomplete", "a\nb\n"},
        {"a failing command fails the watch", {"/bin/sh", "-c", "exit 3"}, 1, "exited with status 3", ""},
        {"a command that cannot start", {"/nonexistent/benchmark"}, 2, "cannot run /nonexistent/benchmark", ""},
    };
    for (const auto& c : cases) {
        std::remove(log().c_str());
        std::remove(record().c_str());
        std::vector<std::string> args = {log(), "--"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        ProcessResult result = run_process(watch(args));
        EXPECT_EQ(result.exit_code, c.exit_code) << c.context << "\n" << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.context << "\n" << result.err;
        EXPECT_EQ(read_file(log()), c.log) << c.context;
        if (c.exit_code == 2) {
            EXPECT_FALSE(std::ifstream(log()).good()) << c.context << ": nothing ran, so no log is left";
            EXPECT_FALSE(std::ifstream(record()).good()) << c.context << ": nor an empty record";
        }
    }
}

// The record of a guided run: the binary by its hash and build, the
// affinity that taskset gave, a timeline entry for each line, and the
// pre-flight's warning about that affinity. The timed range lasts about a
// second on one CPU: the benchmark must still be there when watch reads
// which OpenMP runtime it loaded, however loaded the machine.
TEST_F(Watch, TheRecordSaysHowTheRunWasMade) {
    const std::string kTimedRange = std::to_string(TIMED_FIRST) + ".." + std::to_string(TIMED_LAST);
    const uint64_t kTimedCount = TIMED_LAST - TIMED_FIRST + 1;
    const std::string taskset = find_program("taskset");
    if (taskset.empty()) GTEST_SKIP() << "taskset (util-linux) is not installed";
    ProcessOptions options = watch({});
    options.argv = {taskset, "-c", "0", CHECK_PROGRAM, "watch", "--range", kTimedRange, log(), "--", TIMED_RANGE_PROGRAM};
    options.env["OMP_NUM_THREADS"] = "2";
    ProcessResult result = run_process(options);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("pre-flight: warning: a team of 2 on 1 CPUs it may use"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("record: " + record()), std::string::npos) << result.err;
    nlohmann::json r = nlohmann::json::parse(read_file(record()));
    EXPECT_EQ(r["schema_version"], 1);
    EXPECT_EQ(r["status"], "valid");
    EXPECT_EQ(r["result"]["numbers_done"], kTimedCount);

    const nlohmann::json& build = r["build"];
    EXPECT_EQ(build["known"], true) << build.dump();
    const std::string sha = run_process({find_program("sha256sum"), TIMED_RANGE_PROGRAM}).out.substr(0, 64);
    EXPECT_EQ(build["binary_sha256"], sha);
    std::string version = run_process({CXX_COMPILER, "-dumpfullversion"}).out;
    version.erase(version.find_last_not_of("\n") + 1);
    EXPECT_EQ(build["compiler_version"], version);
    EXPECT_EQ(build["compiler_id"], "GNU");
    EXPECT_NE(build["compile_flags"].get<std::string>().find("-DFIRST_NUMBER=" + std::to_string(TIMED_FIRST)), std::string::npos) << build.dump();
    EXPECT_NE(build["openmp_library"].get<std::string>().find("libgomp"), std::string::npos);
    EXPECT_EQ(r["command"]["openmp_library_loaded"], build["openmp_library"]);

    EXPECT_EQ(r["host"]["cpu_affinity"], nlohmann::json::array({0}));
    EXPECT_EQ(r["host"]["omp_environment"]["OMP_NUM_THREADS"], "2");
    EXPECT_FALSE(r["host"].contains("hostname")) << "only when asked for";

    const nlohmann::json& timeline = r["timeline"];
    ASSERT_EQ(timeline["number"].size(), kTimedCount);
    std::vector<uint64_t> numbers = timeline["number"].get<std::vector<uint64_t>>();
    std::sort(numbers.begin(), numbers.end());
    for (uint64_t n = 0; n < kTimedCount; ++n) EXPECT_EQ(numbers[n], TIMED_FIRST + n);
    for (const auto& member : timeline["member"]) EXPECT_TRUE(member == 0 || member == 1);
    std::vector<double> arrived = timeline["arrived_ms"].get<std::vector<double>>();
    EXPECT_TRUE(std::is_sorted(arrived.begin(), arrived.end()));
    EXPECT_GE(arrived.front(), timeline["banner_ms"].get<double>() - 0.1);
    EXPECT_GT(r["clock"]["before"]["hz"].get<double>(), 0);
    EXPECT_GT(r["clock"]["after"]["hz"].get<double>(), 0);
}

// A binary is matched to its build by its bytes alone: a copy is still
// known; a changed binary is unknown, with the reason, never guessed.
TEST_F(Watch, TheBuildIsMatchedByHashNeverGuessed) {
    const std::string original = read_file(SMALL_RANGE_PROGRAM);
    const std::string description = read_file(std::string(SMALL_RANGE_PROGRAM) + ".build.json");
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(description.empty());
    struct {
        const char* context;
        std::string bytes;
        bool with_description;
        bool known;
        const char* why;
    } const cases[] = {
        {"a copy, moved away from its build", original, false, true, ""},
        {"changed after its build", original + std::string(1, '\0'), true, false, "describes another build"},
        {"changed, with no description", original + std::string(1, '\0'), false, false, "no build of this project"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        std::remove(log().c_str());
        std::remove(record().c_str());
        const std::string binary = dir_ + "/copy_of_benchmark";
        std::remove((binary + ".build.json").c_str());
        FILE* f = fopen(binary.c_str(), "wb");
        fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        chmod(binary.c_str(), 0755);
        if (c.with_description) {
            f = fopen((binary + ".build.json").c_str(), "wb");
            fwrite(description.data(), 1, description.size(), f);
            fclose(f);
        }
        ProcessResult result = run_process(watch({"--range", "0..99", log(), "--", binary}));
        ASSERT_EQ(result.exit_code, 0) << result.err;
        nlohmann::json build = nlohmann::json::parse(read_file(record()))["build"];
        EXPECT_EQ(build["known"], c.known) << build.dump();
        EXPECT_EQ(build["binary_path"], binary);
        if (!c.known) {
            EXPECT_NE(build["why_unknown"].get<std::string>().find(c.why), std::string::npos) << build.dump();
            EXPECT_FALSE(build.contains("compiler_version")) << "nothing from another build";
            EXPECT_NE(result.err.find("pre-flight: warning: the binary's build is unknown"), std::string::npos);
        }
    }
}

TEST_F(Watch, TheRecordGoesWhereAskedAndIsNeverOverwritten) {
    const std::string chosen = dir_ + "/chosen.json";
    ProcessResult first = run_process(
        watch({"--range", "0..99", "--record", chosen, "--hostname", log(), "--", SMALL_RANGE_PROGRAM}));
    ASSERT_EQ(first.exit_code, 0) << first.err;
    nlohmann::json r = nlohmann::json::parse(read_file(chosen));
    EXPECT_TRUE(r["host"]["hostname"].is_string());
    EXPECT_TRUE(read_file(record()).empty()) << "no record at the default place";

    std::remove(log().c_str());
    ProcessResult again = run_process(watch({"--range", "0..99", "--record", chosen, log(), "--", SMALL_RANGE_PROGRAM}));
    EXPECT_EQ(again.exit_code, 2);
    EXPECT_NE(again.err.find(chosen + " exists already"), std::string::npos) << again.err;
    EXPECT_EQ(nlohmann::json::parse(read_file(chosen)), r) << "the earlier record is untouched";
    EXPECT_FALSE(std::ifstream(log()).good()) << "the log it had created is removed again";
}

}  // namespace
