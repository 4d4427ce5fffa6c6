// No data race in the benchmark: a clang build with ThreadSanitizer, run with
// the Archer OpenMP tool (which tells ThreadSanitizer how OpenMP threads
// synchronize), must report nothing for any team size.
#include <gtest/gtest.h>

#include <string>

#include "support/process.hpp"

namespace {

using namespace testing_support;

ProcessOptions under_archer(const std::string& program, int threads) {
    ProcessOptions options;
    options.argv = {program};
    options.env = {
        {"OMP_NUM_THREADS", std::to_string(threads)},
        {"OMP_DYNAMIC", "false"},
        {"OMP_TOOL_LIBRARIES", ARCHER_LIBRARY},
        {"OMP_TOOL_VERBOSE_INIT", "stderr"},
        {"TSAN_OPTIONS", "ignore_noninstrumented_modules=1 halt_on_error=1"},
    };
    return options;
}

bool race_tools_missing() { return std::string(TSAN_BENCHMARK).empty() || std::string(ARCHER_LIBRARY).empty(); }

const char kSkip[] = "clang++ with ThreadSanitizer and the Archer OpenMP tool (libarcher.so) not found";

TEST(Races, NoneForAnyTeamSize) {
    if (race_tools_missing()) GTEST_SKIP() << kSkip;
    for (int threads : {1, 2, 3, 8, 64}) {
        SCOPED_TRACE("team of " + std::to_string(threads));
        ProcessResult result = run_process(under_archer(TSAN_BENCHMARK, threads));
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_NE(result.err.find("Tool was started"), std::string::npos) << "Archer did not start:\n" << result.err;
        EXPECT_EQ(result.err.find("ThreadSanitizer"), std::string::npos) << result.err;
        EXPECT_EQ(split_lines(result.out).size(), static_cast<size_t>(TSAN_COUNT) + 3);
    }
}

// A start time stored by every member without synchronization, the fault the
// benchmark avoids: the same setup must report it.
TEST(Races, TheSetupReportsAnUnsynchronizedStore) {
    if (race_tools_missing()) GTEST_SKIP() << kSkip;
    ProcessResult result = run_process(under_archer(TSAN_RACY_FIXTURE, 4));
    EXPECT_NE(result.err.find("WARNING: ThreadSanitizer: data race"), std::string::npos) << result.err;
    EXPECT_NE(result.exit_code, 0);
}

}  // namespace
