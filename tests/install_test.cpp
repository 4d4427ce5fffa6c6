// cmake --install and the Debian package: both programs, the benchmark's
// build description and the picture script land together, and a record made
// with the installed programs still says which build ran, and its version.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sha256.hpp"
#include "support/process.hpp"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kInstalled = {"bin/factorize_ZOVE", "bin/factorize_check",
                                             "share/factorize_ZOVE/build-info/factorize_ZOVE.build.json",
                                             "share/factorize_ZOVE/plot_records.py", "share/doc/factorize_ZOVE/README.md"};

nlohmann::json read_json(const std::string& path) {
    return nlohmann::json::parse(read_file(path), nullptr, false);
}

TEST(Install, PutsBothProgramsAndTheBuildTheyCameFromInAPrefix) {
    const std::string prefix = make_temp_dir();
    ProcessResult installed = run_process(std::vector<std::string>{CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;
    for (const std::string& file : kInstalled) EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;

    // The description must still describe the installed bytes.
    nlohmann::json info = read_json(prefix + "/share/factorize_ZOVE/build-info/factorize_ZOVE.build.json");
    ASSERT_TRUE(info.is_object());
    EXPECT_EQ(info["binary_sha256"], *factorize::sha256_file(prefix + "/bin/factorize_ZOVE"));
    EXPECT_EQ(info["version"], PROJECT_VERSION);

    ProcessResult version = run_process(std::vector<std::string>{prefix + "/bin/factorize_check", "--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("factorize_check ") + PROJECT_VERSION + "\n");

    // A benchmark installed beside it, its description among the installed
    // ones (not beside the binary): the installed factorize_check finds it.
    const std::string bench = prefix + "/bin/factorize_small";
    fs::copy_file(SMALL_RANGE_PROGRAM, bench);
    fs::copy_file(std::string(SMALL_RANGE_PROGRAM) + ".build.json",
                  prefix + "/share/factorize_ZOVE/build-info/factorize_small.build.json");
    const std::string dir = make_temp_dir();
    ProcessOptions watch;
    watch.argv = {prefix + "/bin/factorize_check", "watch", "--range", "0..99", dir + "/run.log", "--", bench};
    watch.env = {{"TMPDIR", dir}, {"FACTORIZE_PYTHON", "/nonexistent/python"}};
    ProcessResult run = run_process(watch);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    nlohmann::json build = read_json(dir + "/run.json")["build"];
    EXPECT_EQ(build["known"], true) << build.dump(2);
    EXPECT_EQ(build["version"], PROJECT_VERSION) << build.dump(2);
    EXPECT_EQ(fs::path(build["description"].get<std::string>()).lexically_normal(),
              fs::path(prefix + "/share/factorize_ZOVE/build-info/factorize_small.build.json"))
        << build.dump(2);
}

TEST(Package, IsADebianPackageOfTheInstalledFiles) {
    const std::string dpkg_deb = find_program("dpkg-deb");
    if (dpkg_deb.empty()) GTEST_SKIP() << "dpkg-deb not found: not a Debian system";
    const std::string out = make_temp_dir();
    ProcessResult made = run_process(std::vector<std::string>{CPACK_COMMAND, "--config", std::string(BUILD_DIR) + "/CPackConfig.cmake",
                                                              "-B", out});
    ASSERT_EQ(made.exit_code, 0) << made.out << made.err;
    std::string deb;
    for (const auto& entry : fs::recursive_directory_iterator(out))
        if (entry.path().extension() == ".deb") deb = entry.path().string();
    ASSERT_FALSE(deb.empty()) << made.out;

    ProcessResult fields = run_process(std::vector<std::string>{dpkg_deb, "-f", deb, "Package", "Version", "Depends"});
    EXPECT_EQ(fields.out, std::string("Package: factorize-zove\nVersion: ") + PROJECT_VERSION +
                              "\nDepends: libc6, libgcc-s1, libgomp1, libstdc++6\n");
    ProcessResult contents = run_process(std::vector<std::string>{dpkg_deb, "-c", deb});
    for (const std::string& file : kInstalled)
        EXPECT_NE(contents.out.find("./usr/" + file + "\n"), std::string::npos) << file << "\n" << contents.out;
}

}  // namespace
