// factorize_check plot on fixture records: valid SVG and PNG pictures of the
// stated size that hold the titles and series they promise; a record without
// a timeline gives what it can and says why; a hostile or incomplete record
// gives a message and no file.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace {

using namespace testing_support;

const std::string kRecords = std::string(FIXTURES_DIR) + "/records/";

class Plot : public ::testing::Test {
protected:
    void SetUp() override {
        ProcessResult probe = run_process({"/bin/sh", "-c", "/usr/bin/python3 -c 'import matplotlib'"});
        if (probe.exit_code != 0) GTEST_SKIP() << "Debian's python3-matplotlib is not installed";
        dir_ = make_temp_dir();
    }
    ProcessResult plot(std::vector<std::string> args) const {
        ProcessOptions options;
        options.argv = {CHECK_PROGRAM, "plot", "--out", dir_};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        // python3 on PATH may lack matplotlib: the command must find the one that has it.
        options.env = {{"PATH", "/nonexistent:/usr/bin:/bin"}};
        options.unset_env = {"FACTORIZE_PYTHON"};
        return run_process(options);
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string dir_;
};

// Returns a PNG's width and height from its header, or {0, 0}.
std::pair<uint32_t, uint32_t> png_size(const std::string& bytes) {
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto word = [&](size_t at) {
        return uint32_t{static_cast<unsigned char>(bytes[at])} << 24 | uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16 |
               uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8 | uint32_t{static_cast<unsigned char>(bytes[at + 3])};
    };
    return {word(16), word(20)};
}

void expect_picture(const std::string& dir, const std::string& stem, const std::vector<std::string>& texts) {
    SCOPED_TRACE(stem);
    std::pair<uint32_t, uint32_t> size = png_size(read_file(dir + "/" + stem + ".png"));
    EXPECT_EQ(size.first, 1200u);
    EXPECT_EQ(size.second, 675u);
    const std::string svg = read_file(dir + "/" + stem + ".svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos) << "a whole SVG";
    for (const std::string& text : texts) EXPECT_NE(svg.find(text), std::string::npos) << text;
}

TEST_F(Plot, DrawsARunsProgressAndRate) {
    ProcessResult result = plot({kRecords + "timed_run.json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(files(), (std::vector<std::string>{"timed_run-progress.png", "timed_run-progress.svg",
                                                 "timed_run-rate.png", "timed_run-rate.svg"}));
    expect_picture(dir_, "timed_run-progress",
                   {"Progress of each member: timed_run, team of 2", "member 0", "member 1", "predicted: cost model",
                    "member's finish", "remainder tests done", "time since the start (seconds)"});
    expect_picture(dir_, "timed_run-rate",
                   {"Per-core division rate over the run", "smoothed", "median", "per-core rate (10^8 remainder tests/s)"});
}

TEST_F(Plot, ComparesSeveralRunsByWhatDiffers) {
    ProcessResult result = plot({kRecords + "gcc_team2.json", kRecords + "clang_team2.json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    expect_picture(dir_, "comparison",
                   {"Comparison of 2 runs", "compiler: g++ (Debian 12.2.0", "compiler: Debian clang version 14",
                    "Cycles per remainder test"});
    // Fixture records have no timeline entries: their own pictures are explained, not drawn.
    EXPECT_NE(result.err.find("no progress picture of gcc_team2: the timeline is empty"), std::string::npos)
        << result.err;
}

TEST_F(Plot, DrawsThePlanWithMeasuredRuns) {
    ProcessResult result = plot({"--plan", "--rate", "5e8", kRecords + "gcc_team2.json", kRecords + "gcc_team4.json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    expect_picture(dir_, "plan", {"Plan: predicted time against team size (2 CPUs", "predicted elapsed time",
                                  "measured runs", "split efficiency (%)", "team size (members)"});
}

TEST_F(Plot, ARecordWithoutATimelineGivesWhatItCan) {
    ProcessResult result = plot({kRecords + "verified.json"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("no progress picture of verified: the record has no timeline"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("no rate picture of verified"), std::string::npos) << result.err;
    EXPECT_TRUE(files().empty());
}

TEST_F(Plot, AHostileOrIncompleteRecordGivesAMessageAndNoFile) {
    struct {
        const char* file;
        const char* says;
    } const cases[] = {
        {"not_json.txt", "not a record: not JSON; no picture made of it"},
        {"truncated.json", "not a record: not JSON"},
        {"future_schema.json", "unknown schema version 2"},
        {"hostile.json", "no progress picture of hostile: the record has no timeline.number"},
    };
    for (const auto& c : cases) {
        ProcessResult result = plot({kRecords + c.file});
        EXPECT_NE(result.exit_code, -1) << c.file;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << c.file << "\n" << result.err;
        EXPECT_EQ(result.err.find("Traceback"), std::string::npos) << c.file << "\n" << result.err;
        EXPECT_TRUE(files().empty()) << c.file;
    }
}

// A guided run draws itself at the end; without matplotlib it prints the
// one command that would.
TEST_F(Plot, AGuidedRunDrawsItselfOrSaysHow) {
    struct {
        const char* context;
        const char* python;  // FACTORIZE_PYTHON, or "" for the search
        bool drawn;
    } const cases[] = {
        {"matplotlib installed", "", true},
        {"no interpreter with matplotlib", "/nonexistent/python3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        const std::string dir = make_temp_dir();
        ProcessOptions options;
        options.argv = {CHECK_PROGRAM, "watch", "--range", "100000000..100000039", dir + "/run.log", "--",
                        TIMED_RANGE_PROGRAM};
        options.env = {{"PATH", "/nonexistent:/usr/bin:/bin"}};
        if (*c.python) options.env["FACTORIZE_PYTHON"] = c.python;
        else options.unset_env = {"FACTORIZE_PYTHON"};
        ProcessResult result = run_process(options);
        ASSERT_EQ(result.exit_code, 0) << result.err;
        // The rate picture needs numbers that took 200 ms or more, which a
        // short run on a fast machine may not have; the progress is always there.
        const bool drawn = !read_file(dir + "/run-progress.png").empty() && !read_file(dir + "/run-progress.svg").empty();
        EXPECT_EQ(drawn, c.drawn) << result.err;
        if (!c.drawn) {
            EXPECT_NE(result.err.find("then run: factorize_check plot " + dir + "/run.json --out " + dir),
                      std::string::npos)
                << result.err;
        }
    }
}

}  // namespace
