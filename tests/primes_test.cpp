// Primality and factorization over the whole 64-bit range.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "primes.hpp"
#include "support/reference.hpp"

namespace {

using factorize::is_prime;
using factorize::prime_factors;
using testing_support::reference_factors;

TEST(IsPrime, DecidesTheHardCases) {
    struct {
        const char* context;
        uint64_t n;
        bool prime;
    } const cases[] = {
        // The smallest numbers.
        {"zero", 0, false}, {"one", 1, false}, {"two", 2, true}, {"three", 3, true}, {"four", 4, false},
        // Carmichael numbers fool the Fermat test.
        {"Carmichael 561", 561, false}, {"Carmichael 41041", 41041, false}, {"Carmichael 825265", 825265, false},
        // Strong pseudoprimes to the first prime bases.
        {"spsp(2)", 2047, false},
        {"spsp(2,3,5)", 25326001, false},
        {"spsp(2,3,5,7)", 3215031751, false},
        {"spsp(2,7,61), the first above 2^32", 4759123141, false},
        {"spsp(2..11)", 2152302898747, false},
        {"spsp(2..13)", 3474749660383, false},
        {"spsp(2..17)", 341550071728321, false},
        {"spsp(2..23)", 3825123056546413051ULL, false},
        // Around 2^16, where the table ends, and 2^32, where the bases change.
        {"largest prime below 2^16", 65521, true}, {"2^16 + 1", 65537, true}, {"2^16 + 3", 65539, true},
        {"largest prime below 2^32", 4294967291ULL, true}, {"2^32", 4294967296ULL, false},
        {"2^32 + 15", 4294967311ULL, true}, {"(2^32 - 5)^2", 18446744030759878681ULL, false},
        // Near 2^64.
        {"largest prime below 2^64", 18446744073709551557ULL, true},
        {"a prime near 2^64", 18446744073709551533ULL, true},
        {"2^64 - 1", 18446744073709551615ULL, false},
        {"product of the two largest 32-bit primes", 18446743979220271189ULL, false},
        // The benchmark's range.
        {"the range's first number", 1999999999, false}, {"a prime of the range", 2000000011, true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_prime(c.n), c.prime) << c.context << ": " << c.n;
}

TEST(IsPrime, AgreesWithTrialDivisionOnSmallNumbersAndThoseOfTheRange) {
    for (uint64_t n = 0; n < 200000; ++n) ASSERT_EQ(is_prime(n), reference_factors(n).size() == 1) << n;
    for (uint64_t n = 1999999999; n <= 2000016382; ++n) ASSERT_EQ(is_prime(n), reference_factors(n).size() == 1) << n;
}

TEST(PrimeFactors, MatchesKnownFactorizations) {
    struct {
        const char* context;
        uint64_t n;
        std::vector<uint64_t> factors;
    } const cases[] = {
        {"zero has none", 0, {}},
        {"one has none", 1, {}},
        {"a prime", 2, {2}},
        {"12", 12, {2, 2, 3}},
        {"ten 2s and nine 5s", 2000000000, {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 5, 5, 5, 5, 5, 5, 5, 5, 5}},
        {"the range's last number", 2000016382, {2, 7, 13, 23, 167, 2861}},
        {"2^64 - 1", 18446744073709551615ULL, {3, 5, 17, 257, 641, 65537, 6700417}},
        {"a square of a 32-bit prime", 18446744030759878681ULL, {4294967291ULL, 4294967291ULL}},
        {"two 32-bit primes", 18446743979220271189ULL, {4294967279ULL, 4294967291ULL}},
        {"a pseudoprime's factors", 3825123056546413051ULL, {149491, 747451, 34233211}},
        {"2^64 - 60", 18446744073709551556ULL, {2, 2, 11, 137, 547, 5594472617641ULL}},
        {"a large prime", 18446744073709551557ULL, {18446744073709551557ULL}},
        {"3 * 2^62", 13835058055282163712ULL, std::vector<uint64_t>(62, 2)},
    };
    for (const auto& c : cases) {
        std::vector<uint64_t> expected = c.factors;
        if (c.n == 13835058055282163712ULL) expected.push_back(3);
        EXPECT_EQ(prime_factors(c.n), expected) << c.context;
    }
}

TEST(PrimeFactors, AgreesWithTrialDivisionOnSmallNumbersAndTheRange) {
    for (uint64_t n = 0; n < 20000; ++n) ASSERT_EQ(prime_factors(n), reference_factors(n)) << n;
    for (uint64_t n = 1999999999; n <= 2000016382; ++n) ASSERT_EQ(prime_factors(n), reference_factors(n)) << n;
}

}  // namespace
