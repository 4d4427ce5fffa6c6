// The benchmark's range of numbers and the shapes of its output lines.
#pragma once

#include <cstdint>

namespace factorize {

// A closed range of numbers, first..last, that a benchmark build factors.
struct Range {
    uint64_t first = 1999999999;
    uint64_t last = 2000016382;

    uint64_t count() const { return last - first + 1; }
    bool contains(uint64_t n) const { return n >= first && n <= last; }
};

// The range the shipped benchmark factors.
constexpr Range kBenchmarkRange{};

}  // namespace factorize
