// The benchmark's block split: one contiguous block per team member, the
// remainder spread one number each over the lowest-numbered members.
#pragma once

#include <cstdint>

namespace factorize {

// A member's block: the offsets [begin, begin + size) into the range.
struct Block {
    uint64_t begin = 0;
    uint64_t size = 0;
    uint64_t end() const { return begin + size; }
};

// Returns the block of member (0-based) in a team of team >= 1 members that
// splits count numbers.
Block block_of(uint64_t count, uint64_t team, uint64_t member);

// Returns the member whose block holds offset (< count) in a team of team.
uint64_t member_of(uint64_t count, uint64_t team, uint64_t offset);

// Returns how many members get at least one number: min(team, count).
uint64_t busy_members(uint64_t count, uint64_t team);

}  // namespace factorize
