#include "clock.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "probe.hpp"

namespace factorize {
namespace {

#if defined(__x86_64__)
constexpr uint64_t kAddsPerIteration = 100;

// Runs iterations * 100 dependent additions. The loop counter is a second,
// independent chain, so it costs no cycles of the first.
__attribute__((noinline)) void add_chain(uint64_t iterations) {
    uint64_t sum = 0, step = 1;
    asm volatile(
        "1:\n\t"
        ".rept 100\n\t"
        "add %[step], %[sum]\n\t"
        ".endr\n\t"
        "dec %[n]\n\t"
        "jnz 1b"
        : [sum] "+r"(sum), [n] "+r"(iterations)
        : [step] "r"(step)
        : "cc");
}

double time_chain(uint64_t iterations) {
    auto start = std::chrono::steady_clock::now();
    add_chain(iterations);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Collects tries estimates on the calling thread's CPU.
void estimate_here(int tries, std::vector<double>& out) {
    constexpr uint64_t kShort = 10000, kLong = 60000;  // about 1 and 6 million cycles
    // Wake the core from any idle state before timing it.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (std::chrono::steady_clock::now() < until) add_chain(1000);
    for (int i = 0; i < tries; ++i) {
        double t_short = time_chain(kShort);
        double t_long = time_chain(kLong);
        if (t_long > t_short) out.push_back(static_cast<double>((kLong - kShort) * kAddsPerIteration) / (t_long - t_short));
    }
}
#endif

}  // namespace

std::optional<ClockEstimate> estimate_clock(std::vector<int> cpus, int tries) {
#if defined(__x86_64__)
    if (cpus.empty()) cpus = cpu_affinity();
    ClockEstimate estimate;
    std::vector<double> all;
    for (int cpu : cpus) {
        // A thread of its own, pinned, so that this process's affinity stays as it was.
        bool pinned = false;
        std::vector<double> here;
        std::thread worker([&] {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(cpu, &set);
            pinned = pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
            if (pinned) estimate_here(tries, here);
        });
        worker.join();
        if (!pinned || here.empty()) continue;
        estimate.cpus.push_back(cpu);
        all.insert(all.end(), here.begin(), here.end());
    }
    if (all.empty()) return std::nullopt;
    std::sort(all.begin(), all.end());
    estimate.tries = static_cast<int>(all.size());
    estimate.low_hz = all.front();
    estimate.high_hz = all.back();
    estimate.hz = all.size() % 2 ? all[all.size() / 2] : (all[all.size() / 2 - 1] + all[all.size() / 2]) / 2;
    return estimate;
#else
    (void)cpus;
    (void)tries;
    return std::nullopt;
#endif
}

}  // namespace factorize
