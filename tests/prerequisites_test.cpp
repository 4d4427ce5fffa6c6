// tools/install-prerequisites.sh against stand-ins for dpkg-query, apt-get,
// id and sudo: it must install exactly what is missing, without questions,
// through sudo when not root, and stop with a clear reason when it cannot.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/process.hpp"

using namespace testing_support;

namespace {

enum class Sudo { absent, works, refuses };

struct Case {
    const char* context;
    const char* set;
    std::vector<std::string> installed;  // what dpkg reports installed at the start
    int uid = 0;
    Sudo sudo = Sudo::absent;
    bool debian = true;             // dpkg-query and apt-get exist
    bool update_fails = false;      // no package source can be read
    std::string unknown;            // a package that no source offers
    bool installs_nothing = false;  // apt-get succeeds but installs nothing
    int exit_code;
    std::vector<std::string> calls;  // every apt-get call, in order
    std::vector<std::string> said;   // in standard output and error together
};

const std::vector<std::string> kTest = {"g++",        "cmake", "ninja-build", "libcli11-dev",    "nlohmann-json3-dev",
                                        "python3-matplotlib", "libgtest-dev", "clang", "libomp-dev", "libclang-rt-dev",
                                        "binutils",   "gdb",   "util-linux"};

// Returns kTest without the given packages.
std::vector<std::string> all_but(std::vector<std::string> left_out) {
    std::vector<std::string> kept;
    for (const std::string& p : kTest)
        if (std::find(left_out.begin(), left_out.end(), p) == left_out.end()) kept.push_back(p);
    return kept;
}

const char kInstall[] = "install -y -q --no-install-recommends";

const std::vector<Case> kCases = {
    // Nothing to do: not even root is needed.
    {"all present, as a user without sudo", "test", kTest, 1000, Sudo::absent, true, false, "", false, 0, {},
     {"the 13 packages for 'test' are present; nothing to install"}},
    {"the run set present, test tools absent", "run", {"g++", "cmake", "ninja-build", "libcli11-dev",
     "nlohmann-json3-dev"}, 1000, Sudo::absent, true, false, "", false, 0, {}, {"nothing to install"}},

    // Installs only what is missing, and only what the set needs.
    {"root, two test tools missing", "test", all_but({"clang", "gdb"}), 0, Sudo::absent, true, false, "", false, 0,
     {"update -q uid=0", std::string(kInstall) + " clang gdb uid=0"},
     {"installing 2 of the 13 packages for 'test': clang gdb", "the 13 packages for 'test' are present"}},
    {"a bare machine, the pictures set", "pictures", {}, 0, Sudo::absent, true, false, "", false, 0,
     {"update -q uid=0",
      std::string(kInstall) + " g++ cmake ninja-build libcli11-dev nlohmann-json3-dev python3-matplotlib uid=0"},
     {"installing 6 of the 6 packages for 'pictures'"}},
    {"a user with sudo, no terminal", "run", {"g++", "cmake", "ninja-build"}, 1000, Sudo::works, true, false, "",
     false, 0, {"update -q uid=0", std::string(kInstall) + " libcli11-dev nlohmann-json3-dev uid=0"}, {}},

    // Cannot install: says why, names what is missing, and fails.
    {"a user without sudo", "test", all_but({"gdb"}), 1000, Sudo::absent, true, false, "", false, 1, {},
     {"installing needs root", "apt-get install -y --no-install-recommends gdb"}},
    {"sudo wants a password", "test", all_but({"gdb"}), 1000, Sudo::refuses, true, false, "", false, 1, {},
     {"sudo would not let user tester act as root", "apt-get install -y --no-install-recommends gdb"}},
    {"no package source", "test", all_but({"gdb"}), 0, Sudo::absent, true, true, "", false, 1, {"update -q uid=0"},
     {"apt-get update failed", "still missing: gdb"}},
    {"a package no source offers", "test", all_but({"gdb", "clang"}), 0, Sudo::absent, true, false, "gdb", false, 1,
     {"update -q uid=0", std::string(kInstall) + " clang gdb uid=0"},
     {"Unable to locate package gdb", "apt-get install failed", "Still missing: clang gdb"}},
    {"apt-get succeeds and installs nothing", "test", all_but({"gdb"}), 0, Sudo::absent, true, false, "", true, 1,
     {"update -q uid=0", std::string(kInstall) + " gdb uid=0"}, {"apt-get finished, yet these are not installed: gdb"}},
    {"not Debian", "test", {}, 0, Sudo::absent, false, false, "", false, 1, {},
     {"this is not a Debian system", "g++ cmake ninja-build"}},

    // Wrong use.
    {"an unknown set", "everything", {}, 0, Sudo::absent, true, false, "", false, 2, {}, {"usage: "}},
};

void write_script(const std::string& path, const std::string& text) {
    std::ofstream(path) << "#!/bin/bash\n" << text;
    chmod(path.c_str(), 0755);
}

// Writes the stand-ins into bin and the state they share into state.
void make_stand_ins(const Case& c, const std::string& bin, const std::string& state) {
    std::ofstream installed(state + "/installed");
    for (const std::string& p : c.installed) installed << p << "\n";
    installed.close();
    symlink("/usr/bin/env", (bin + "/env").c_str());
    symlink("/bin/true", (bin + "/true").c_str());
    write_script(bin + "/id", "case $1 in -u) echo \"$STUB_UID\";; -un) echo tester;; esac\n");
    if (c.debian) {
        write_script(bin + "/dpkg-query",
                     "pkg=${@: -1}\n"
                     "while read -r p; do [[ $p == \"$pkg\" ]] && { printf installed; exit 0; }; done < \"$STUB_STATE/installed\"\n"
                     "echo \"dpkg-query: no packages found matching $pkg\" >&2; exit 1\n");
        std::string apt = "echo \"$* uid=$STUB_UID\" >> \"$STUB_STATE/calls\"\n"
                          "[[ $DEBIAN_FRONTEND == noninteractive ]] || { echo 'would ask questions' >&2; exit 100; }\n"
                          "case $1 in\n"
                          "update)\n";
        if (c.update_fails) apt += "  echo 'E: Failed to fetch http://deb.debian.org/...' >&2; exit 100;;\n";
        else apt += "  exit 0;;\n";
        apt += "install)\n  shift\n";
        if (!c.unknown.empty())
            apt += "  for a; do [[ $a == " + c.unknown + " ]] && { echo \"E: Unable to locate package $a\" >&2; exit 100; }; done\n";
        if (!c.installs_nothing) apt += "  for a; do [[ $a == -* ]] || echo \"$a\" >> \"$STUB_STATE/installed\"; done\n";
        apt += "  exit 0;;\nesac\n";
        write_script(bin + "/apt-get", apt);
    }
    if (c.sudo == Sudo::works)
        write_script(bin + "/sudo", "[[ $1 == -n ]] || { echo 'sudo would ask for a password' >&2; exit 1; }\n"
                                    "shift; STUB_UID=0 exec \"$@\"\n");
    if (c.sudo == Sudo::refuses) write_script(bin + "/sudo", "echo 'sudo: a password is required' >&2; exit 1\n");
}

TEST(InstallPrerequisites, InstallsExactlyWhatIsMissingOrSaysWhyNot) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.context);
        const std::string dir = make_temp_dir(), bin = dir + "/bin", state = dir + "/state";
        std::filesystem::create_directory(bin);
        std::filesystem::create_directory(state);
        make_stand_ins(c, bin, state);
        ProcessOptions options;
        options.argv = {"/bin/bash", INSTALL_SCRIPT, c.set};
        options.env = {{"PATH", bin}, {"STUB_STATE", state}, {"STUB_UID", std::to_string(c.uid)}};
        options.unset_env = {"DEBIAN_FRONTEND"};
        ProcessResult result = run_process(options);
        const std::string said = result.out + result.err;
        EXPECT_EQ(result.exit_code, c.exit_code) << said;
        EXPECT_EQ(split_lines(read_file(state + "/calls")), c.calls) << said;
        for (const std::string& text : c.said) EXPECT_NE(said.find(text), std::string::npos) << text << "\n" << said;
    }
}

// The run needs no test tool and no matplotlib; each set holds the one before.
TEST(InstallPrerequisites, ListsSetsThatNest) {
    auto list = [](const char* set) {
        ProcessResult result = run_process(std::vector<std::string>{"/bin/bash", INSTALL_SCRIPT, "--list", set});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return split_lines(result.out);
    };
    const std::vector<std::string> run = list("run"), pictures = list("pictures"), test = list("test");
    EXPECT_EQ(test, kTest);
    for (const std::string& p : run) EXPECT_NE(std::find(pictures.begin(), pictures.end(), p), pictures.end()) << p;
    for (const std::string& p : pictures) EXPECT_NE(std::find(test.begin(), test.end(), p), test.end()) << p;
    for (const char* tool : {"libgtest-dev", "clang", "libomp-dev", "libclang-rt-dev", "gdb", "python3-matplotlib"})
        EXPECT_EQ(std::find(run.begin(), run.end(), tool), run.end()) << tool << " is a test tool";
}

}  // namespace
