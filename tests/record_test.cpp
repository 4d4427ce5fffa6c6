// The parts of a run's record: the hash that names the binary, the clock
// estimate, the timeline's per-core rate, the pre-flight and the team it
// expects, and what is flagged about the clock.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clock.hpp"
#include "preflight.hpp"
#include "record.hpp"
#include "sha256.hpp"
#include "timeline.hpp"

namespace {

using namespace factorize;

TEST(Sha256, MatchesTheStandardVectors) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks, and a length that ends exactly where padding must spill over.
    EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256_hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ClockEstimate, IsPositiveAndRepeatable) {
    std::optional<ClockEstimate> first = estimate_clock();
    std::optional<ClockEstimate> second = estimate_clock();
    ASSERT_TRUE(first && second) << "x86-64 has the addition chain";
    EXPECT_GT(first->hz, 1e8);
    EXPECT_LT(first->hz, 1e10);
    EXPECT_LE(first->low_hz, first->hz);
    EXPECT_GE(first->high_hz, first->hz);
    EXPECT_FALSE(first->cpus.empty());
    // Medians of many tries on the same cores: a loaded machine may slow a
    // try, but not the median by a fifth.
    EXPECT_NEAR(second->hz / first->hz, 1.0, 0.2) << first->hz << " then " << second->hz;
}

TEST(ClockVerdict, FlagsWhatLooksWrong) {
    ClockEstimate at3ghz;
    at3ghz.hz = 3e9;
    ClockEstimate at2ghz;
    at2ghz.hz = 2e9;
    struct {
        const char* context;
        std::optional<ClockEstimate> before, after;
        std::optional<double> kernel_mhz;
        size_t flags;
        const char* says;
    } const cases[] = {
        {"agrees with the kernel", at3ghz, at3ghz, 3000, 0, ""},
        {"far above the kernel's clock", at3ghz, at3ghz, 2100, 1, "above the kernel's reported clock"},
        {"far below it", at2ghz, at2ghz, 3000, 1, "below the kernel's reported clock"},
        {"the clock changed during the run", at3ghz, at2ghz, std::nullopt, 1, "changed during the run"},
        {"no estimate", std::nullopt, std::nullopt, 3000, 1, "no estimate"},
    };
    for (const auto& c : cases) {
        ClockVerdict v = judge_clock(c.before, c.after, c.kernel_mhz, 5e8);
        ASSERT_EQ(v.flags.size(), c.flags) << c.context;
        if (c.flags) {
            EXPECT_NE(v.flags[0].find(c.says), std::string::npos) << c.context << ": " << v.flags[0];
        }
    }
    ClockVerdict v = judge_clock(at3ghz, at3ghz, 3000, 5e8);
    EXPECT_DOUBLE_EQ(v.cycles_per_test.value_or(0), 6.0);
}

