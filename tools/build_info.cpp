#include "build_info.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sha256.hpp"

namespace factorize {
namespace {

// The fields a build description may give; anything else is left out.
const char* const kStringFields[] = {"version", "target", "compiler", "compiler_id", "compiler_version", "compiler_version_text",
                                     "build_type", "compile_flags", "link_flags", "openmp_library",
                                     "openmp_library_version", "commit", "built_at"};

std::optional<nlohmann::json> read_description(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
    if (!j.is_object() || !j.contains("binary_sha256") || !j["binary_sha256"].is_string()) return std::nullopt;
    return j;
}

}  // namespace

std::string resolve_command(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

std::string installed_share_dir() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    return (self.parent_path() / "../share/factorize_ZOVE").lexically_normal().string();
}

std::vector<std::string> default_build_info_dirs() {
    std::vector<std::string> dirs;
    // An installed factorize_check: the descriptions installed with it.
    if (const std::string share = installed_share_dir(); !share.empty()) dirs.push_back(share + "/build-info");
#ifdef FACTORIZE_BUILD_INFO_DIRS
    std::stringstream list(FACTORIZE_BUILD_INFO_DIRS);
    std::string dir;
    while (std::getline(list, dir, '|'))
        if (!dir.empty()) dirs.push_back(dir);
#endif
    return dirs;
}

BuildMatch match_build(const std::string& binary, const std::vector<std::string>& search_dirs) {
    BuildMatch match;
    match.binary = binary;
    match.sha256 = sha256_file(binary);
    if (!match.sha256) {
        match.why_unknown = "the binary cannot be read";
        return match;
    }
    std::vector<std::string> candidates = {binary + ".build.json"};
    std::error_code error;
    std::string real = std::filesystem::canonical(binary, error).string();
    if (!error && real != binary) candidates.push_back(real + ".build.json");
    for (const std::string& dir : search_dirs)
        for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
            const std::string path = entry.path().string();
            if (path.size() > 11 && path.compare(path.size() - 11, 11, ".build.json") == 0) candidates.push_back(path);
        }
    bool described_otherwise = false;
    for (const std::string& path : candidates) {
        std::optional<nlohmann::json> description = read_description(path);
        if (!description) continue;
        if ((*description)["binary_sha256"] == *match.sha256) {
            match.info = description;
            match.description = path;
            return match;
        }
        if (path == candidates[0]) described_otherwise = true;
    }
    match.why_unknown = described_otherwise
                            ? binary + ".build.json describes another build: the binary changed after it was built"
                            : "no build of this project recorded a binary with this SHA-256";
    return match;
}

nlohmann::json build_json(const BuildMatch& match) {
    nlohmann::json j;
    j["binary_path"] = match.binary;
    j["binary_sha256"] = match.sha256 ? nlohmann::json(*match.sha256) : nlohmann::json(nullptr);
    j["known"] = match.info.has_value();
    if (!match.info) {
        j["why_unknown"] = match.why_unknown;
        return j;
    }
    j["description"] = match.description;
    const nlohmann::json& info = *match.info;
    for (const char* field : kStringFields)
        j[field] = info.contains(field) && info[field].is_string() ? info[field] : nlohmann::json(nullptr);
    j["tree_dirty"] = info.contains("tree_dirty") && info["tree_dirty"].is_boolean() ? info["tree_dirty"]
                                                                                     : nlohmann::json(nullptr);
    return j;
}

}  // namespace factorize
