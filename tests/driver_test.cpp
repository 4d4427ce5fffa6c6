// The whole benchmark program, built with small ranges fixed at build time
// and run as a separate process. A preloaded stand-in for printf tells which
// team member printed which line, so the block split can be checked without
// changing the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.hpp"
#include "support/reference.hpp"

namespace {

using namespace testing_support;

std::string banner(int threads) {
    char text[128];
    snprintf(text, sizeof text, "Benchmarking scalar factorization with OpenMP using %d threads...:", threads);
    return text;
}

struct Range {
    const char* program;
    uint64_t first, last;
    uint64_t count() const { return last - first + 1; }
};

const Range kSmall{SMALL_RANGE_PROGRAM, SMALL_FIRST, SMALL_LAST};
const Range kTimed{TIMED_RANGE_PROGRAM, TIMED_FIRST, TIMED_LAST};

ProcessOptions team_of(const Range& range, int threads, std::vector<std::string> args = {}) {
    ProcessOptions options;
    options.argv = {range.program};
    for (auto& a : args) options.argv.push_back(a);
    options.env = {{"OMP_NUM_THREADS", std::to_string(threads)}, {"OMP_DYNAMIC", "false"}};
    return options;
}

struct Report {
    double elapsed = -1, rate = -1;
};

// Checks the output's shape: banner, one line per number of the range
// matching the reference, the two report lines, nothing else.
Report expect_whole_output(const Range& range, int threads, const std::string& out) {
    Report report;
    std::vector<std::string> lines = split_lines(out);
    EXPECT_FALSE(out.empty());
    if (out.empty()) return report;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(lines.size(), range.count() + 3);
    if (lines.size() != range.count() + 3) return report;

    EXPECT_EQ(lines[0], banner(threads));
    std::multiset<std::string> printed(lines.begin() + 1, lines.end() - 2);
    std::multiset<std::string> expected;
    for (uint64_t n = range.first; n <= range.last; ++n) {
        std::string line = reference_line(n);
        expected.insert(line.substr(0, line.size() - 1));
    }
    EXPECT_EQ(printed, expected);

    std::smatch m;
    const std::regex elapsed_re("Elapsed time: (\\d+\\.\\d\\d) seconds");
    const std::regex rate_re("Factorizations per second: (\\d+\\.\\d\\d)");
    EXPECT_TRUE(std::regex_match(lines[lines.size() - 2], m, elapsed_re)) << lines[lines.size() - 2];
    if (!m.empty()) report.elapsed = std::stod(m[1]);
    EXPECT_TRUE(std::regex_match(lines.back(), m, rate_re)) << lines.back();
    if (!m.empty()) report.rate = std::stod(m[1]);
    return report;
}

// Reads the records of the printf stand-in: for each member, the team size
// it saw and the numbers it printed, in order.
struct MemberRecord {
    std::set<int> teams;
    std::vector<uint64_t> numbers;
};

std::map<int, MemberRecord> read_records(const std::string& err) {
    std::map<int, MemberRecord> members;
    const std::regex record("printed by member (\\d+) of a team of (\\d+): (\\d+): .*");
    for (const std::string& line : split_lines(err)) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, record)) << "unexpected standard error: " << line;
        if (m.empty()) continue;
        MemberRecord& member = members[std::stoi(m[1])];
        member.teams.insert(std::stoi(m[2]));
        member.numbers.push_back(std::stoull(m[3]));
    }
    return members;
}

TEST(Driver, SplitsTheRangeIntoOneAscendingBlockPerMember) {
    struct {
        const char* context;
        int threads;
    } const cases[] = {
        {"a team of one takes the whole range", 1},
        {"a remainder over the first members", 3},
        {"an even split", 8},
        {"a remainder of 4 over 12 members", 12},
        {"more members than numbers: one each, the rest none", 130},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        ProcessOptions options = team_of(kSmall, c.threads);
        options.env["LD_PRELOAD"] = PRINTF_RECORDER;
        ProcessResult result = run_process(options);
        EXPECT_EQ(result.exit_code, 0);
        expect_whole_output(kSmall, c.threads, result.out);

        std::map<int, MemberRecord> members = read_records(result.err);
        for (int member = 0; member < c.threads; ++member) {
            ReferenceBlock block =
                reference_block(kSmall.count(), static_cast<uint64_t>(c.threads), static_cast<uint64_t>(member));
            std::vector<uint64_t> expected;
            for (uint64_t offset = block.begin; offset < block.end; ++offset) expected.push_back(kSmall.first + offset);
            const MemberRecord& record = members[member];
            EXPECT_EQ(record.numbers, expected) << "member " << member;
            if (!record.numbers.empty()) {
                EXPECT_EQ(record.teams, std::set<int>{c.threads}) << "member " << member;
            }
        }
        EXPECT_LE(members.size(), static_cast<size_t>(c.threads));
    }
}

