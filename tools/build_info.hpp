// Which build made the binary that runs: the build writes BINARY.build.json
// beside each benchmark binary it links, and a run matches its binary to
// one of them by SHA-256. No match means "unknown", never a guess.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace factorize {

struct BuildMatch {
    std::string binary;                  // the path that ran, resolved through PATH
    std::optional<std::string> sha256;   // of the binary's bytes
    std::optional<nlohmann::json> info;  // the matching build's description
    std::string description;             // the file it was read from
    std::string why_unknown;             // when info is absent
};

// Returns the path that execvp would run for name, or name itself.
std::string resolve_command(const std::string& name);

// Hashes binary and looks for its build: BINARY.build.json beside it, then
// every *.build.json in search_dirs; only a description with the same
// SHA-256 is taken.
BuildMatch match_build(const std::string& binary, const std::vector<std::string>& search_dirs);

// Returns the directory that an installed factorize_check's own files lie in,
// <its directory>/../share/factorize_ZOVE, or "" when it cannot be known.
std::string installed_share_dir();

// Returns where a build's descriptions are looked for when the binary is not
// beside its own: those installed with this factorize_check, then this
// project's build directories.
std::vector<std::string> default_build_info_dirs();

// Returns the build section of a record.
nlohmann::json build_json(const BuildMatch& match);

}  // namespace factorize
