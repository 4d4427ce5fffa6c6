#include "log_keeper.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace factorize {

bool write_fully(int fd, const char* data, size_t size, size_t* written) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            if (written) *written = done;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (written) *written = done;
    return true;
}

LogKeeper::LogKeeper(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

LogKeeper::~LogKeeper() {
    if (fd_ >= 0) close(fd_);
}

void LogKeeper::append(std::string_view bytes) {
    data_.append(bytes);
    retry();
}

void LogKeeper::retry() {
    if (fd_ < 0 || written_ == data_.size()) return;
    size_t went = 0;
    bool ok = write_fully(fd_, data_.data() + written_, data_.size() - written_, &went);
    int code = errno;
    written_ += went;
    if (ok) {
        if (!error_.empty()) news_ = true;
        error_.clear();
    } else {
        std::string error = strerror(code);
        if (error != error_) news_ = true;
        error_ = error;
    }
}

std::string LogKeeper::take_news() {
    if (!news_) return "";
    news_ = false;
    if (error_.empty()) {
        if (reported_.empty()) return "";
        reported_.clear();
        return name_ + " is being written again and holds every byte so far";
    }
    reported_ = error_;
    return "cannot write " + name_ + ": " + error_ + "; keeping the output in memory and trying again (" +
           std::to_string(data_.size() - written_) + " bytes not yet in it)";
}

namespace {

// Creates a new file from a template ending in "XXXXXX.rest" and writes
// bytes to it; returns its path, or "" when it could not take them all.
std::string save_to_new_file(std::string pattern, const char* bytes, size_t size) {
    int fd = mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0) return "";
    bool ok = write_fully(fd, bytes, size) && fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (!ok) {
        unlink(pattern.c_str());  // a file that holds a part would only mislead
        return "";
    }
    return pattern;
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

Rescue LogKeeper::finish(bool to_stdout) {
    Rescue rescue;
    if (fd_ >= 0) {
        retry();
        std::string why = error_;
        // Written is not yet safe: a device may fail at fsync or close. Where
        // that happens the log's content is unknown, so all of it is saved.
        if (why.empty() && fsync(fd_) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) {
            why = std::string("flushing it failed: ") + strerror(errno);
            written_ = 0;
        }
        if (close(fd_) != 0 && why.empty()) {
            why = std::string("closing it failed: ") + strerror(errno);
            written_ = 0;
        }
        fd_ = -1;
        rescue.why = why;
    }
    if (written_ == data_.size()) return rescue;
    rescue.needed = true;
    rescue.from = written_;
    rescue.bytes = data_.size() - written_;
    const char* rest = data_.data() + written_;
    const size_t size = data_.size() - written_;

    std::string place;
    if (is_regular_file(name_)) place = save_to_new_file(name_ + ".XXXXXX.rest", rest, size);
    if (place.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string dir = tmp && *tmp ? tmp : "/tmp";
        place = save_to_new_file(dir + "/factorize_check.XXXXXX.rest", rest, size);
    }
    if (place.empty() && to_stdout && write_fully(1, rest, size)) place = "standard output";
    rescue.place = place;
    return rescue;
}

}  // namespace factorize
