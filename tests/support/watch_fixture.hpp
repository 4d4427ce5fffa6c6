// A fresh directory for a log and its record, and the factorize_check watch
// command line that writes them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.hpp"

namespace testing_support {

class WatchFixture : public ::testing::Test {
protected:
    void SetUp() override { dir_ = make_temp_dir(); }
    std::string log() const { return dir_ + "/run.log"; }
    std::string record() const { return dir_ + "/run.json"; }
    // Returns the options for watch with args, standard input on a pipe,
    // fallback files in the test's directory, and no pictures (they take
    // seconds; the picture tests draw their own).
    ProcessOptions watch(std::vector<std::string> args) const {
        ProcessOptions options;
        options.argv = {CHECK_PROGRAM, "watch"};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.pipe_stdin = true;
        options.env = {{"TMPDIR", dir_}, {"FACTORIZE_PYTHON", "/nonexistent/python"}};
        return options;
    }
    std::string dir_;
};

}  // namespace testing_support
