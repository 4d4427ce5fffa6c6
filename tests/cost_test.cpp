// The block split and the cost model.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cost.hpp"
#include "primes.hpp"
#include "split.hpp"
#include "support/reference.hpp"

namespace {

using namespace factorize;

TEST(BlockSplit, MatchesTheWorkedExamples) {
    struct {
        const char* context;
        uint64_t count, team, member, begin, size;
    } const cases[] = {
        // A team of 12 over 16384: q = 1365, r = 4.
        {"team of 12: first long block", 16384, 12, 0, 0, 1366},
        {"team of 12: last long block", 16384, 12, 3, 4098, 1366},
        {"team of 12: first short block", 16384, 12, 4, 5464, 1365},
        {"team of 12: last block", 16384, 12, 11, 15019, 1365},
        // Even splits.
        {"team of 8: every block 2048", 16384, 8, 5, 10240, 2048},
        {"team of 1: the whole range", 16384, 1, 0, 0, 16384},
        // More members than numbers: q = 0, r = count.
        {"team of 20000: one number each", 16384, 20000, 16383, 16383, 1},
        {"team of 20000: the rest none", 16384, 20000, 16384, 16384, 0},
        {"team of 20000: the last member none", 16384, 20000, 19999, 16384, 0},
    };
    for (const auto& c : cases) {
        Block block = block_of(c.count, c.team, c.member);
        EXPECT_EQ(block.begin, c.begin) << c.context;
        EXPECT_EQ(block.size, c.size) << c.context;
    }
}

// Whatever the team, the blocks tile the range in member order, and
// member_of finds the block that holds each offset.
TEST(BlockSplit, BlocksTileTheRangeAndMemberOfInvertsThem) {
    for (uint64_t count : {1ULL, 7ULL, 100ULL, 16384ULL}) {
        for (uint64_t team : {1ULL, 2ULL, 3ULL, 7ULL, 8ULL, 12ULL, 99ULL, 100ULL, 101ULL, 16385ULL}) {
            SCOPED_TRACE("count " + std::to_string(count) + ", team " + std::to_string(team));
            uint64_t next = 0;
            for (uint64_t member = 0; member < team; ++member) {
                Block block = block_of(count, team, member);
                ASSERT_EQ(block.begin, next) << "member " << member;
                uint64_t expected_size = count / team + (member < count % team ? 1 : 0);
                ASSERT_EQ(block.size, expected_size) << "member " << member;
                for (uint64_t offset = block.begin; offset < block.end(); ++offset)
                    ASSERT_EQ(member_of(count, team, offset), member) << "offset " << offset;
                next = block.end();
            }
            EXPECT_EQ(next, count);
            EXPECT_EQ(busy_members(count, team), std::min(count, team));
        }
    }
}

TEST(CostModel, CountsTheBenchmarksRemainderTests) {
    struct {
        const char* context;
        uint64_t n;
        uint64_t tests;
    } const cases[] = {
        {"0 never enters the loop", 0, 0},
        {"1 never enters the loop", 1, 0},
        {"2: one test finds it, one more after it", 2, 2},
        {"12 = 2*2*3: candidates 2 and 3, and three factors", 12, 5},
        {"the range's last number", 2000016382, 2866},
        {"a prime p costs p", 2000000011, 2000000011},
        {"2^64 - 1: largest factor 6700417, seven factors", 18446744073709551615ULL, 6700417 - 1 + 7},
    };
    for (const auto& c : cases) EXPECT_EQ(remainder_tests(prime_factors(c.n)), c.tests) << c.context;
}

// The model against the count of the loop itself, run for every small number.
TEST(CostModel, AgreesWithTheLoopOnEverySmallNumber) {
    for (uint64_t n = 0; n <= 3000; ++n)
        ASSERT_EQ(remainder_tests(prime_factors(n)), testing_support::reference_remainder_tests(n)) << n;
}

TEST(CostModel, ReproducesTheReferenceFiguresOfTheRange) {
    RangeCost costs;
    EXPECT_EQ(costs.total(), 2604321761481ULL);
    TeamCost one = costs.team_cost(1);
    EXPECT_EQ(one.slowest_tests, 2604321761481ULL);
    EXPECT_DOUBLE_EQ(one.split_efficiency(), 1.0);
    TeamCost two = costs.team_cost(2);
    EXPECT_EQ(two.slowest_tests, 1310199216627ULL);
    EXPECT_EQ(two.slowest_member, 1u);
    EXPECT_EQ(two.member_tests[0] + two.member_tests[1], costs.total());
    EXPECT_NEAR(two.split_efficiency(), 2604321761481.0 / (2 * 1310199216627.0), 1e-12);
    TeamCost huge = costs.team_cost(20000);
    EXPECT_EQ(huge.member_tests.size(), 16384u);
    EXPECT_EQ(huge.slowest_tests, 2000016371ULL) << "the largest prime of the range, alone in its block";
}

TEST(CostModel, SmallRangesAddUpNumberByNumber) {
    RangeCost costs(Range{0, 99});
    uint64_t total = 0;
    for (uint64_t n = 0; n <= 99; ++n) {
        EXPECT_EQ(costs.number_tests(n), testing_support::reference_remainder_tests(n)) << n;
        total += testing_support::reference_remainder_tests(n);
    }
    EXPECT_EQ(costs.total(), total);
}

TEST(Prediction, SharesCoresEvenlyAmongBusyMembers) {
    struct {
        const char* context;
        std::vector<uint64_t> tests;
        uint64_t cpus;
        double rate, seconds;
    } const cases[] = {
        {"one member", {100}, 4, 10, 10},
        {"enough cores: the slowest decides", {100, 300, 200}, 4, 10, 30},
        {"two members on one core: the total decides", {100, 100}, 1, 10, 20},
        // 4 members on 2 cores: all four at half speed until the two of 100
        // finish (20 s), then the two of 300 at full speed for 200 more.
        {"oversubscribed, uneven", {100, 300, 100, 300}, 2, 10, 40},
        {"no members", {}, 2, 10, 0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(predicted_elapsed(c.tests, c.cpus, c.rate), c.seconds) << c.context;
}

}  // namespace
