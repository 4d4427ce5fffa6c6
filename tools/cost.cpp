#include "cost.hpp"

#include <algorithm>

#include "primes.hpp"

namespace factorize {

uint64_t remainder_tests(const std::vector<uint64_t>& factors) {
    if (factors.empty()) return 0;
    return factors.back() - 1 + factors.size();
}

double TeamCost::split_efficiency() const {
    if (slowest_tests == 0) return 1.0;
    return static_cast<double>(total) / (static_cast<double>(team) * static_cast<double>(slowest_tests));
}

RangeCost::RangeCost(Range range) : range_(range), prefix_(range.count() + 1, 0) {
    for (uint64_t i = 0; i < range.count(); ++i)
        prefix_[i + 1] = prefix_[i] + remainder_tests(prime_factors(range.first + i));
}

TeamCost RangeCost::team_cost(uint64_t team) const {
    TeamCost cost;
    cost.team = team;
    cost.total = total();
    const uint64_t count = range_.count();
    for (uint64_t member = 0; member < busy_members(count, team); ++member) {
        Block block = block_of(count, team, member);
        uint64_t tests = span_tests(block.begin, block.end());
        cost.member_tests.push_back(tests);
        if (tests > cost.slowest_tests) {
            cost.slowest_tests = tests;
            cost.slowest_member = member;
        }
    }
    return cost;
}

double predicted_elapsed(std::vector<uint64_t> member_tests, uint64_t cpus, double rate) {
    // Processor sharing: sort the members by work; between two finishing
    // points every busy member advances at rate * min(1, cpus / busy).
    std::sort(member_tests.begin(), member_tests.end());
    double seconds = 0, done = 0;
    const size_t n = member_tests.size();
    for (size_t i = 0; i < n; ++i) {
        double busy = static_cast<double>(n - i);
        double speed = rate * std::min(1.0, static_cast<double>(cpus) / busy);
        seconds += (static_cast<double>(member_tests[i]) - done) / speed;
        done = static_cast<double>(member_tests[i]);
    }
    return seconds;
}

}  // namespace factorize
