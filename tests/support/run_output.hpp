// Benchmark outputs made by the tests themselves, from the reference
// factorization: what a correct run of a given team prints.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "reference.hpp"

namespace testing_support {

struct MadeRun {
    uint64_t first = 1999999999, last = 2000016382;
    int team = 2;
    double elapsed = 3675.95;
};

// Returns the lines of a correct run, each with its "\n": the banner, each
// member's block in ascending order with the members' lines interleaved
// round-robin, and the two report lines.
inline std::vector<std::string> made_run_lines(const MadeRun& run) {
    const uint64_t count = run.last - run.first + 1, team = static_cast<uint64_t>(run.team);
    std::vector<std::string> lines;
    char text[128];
    snprintf(text, sizeof text, "Benchmarking scalar factorization with OpenMP using %d threads...:\n", run.team);
    lines.push_back(text);
    std::vector<std::vector<uint64_t>> blocks(std::min(team, count));
    const uint64_t q = count / team, r = count % team;
    for (uint64_t member = 0; member < blocks.size(); ++member) {
        uint64_t begin = member < r ? member * (q + 1) : member * q + r;
        uint64_t size = member < r ? q + 1 : q;
        for (uint64_t i = 0; i < size; ++i) blocks[member].push_back(run.first + begin + i);
    }
    for (size_t i = 0; lines.size() < count + 1; ++i)
        for (const auto& block : blocks)
            if (i < block.size()) lines.push_back(reference_line(block[i]));
    snprintf(text, sizeof text, "Elapsed time: %.2f seconds\n", run.elapsed);
    lines.push_back(text);
    snprintf(text, sizeof text, "Factorizations per second: %.2f\n", static_cast<double>(count) / run.elapsed);
    lines.push_back(text);
    return lines;
}

inline std::string made_run(const MadeRun& run) {
    std::string text;
    for (const std::string& line : made_run_lines(run)) text += line;
    return text;
}

}  // namespace testing_support
