// The verifier: the line parser, the factor checks, small corrupted outputs
// (fixtures/verify), whole runs made by the tests, and hostile input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/run_output.hpp"
#include "verify.hpp"

namespace {

using namespace factorize;
using testing_support::made_run;
using testing_support::MadeRun;
using testing_support::read_file;

TEST(ParseLine, ReadsEachKindOfLine) {
    struct {
        const char* line;
        ParsedLine::Kind kind;
        uint64_t number;
        std::vector<uint64_t> factors;
        int64_t team;
        double value;
    } const cases[] = {
        {"Benchmarking scalar factorization with OpenMP using 16 threads...:", ParsedLine::kBanner, 0, {}, 16, 0},
        {"1999999999: 31x64516129", ParsedLine::kFactorization, 1999999999, {31, 64516129}, 0, 0},
        {"2000000011: 2000000011", ParsedLine::kFactorization, 2000000011, {2000000011}, 0, 0},
        {"0: ", ParsedLine::kFactorization, 0, {}, 0, 0},
        {"18446744073709551615: 3x5", ParsedLine::kFactorization, 18446744073709551615ULL, {3, 5}, 0, 0},
        {"Elapsed time: 3675.95 seconds", ParsedLine::kElapsed, 0, {}, 0, 3675.95},
        {"Elapsed time: 0.00 seconds", ParsedLine::kElapsed, 0, {}, 0, 0},
        {"Factorizations per second: 4.46", ParsedLine::kRate, 0, {}, 0, 4.46},
    };
    for (const auto& c : cases) {
        ParsedLine parsed = parse_line(c.line);
        EXPECT_EQ(parsed.kind, c.kind) << c.line << ": " << parsed.error;
        EXPECT_EQ(parsed.number, c.number) << c.line;
        EXPECT_EQ(parsed.factors, c.factors) << c.line;
        EXPECT_EQ(parsed.team, c.team) << c.line;
        EXPECT_DOUBLE_EQ(parsed.value, c.value) << c.line;
    }
}

TEST(ParseLine, RejectsWhatPrintfCannotHavePrinted) {
    struct {
        const char* context;
        std::string line;
        const char* error;  // a part of the message
    } const cases[] = {
        // Banners.
        {"team of zero", "Benchmarking scalar factorization with OpenMP using 0 threads...:", "positive team size"},
        {"negative team", "Benchmarking scalar factorization with OpenMP using -2 threads...:", "positive team size"},
        {"team beyond int", "Benchmarking scalar factorization with OpenMP using 2147483648 threads...:", "banner"},
        {"banner cut short", "Benchmarking scalar factorization with OpenMP using 2 threads", "banner"},
        // Factorization lines.
        {"no space after the colon", "12:2x2x3", "factorization line"},
        {"a sign", "+12: 2x2x3", "other than a digit"},
        {"a leading zero", "012: 2x2x3", "leading zero"},
        {"a number beyond 64 bits", "18446744073709551616: 2", "beyond 64 bits"},
        {"two separators", "12: 2xx2x3", "empty factor"},
        {"a trailing separator", "12: 2x2x3x", "ends with the separator"},
        {"a space in the factors", "12: 2x2x3 ", "other than a digit"},
        {"a NUL byte", std::string("12: 2x2\0x3", 10), "\\x00"},
        // Report lines.
        {"one decimal", "Elapsed time: 1.5 seconds", "exactly two decimals"},
        {"three decimals", "Factorizations per second: 4.463", "exactly two decimals"},
        {"no unit", "Elapsed time: 1.50", "Elapsed time: SECONDS seconds"},
        {"not finite", "Factorizations per second: inf", "exactly two decimals"},
        {"negative", "Elapsed time: -0.01 seconds", "exactly two decimals"},
        {"leading zero", "Elapsed time: 01.50 seconds", "exactly two decimals"},
    };
    for (const auto& c : cases) {
        ParsedLine parsed = parse_line(c.line);
        EXPECT_EQ(parsed.kind, ParsedLine::kMalformed) << c.context;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << c.context << ": " << parsed.error;
    }
}

TEST(CheckFactors, AcceptsTheRightFactorsOnly) {
    struct {
        const char* context;
        uint64_t number;
        std::vector<uint64_t> factors;
        const char* error;  // "" when right, else a part of the message
    } const cases[] = {
        {"right", 12, {2, 2, 3}, ""},
        {"no factors for 1", 1, {}, ""},
        {"the largest Number", 18446744073709551615ULL, {3, 5, 17, 257, 641, 65537, 6700417}, ""},
        {"no factors for 12", 12, {}, "no factors"},
        {"a factor 1", 12, {1, 2, 2, 3}, "less than 2"},
        {"a factor 0", 0, {0}, "less than 2"},
        {"descending", 12, {3, 2, 2}, "ascending"},
        {"a composite factor", 12, {3, 4}, "not prime"},
        {"a strong pseudoprime as factor", 2047 * 2, {2, 2047}, "not prime"},
        {"a missing factor", 12, {2, 3}, "multiply to 6, not 12"},
        {"the product wraps around 2^64", 3, {3, 4294967311ULL, 4294967311ULL}, "overflows"},
    };
    for (const auto& c : cases) {
        std::string error = check_factors(c.number, c.factors);
        if (std::string(c.error).empty())
            EXPECT_EQ(error, "") << c.context;
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << c.context << ": " << error;
    }
}

VerifyResult verify_text(const std::string& text, Range range = kBenchmarkRange, size_t chunk = 65536) {
    Verifier verifier(range);
    for (size_t i = 0; i < text.size(); i += chunk) verifier.feed(std::string_view(text).substr(i, chunk));
    verifier.finish();
    return verifier.result();
}

// Small outputs of the ten numbers 1999999999..2000000008 from a team of 2,
// each with one fault, next to this file in fixtures/verify.
TEST(VerifyFixtures, EachFaultIsFoundOnItsLine) {
    const Range range{1999999999, 2000000008};
    struct {
        const char* file;
        uint64_t line;       // where the first problem is, 0 for a valid run
        const char* expect;  // a part of the first problem's text
        uint64_t problems;
    } const cases[] = {
        // Valid runs.
        {"valid.txt", 0, "", 0},
        {"valid_crlf.txt", 0, "", 0},
        {"out_of_order.txt", 0, "", 0},
        // The banner.
        {"empty.txt", 1, "empty input", 2},
        {"no_banner.txt", 1, "expected the banner", 1},
        {"zero_threads.txt", 1, "positive team size", 1},
        // The set of numbers.
        {"missing_number.txt", 11, "1 number of the range has no line (2000000003)", 1},
        {"duplicate_number.txt", 9, "2000000001 appears a second time (first on line 6)", 1},
        {"out_of_range.txt", 12, "2000000009 is outside the range 1999999999..2000000008", 1},
        // The factors.
        {"composite_factor.txt", 7, "factor 77 is not prime", 1},
        {"wrong_product.txt", 5, "multiply to 2001782095, not 2000000005", 1},
        {"descending_factors.txt", 8, "not in ascending order: 23 after 307", 1},
        {"factor_one.txt", 6, "factor 1 is less than 2", 1},
        {"overflow.txt", 4, "overflows 64 bits", 1},
        // The format of a line.
        {"leading_zero.txt", 9, "leading zero", 1},
        {"spaced_separator.txt", 10, "expected a factorization line", 1},
        {"upper_case_x.txt", 11, "expected a factorization line", 1},
        {"trailing_x.txt", 2, "ends with the separator x", 1},
        {"nul_byte.txt", 3, "\\x00", 1},
        // The report and the end.
        {"one_decimal.txt", 12, "exactly two decimals", 1},
        {"wrong_rate.txt", 13, "must lie between 7.96 and 8.04", 1},
        {"after_rate.txt", 14, "nothing may follow the rate line", 1},
        {"no_report.txt", 12, "ends before the elapsed-time line", 1},
        {"cut_mid_line.txt", 9, "no newline at its end", 4},
        {"mixed_endings.txt", 6, "line endings must be the same", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string text = read_file(std::string(FIXTURES_DIR) + "/verify/" + c.file);
        ASSERT_TRUE(!text.empty() || std::string(c.file) == "empty.txt") << "fixture not found";
        VerifyResult result = verify_text(text, range);
        EXPECT_EQ(result.problems.total, c.problems);
        EXPECT_EQ(result.valid(), c.line == 0);
        if (c.line == 0 || result.problems.kept.empty()) continue;
        EXPECT_EQ(result.problems.kept[0].line, c.line) << result.problems.kept[0].text;
        EXPECT_NE(result.problems.kept[0].text.find(c.expect), std::string::npos) << result.problems.kept[0].text;
    }
}

TEST(VerifyFixtures, AnOutOfOrderBlockIsOnlyAWarning) {
    VerifyResult result =
        verify_text(read_file(std::string(FIXTURES_DIR) + "/verify/out_of_order.txt"), Range{1999999999, 2000000008});
    EXPECT_TRUE(result.valid());
    ASSERT_EQ(result.warnings.total, 1u);
    EXPECT_EQ(result.warnings.kept[0].line, 6u);
    EXPECT_NE(result.warnings.kept[0].text.find("member 0"), std::string::npos);
}

TEST(VerifyWholeRun, AcceptsACorrectRunAndSumsItsCost) {
    for (int team : {1, 2, 3, 12}) {
        SCOPED_TRACE("team of " + std::to_string(team));
        MadeRun run;
        run.team = team;
        VerifyResult result = verify_text(made_run(run));
        EXPECT_TRUE(result.valid()) << (result.problems.kept.empty() ? "" : result.problems.kept[0].text);
        EXPECT_TRUE(result.complete);
        EXPECT_EQ(result.warnings.total, 0u);
        EXPECT_EQ(result.team, team);
        EXPECT_EQ(result.numbers_done, 16384u);
        EXPECT_EQ(result.lines, 16387u);
        EXPECT_EQ(result.total_tests, 2604321761481ULL);
        if (team == 2) {
            EXPECT_EQ(result.slowest_member, 1u);
            EXPECT_EQ(result.slowest_tests, 1310199216627ULL);
            EXPECT_NEAR(result.sustained_rate().value_or(0), 1310199216627.0 / 3675.95, 1e-3);
        }
    }
}

TEST(VerifyWholeRun, GivesTheSameAnswerHoweverTheInputIsSplit) {
    std::string text = made_run(MadeRun{});
    text.replace(text.find("2000000001: 3x666666667"), 23, "2000000001: 3x666666669");
    VerifyResult whole = verify_text(text);
    ASSERT_EQ(whole.problems.total, 1u);
    for (size_t chunk : {1, 2, 7, 4093}) {
        VerifyResult split = verify_text(text, kBenchmarkRange, chunk);
        EXPECT_EQ(split.problems.total, whole.problems.total) << chunk;
        EXPECT_EQ(split.problems.kept[0].line, whole.problems.kept[0].line) << chunk;
        EXPECT_EQ(split.total_tests, whole.total_tests) << chunk;
    }
}

TEST(VerifyWholeRun, ReportsTheFirstProblemsAndCountsTheRest) {
    std::string text = made_run(MadeRun{});
    for (int i = 0; i < 100; ++i) text += "junk\n";
    VerifyResult result = verify_text(text);
    EXPECT_EQ(result.problems.total, 100u);
    EXPECT_EQ(result.problems.kept.size(), kKeptMessages);
    EXPECT_EQ(result.problems.kept[0].line, 16388u);
}

// Hostile input gets an answer in bounded time and memory.
TEST(VerifyHostileInput, AnswersAnything) {
    std::mt19937_64 random(20261211);
    std::string bytes(1 << 22, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::string sparse_newlines = bytes;
    for (size_t i = 0; i < sparse_newlines.size(); i += 1000) sparse_newlines[i] = '\n';
    struct {
        const char* context;
        std::string text;
    } const cases[] = {
        {"random bytes", bytes},
        {"random bytes in lines", sparse_newlines},
        {"NUL bytes", std::string(1 << 20, '\0')},
        {"a line of 64 MiB", std::string(64 << 20, '7')},
        {"newlines only", std::string(1 << 20, '\n')},
        {"carriage returns only", std::string(1 << 20, '\r')},
    };
    for (const auto& c : cases) {
        VerifyResult result = verify_text(c.text);
        EXPECT_FALSE(result.valid()) << c.context;
        EXPECT_LE(result.problems.kept.size(), kKeptMessages) << c.context;
    }
    VerifyResult long_line = verify_text(std::string(64 << 20, '7') + "\n");
    ASSERT_FALSE(long_line.problems.kept.empty());
    EXPECT_NE(long_line.problems.kept[0].text.find("a line of 67108864 bytes"), std::string::npos)
        << long_line.problems.kept[0].text;
}

}  // namespace
