#include "compare.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>
#include <optional>

#include "record.hpp"

namespace factorize {
namespace {

using nlohmann::json;

// A path of keys into a record, outermost first.
using Path = std::vector<const char*>;

const json* at(const json& j, const Path& path) {
    const json* node = &j;
    for (const char* key : path) {
        if (!node->is_object()) return nullptr;
        auto it = node->find(key);
        if (it == node->end()) return nullptr;
        node = &*it;
    }
    return node;
}

std::optional<double> number_at(const json& j, const Path& path) {
    const json* node = at(j, path);
    if (!node || !node->is_number()) return std::nullopt;
    double value = node->get<double>();
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// Returns text safe for a terminal and a table: control bytes as '?', and
// cut short after a few hundred bytes.
std::string clean(const std::string& text) {
    constexpr size_t kLongest = 300;
    std::string out;
    for (size_t i = 0; i < text.size() && i < kLongest; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
    }
    if (text.size() > kLongest) out += "...";
    return out;
}

std::optional<std::string> string_at(const json& j, const Path& path) {
    const json* node = at(j, path);
    if (!node || !node->is_string()) return std::nullopt;
    return clean(node->get<std::string>());
}

// Formats one number; every pattern is a literal of this file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string format(const char* pattern, double value) {
    char text[64];
    snprintf(text, sizeof text, pattern, value);
    return text;
}
#pragma GCC diagnostic pop

// Returns the record's own value at path, for equality and for JSON output.
json raw_at(const json& j, const Path& path) {
    const json* node = at(j, path);
    return node ? *node : json(nullptr);
}

const char kAbsent[] = "n/a";

struct Cell {
    std::string text;
    json raw;
};

// How one row of the table reads a record.
struct RowRule {
    const char* section;
    const char* attribute;
    std::function<Cell(const json&)> cell;
    // For a figure compared with the baseline: the value to compare.
    std::function<std::optional<double>(const json&)> figure;
};

// Makes a row of the number at path, shown times scale with pattern (100 and
// "%.2f %%" for a fraction shown as a percentage); relative rows are also
// compared with the baseline.
RowRule number_row(const char* section, const char* attribute, Path path, const char* pattern, bool relative,
                   double scale = 1) {
    RowRule rule{section, attribute,
                 [path, pattern, scale](const json& r) {
                     std::optional<double> v = number_at(r, path);
                     return Cell{v ? format(pattern, scale * *v) : kAbsent, raw_at(r, path)};
                 },
                 nullptr};
    if (relative) rule.figure = [path](const json& r) { return number_at(r, path); };
    return rule;
}

RowRule string_row(const char* section, const char* attribute, Path path) {
    return {section, attribute,
            [path](const json& r) {
                const json* node = at(r, path);
                if (!node) return Cell{kAbsent, nullptr};
                if (node->is_string()) return Cell{clean(node->get<std::string>()), *node};
                if (node->is_null()) return Cell{"not shown", nullptr};
                return Cell{clean(node->dump(-1, ' ', false, json::error_handler_t::replace)), *node};
            },
            nullptr};
}

RowRule yes_no_row(const char* section, const char* attribute, Path path) {
    return {section, attribute,
            [path](const json& r) {
                const json* node = at(r, path);
                if (!node) return Cell{kAbsent, nullptr};
                return Cell{node->is_boolean() ? (node->get<bool>() ? "yes" : "no") : "not shown", *node};
            },
            nullptr};
}

// Returns CPUs as ranges: "0-3,8".
std::string cpu_list(const json& value) {
    if (!value.is_array()) return kAbsent;
    std::vector<long long> cpus;
    for (const json& cpu : value)
        if (cpu.is_number_integer()) cpus.push_back(cpu.get<long long>());
    if (cpus.empty()) return "not known";
    std::sort(cpus.begin(), cpus.end());
    std::string out;
    for (size_t i = 0; i < cpus.size();) {
        size_t j = i;
        while (j + 1 < cpus.size() && cpus[j + 1] == cpus[j] + 1) ++j;
        if (!out.empty()) out += ",";
        out += std::to_string(cpus[i]) + (j > i ? "-" + std::to_string(cpus[j]) : "");
        i = j + 1;
    }
    return out + " (" + std::to_string(cpus.size()) + ")";
}

std::vector<RowRule> row_rules() {
    std::vector<RowRule> rows;
    rows.push_back(string_row("result", "status", {"status"}));
    rows.push_back(number_row("result", "team", {"result", "team"}, "%.0f", false));
    rows.push_back(number_row("result", "elapsed time", {"result", "elapsed_seconds"}, "%.2f s", true));
    rows.push_back(number_row("result", "rate", {"result", "rate"}, "%.2f /s", true));
    rows.push_back(number_row("result", "sustained per-core rate", {"result", "sustained_remainder_tests_per_second"},
                              "%.4g tests/s", true));
    rows.push_back(number_row("result", "cycles per remainder test", {"clock", "cycles_per_remainder_test"}, "%.2f",
                              true));
    rows.push_back({"result", "cycles at the median rate",
                    [](const json& r) {
                        auto hz = number_at(r, {"clock", "estimate_hz"});
                        auto median = number_at(r, {"timeline", "per_core_rate", "median"});
                        if (!hz || !median || *median <= 0) return Cell{kAbsent, nullptr};
                        return Cell{format("%.2f", *hz / *median), *hz / *median};
                    },
                    [](const json& r) -> std::optional<double> {
                        auto hz = number_at(r, {"clock", "estimate_hz"});
                        auto median = number_at(r, {"timeline", "per_core_rate", "median"});
                        if (!hz || !median || *median <= 0) return std::nullopt;
                        return *hz / *median;
                    }});
    rows.push_back(number_row("result", "split efficiency", {"result", "split_efficiency"}, "%.2f %%", true, 100));

    rows.push_back(number_row("rate over the run", "per-core rate, median", {"timeline", "per_core_rate", "median"},
                              "%.4g tests/s", true));
    rows.push_back(number_row("rate over the run", "spread (IQR / median)",
                              {"timeline", "per_core_rate", "relative_spread"}, "%.2f %%", false, 100));
    rows.push_back({"rate over the run", "10th to 90th percentile",
                    [](const json& r) {
                        auto p10 = number_at(r, {"timeline", "per_core_rate", "p10"});
                        auto p90 = number_at(r, {"timeline", "per_core_rate", "p90"});
                        if (!p10 || !p90) return Cell{kAbsent, nullptr};
                        return Cell{format("%.4g", *p10) + " to " + format("%.4g", *p90), json::array({*p10, *p90})};
                    },
                    nullptr});
    rows.push_back(number_row("rate over the run", "trend, last quarter vs first",
                              {"timeline", "per_core_rate", "trend"}, "%+.2f %%", false, 100));
    rows.push_back(number_row("rate over the run", "numbers timed", {"timeline", "per_core_rate", "samples"}, "%.0f",
                              false));

    rows.push_back({"clock", "estimated core clock",
                    [](const json& r) {
                        std::optional<double> hz = number_at(r, {"clock", "estimate_hz"});
                        return Cell{hz ? format("%.3f GHz", *hz / 1e9) : kAbsent, raw_at(r, {"clock", "estimate_hz"})};
                    },
                    nullptr});
    rows.push_back({"clock", "before / after the run",
                    [](const json& r) {
                        auto before = number_at(r, {"clock", "before", "hz"});
                        auto after = number_at(r, {"clock", "after", "hz"});
                        if (!before && !after) return Cell{kAbsent, nullptr};
                        std::string text = (before ? format("%.3f", *before / 1e9) : std::string(kAbsent)) + " / " +
                                           (after ? format("%.3f", *after / 1e9) : std::string(kAbsent)) + " GHz";
                        return Cell{text, json::array({raw_at(r, {"clock", "before", "hz"}),
                                                       raw_at(r, {"clock", "after", "hz"})})};
                    },
                    nullptr});
    rows.push_back(number_row("clock", "kernel's reported clock", {"host", "kernel_mhz"}, "%.0f MHz", false));

    rows.push_back({"build", "build known",
                    [](const json& r) {
                        const json* known = at(r, {"build", "known"});
                        if (!known || !known->is_boolean()) return Cell{kAbsent, nullptr};
                        std::string text = known->get<bool>() ? "yes" : "no";
                        if (!known->get<bool>())
                            if (auto why = string_at(r, {"build", "why_unknown"})) text += ": " + *why;
                        return Cell{text, *known};
                    },
                    nullptr});
    rows.push_back(string_row("build", "version", {"build", "version"}));
    rows.push_back(string_row("build", "compiler", {"build", "compiler_version_text"}));
    rows.push_back(string_row("build", "build type", {"build", "build_type"}));
    rows.push_back(string_row("build", "compile flags", {"build", "compile_flags"}));
    rows.push_back(string_row("build", "link flags", {"build", "link_flags"}));
    rows.push_back({"build", "OpenMP runtime",
                    [](const json& r) {
                        auto library = string_at(r, {"build", "openmp_library"});
                        auto version = string_at(r, {"build", "openmp_library_version"});
                        if (!library) return Cell{kAbsent, nullptr};
                        return Cell{*library + (version ? " (" + *version + ")" : ""),
                                    json::array({raw_at(r, {"build", "openmp_library"}),
                                                 raw_at(r, {"build", "openmp_library_version"})})};
                    },
                    nullptr});
    rows.push_back({"build", "commit",
                    [](const json& r) {
                        auto commit = string_at(r, {"build", "commit"});
                        if (!commit) return Cell{kAbsent, nullptr};
                        const json* dirty = at(r, {"build", "tree_dirty"});
                        std::string text = commit->substr(0, 12);
                        if (dirty && dirty->is_boolean() && dirty->get<bool>()) text += " with uncommitted changes";
                        return Cell{text, json::array({raw_at(r, {"build", "commit"}), raw_at(r, {"build", "tree_dirty"})})};
                    },
                    nullptr});
    rows.push_back({"build", "binary SHA-256",
                    [](const json& r) {
                        auto sha = string_at(r, {"build", "binary_sha256"});
                        return Cell{sha ? sha->substr(0, 16) + "..." : kAbsent, raw_at(r, {"build", "binary_sha256"})};
                    },
                    nullptr});

    rows.push_back(string_row("host", "CPU model", {"host", "cpu_model"}));
    rows.push_back(number_row("host", "logical CPUs", {"host", "logical_cpus"}, "%.0f", false));
    rows.push_back({"host", "cores x threads per core",
                    [](const json& r) {
                        auto cores = number_at(r, {"host", "cores"});
                        auto threads = number_at(r, {"host", "threads_per_core"});
                        if (!cores) return Cell{kAbsent, nullptr};
                        return Cell{format("%.0f", *cores) + " x " + (threads ? format("%.0f", *threads) : "?"),
                                    json::array({raw_at(r, {"host", "cores"}), raw_at(r, {"host", "threads_per_core"})})};
                    },
                    nullptr});
    rows.push_back(string_row("host", "kernel", {"host", "kernel_release"}));
    rows.push_back(string_row("host", "governor", {"host", "governor"}));
    rows.push_back(yes_no_row("host", "boost", {"host", "boost"}));
    rows.push_back(yes_no_row("host", "hypervisor", {"host", "hypervisor"}));
    rows.push_back({"host", "memory",
                    [](const json& r) {
                        auto bytes = number_at(r, {"host", "memory_bytes"});
                        return Cell{bytes ? format("%.1f GiB", *bytes / 1073741824.0) : kAbsent,
                                    raw_at(r, {"host", "memory_bytes"})};
                    },
                    nullptr});
    rows.push_back({"host", "CPU affinity",
                    [](const json& r) {
                        const json* cpus = at(r, {"host", "cpu_affinity"});
                        return Cell{cpus ? cpu_list(*cpus) : kAbsent, raw_at(r, {"host", "cpu_affinity"})};
                    },
                    nullptr});
    rows.push_back({"host", "OMP_* variables",
                    [](const json& r) {
                        const json* env = at(r, {"host", "omp_environment"});
                        if (!env || !env->is_object()) return Cell{kAbsent, nullptr};
                        std::string text;
                        for (auto it = env->begin(); it != env->end(); ++it)
                            text += (text.empty() ? "" : " ") + clean(it.key()) + "=" +
                                    (it->is_string() ? clean(it->get<std::string>()) : "?");
                        return Cell{text.empty() ? "none" : text, *env};
                    },
                    nullptr});
    rows.push_back({"host", "load average, start / end",
                    [](const json& r) {
                        auto start = number_at(r, {"host", "load_avg_1min_start"});
                        auto end = number_at(r, {"host", "load_avg_1min_end"});
                        if (!start && !end) return Cell{kAbsent, nullptr};
                        return Cell{(start ? format("%.2f", *start) : std::string(kAbsent)) + " / " +
                                        (end ? format("%.2f", *end) : std::string(kAbsent)),
                                    json::array({raw_at(r, {"host", "load_avg_1min_start"}),
                                                 raw_at(r, {"host", "load_avg_1min_end"})})};
                    },
                    nullptr});
    rows.push_back(string_row("host", "host name", {"host", "hostname"}));

    rows.push_back(string_row("run", "made by", {"made_by"}));
    rows.push_back(string_row("run", "start (UTC)", {"host", "start_utc"}));
    rows.push_back(string_row("run", "end (UTC)", {"host", "end_utc"}));
    rows.push_back({"run", "pre-flight",
                    [](const json& r) {
                        const json* findings = at(r, {"preflight"});
                        if (!findings || !findings->is_array()) return Cell{kAbsent, nullptr};
                        std::string text;
                        for (const json& f : *findings) {
                            auto level = string_at(f, {"level"});
                            auto what = string_at(f, {"text"});
                            if (what) text += (text.empty() ? "" : "; ") + (level ? *level + ": " : "") + *what;
                        }
                        return Cell{text.empty() ? "nothing to say" : clean(text), *findings};
                    },
                    nullptr});
    return rows;
}

// Rows whose difference says nothing about how the runs were made.
bool incidental(const CompareRow& row) {
    return row.section == "result" || row.section == "rate over the run" || row.section == "clock" ||
           row.attribute == "start (UTC)" || row.attribute == "end (UTC)" ||
           row.attribute == "load average, start / end" || row.attribute == "pre-flight" ||
           row.attribute == "binary SHA-256" || row.attribute == "made by";
}

std::string percent(double fraction) { return format("%+.2f %%", 100 * fraction); }

std::string short_name(const std::string& file) {
    std::string name = std::filesystem::path(file).filename().string();
    return clean(name.empty() ? file : name);
}

}  // namespace

std::string load_record(const std::string& file, const std::string& bytes, bool include_invalid, LoadedRecord& out) {
    if (bytes.size() > kMaxRecordBytes) return "not a record: larger than " + std::to_string(kMaxRecordBytes) + " bytes";
    json j = json::parse(bytes, nullptr, false);
    if (j.is_discarded()) return "not a record: not JSON";
    if (!j.is_object() || !j.contains("schema_version")) return "not a record: no schema_version";
    const json& version = j["schema_version"];
    if (!version.is_number_integer() || version.get<long long>() != kRecordSchemaVersion)
        return "unknown schema version " + clean(version.dump(-1, ' ', false, json::error_handler_t::replace)) +
               " (this factorize_check reads version " + std::to_string(kRecordSchemaVersion) + ")";
    const json* first = at(j, {"result", "first_number"});
    const json* last = at(j, {"result", "last_number"});
    if (!first || !last || !first->is_number_unsigned() || !last->is_number_unsigned())
        return "not a record: its result has no range of numbers";
    if (!include_invalid) {
        auto status = string_at(j, {"status"});
        const json* valid = at(j, {"result", "valid"});
        bool is_valid = status && *status == "valid" && valid && valid->is_boolean() && valid->get<bool>();
        if (!is_valid)
            return "an invalid or incomplete run (status " + (status ? "\"" + *status + "\"" : std::string("unknown")) +
                   "); pass --include-invalid to show it";
    }
    out.file = file;
    out.j = std::move(j);
    return "";
}

std::string check_same_range(const std::vector<LoadedRecord>& records) {
    if (records.empty()) return "";
    auto range_of = [](const LoadedRecord& r) {
        return std::to_string(r.j["result"]["first_number"].get<unsigned long long>()) + ".." +
               std::to_string(r.j["result"]["last_number"].get<unsigned long long>());
    };
    const std::string first = range_of(records[0]);
    for (const LoadedRecord& r : records)
        if (range_of(r) != first)
            return r.file + ": a different range: " + range_of(r) + ", not " + first + " as in " + records[0].file;
    return "";
}

CompareTable compare_records(const std::vector<LoadedRecord>& records, size_t baseline) {
    CompareTable table;
    table.baseline = std::min(baseline, records.empty() ? 0 : records.size() - 1);
    for (const LoadedRecord& r : records) table.files.push_back(r.file);
    for (const RowRule& rule : row_rules()) {
        CompareRow row;
        row.section = rule.section;
        row.attribute = rule.attribute;
        std::optional<double> base;
        if (rule.figure && !records.empty()) base = rule.figure(records[table.baseline].j);
        for (size_t i = 0; i < records.size(); ++i) {
            Cell cell = rule.cell(records[i].j);
            if (rule.figure && i != table.baseline) {
                std::optional<double> value = rule.figure(records[i].j);
                if (value && base && *base != 0 && *value != *base) cell.text += " (" + percent(*value / *base - 1) + ")";
            }
            row.cells.push_back(cell.text);
            row.raw.push_back(cell.raw);
        }
        for (size_t i = 1; i < row.raw.size(); ++i)
            if (row.raw[i] != row.raw[0]) row.differs = true;
        table.rows.push_back(std::move(row));
    }

    // What each run says against the baseline: the per-core rate, judged
    // against the runs' own spread rather than naming a winner on noise.
    const json& base = records.empty() ? json() : records[table.baseline].j;
    for (size_t i = 0; i < records.size(); ++i) {
        if (i == table.baseline) continue;
        const json& other = records[i].j;
        const std::string name = short_name(records[i].file), base_name = short_name(records[table.baseline].file);
        std::string figure = "sustained per-core rate";
        auto a = number_at(base, {"result", "sustained_remainder_tests_per_second"});
        auto b = number_at(other, {"result", "sustained_remainder_tests_per_second"});
        if (!a || !b) {
            figure = "rate";
            a = number_at(base, {"result", "rate"});
            b = number_at(other, {"result", "rate"});
        }
        std::string line = name + " against " + base_name + ": ";
        if (!a || !b || *a <= 0) {
            table.conclusions.push_back(line + "no rate to compare");
            continue;
        }
        const double change = *b / *a - 1;
        line += figure + " " + percent(change);
        auto spread_a = number_at(base, {"timeline", "per_core_rate", "relative_spread"});
        auto spread_b = number_at(other, {"timeline", "per_core_rate", "relative_spread"});
        if (!spread_a || !spread_b) {
            line += "; the runs' own spread is unknown (a record without a timeline), so this may be noise";
        } else {
            // Half the wider interquartile range: a difference inside it is
            // what the runs' own numbers already vary by.
            const double noise = std::max(*spread_a, *spread_b) / 2;
            char band[64];
            snprintf(band, sizeof band, "+-%.2f %%", 100 * noise);
            if (std::fabs(change) <= noise)
                line += ", within the runs' own spread (" + std::string(band) + "): no difference shown";
            else
                line += ", beyond the runs' own spread (" + std::string(band) + "): " + name + " divides " +
                        (change > 0 ? "faster" : "slower") + " per core";
        }
        std::string differences;
        for (const CompareRow& row : table.rows) {
            if (incidental(row) || row.raw.size() <= i || row.raw[i] == row.raw[table.baseline]) continue;
            differences += (differences.empty() ? "" : ", ") + row.attribute;
        }
        line += differences.empty() ? "; no build or host attribute differs" : "; they differ in: " + differences;
        table.conclusions.push_back(line);
    }
    return table;
}

namespace {

// Splits text into lines of at most width characters, at spaces where it can.
std::vector<std::string> wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    width = std::max<size_t>(width, 1);
    std::string rest = text;
    while (rest.size() > width) {
        size_t cut = rest.rfind(' ', width);
        if (cut == std::string::npos || cut == 0) cut = width;
        lines.push_back(rest.substr(0, cut));
        rest = rest.substr(cut);
        if (!rest.empty() && rest[0] == ' ') rest = rest.substr(1);
    }
    lines.push_back(rest);
    return lines;
}

std::string pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string render_text(const CompareTable& table, size_t width) {
    const size_t n = std::max<size_t>(table.files.size(), 1);
    size_t name_width = 0;
    for (const CompareRow& row : table.rows) name_width = std::max(name_width, row.attribute.size());
    name_width += 3;  // the mark and a gap
    const size_t gap = 2;
    const size_t column = std::max<size_t>(12, (width > name_width + n * gap ? width - name_width : 0) / n - gap);
    const size_t span = n * (column + gap) - gap;

    std::string out;
    auto emit = [&](const std::string& name, const std::vector<std::vector<std::string>>& cells, size_t cell_width) {
        size_t height = 0;
        for (const auto& c : cells) height = std::max(height, c.size());
        for (size_t line = 0; line < height; ++line) {
            std::string text = pad(line == 0 ? name : "", name_width);
            for (size_t i = 0; i < cells.size(); ++i) {
                std::string part = line < cells[i].size() ? cells[i][line] : "";
                text += i + 1 < cells.size() ? pad(part, cell_width + gap) : part;
            }
            while (!text.empty() && text.back() == ' ') text.pop_back();
            out += text + "\n";
        }
    };
    std::vector<std::vector<std::string>> header;
    for (size_t i = 0; i < table.files.size(); ++i)
        header.push_back(wrap(short_name(table.files[i]) + (i == table.baseline ? " (baseline)" : ""), column));
    emit("", header, column);

    std::string section;
    for (const CompareRow& row : table.rows) {
        if (row.section != section) {
            section = row.section;
            out += section + "\n";
        }
        const std::string name = std::string(row.differs ? "* " : "  ") + row.attribute;
        if (!row.differs) {
            emit(name, {wrap(row.cells.empty() ? "" : row.cells[0], span)}, span);
        } else {
            std::vector<std::vector<std::string>> cells;
            for (const std::string& cell : row.cells) cells.push_back(wrap(cell, column));
            emit(name, cells, column);
        }
    }
    out += "\n* marks an attribute that differs; one shown once is the same in every record.\n";
    for (const std::string& line : table.conclusions)
        for (const std::string& part : wrap(line, std::max<size_t>(width, 40))) out += part + "\n";
    return out;
}

std::string render_markdown(const CompareTable& table) {
    auto escape = [](const std::string& text) {
        std::string out;
        for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
        return out;
    };
    std::string out = "| attribute |";
    for (size_t i = 0; i < table.files.size(); ++i)
        out += " " + escape(short_name(table.files[i])) + (i == table.baseline ? " (baseline)" : "") + " |";
    out += "\n|---|";
    for (size_t i = 0; i < table.files.size(); ++i) out += "---|";
    out += "\n";
    std::string section;
    for (const CompareRow& row : table.rows) {
        if (row.section != section) {
            section = row.section;
            out += "| ***" + section + "*** |";
            for (size_t i = 0; i < table.files.size(); ++i) out += " |";
            out += "\n";
        }
        out += "| " + (row.differs ? "**" + escape(row.attribute) + "** ≠" : escape(row.attribute)) + " |";
        for (size_t i = 0; i < row.cells.size(); ++i)
            out += " " + (row.differs || i == 0 ? escape(row.cells[i]) : std::string("〃")) + " |";
        out += "\n";
    }
    out += "\n≠ marks an attribute that differs; 〃 repeats the value to its left.\n\n";
    for (const std::string& line : table.conclusions) out += "- " + escape(line) + "\n";
    return out;
}

std::string render_csv(const CompareTable& table) {
    auto quote = [](const std::string& text) {
        if (text.find_first_of(",\"\n") == std::string::npos) return text;
        std::string out = "\"";
        for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
    };
    std::string out = "section,attribute,differs";
    for (const std::string& file : table.files) out += "," + quote(clean(file));
    out += "\n";
    for (const CompareRow& row : table.rows) {
        out += quote(row.section) + "," + quote(row.attribute) + "," + (row.differs ? "yes" : "no");
        for (const std::string& cell : row.cells) out += "," + quote(cell);
        out += "\n";
    }
    return out;
}

json render_json(const CompareTable& table) {
    json j;
    j["baseline"] = table.baseline;
    json files = json::array();
    for (const std::string& file : table.files) files.push_back(clean(file));
    j["records"] = files;
    json rows = json::array();
    for (const CompareRow& row : table.rows)
        rows.push_back({{"section", row.section},
                        {"attribute", row.attribute},
                        {"differs", row.differs},
                        {"shown", row.cells},
                        {"values", row.raw}});
    j["rows"] = rows;
    j["conclusions"] = table.conclusions;
    return j;
}

}  // namespace factorize