// Two members at a steady 1e8 tests/s, one slowing to half in the second
// half of the run: the rate numbers, the median, and the trend show it.
TEST(Timeline, MeasuresThePerCoreRateNumberByNumber) {
    Timeline timeline;
    timeline.banner(100);
    double clock[2] = {100, 100};
    for (int i = 0; i < 40; ++i)
        for (int member = 0; member < 2; ++member) {
            double rate = (member == 1 && i >= 20) ? 5e7 : 1e8;
            uint64_t tests = 50'000'000;  // 0.5 s at full speed
            clock[member] += static_cast<double>(tests) / rate * 1000;
            timeline.add({static_cast<uint64_t>(1000 + 2 * i + member), tests, member}, clock[member]);
            // A short number right after: too short to time, but its time counts.
            clock[member] += 5;
            timeline.add({static_cast<uint64_t>(5000 + 2 * i + member), 500'000, member}, clock[member]);
        }
    std::vector<RateSample> samples = timeline.rate_samples();
    ASSERT_EQ(samples.size(), 80u) << "only the long numbers are timed";
    EXPECT_DOUBLE_EQ(samples[0].rate, 5e7 / 0.5);
    std::optional<RateStats> stats = rate_stats(samples);
    ASSERT_TRUE(stats);
    EXPECT_DOUBLE_EQ(stats->median, 1e8);
    EXPECT_DOUBLE_EQ(stats->p10, 5e7);
    ASSERT_TRUE(stats->trend);
    EXPECT_LT(*stats->trend, -0.2) << "the slow second half must show";
    std::vector<double> finish = timeline.member_finish_ms();
    ASSERT_EQ(finish.size(), 2u);
    EXPECT_DOUBLE_EQ(finish[0], clock[0]);
    EXPECT_DOUBLE_EQ(finish[1], clock[1]);

    nlohmann::json j = timeline_json(timeline);
    EXPECT_EQ(j["number"].size(), 160u);
    EXPECT_EQ(j["per_core_rate"]["samples"], 80);
}

TEST(Timeline, WithoutABannerOrSamplesSaysNothing) {
    Timeline timeline;
    timeline.add({7, 10, 0}, 50);
    EXPECT_TRUE(timeline.rate_samples().empty());
    EXPECT_FALSE(rate_stats({}).has_value());
    EXPECT_TRUE(timeline_json(timeline)["per_core_rate"]["median"].is_null());
}

TEST(Preflight, WarnsAboutWhatMakesARunUnfitToCompare) {
    const nlohmann::json gcc_release = {{"compiler_id", "GNU"}, {"build_type", "Release"}, {"compile_flags", "-O3 -fopenmp"}};
    const nlohmann::json clang_debug = {{"compiler_id", "Clang"}, {"build_type", "Debug"}, {"compile_flags", "-g -O0"}};
    struct {
        const char* context;
        PreflightFacts facts;
        std::vector<std::string> says;  // in order; empty for nothing
    } const cases[] = {
        {"an idle, dedicated machine", {0.02, "performance", 2, 2, 2, true, gcc_release, false}, {}},
        {"a forced load", {1.5, "performance", 2, 2, 2, true, gcc_release, false}, {"warning: the load average is 1.50"}},
        {"a saving governor", {0.0, "powersave", 2, 2, 2, true, gcc_release, false}, {"\"powersave\", not \"performance\""}},
        {"a forced affinity: more members than CPUs", {0.0, std::nullopt, 4, 1, 1, true, gcc_release, false},
         {"a team of 4 on 1 CPUs"}},
        {"members sharing cores", {0.0, std::nullopt, 4, 4, 2, true, gcc_release, false}, {"a team of 4 on 2 cores"}},
        {"an unknown build", {0.0, std::nullopt, 2, 2, 2, true, std::nullopt, false}, {"build is unknown"}},
        {"an unoptimized clang build", {0.0, std::nullopt, 2, 2, 2, true, clang_debug, false},
         {"not optimized for speed (-O0, build type \"Debug\")", "built by Clang, not GCC"}},
        {"a virtual machine: a note", {0.0, std::nullopt, 2, 2, 2, true, gcc_release, true}, {"note: a hypervisor"}},
    };
    for (const auto& c : cases) {
        std::string text = preflight_text(preflight(c.facts));
        if (c.says.empty()) {
            EXPECT_EQ(text, "") << c.context;
        }
        size_t at = 0;
        for (const std::string& said : c.says) {
            at = text.find(said, at);
            EXPECT_NE(at, std::string::npos) << c.context << ": expected \"" << said << "\" in\n" << text;
        }
    }
}

TEST(Preflight, ExpectsTheTeamTheRuntimeWillGive) {
    struct {
        const char* context;
        std::map<std::string, std::string> env;
        uint64_t cpus;
        int64_t team;
    } const cases[] = {
        {"unset: the CPUs it may use", {}, 3, 3},
        {"OMP_NUM_THREADS", {{"OMP_NUM_THREADS", "8"}}, 2, 8},
        {"a nested list: the first level", {{"OMP_NUM_THREADS", "4,2"}}, 2, 4},
        {"capped by OMP_THREAD_LIMIT", {{"OMP_NUM_THREADS", "8"}, {"OMP_THREAD_LIMIT", "3"}}, 16, 3},
        {"unreadable", {{"OMP_NUM_THREADS", "many"}}, 2, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(default_team(c.env, c.cpus), c.team) << c.context;
}

}  // namespace
