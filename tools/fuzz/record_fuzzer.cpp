// libFuzzer target over compare's reading of records: any bytes, as the
// second record beside a real one, must get a refusal or a table in every
// form, without a crash or a sanitizer report. Built by the tests with clang.
//
//     build/tests/record_fuzzer tests/fixtures/records
#include <cstddef>
#include <cstdint>
#include <string>

#include "compare.hpp"

namespace {

const char kBaseline[] = R"({"schema_version": 1, "made_by": "factorize_check watch", "status": "valid",
  "result": {"valid": true, "first_number": 1999999999, "last_number": 2000016382, "team": 2,
             "elapsed_seconds": 2602.81, "rate": 6.29, "sustained_remainder_tests_per_second": 5.03e8},
  "timeline": {"per_core_rate": {"relative_spread": 0.01}}})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace factorize;
    std::vector<LoadedRecord> records(1);
    if (!load_record("baseline.json", kBaseline, false, records[0]).empty()) __builtin_trap();
    LoadedRecord record;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string error = load_record("fuzzed.json", bytes, size % 2 == 0, record);
    if (!error.empty()) return 0;
    records.push_back(std::move(record));
    if (!check_same_range(records).empty()) return 0;
    for (size_t baseline : {0, 1}) {
        CompareTable table = compare_records(records, baseline);
        if (table.conclusions.size() != 1) __builtin_trap();
        render_text(table, 40 + size % 200);
        render_markdown(table);
        render_csv(table);
        render_json(table).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return 0;
}
