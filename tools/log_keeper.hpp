// Keeps every byte of a run's output until it is safely in the log, and
// saves what the log could not take somewhere else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace factorize {

// Where the bytes that the log lacks went at the end.
struct Rescue {
    bool needed = false;       // the log does not hold every byte received
    std::string place;         // the fallback file, "standard output", or "" when none took them
    uint64_t from = 0;         // the first byte offset saved there
    uint64_t bytes = 0;        // how many bytes were saved there
    std::string why;           // why the log lacks them
};

// Writes a run's output to a log file as it arrives. A failed write does not
// lose anything: the bytes stay in memory, each later append and retry()
// tries again from where the log stopped, and finish() saves whatever the
// log still lacks to a fallback file or, failing that, to standard output.
// The process should ignore SIGXFSZ, so that a file-size limit shows as a
// failed write (EFBIG) rather than killing it.
class LogKeeper {
public:
    // Takes ownership of fd, open for writing; name is the log's path.
    LogKeeper(int fd, std::string name);
    ~LogKeeper();
    LogKeeper(const LogKeeper&) = delete;
    LogKeeper& operator=(const LogKeeper&) = delete;

    // Keeps bytes and writes whatever the log lacks.
    void append(std::string_view bytes);
    // Tries again to write whatever the log lacks.
    void retry();

    // Returns a message when the log's state changed since the last call:
    // writes began to fail, or the log caught up after failing. "" otherwise.
    std::string take_news();

    // Flushes the log to its device and closes it; then saves what it lacks
    // to a fallback file (beside the log, then in the temporary directory),
    // else, when to_stdout, to standard output (fd 1). Call once.
    Rescue finish(bool to_stdout = true);

    const std::string& data() const { return data_; }
    uint64_t written() const { return written_; }
    bool failing() const { return !error_.empty(); }

private:
    int fd_;
    std::string name_;
    std::string data_;          // every byte received
    uint64_t written_ = 0;      // bytes of data_ in the log
    std::string error_;         // the current write failure, "" while writes succeed
    std::string reported_;      // the failure last reported through take_news
    bool news_ = false;
};

// Writes all of data to fd, retrying after interrupts and short writes.
// Returns false with errno set when a write fails; written counts what went.
bool write_fully(int fd, const char* data, size_t size, size_t* written = nullptr);

}  // namespace factorize