TEST(Driver, TeamOfOnePrintsInAscendingOrder) {
    ProcessResult result = run_process(team_of(kSmall, 1));
    std::vector<std::string> lines = split_lines(result.out);
    ASSERT_EQ(lines.size(), kSmall.count() + 3);
    for (uint64_t i = 0; i < kSmall.count(); ++i) {
        std::string line = reference_line(kSmall.first + i);
        EXPECT_EQ(lines[i + 1] + "\n", line);
    }
}

// The elapsed time is one member's entry reading subtracted from the reading
// after the sweep, and the rate is the count over the unrounded elapsed time.
TEST(Driver, ReportsElapsedTimeAndTheRateThatFollowsFromIt) {
    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE("team of " + std::to_string(threads));
        auto before = std::chrono::steady_clock::now();
        ProcessResult result = run_process(team_of(kTimed, threads));
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        EXPECT_EQ(result.exit_code, 0);
        Report report = expect_whole_output(kTimed, threads, result.out);
        ASSERT_GT(report.rate, 0);
        EXPECT_GE(report.elapsed, 0.0);
        EXPECT_LE(report.elapsed, wall + 0.005) << "the measured span lies inside the process's lifetime";
        // count / rate is the unrounded elapsed time, which prints as the
        // elapsed time within half a unit of its last decimal. The rate is
        // itself rounded to 0.005, which moves count / rate by up to
        // elapsed^2 / count * 0.005: on a loaded machine, a slow run's share.
        const double count = static_cast<double>(kTimed.count());
        double unrounded = count / report.rate;
        EXPECT_NEAR(unrounded, report.elapsed, 0.005 + unrounded * unrounded / count * 0.005 + 1e-6 + unrounded * 1e-6);
    }
}

TEST(Driver, IgnoresItsArguments) {
    ProcessResult plain = run_process(team_of(kSmall, 1));
    ProcessResult with_args = run_process(team_of(kSmall, 1, {"--help", "-n", "7", "", "extra argument"}));
    EXPECT_EQ(with_args.exit_code, 0);
    EXPECT_EQ(with_args.err, "");
    std::vector<std::string> a = split_lines(plain.out), b = split_lines(with_args.out);
    ASSERT_EQ(a.size(), b.size());
    a.resize(a.size() - 2);  // the report lines hold times, which differ
    b.resize(b.size() - 2);
    EXPECT_EQ(a, b);
}

TEST(Driver, ExitsWithZeroWhenStandardOutputFails) {
    ProcessOptions options = team_of(kSmall, 2);
    options.stdout_path = "/dev/full";
    ProcessResult result = run_process(options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
}

TEST(Driver, WritesNothingToStandardError) {
    ProcessResult result = run_process(team_of(kSmall, 3));
    EXPECT_EQ(result.err, "");
}

// The shipped program on its real range, with a team of one, run for a few
// seconds and stopped. stdbuf makes its standard output line-buffered from
// outside, so the first lines arrive before it is stopped.
TEST(Driver, RealRangeStartsWithItsFirstThreeNumbers) {
    std::string stdbuf = find_program("stdbuf");
    if (stdbuf.empty()) GTEST_SKIP() << "stdbuf (GNU coreutils) not found; cannot see the first lines early";
    ProcessOptions options;
    options.argv = {stdbuf, "-oL", BENCHMARK_PROGRAM};
    options.env = {{"OMP_NUM_THREADS", "1"}, {"OMP_DYNAMIC", "false"}};
    Child child(options);
    const std::vector<std::string> expected = {
        banner(1),
        "1999999999: 31x64516129",
        "2000000000: 2x2x2x2x2x2x2x2x2x2x5x5x5x5x5x5x5x5x5",
        "2000000001: 3x666666667",
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (split_lines(child.out_so_far()).size() < expected.size() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    child.send_signal(SIGKILL);
    ProcessResult result = child.wait();
    std::vector<std::string> lines = split_lines(result.out);
    ASSERT_GE(lines.size(), expected.size()) << result.out;
    lines.resize(expected.size());
    EXPECT_EQ(lines, expected);
}

}  // namespace
