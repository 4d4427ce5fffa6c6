// SHA-256 of a file, to match the binary that ran with the build that made it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace factorize {

// Returns the SHA-256 of bytes as 64 lower-case hex digits.
std::string sha256_hex(std::string_view bytes);

// Returns the SHA-256 of a file's contents, or nothing when it cannot be read.
std::optional<std::string> sha256_file(const std::string& path);

}  // namespace factorize
