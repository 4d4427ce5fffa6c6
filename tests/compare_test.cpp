// factorize_check compare on fixture records: the side-by-side table in each
// form, the conclusion against the runs' spread, and the refusals.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/process.hpp"

namespace {

using namespace testing_support;

const std::string kRecords = std::string(FIXTURES_DIR) + "/records/";

ProcessResult compare(std::vector<std::string> args) {
    std::vector<std::string> argv = {CHECK_PROGRAM, "compare"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

// Returns the line of text that starts with prefix, or "".
std::string line_starting(const std::string& text, const std::string& prefix) {
    for (const std::string& line : split_lines(text))
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

TEST(Compare, ShowsEqualAttributesOnceAndMarksDifferences) {
    ProcessResult result =
        compare({kRecords + "gcc_team2.json", kRecords + "gcc_team4.json", "--width", "120"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string& out = result.out;
    // Equal everywhere: no mark, the value once.
    std::string compiler = line_starting(out, "  compiler ");
    ASSERT_NE(compiler, "") << out;
    EXPECT_EQ(compiler.find("g++ (Debian 12.2.0-14+deb12u1) 12.2.0"),
              compiler.rfind("g++ (Debian 12.2.0-14+deb12u1) 12.2.0"));
    // Different: marked, one cell per record, relative to the baseline.
    std::string team = line_starting(out, "* team ");
    EXPECT_NE(team.find("2"), std::string::npos) << out;
    EXPECT_NE(team.find("4"), std::string::npos);
    std::string elapsed = line_starting(out, "* elapsed time ");
    EXPECT_NE(elapsed.find("2602.81 s"), std::string::npos) << out;
    EXPECT_NE(elapsed.find("2690.15 s (+3.36 %)"), std::string::npos) << elapsed;
    for (const std::string& line : split_lines(out)) EXPECT_LE(line.size(), 120u) << line;
    // The per-core rates differ by less than the runs' own spread.
    EXPECT_NE(out.find("gcc_team4.json against gcc_team2.json: sustained per-core rate -0.45 %, within the runs' own "
                       "spread"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("they differ in: OMP_* variables"), std::string::npos) << out;
}

TEST(Compare, NamesTheFasterRunOnlyBeyondTheSpread) {
    struct {
        const char* context;
        std::vector<std::string> args;
        const char* says;
    } const cases[] = {
        {"a faster compiler",
         {kRecords + "gcc_team2.json", kRecords + "clang_team2.json"},
         "clang_team2.json against gcc_team2.json: sustained per-core rate +23.86 %, beyond the runs' own spread "
         "(+-0.45 %): clang_team2.json divides faster per core; they differ in: compiler"},
        {"another baseline",
         {kRecords + "gcc_team2.json", kRecords + "clang_team2.json", "--baseline", "2"},
         "gcc_team2.json against clang_team2.json: sustained per-core rate -19.26 %, beyond"},
        {"no timeline, no spread",
         {kRecords + "gcc_team2.json", kRecords + "verified.json"},
         "the runs' own spread is unknown"},
        {"an invalid run, when asked for",
         {kRecords + "gcc_team2.json", kRecords + "incomplete.json", "--include-invalid"},
         "status"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--width", "400"});
        ProcessResult result = compare(args);
        EXPECT_EQ(result.exit_code, 0) << c.context << "\n" << result.err;
        EXPECT_NE(result.out.find(c.says), std::string::npos) << c.context << "\n" << result.out;
    }
}

TEST(Compare, RefusesWhatCannotBeCompared) {
    struct {
        const char* context;
        std::string file;
        const char* reason;
    } const cases[] = {
        {"a different range", "other_range.json", "a different range: 0..99, not 1999999999..2000016382"},
        {"a newer schema", "future_schema.json", "unknown schema version 2"},
        {"a log, not a record", "not_json.txt", "not a record: not JSON"},
        {"a cut record", "truncated.json", "not a record: not JSON"},
        {"JSON that is no record", "array.json", "not a record: no schema_version"},
        {"an incomplete run", "incomplete.json", "an invalid or incomplete run (status \"incomplete\")"},
        {"a missing file", "no_such_record.json", "cannot be read"},
        {"a directory", ".", "cannot be read"},
    };
    for (const auto& c : cases) {
        ProcessResult result = compare({kRecords + "gcc_team2.json", kRecords + c.file});
        EXPECT_EQ(result.exit_code, 2) << c.context;
        EXPECT_NE(result.err.find(kRecords + c.file), std::string::npos) << c.context << "\n" << result.err;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.context << "\n" << result.err;
        EXPECT_EQ(result.out, "") << c.context;
    }
    ProcessResult baseline = compare({kRecords + "gcc_team2.json", "--baseline", "3"});
    EXPECT_EQ(baseline.exit_code, 2);
    EXPECT_NE(baseline.err.find("there are 1 records"), std::string::npos) << baseline.err;
}

TEST(Compare, WritesMarkdownCsvAndJson) {
    const std::vector<std::string> files = {kRecords + "gcc_team2.json", kRecords + "gcc_team4.json"};
    ProcessResult markdown = compare({files[0], files[1], "--format", "markdown"});
    ASSERT_EQ(markdown.exit_code, 0) << markdown.err;
    EXPECT_NE(markdown.out.find("| attribute | gcc_team2.json (baseline) | gcc_team4.json |"), std::string::npos)
        << markdown.out;
    EXPECT_NE(markdown.out.find("| **team** ≠ | 2 | 4 |"), std::string::npos) << markdown.out;
    EXPECT_NE(markdown.out.find("| build type | Release | 〃 |"), std::string::npos) << markdown.out;

    ProcessResult csv = compare({files[0], files[1], "--format", "csv"});
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    std::vector<std::string> lines = split_lines(csv.out);
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], "section,attribute,differs," + files[0] + "," + files[1]);
    EXPECT_NE(csv.out.find("\nresult,team,yes,2,4\n"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("\nbuild,build type,no,Release,Release\n"), std::string::npos) << csv.out;

    ProcessResult json = compare({files[0], files[1], "--format", "json"});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["baseline"], 0);
    EXPECT_EQ(j["records"].size(), 2u);
    bool team_seen = false;
    for (const auto& row : j["rows"])
        if (row["attribute"] == "team") {
            team_seen = true;
            EXPECT_EQ(row["differs"], true);
            EXPECT_EQ(row["values"], nlohmann::json::array({2, 4}));
        }
    EXPECT_TRUE(team_seen);
    EXPECT_EQ(j["conclusions"].size(), 1u);
}

// A record is untrusted input: fields of every wrong type, control bytes,
// deep nesting and bytes that are no text get an answer, never a crash.
TEST(Compare, AnswersHostileRecordsWithoutCrashing) {
    const std::string dir = make_temp_dir();
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    };
    const std::string deep = write("deep.json", std::string(200000, '[') + std::string(200000, ']'));
    const std::string binary = write("binary.json", std::string("{\"schema_version\":1,\"x\":\"\xff\xfe\"}\0\1", 36));
    const std::string huge = write("huge_number.json", "{\"schema_version\": 1e999999}");
    for (const char* format : {"text", "markdown", "csv", "json"}) {
        ProcessResult result = compare({kRecords + "gcc_team2.json", kRecords + "hostile.json", "--format", format});
        EXPECT_EQ(result.signal, 0) << format;
        EXPECT_EQ(result.exit_code, 0) << format << "\n" << result.err;
        EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "no terminal escapes pass through";
        EXPECT_EQ(result.out.find('\x07'), std::string::npos);
    }
    for (const std::string& file : {deep, binary, huge}) {
        ProcessResult result = compare({file});
        EXPECT_EQ(result.signal, 0) << file;
        EXPECT_EQ(result.exit_code, 2) << file << "\n" << result.err;
        EXPECT_NE(result.err.find(file + ": "), std::string::npos) << result.err;
    }
}

}  // namespace
