// The benchmark measures unsigned 64-bit division. A compiler may replace a
// 64-bit division by a 32-bit one when both operands happen to fit (clang
// does on x86-64), which would silently change what is measured. These tests
// read the built program's machine code and fail on any narrower division,
// and count the divisions it executes under a debugger.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/reference.hpp"

namespace {

using namespace testing_support;

struct Census {
    int wide = 0;                      // 64-bit integer divisions
    int narrow = 0;                    // 8-, 16- or 32-bit integer divisions
    std::vector<std::string> narrows;  // the offending instructions
};

// Returns the operand width in bits of an AT&T integer division, or 0 when
// the instruction is not an integer division at all (divsd, fdiv, ...).
int division_width(const std::string& mnemonic, const std::string& operands) {
    static const std::regex division("i?div([bwlq]?)");
    std::smatch m;
    if (!std::regex_match(mnemonic, m, division)) return 0;
    const std::string suffix = m[1];
    if (suffix == "q") return 64;
    if (suffix == "l") return 32;
    if (suffix == "w") return 16;
    if (suffix == "b") return 8;
    static const std::regex r64("%r([abcd]x|[sd]i|[sb]p|[89]|1[0-5])"), r32("%(e[a-z]{2}|r[0-9]+d)"),
        r16("%([abcd]x|[sd]i|[sb]p|r[0-9]+w)"), r8("%([abcd][lh]|[sd]il|[sb]pl|r[0-9]+b)");
    if (std::regex_match(operands, r64)) return 64;
    if (std::regex_match(operands, r32)) return 32;
    if (std::regex_match(operands, r16)) return 16;
    if (std::regex_match(operands, r8)) return 8;
    return -1;  // a memory operand without a suffix: ambiguous, counted as narrow
}

// Returns the offsets of the integer divisions from the start of function.
std::vector<long> division_offsets(const std::string& disassembly, const std::string& function) {
    std::vector<long> offsets;
    static const std::regex header("([0-9a-f]+) <(.+)>:"), instruction("\\s*([0-9a-f]+):\\s+(\\S+)\\s*(\\S*).*");
    long start = -1;
    for (const std::string& line : split_lines(disassembly)) {
        std::smatch m;
        if (std::regex_match(line, m, header)) {
            start = m[2] == function ? std::stol(m[1], nullptr, 16) : -1;
        } else if (start >= 0 && std::regex_match(line, m, instruction) && division_width(m[2], m[3]) != 0) {
            offsets.push_back(std::stol(m[1], nullptr, 16) - start);
        }
    }
    return offsets;
}

// Counts the integer divisions in the functions of a disassembly whose names
// begin with one of the prefixes (outlined parts and clones included).
Census census(const std::string& disassembly, const std::vector<std::string>& prefixes) {
    Census result;
    static const std::regex header("[0-9a-f]+ <(.+)>:"), instruction("\\s*[0-9a-f]+:\\s+(\\S+)\\s*(\\S*).*");
    bool inside = false;
    for (const std::string& line : split_lines(disassembly)) {
        std::smatch m;
        if (std::regex_match(line, m, header)) {
            inside = false;
            for (const auto& prefix : prefixes) inside |= m[1].str().rfind(prefix, 0) == 0;
        } else if (inside && std::regex_match(line, m, instruction)) {
            int width = division_width(m[1], m[2]);
            if (width == 64) {
                ++result.wide;
            } else if (width != 0) {
                ++result.narrow;
                result.narrows.push_back(line);
            }
        }
    }
    return result;
}

std::string disassemble(const std::string& program) {
    std::string objdump = find_program("objdump");
    if (objdump.empty()) return "";
    ProcessResult result = run_process(std::vector<std::string>{objdump, "-d", "--no-show-raw-insn", program});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
}

#if defined(__x86_64__)
constexpr bool kX86_64 = true;
#else
constexpr bool kX86_64 = false;
#endif

const std::vector<std::string> kBenchmarkCode = {"_Z9factorizey", "main"};

TEST(DivisionWidth, ReadsInstructionsRight) {
    struct {
        const char* mnemonic;
        const char* operands;
        int width;
    } const cases[] = {
        // Register operands name the width.
        {"div", "%rcx", 64}, {"div", "%r13", 64}, {"idiv", "%r8", 64},
        {"div", "%ecx", 32}, {"div", "%r9d", 32},
        {"div", "%cx", 16}, {"div", "%r10w", 16},
        {"div", "%cl", 8}, {"divb", "(%rax)", 8},
        // Memory operands carry a suffix.
        {"divq", "0x8(%rsp)", 64}, {"divl", "0x8(%rsp)", 32},
        // Not integer divisions.
        {"divsd", "%xmm1,%xmm0", 0}, {"vdivpd", "%ymm1,%ymm2,%ymm3", 0}, {"fdivp", "%st,%st(1)", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(division_width(c.mnemonic, c.operands), c.width) << c.mnemonic << " " << c.operands;
}

TEST(DivisionWidth, BenchmarkDividesIn64BitsOnly) {
    if (!kX86_64) GTEST_SKIP() << "the division-width check reads x86-64 machine code; this is another architecture";
    std::string code = disassemble(BENCHMARK_PROGRAM);
    if (code.empty()) GTEST_SKIP() << "objdump (GNU binutils) not found; cannot read the machine code";
    Census found = census(code, kBenchmarkCode);
    EXPECT_EQ(found.narrow, 0) << "narrow divisions in the benchmark:\n"
                               << testing::PrintToString(found.narrows);
    Census factorize = census(code, {"_Z9factorizey"});
    EXPECT_GE(factorize.wide, 1) << "factorize performs no 64-bit division";
}

// plan's timing loop must divide as the benchmark does, or its rate would
// not predict the benchmark's time.
TEST(DivisionWidth, PlansTimingLoopDividesIn64BitsOnly) {
    if (!kX86_64) GTEST_SKIP() << "the division-width check reads x86-64 machine code; this is another architecture";
    std::string code = disassemble(CHECK_PROGRAM);
    if (code.empty()) GTEST_SKIP() << "objdump (GNU binutils) not found; cannot read the machine code";
    Census loop = census(code, {"_ZN9factorize19trial_division_span"});
    EXPECT_EQ(loop.narrow, 0) << testing::PrintToString(loop.narrows);
    EXPECT_GE(loop.wide, 1) << "the timing loop performs no 64-bit division";
}

// The same source built with clang: the check must see the substitution.
TEST(DivisionWidth, CatchesClangsSubstitution) {
    if (!kX86_64) GTEST_SKIP() << "the division-width check reads x86-64 machine code; this is another architecture";
    if (std::string(CLANG_BUILD).empty()) GTEST_SKIP() << "clang++ not found; no clang build to check against";
    std::string code = disassemble(CLANG_BUILD);
    if (code.empty()) GTEST_SKIP() << "objdump (GNU binutils) not found; cannot read the machine code";
    EXPECT_GT(census(code, kBenchmarkCode).narrow, 0);
}

}  // namespace

namespace {

// Runs a test build of the benchmark under gdb with a counting breakpoint on
// each division in factorize, and returns the divisions executed; -1 when
// gdb cannot run it (why goes to skip).
long count_divisions(const std::string& program, std::string& skip) {
    std::string gdb = find_program("gdb");
    if (gdb.empty()) {
        skip = "gdb not found; cannot count the divisions executed";
        return -1;
    }
    std::vector<long> offsets = division_offsets(disassemble(program), "_Z9factorizey");
    EXPECT_FALSE(offsets.empty());
    std::string dir = make_temp_dir(), script = dir + "/count.gdb";
    FILE* f = fopen(script.c_str(), "w");
    fputs("set pagination off\nset confirm off\nstarti\n", f);
    for (long offset : offsets) fprintf(f, "break *((char *)&factorize + %ld)\ncommands\nsilent\ncontinue\nend\n", offset);
    fputs("continue\ninfo breakpoints\n", f);
    fclose(f);
    ProcessOptions options;
    options.argv = {gdb, "-q", "-batch", "-nx", "-x", script, program};
    options.env = {{"OMP_NUM_THREADS", "1"}};
    ProcessResult result = run_process(options);
    if (result.out.find("exited normally") == std::string::npos) {
        skip = "gdb could not run the program here:\n" + result.out + result.err;
        return -1;
    }
    long total = 0;
    static const std::regex hits("breakpoint already hit (\\d+) times?");
    for (const std::string& line : split_lines(result.out)) {
        std::smatch m;
        if (std::regex_search(line, m, hits)) total += std::stol(m[1]);
    }
    return total;
}

// A number n >= 2 with largest prime factor p and k prime factors costs
// p - 1 + k remainder tests and p - 1 + 2k divisions: each factor found
// costs one more division for the quotient. No shortcut may lower this.
TEST(DivisionCount, FactorizeExecutesTheDivisionsOfTheCostModel) {
    if (!kX86_64) GTEST_SKIP() << "the division count reads x86-64 machine code; this is another architecture";
    if (find_program("objdump").empty()) GTEST_SKIP() << "objdump (GNU binutils) not found";
    struct {
        const char* context;
        const char* program;
        uint64_t first, last;
    } const cases[] = {
        {"12: 5 remainder tests and 8 divisions", TWELVE_PROGRAM, 12, 12},
        {"2000016382: 2866 remainder tests", LAST_NUMBER_PROGRAM, 2000016382, 2000016382},
        {"every number from 0 to 99", SMALL_RANGE_PROGRAM, 0, 99},
    };
    for (const auto& c : cases) {
        uint64_t expected = 0;
        for (uint64_t n = c.first; n <= c.last; ++n)
            expected += testing_support::reference_remainder_tests(n) + testing_support::reference_factors(n).size();
        std::string skip;
        long counted = count_divisions(c.program, skip);
        if (counted < 0) GTEST_SKIP() << skip;
        EXPECT_EQ(static_cast<uint64_t>(counted), expected) << c.context;
    }
}

}  // namespace
