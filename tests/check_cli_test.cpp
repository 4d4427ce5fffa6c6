// factorize_check's command line: verify and plan as a user runs them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "support/process.hpp"
#include "support/run_output.hpp"

namespace {

using namespace testing_support;

class CheckCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new std::string(make_temp_dir());
        valid_ = new std::string(*dir_ + "/valid.out");
        FILE* f = fopen(valid_->c_str(), "w");
        std::string text = made_run(MadeRun{});
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    static std::string write(const std::string& name, const std::string& text) {
        std::string path = *dir_ + "/" + name;
        FILE* f = fopen(path.c_str(), "w");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        return path;
    }
    static ProcessResult check(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
        ProcessOptions options;
        options.argv = {CHECK_PROGRAM};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.env = std::move(env);
        return run_process(options);
    }
    static std::string* dir_;
    static std::string* valid_;
};
std::string* CheckCli::dir_;
std::string* CheckCli::valid_;

TEST_F(CheckCli, VerifySummarizesAValidRun) {
    ProcessResult result = check({"verify", *valid_});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    for (const char* fact : {"team size:                 2\n", "elapsed time:              3675.95 s\n",
                             "rate:                      4.46 factorizations/s\n",
                             "remainder tests:           2604321761481\n",
                             "slowest member:            1, with 1310199216627 remainder tests\n",
                             "split efficiency:          99.39 %\n", "sustained division rate:   3.564e+08"})
        EXPECT_NE(result.out.find(fact), std::string::npos) << fact << "\nin:\n" << result.out;
}

TEST_F(CheckCli, VerifyReadsStandardInput) {
    for (std::vector<std::string> args : {std::vector<std::string>{"verify"}, {"verify", "-"}}) {
        ProcessOptions options;
        options.argv = {CHECK_PROGRAM};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.pipe_stdin = true;
        Child child(options);
        child.write_stdin(read_file(*valid_));
        child.close_stdin();
        ProcessResult result = child.wait();
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.out.find("slowest member:            1"), std::string::npos);
    }
}

TEST_F(CheckCli, VerifyNamesEachProblemsLine) {
    std::string text = read_file(*valid_);
    text.replace(text.find("2000000001: 3x666666667"), 23, "2000000001: 3x666666669");
    std::string path = write("one_fault.out", text);
    ProcessResult result = check({"verify", path});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    size_t line = std::stoul(result.err.substr(path.size() + 1));
    EXPECT_EQ(split_lines(text)[line - 1], "2000000001: 3x666666669");
    EXPECT_NE(result.err.find("factor 666666669 is not prime"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("is not a valid run: 1 problem in 16387 lines"), std::string::npos) << result.err;
}

TEST_F(CheckCli, VerifyListsTwentyProblemsThenCountsTheRest) {
    std::string text = read_file(*valid_);
    for (int i = 0; i < 25; ++i) text += "junk\n";
    ProcessResult result = check({"verify", write("junk.out", text)});
    EXPECT_EQ(result.exit_code, 1);
    std::vector<std::string> lines = split_lines(result.err);
    ASSERT_EQ(lines.size(), 22u) << result.err;
    EXPECT_NE(lines[0].find(":16388: nothing may follow the rate line"), std::string::npos) << lines[0];
    EXPECT_NE(lines[20].find("... and 5 more problems"), std::string::npos) << lines[20];
}

// verify --json gives a run's record without what only watch can know.
TEST_F(CheckCli, VerifyJsonIsARecordOfTheResult) {
    ProcessResult result = check({"verify", "--json", *valid_});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["schema_version"], 1);
    EXPECT_EQ(j["made_by"], "factorize_check verify");
    EXPECT_EQ(j["status"], "valid");
    EXPECT_EQ(j["log"], *valid_);
    const nlohmann::json& r = j["result"];
    EXPECT_EQ(r["valid"], true);
    EXPECT_EQ(r["team"], 2);
    EXPECT_DOUBLE_EQ(r["elapsed_seconds"].get<double>(), 3675.95);
    EXPECT_DOUBLE_EQ(r["rate"].get<double>(), 4.46);
    EXPECT_EQ(r["first_number"], 1999999999ULL);
    EXPECT_EQ(r["last_number"], 2000016382ULL);
    EXPECT_EQ(r["total_remainder_tests"], 2604321761481ULL);
    EXPECT_EQ(r["slowest_member"], 1);
    EXPECT_EQ(r["slowest_member_remainder_tests"], 1310199216627ULL);
    EXPECT_NEAR(r["split_efficiency"].get<double>(), 0.9939, 1e-4);
    EXPECT_NEAR(r["sustained_remainder_tests_per_second"].get<double>(), 1310199216627.0 / 3675.95, 1);
    EXPECT_EQ(r["problem_count"], 0);
    for (const char* watch_only : {"build", "host", "clock", "timeline", "preflight"})
        EXPECT_FALSE(j.contains(watch_only)) << watch_only;
}

TEST_F(CheckCli, VerifyJsonOfAnInvalidRunListsItsProblems) {
    ProcessResult result = check({"verify", "--json", write("empty.out", "")});
    EXPECT_EQ(result.exit_code, 1);
    nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["status"], "incomplete");
    EXPECT_EQ(j["result"]["valid"], false);
    EXPECT_EQ(j["result"]["complete"], false);
    EXPECT_EQ(j["result"]["problems"][0]["line"], 1);
}

