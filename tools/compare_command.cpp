// `factorize_check compare RECORD...`: reads the records, refuses those that
// cannot be compared, and prints the table in the chosen form.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "commands.hpp"
#include "compare.hpp"
#include "console.hpp"

namespace factorize {
namespace {

constexpr size_t kDefaultWidth = 100;

// Returns the width to fit: the terminal's, else $COLUMNS, else 100.
size_t output_width(size_t asked) {
    if (asked > 0) return asked;
    struct winsize size {};
    if (isatty(1) && ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = getenv("COLUMNS")) {
        long n = std::strtol(columns, nullptr, 10);
        if (n > 0 && n < 10000) return static_cast<size_t>(n);
    }
    return kDefaultWidth;
}

// Reads a file, stopping once it is past the largest record; false with
// error set when it cannot be read.
bool read_bounded(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be read";
        return false;
    }
    char chunk[1 << 16];
    bytes.clear();
    while (bytes.size() <= kMaxRecordBytes && in.read(chunk, sizeof chunk).gcount() > 0)
        bytes.append(chunk, static_cast<size_t>(in.gcount()));
    if (in.bad()) {
        error = "cannot be read";
        return false;
    }
    return true;
}

}  // namespace

int run_compare(const CompareOptions& options) {
    std::vector<LoadedRecord> records;
    bool refused = false;
    for (const std::string& file : options.files) {
        std::string bytes, error;
        LoadedRecord record;
        if (read_bounded(file, bytes, error)) error = load_record(file, bytes, options.include_invalid, record);
        if (!error.empty()) {
            console().err("factorize_check: " + file + ": " + error + "\n");
            refused = true;
            continue;
        }
        records.push_back(std::move(record));
    }
    if (refused) return kExitUsage;
    const std::string mismatch = check_same_range(records);
    if (!mismatch.empty()) {
        console().err("factorize_check: " + mismatch + "\n");
        return kExitUsage;
    }
    if (options.baseline < 1 || options.baseline > records.size()) {
        console().err("factorize_check: --baseline " + std::to_string(options.baseline) + ": there are " +
                      std::to_string(records.size()) + " records\n");
        return kExitUsage;
    }
    const CompareTable table = compare_records(records, options.baseline - 1);
    std::string text;
    if (options.format == "markdown")
        text = render_markdown(table);
    else if (options.format == "csv")
        text = render_csv(table);
    else if (options.format == "json")
        text = render_json(table).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    else
        text = render_text(table, output_width(options.width));
    console().out(text);
    return kExitValid;
}

}  // namespace factorize
