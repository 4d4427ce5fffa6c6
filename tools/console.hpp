// Standard output and standard error of factorize_check, with every write
// checked: a report that could not be written makes the command fail.
#pragma once

#include <string>
#include <string_view>

namespace factorize {

class Console {
public:
    // Write text to standard output or standard error; return false when it
    // could not all be written.
    bool out(std::string_view text);
    bool err(std::string_view text);

    // Notes that the terminal hung up: from now on a failed write is expected
    // and no longer counts as a lost report.
    void hang_up() { hung_up_ = true; }
    bool hung_up() const { return hung_up_; }

    // Says whether a report was lost, and on which stream first.
    bool lost() const { return !lost_.empty(); }
    const std::string& lost_what() const { return lost_; }

private:
    bool write_to(int fd, std::string_view text, const char* stream);
    bool hung_up_ = false;
    std::string lost_;
};

// The console of this process.
Console& console();

}  // namespace factorize
