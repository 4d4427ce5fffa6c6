/*
 * factorize_ZOVE - scalar 64-bit integer division throughput on an OpenMP team.
 *
 * Factors the 16384 integers 1999999999..2000016382 by plain trial division:
 * every candidate from 2 upward, up to the current cofactor, one unsigned
 * 64-bit remainder test per candidate. The range is split into one contiguous
 * block per member of an OpenMP thread team. Each number's factorization is
 * printed as one line; then the wall-clock time of the sweep and the rate in
 * factorizations per second. A whole run makes about 2.6e12 remainder tests.
 *
 * Build and run (see README.md):
 *     cmake --workflow --preset default && build/factorize_ZOVE
 * Choose the team with OMP_NUM_THREADS; bind it with OMP_PROC_BIND/OMP_PLACES.
 *
 * The program takes no arguments and has no settings. Test builds alone
 * override the range with -DFIRST_NUMBER=... -DLAST_NUMBER=...
 */
#include <omp.h>
#include <stdio.h>

#ifndef FIRST_NUMBER
#define FIRST_NUMBER 1999999999ULL
#endif
#ifndef LAST_NUMBER
#define LAST_NUMBER 2000016382ULL
#endif

typedef unsigned long long Number;

void factorize(Number number);

/*
 * Prints "number: f1xf2x...\n" for the prime factors of number, ascending,
 * found by trial division. Safe to call from any number of threads: the line
 * is built in a stack buffer and printed with one call under the unnamed
 * critical section, so lines of different threads never mix.
 */
void factorize(Number number) {
    /* The longest line any 64-bit number gives is 148 characters (3 * 2^62). */
    char line[1024];
    int count = sprintf(line, "%llu: ", number);
    Number cofactor = number;
    Number candidate = 2;

    if (number > 1) {
        /* The bound is the cofactor itself, not its square root: the last
         * prime factor is found by climbing all the way up to it. That climb
         * is the work this benchmark measures. */
        while (candidate <= cofactor) {
            if (cofactor % candidate != 0) {
                candidate = candidate + 1;
                continue;
            }
            do {
                count += sprintf(line + count, "%llu", candidate);
                cofactor = cofactor / candidate;
                if (cofactor >= 2)
                    count += sprintf(line + count, "x");
            } while (cofactor % candidate == 0);
            candidate = candidate + 1;
        }
    }
    count += sprintf(line + count, "\n");

#pragma omp critical
    printf("%s", line);
}

/*
 * Runs the benchmark: probes the team size, prints the banner, factors the
 * range on a thread team with one contiguous block per member, and prints the
 * elapsed time and the rate. Arguments are ignored; always returns 0.
 */
int main() {
    const Number first = FIRST_NUMBER;
    const Number last = LAST_NUMBER;
    const double rate_numerator = (double)(LAST_NUMBER - FIRST_NUMBER + 1);
    int thread_count = 0;
    double start_time = 0.0;

#pragma omp parallel
    {
        /* Every member sees the same team size; member 0 alone stores it so
         * that the shared variable has a single writer. */
        if (omp_get_thread_num() == 0)
            thread_count = omp_get_num_threads();
    }

    printf("Benchmarking scalar factorization with OpenMP using %d threads...:\n", thread_count);

#pragma omp parallel
    {
        double entry_time = omp_get_wtime();
        Number n = last - first + 1;
        Number members = (Number)(long long)omp_get_num_threads();
        Number member = (Number)(long long)omp_get_thread_num();
        Number q = n / members;
        Number r = n % members;
        Number offset, size;

        /* One contiguous block per member, the remainder spread one number
         * each over the lowest-numbered members. Computed here rather than
         * left to a static schedule, whose block sizes are the runtime's. */
        if (member < r) {
            size = q + 1;
            offset = member * (q + 1);
        } else {
            size = q;
            offset = member * q + r;
        }
        /* Member 0 is the initial thread: its entry reading is stored by a
         * single writer and read only after the region has ended. */
        if (member == 0)
            start_time = entry_time;

        for (Number i = 0; i < size; i++)
            factorize(first + offset + i);
    }

    double end_time = omp_get_wtime();
    double elapsed = end_time - start_time;

    printf("Elapsed time: %.2f seconds\n", elapsed);
    printf("Factorizations per second: %.2f\n", rate_numerator / elapsed);
    return 0;
}
