#include "split.hpp"

namespace factorize {

Block block_of(uint64_t count, uint64_t team, uint64_t member) {
    uint64_t q = count / team, r = count % team;
    if (member < r) return {member * (q + 1), q + 1};
    return {member * q + r, q};
}

uint64_t member_of(uint64_t count, uint64_t team, uint64_t offset) {
    uint64_t q = count / team, r = count % team;
    uint64_t long_part = r * (q + 1);  // the blocks of q + 1 come first
    if (offset < long_part) return offset / (q + 1);
    return r + (offset - long_part) / q;
}

uint64_t busy_members(uint64_t count, uint64_t team) { return team < count ? team : count; }

}  // namespace factorize
