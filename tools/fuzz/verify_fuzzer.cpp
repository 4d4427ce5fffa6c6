// libFuzzer target over the verifier's input path: any bytes, fed in any
// pieces, must get an answer without a crash, a sanitizer report or a broken
// invariant. Built by the tests with clang (-fsanitize=fuzzer,address,undefined).
//
//     build/tests/verify_fuzzer -dict=tests/fixtures/verify.dict CORPUS tests/fixtures/verify
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "verify.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace factorize;
    // The first byte picks the range (the real one, or that of the small
    // fixtures, which valid lines can reach) and the size of the pieces.
    if (size == 0) return 0;
    const Range range = (data[0] & 1) ? Range{1999999999, 2000000008} : kBenchmarkRange;
    const size_t piece = 1 + (data[0] >> 1);
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    Verifier verifier(range);
    for (size_t i = 0; i < input.size(); i += piece) verifier.feed(input.substr(i, piece));
    verifier.finish();
    const VerifyResult& r = verifier.result();

    if (r.problems.kept.size() > kKeptMessages || r.problems.kept.size() > r.problems.total) __builtin_trap();
    if (r.valid() && (!r.complete || r.numbers_done != range.count() || r.team <= 0)) __builtin_trap();
    if (r.numbers_done > range.count()) __builtin_trap();
    for (const Message& m : r.problems.kept)
        if (m.line == 0 || m.line > r.lines + 1 || m.text.empty()) __builtin_trap();
    return 0;
}
