// `factorize_check compare`: runs side by side, as columns, with their
// attributes as rows. An attribute equal in every record is shown once;
// differing ones are marked. A record is untrusted input: any bytes get an
// answer (a table or a refusal naming the file and the reason), no crash.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace factorize {

// Larger files are refused unread: a whole run's record is about 1 MB.
constexpr size_t kMaxRecordBytes = size_t{64} << 20;

struct LoadedRecord {
    std::string file;
    nlohmann::json j;
};

// Parses a record's bytes; returns "" or why it is not a comparable record.
// An invalid or incomplete run is refused unless include_invalid.
std::string load_record(const std::string& file, const std::string& bytes, bool include_invalid, LoadedRecord& out);

// Returns "" when every record has the first one's range, else which does not.
std::string check_same_range(const std::vector<LoadedRecord>& records);

struct CompareRow {
    std::string section;
    std::string attribute;
    std::vector<std::string> cells;  // one per record, as shown
    std::vector<nlohmann::json> raw; // one per record, the record's own value
    bool differs = false;
};

struct CompareTable {
    std::vector<std::string> files;
    size_t baseline = 0;
    std::vector<CompareRow> rows;
    std::vector<std::string> conclusions;  // one per record other than the baseline
};

// Builds the table of records (at least one), relative to records[baseline].
CompareTable compare_records(const std::vector<LoadedRecord>& records, size_t baseline);

// Render the table: text that fits width columns, Markdown, CSV, JSON.
std::string render_text(const CompareTable& table, size_t width);
std::string render_markdown(const CompareTable& table);
std::string render_csv(const CompareTable& table);
nlohmann::json render_json(const CompareTable& table);

}  // namespace factorize
