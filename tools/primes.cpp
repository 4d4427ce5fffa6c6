#include "primes.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <numeric>

namespace factorize {
namespace {

constexpr uint64_t kSmallLimit = 1u << 16;

// Marks the primes below kSmallLimit, so that small factors, by far the most
// common in a run's output, need no modular exponentiation.
const std::bitset<kSmallLimit>& small_primes() {
    static const std::bitset<kSmallLimit> table = [] {
        std::bitset<kSmallLimit> t;
        t.set();
        t[0] = t[1] = false;
        for (uint64_t p = 2; p * p < kSmallLimit; ++p)
            if (t[p])
                for (uint64_t m = p * p; m < kSmallLimit; m += p) t[m] = false;
        return t;
    }();
    return table;
}

__extension__ typedef unsigned __int128 Wide;

uint64_t mul_mod(uint64_t a, uint64_t b, uint64_t m) {
    // Below 2^32 the product fits in 64 bits and avoids a 128-bit division.
    if (m <= (uint64_t{1} << 32)) return a * b % m;
    return static_cast<uint64_t>(static_cast<Wide>(a) * b % m);
}

uint64_t pow_mod(uint64_t base, uint64_t exponent, uint64_t m) {
    uint64_t result = 1 % m;
    base %= m;
    while (exponent) {
        if (exponent & 1) result = mul_mod(result, base, m);
        base = mul_mod(base, base, m);
        exponent >>= 1;
    }
    return result;
}

// Runs one Miller-Rabin round: false when a proves n composite.
bool strong_probable_prime(uint64_t n, uint64_t a, uint64_t d, int s) {
    a %= n;
    if (a == 0) return true;
    uint64_t x = pow_mod(a, d, n);
    if (x == 1 || x == n - 1) return true;
    for (int i = 1; i < s; ++i) {
        x = mul_mod(x, x, n);
        if (x == n - 1) return true;
    }
    return false;
}

// Returns a nontrivial divisor of the odd composite n (Pollard's rho with
// Brent's cycle finding and batched gcds).
uint64_t find_divisor(uint64_t n) {
    for (uint64_t c = 1;; ++c) {
        uint64_t y = 2, x = 2, product = 1, g = 1, ys = 2;
        auto f = [&](uint64_t v) { return (mul_mod(v, v, n) + c) % n; };
        for (uint64_t r = 1; g == 1; r <<= 1) {
            x = y;
            for (uint64_t i = 0; i < r; ++i) y = f(y);
            for (uint64_t k = 0; k < r && g == 1; k += 128) {
                ys = y;
                for (uint64_t i = 0; i < std::min<uint64_t>(128, r - k); ++i) {
                    y = f(y);
                    product = mul_mod(product, x > y ? x - y : y - x, n);
                }
                g = std::gcd(product, n);
            }
        }
        if (g == n) {
            // The batch overshot: step back one value at a time.
            do {
                ys = f(ys);
                g = std::gcd(x > ys ? x - ys : ys - x, n);
            } while (g == 1);
        }
        if (g != n) return g;
    }
}

void collect_factors(uint64_t n, std::vector<uint64_t>& factors) {
    if (n == 1) return;
    if (is_prime(n)) {
        factors.push_back(n);
        return;
    }
    uint64_t d = find_divisor(n);
    collect_factors(d, factors);
    collect_factors(n / d, factors);
}

}  // namespace

bool is_prime(uint64_t n) {
    if (n < kSmallLimit) return small_primes()[n];
    if (n % 2 == 0) return false;
    uint64_t d = n - 1;
    int s = 0;
    while (d % 2 == 0) {
        d /= 2;
        ++s;
    }
    // Bases 2, 7 and 61 decide primality below 4759123141, where the
    // products fit in 64 bits; these seven decide it for every 64-bit n.
    if (n < (uint64_t{1} << 32)) {
        for (uint64_t a : {2, 7, 61})
            if (!strong_probable_prime(n, a, d, s)) return false;
        return true;
    }
    static constexpr std::array<uint64_t, 7> kBases = {2, 325, 9375, 28178, 450775, 9780504, 1795265022};
    for (uint64_t a : kBases)
        if (!strong_probable_prime(n, a, d, s)) return false;
    return true;
}

std::vector<uint64_t> prime_factors(uint64_t n) {
    std::vector<uint64_t> factors;
    if (n < 2) return factors;
    // Small factors by division first: cheaper than rho, and it leaves rho
    // only cofactors without factors below 1000.
    for (uint64_t p = 2; p < 1000 && p * p <= n; p += (p == 2 ? 1 : 2))
        while (n % p == 0) {
            factors.push_back(p);
            n /= p;
        }
    collect_factors(n, factors);
    std::sort(factors.begin(), factors.end());
    return factors;
}

}  // namespace factorize
