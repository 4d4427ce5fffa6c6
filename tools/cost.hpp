// The cost model: how many remainder tests the benchmark's loop makes.
//
// A number n >= 2 whose largest prime factor is p, with k prime factors
// counted with multiplicity, costs exactly p - 1 + k remainder tests: one for
// each candidate from 2 to p, and one more after each factor found. 0 and 1
// cost none. A team's elapsed time is set by its slowest member's block.
#pragma once

#include <cstdint>
#include <vector>

#include "range.hpp"
#include "split.hpp"

namespace factorize {

// Returns the remainder tests for a number with these prime factors
// (ascending, with multiplicity; empty for 0 and 1).
uint64_t remainder_tests(const std::vector<uint64_t>& factors);

// The cost of one team size over a range.
struct TeamCost {
    uint64_t team = 0;
    uint64_t total = 0;                  // remainder tests of the whole range
    uint64_t slowest_member = 0;         // the lowest-numbered among the slowest
    uint64_t slowest_tests = 0;          // its block's remainder tests
    std::vector<uint64_t> member_tests;  // per member with a nonempty block

    // Returns total / (team * slowest_tests): 1 when every member has
    // the same work, lower as the slowest member waits less for others.
    double split_efficiency() const;
};

// The per-number costs of a range, factored once by a fast method.
class RangeCost {
public:
    explicit RangeCost(Range range = kBenchmarkRange);

    const Range& range() const { return range_; }
    uint64_t total() const { return prefix_.back(); }
    // Returns the cost of the number at this offset into the range.
    uint64_t number_tests(uint64_t offset) const { return prefix_[offset + 1] - prefix_[offset]; }
    // Returns the cost of the offsets [begin, end).
    uint64_t span_tests(uint64_t begin, uint64_t end) const { return prefix_[end] - prefix_[begin]; }
    // Returns the split of the range over a team of team >= 1 members.
    TeamCost team_cost(uint64_t team) const;

private:
    Range range_;
    std::vector<uint64_t> prefix_;  // prefix_[i]: the cost of the first i numbers
};

// Predicts the elapsed seconds of members with these remainder tests on cpus
// cores that each make rate remainder tests per second. While more members
// are busy than there are cores, they share the cores evenly.
double predicted_elapsed(std::vector<uint64_t> member_tests, uint64_t cpus, double rate);

}  // namespace factorize
