// Primality and factorization over the whole unsigned 64-bit range, by fast
// methods (Miller-Rabin, Pollard's rho): never the benchmark's own loop.
#pragma once

#include <cstdint>
#include <vector>

namespace factorize {

// Says whether n is prime. Deterministic for every 64-bit n.
bool is_prime(uint64_t n);

// Returns the prime factors of n in ascending order, each as often as it
// divides n; none for 0 and 1.
std::vector<uint64_t> prime_factors(uint64_t n);

}  // namespace factorize