TEST_F(CheckCli, UsageAndInputErrorsExitWithTwo) {
    struct {
        const char* context;
        std::vector<std::string> args;
        const char* message;
    } const cases[] = {
        {"no subcommand", {}, "subcommand"},
        {"an unknown subcommand", {"frobnicate"}, ""},
        {"a missing file", {"verify", "/nonexistent/run.out"}, "cannot open /nonexistent/run.out"},
        {"a directory", {"verify", "/"}, "is a directory"},
        {"two files", {"verify", "a", "b"}, ""},
        {"a team of zero", {"plan", "0"}, ""},
        {"a negative team", {"plan", "--rate", "1e8", "-2"}, ""},
        {"a team that is no number", {"plan", "many"}, ""},
        {"a rate of zero", {"plan", "--rate", "0"}, ""},
        {"a range upside down", {"verify", "--range", "10..5"}, "above its last"},
        {"a range without dots", {"plan", "--range", "10-50"}, "FIRST..LAST"},
    };
    for (const auto& c : cases) {
        ProcessResult result = check(c.args);
        EXPECT_EQ(result.exit_code, 2) << c.context << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.context << "\n" << result.err;
        EXPECT_EQ(result.out, "") << c.context;
    }
}

TEST_F(CheckCli, PlanPredictsFromAGivenRate) {
    ProcessResult result = check({"plan", "--rate", "3.5e8", "--cpus", "2", "1", "2", "4"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    // Team 2: 1310199216627 / 3.5e8 = 3743.4 s. Team 4 on 2 cores: the
    // four blocks share the two cores.
    EXPECT_NE(result.out.find("      1               0         2604321761481           100.00%           7440.9 s"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("      2               1         1310199216627            99.39%           3743.4 s"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("(as given)"), std::string::npos);
}

TEST_F(CheckCli, PlanJsonListsEveryTeam) {
    ProcessResult result = check({"plan", "--json", "--rate", "1e9", "--cpus", "3"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["total_remainder_tests"], 2604321761481ULL);
    EXPECT_EQ(j["division_rate_source"], "given");
    std::vector<int> teams;
    for (const auto& row : j["teams"]) teams.push_back(row["team"].get<int>());
    EXPECT_EQ(teams, (std::vector<int>{1, 2, 4, 6}));
    EXPECT_EQ(j["teams"][1]["slowest_member_remainder_tests"], 1310199216627ULL);
    EXPECT_NEAR(j["teams"][1]["predicted_elapsed_seconds"].get<double>(), 1310.199216627, 1e-6);
    EXPECT_NEAR(j["teams"][1]["predicted_rate"].get<double>(), 16384 / 1310.199216627, 1e-6);
}

// A report that cannot be written is a failure, whatever the command.
TEST_F(CheckCli, ALostReportIsAnIoError) {
    const std::string invalid = write("cut.out", read_file(*valid_).substr(0, 1000));
    struct {
        const char* context;
        std::vector<std::string> args;
        bool full_stderr;  // else standard output is full
    } const cases[] = {
        {"verify's summary", {"verify", *valid_}, false},
        {"verify's JSON", {"verify", "--json", *valid_}, false},
        {"verify's problems", {"verify", invalid}, true},
        {"plan's table", {"plan", "--rate", "1e8"}, false},
        {"the help", {"--help"}, false},
    };
    for (const auto& c : cases) {
        ProcessOptions options;
        if (c.full_stderr) {
            options.argv = {"/bin/sh", "-c", "exec \"$@\" 2>/dev/full", "sh", CHECK_PROGRAM};
        } else {
            options.argv = {CHECK_PROGRAM};
            options.stdout_path = "/dev/full";
        }
        options.argv.insert(options.argv.end(), c.args.begin(), c.args.end());
        ProcessResult result = run_process(options);
        EXPECT_EQ(result.exit_code, 2) << c.context << "\n" << result.err;
        if (!c.full_stderr) {
            EXPECT_NE(result.err.find("cannot write standard output: No space left on device"), std::string::npos)
                << c.context << "\n" << result.err;
        }
    }
}

// An elapsed time printed as 0.00 times nothing: the rates are unknown, not
// 0 and not infinite, and the run is still valid.
TEST_F(CheckCli, ARunTooShortToTimeHasUnknownRates) {
    const std::string path = write("instant.out", made_run(MadeRun{1999999999, 2000016382, 2, 0.004}));
    ProcessResult text = check({"verify", path});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    EXPECT_NE(text.out.find("rate:                      unknown: the elapsed time is printed as 0.00 s"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("sustained division rate:   unknown"), std::string::npos) << text.out;
    ProcessResult json = check({"verify", "--json", path});
    EXPECT_EQ(json.exit_code, 0) << json.err;
    nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_TRUE(j["result"]["rate"].is_null());
    EXPECT_TRUE(j["result"]["sustained_remainder_tests_per_second"].is_null());
}

TEST_F(CheckCli, PlanTimesThisMachineWhenNoRateIsGiven) {
    ProcessResult result = check({"plan", "--json", "2"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["division_rate_source"], "timed");
    EXPECT_GT(j["division_rate"].get<double>(), 0);
    EXPECT_GT(j["calibration_seconds"].get<double>(), 0.1);
}

}  // namespace
