// An LD_PRELOAD library that stands in for printf in the benchmark, so that
// tests can see which team member printed which line without any change to
// the program. Every call is passed on unchanged to vprintf; for the lines
// printed with "%s" it also writes to standard error:
//     "printed by member M of a team of T: LINE"
// with M and T from the OpenMP runtime of the calling thread.
#include <omp.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

extern "C" int printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const char* text = nullptr;
    if (strcmp(format, "%s") == 0) {
        va_list copy;
        va_copy(copy, args);
        text = va_arg(copy, const char*);
        va_end(copy);
    }
    int result = vprintf(format, args);
    va_end(args);
    if (text) {
        char record[1200];
        int n = snprintf(record, sizeof record, "printed by member %d of a team of %d: %s",
                         omp_get_thread_num(), omp_get_num_threads(), text);
        if (n > 0) {
            size_t length = static_cast<size_t>(n) < sizeof record ? static_cast<size_t>(n) : sizeof record - 1;
            ssize_t ignored = write(2, record, length);
            (void)ignored;
        }
    }
    return result;
}
