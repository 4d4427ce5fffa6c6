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
    for (uint64_t member = 0; member < blocks.size(); ++member) {
        ReferenceBlock block = reference_block(count, team, member);
        for (uint64_t offset = block.begin; offset < block.end; ++offset) blocks[member].push_back(run.first + offset);
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
