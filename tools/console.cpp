#include "console.hpp"

#include <cerrno>
#include <cstring>

#include "log_keeper.hpp"

namespace factorize {

bool Console::write_to(int fd, std::string_view text, const char* stream) {
    if (write_fully(fd, text.data(), text.size())) return true;
    if (!hung_up_ && lost_.empty()) lost_ = std::string(stream) + ": " + strerror(errno);
    return false;
}

bool Console::out(std::string_view text) { return write_to(1, text, "standard output"); }
bool Console::err(std::string_view text) { return write_to(2, text, "standard error"); }

Console& console() {
    static Console instance;
    return instance;
}

}  // namespace factorize
