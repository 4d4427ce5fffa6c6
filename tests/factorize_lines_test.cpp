// The benchmark's factorization lines, produced by the benchmark's own
// factorize(): compiled in from the program's source with main renamed, so
// the shipped program stays exactly as it is.
int benchmark_main();
#define main benchmark_main
#include "../src/factorize_ZOVE.cpp"
#undef main

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.hpp"
#include "support/reference.hpp"

namespace {

using testing_support::reference_factors;
using testing_support::reference_line;

// Runs work with standard output sent to a pipe, and returns what was written
// to it. The pipe is drained by a thread so that work never blocks on it.
template <class Work>
std::string capture_stdout(Work work) {
    fflush(stdout);
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe");
    int saved = dup(1);
    dup2(ends[1], 1);
    close(ends[1]);
    std::string text;
    std::thread reader([&] {
        char buffer[65536];
        ssize_t n;
        while ((n = read(ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        close(ends[0]);
    });
    work();
    fflush(stdout);
    dup2(saved, 1);  // closes the pipe's last write end, so the reader ends
    close(saved);
    reader.join();
    return text;
}

std::string repeated(const std::string& factor, int times, const std::string& last = "") {
    std::string s;
    for (int i = 0; i < times; ++i) s += (i ? "x" : "") + factor;
    if (!last.empty()) s += (times ? "x" : "") + last;
    return s;
}

struct LineCase {
    const char* context;
    Number number;
    std::string expected;
};

TEST(FactorizeLine, MatchesTheFormatByteForByte) {
    const LineCase cases[] = {
        // No factors at all.
        {"zero has no factors", 0, "0: \n"},
        {"one has no factors", 1, "1: \n"},
        // Small numbers: powers, products, primes.
        {"the smallest prime", 2, "2: 2\n"},
        {"a prime", 3, "3: 3\n"},
        {"a square of the first candidate", 4, "4: 2x2\n"},
        {"two different primes, one repeated", 12, "12: 2x2x3\n"},
        {"a square of a prime", 49, "49: 7x7\n"},
        {"a two-digit prime", 97, "97: 97\n"},
        {"a Fermat prime", 65537, "65537: 65537\n"},
        {"the largest prime below 10^6", 999983, "999983: 999983\n"},
        {"powers of two and five", 1000000, "1000000: 2x2x2x2x2x2x5x5x5x5x5x5\n"},
        // The benchmark's range and its edges.
        {"the range's first number", 1999999999, "1999999999: 31x64516129\n"},
        {"ten 2s and nine 5s", 2000000000, "2000000000: " + repeated("2", 10) + "x" + repeated("5", 9) + "\n"},
        {"a large cofactor", 2000000001, "2000000001: 3x666666667\n"},
        {"the range's last number", 2000016382, "2000016382: 2x7x13x23x167x2861\n"},
        // Beyond 32 bits: unsigned 64-bit printing and arithmetic.
        {"two to the 63rd", 9223372036854775808ULL, "9223372036854775808: " + repeated("2", 63) + "\n"},
        {"the longest line: 3 * 2^62", 13835058055282163712ULL, "13835058055282163712: " + repeated("2", 62, "3") + "\n"},
        {"the largest Number", 18446744073709551615ULL, "18446744073709551615: 3x5x17x257x641x65537x6700417\n"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.context);
        std::string line = capture_stdout([&] { factorize(c.number); });
        EXPECT_EQ(line, c.expected);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\n');
        EXPECT_NE(line.find("x\n"), line.size() - 2) << "a line must never end with the separator";
    }
}

TEST(FactorizeLine, LongestLinesHaveTheirLengths) {
    EXPECT_EQ(capture_stdout([] { factorize(13835058055282163712ULL); }).size(), 148u);
    EXPECT_EQ(capture_stdout([] { factorize(9223372036854775808ULL); }).size(), 147u);
}

TEST(FactorizeLine, AgreesWithReferenceOnAllSmallNumbers) {
    std::string expected;
    for (Number n = 0; n <= 5000; ++n) expected += reference_line(n);
    std::string printed = capture_stdout([] {
        for (Number n = 0; n <= 5000; ++n) factorize(n);
    });
    EXPECT_EQ(printed, expected);
}

// Many threads print at once into one pipe: every line must arrive whole and
// every number exactly once. Numbers with long lines widen the window in
// which a line printed in pieces would be split by another thread's output.
TEST(FactorizeConcurrency, EveryLineWholeAndEveryNumberOnce) {
    constexpr int kThreads = 16;
    std::vector<Number> numbers;
    for (Number n = 0; n < 3000; ++n) numbers.push_back(n);
    for (int shift = 0; shift < 62; ++shift) numbers.push_back(3ULL << shift);
    for (int shift = 1; shift < 64; ++shift) numbers.push_back(1ULL << shift);

    std::string text = capture_stdout([&] {
        std::atomic<size_t> next{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                for (size_t i; (i = next.fetch_add(1)) < numbers.size();) factorize(numbers[i]);
            });
        for (auto& thread : threads) thread.join();
    });

    std::map<std::string, int> expected;
    for (Number n : numbers) ++expected[reference_line(n)];
    std::map<std::string, int> seen;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "output ends inside a line";
        ++seen[text.substr(start, end + 1 - start)];
        start = end + 1;
    }
    EXPECT_EQ(seen, expected);
}

}  // namespace
