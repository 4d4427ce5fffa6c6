#include "verify.hpp"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cost.hpp"
#include "primes.hpp"
#include "split.hpp"

namespace factorize {
namespace {

constexpr std::string_view kBannerHead = "Benchmarking scalar factorization with OpenMP using ";
constexpr std::string_view kBannerTail = " threads...:";
constexpr std::string_view kElapsedHead = "Elapsed time: ";
constexpr std::string_view kElapsedTail = " seconds";
constexpr std::string_view kRateHead = "Factorizations per second: ";

const char kBannerShape[] = "\"Benchmarking scalar factorization with OpenMP using N threads...:\"";
const char kFactorizationShape[] = "\"NUMBER: FACTORxFACTOR...\"";
const char kElapsedShape[] = "\"Elapsed time: SECONDS seconds\"";
const char kRateShape[] = "\"Factorizations per second: RATE\"";

bool starts_with(std::string_view text, std::string_view head) { return text.substr(0, head.size()) == head; }

std::string decimal(uint64_t n) { return std::to_string(n); }

// Reads an unsigned decimal as "%llu" prints it: digits only, no sign, no
// leading zero. Returns "" on success, else what is wrong.
std::string read_unsigned(std::string_view text, uint64_t& value) {
    if (text.empty()) return "an empty number";
    for (char c : text)
        if (c < '0' || c > '9') return "a number with a character other than a digit: " + quote(text);
    if (text.size() > 1 && text[0] == '0') return "a number with a leading zero: " + quote(text);
    value = 0;
    for (char c : text) {
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return "a number beyond 64 bits: " + quote(text);
        value = value * 10 + digit;
    }
    return "";
}

// Reads a value as "%.2f" prints a finite non-negative double: digits with no
// leading zero, a point, exactly two decimals.
bool read_two_decimals(std::string_view text, double& value) {
    size_t point = text.find('.');
    if (point == std::string_view::npos || point == 0 || text.size() - point != 3) return false;
    std::string_view whole = text.substr(0, point), fraction = text.substr(point + 1);
    if (whole.size() > 1 && whole[0] == '0') return false;
    for (char c : whole)
        if (c < '0' || c > '9') return false;
    for (char c : fraction)
        if (c < '0' || c > '9') return false;
    value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(value);
}

ParsedLine malformed(ParsedLine::Kind attempted, std::string error) {
    ParsedLine parsed;
    parsed.kind = ParsedLine::kMalformed;
    parsed.attempted = attempted;
    parsed.error = std::move(error);
    return parsed;
}

ParsedLine parse_banner(std::string_view line) {
    const std::string expected = std::string("expected the banner ") + kBannerShape + " with a positive team size, got " + quote(line);
    if (line.size() < kBannerHead.size() + kBannerTail.size() || !starts_with(line, kBannerHead) ||
        line.substr(line.size() - kBannerTail.size()) != kBannerTail)
        return malformed(ParsedLine::kBanner, expected);
    std::string_view digits = line.substr(kBannerHead.size(), line.size() - kBannerHead.size() - kBannerTail.size());
    uint64_t team = 0;
    if (!read_unsigned(digits, team).empty() || team == 0 || team > INT_MAX) return malformed(ParsedLine::kBanner, expected);
    ParsedLine parsed;
    parsed.kind = parsed.attempted = ParsedLine::kBanner;
    parsed.team = static_cast<int64_t>(team);
    return parsed;
}

ParsedLine parse_report(std::string_view line, std::string_view head, std::string_view tail, ParsedLine::Kind kind,
                        const char* shape) {
    std::string_view value = line.substr(head.size());
    if (value.size() < tail.size() || value.substr(value.size() - tail.size()) != tail)
        return malformed(kind, std::string("expected ") + shape + ", got " + quote(line));
    value = value.substr(0, value.size() - tail.size());
    ParsedLine parsed;
    parsed.value_text = std::string(value);
    if (!read_two_decimals(value, parsed.value))
        return malformed(kind, std::string("expected ") + shape + " with a number with exactly two decimals, got " +
                                   quote(line));
    parsed.kind = parsed.attempted = kind;
    return parsed;
}

ParsedLine parse_factorization(std::string_view line) {
    ParsedLine parsed;
    auto fail = [&](const std::string& why) {
        ParsedLine failed = malformed(ParsedLine::kFactorization, std::string("expected a factorization line ") +
                                                                      kFactorizationShape + ", got " + quote(line) +
                                                                      (why.empty() ? "" : ": " + why));
        failed.has_number = parsed.has_number;
        failed.number = parsed.number;
        return failed;
    };
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.substr(colon, 2) != ": ") return fail("");
    std::string error = read_unsigned(line.substr(0, colon), parsed.number);
    if (!error.empty()) return fail(error);
    parsed.has_number = true;
    std::string_view rest = line.substr(colon + 2);
    while (!rest.empty()) {
        size_t x = rest.find('x');
        std::string_view factor = rest.substr(0, x);
        uint64_t value = 0;
        error = read_unsigned(factor, value);
        if (!error.empty())
            return fail(factor.empty() ? "an empty factor (factors are joined by a single lower-case x)" : error);
        parsed.factors.push_back(value);
        if (x == std::string_view::npos) break;
        rest = rest.substr(x + 1);
        if (rest.empty()) return fail("it ends with the separator x");
    }
    parsed.kind = parsed.attempted = ParsedLine::kFactorization;
    return parsed;
}

}  // namespace

void Messages::add(uint64_t line, std::string text) {
    ++total;
    if (kept.size() < kKeptMessages) kept.push_back({line, std::move(text)});
}

double VerifyResult::split_efficiency() const {
    if (team <= 0 || slowest_tests == 0) return 0;
    return static_cast<double>(total_tests) / (static_cast<double>(team) * static_cast<double>(slowest_tests));
}

std::optional<double> VerifyResult::sustained_rate() const {
    if (!timed()) return std::nullopt;
    return static_cast<double>(slowest_tests) / elapsed;
}

std::string quote(std::string_view text) {
    constexpr size_t kShown = 100;
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < kShown; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    out += '"';
    if (text.size() > kShown) out += "...";
    return out;
}

std::string plural(uint64_t n, const char* one, const char* many) { return decimal(n) + " " + (n == 1 ? one : many); }

ParsedLine parse_line(std::string_view line) {
    if (starts_with(line, kBannerHead)) return parse_banner(line);
    if (starts_with(line, kElapsedHead))
        return parse_report(line, kElapsedHead, kElapsedTail, ParsedLine::kElapsed, kElapsedShape);
    if (starts_with(line, kRateHead)) return parse_report(line, kRateHead, "", ParsedLine::kRate, kRateShape);
    return parse_factorization(line);
}

std::string check_factors(uint64_t number, const std::vector<uint64_t>& factors) {
    if (factors.empty()) {
        if (number < 2) return "";
        return "no factors; expected the prime factors of " + decimal(number);
    }
    uint64_t product = 1;
    bool overflow = false;
    for (size_t i = 0; i < factors.size(); ++i) {
        uint64_t f = factors[i];
        if (f < 2) return "factor " + decimal(f) + " is less than 2";
        if (i > 0 && f < factors[i - 1])
            return "the factors are not in ascending order: " + decimal(f) + " after " + decimal(factors[i - 1]);
        if (!is_prime(f)) return "factor " + decimal(f) + " is not prime";
        overflow = overflow || __builtin_mul_overflow(product, f, &product);
    }
    if (overflow) return "the factors' product overflows 64 bits; expected " + decimal(number);
    if (product != number) return "the factors multiply to " + decimal(product) + ", not " + decimal(number);
    return "";
}

Verifier::Verifier(Range range) : range_(range), first_seen_(range.count(), 0) {}

std::vector<AcceptedLine> Verifier::take_accepted() {
    std::vector<AcceptedLine> taken;
    taken.swap(accepted_);
    return taken;
}

void Verifier::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        size_t newline = bytes.find('\n');
        std::string_view piece = bytes.substr(0, newline);
        if (!piece.empty()) {
            if (line_.size() <= kMaxLineBytes)
                line_.append(piece.substr(0, kMaxLineBytes + 1 - line_.size()));
            line_length_ += piece.size();
            last_byte_ = piece.back();
        }
        if (newline == std::string_view::npos) return;
        end_line(true);
        bytes.remove_prefix(newline + 1);
    }
}

void Verifier::end_line(bool had_newline) {
    const uint64_t number = ++result_.lines;
    std::string_view text(line_);
    if (had_newline) {
        int ending = (line_length_ > 0 && last_byte_ == '\r') ? 2 : 1;
        if (line_ending_ == 0) {
            line_ending_ = ending;
        } else if (ending != line_ending_) {
            result_.problems.add(number, std::string("ends with ") + (ending == 2 ? "\"\\r\\n\"" : "\"\\n\"") +
                                             " unlike line 1; the line endings must be the same throughout");
        }
    }
    if (line_length_ > 0 && last_byte_ == '\r' && line_length_ <= kMaxLineBytes) text.remove_suffix(1);
    if (!had_newline)
        result_.problems.add(number, "the output ends in the middle of this line: it has no newline at its end");

    if (line_length_ > kMaxLineBytes) {
        result_.problems.add(number, "a line of " + decimal(line_length_) +
                                         " bytes; the longest the benchmark prints has 148 with its newline");
        if (stage_ == Stage::kBanner) stage_ = Stage::kBody;
    } else {
        dispatch(parse_line(text), text, number);
    }
    line_.clear();
    line_length_ = 0;
    last_byte_ = 0;
}

void Verifier::dispatch(const ParsedLine& parsed, std::string_view text, uint64_t line) {
    switch (stage_) {
    case Stage::kBanner:
        stage_ = Stage::kBody;
        if (parsed.kind == ParsedLine::kBanner) {
            result_.team = parsed.team;
            uint64_t busy = busy_members(range_.count(), static_cast<uint64_t>(parsed.team));
            result_.member_tests.assign(busy, 0);
            last_in_member_.assign(busy, 0);
            return;
        }
        result_.problems.add(line, std::string("expected the banner ") + kBannerShape +
                                       " with a positive team size, got " + quote(text));
        // Whatever the first line is, the rest is still checked; a first line
        // that is some number's line counts as that number's.
        if (parsed.kind != ParsedLine::kMalformed || parsed.has_number) dispatch(parsed, text, line);
        return;
    case Stage::kBody:
        switch (parsed.kind) {
        case ParsedLine::kFactorization:
            on_factorization(parsed, line);
            return;
        case ParsedLine::kElapsed:
            result_.has_elapsed = true;
            result_.elapsed = parsed.value;
            result_.elapsed_text = parsed.value_text;
            elapsed_line_ = line;
            stage_ = Stage::kAfterElapsed;
            return;
        case ParsedLine::kRate:
            result_.problems.add(line, std::string("expected the elapsed-time line ") + kElapsedShape +
                                           " before the rate line");
            stage_ = Stage::kAfterElapsed;
            dispatch(parsed, text, line);
            return;
        case ParsedLine::kBanner:
            result_.problems.add(line, "a second banner; the banner is the first line only");
            return;
        case ParsedLine::kMalformed:
            on_malformed(parsed, line);
            return;
        }
        return;
    case Stage::kAfterElapsed:
        if (parsed.kind == ParsedLine::kRate) {
            result_.has_rate = true;
            result_.rate = parsed.value;
            result_.rate_text = parsed.value_text;
            stage_ = Stage::kAfterRate;
            check_rate(line);
            return;
        }
        if (parsed.attempted == ParsedLine::kRate) {
            on_malformed(parsed, line);
            return;
        }
        result_.problems.add(line, std::string("expected the rate line ") + kRateShape +
                                       " right after the elapsed-time line, got " + quote(text));
        if (parsed.kind == ParsedLine::kFactorization) on_factorization(parsed, line);
        if (parsed.kind == ParsedLine::kMalformed) mark_seen(parsed, line);
        return;
    case Stage::kAfterRate:
        result_.problems.add(line, "nothing may follow the rate line, got " + quote(text));
        if (parsed.kind == ParsedLine::kFactorization) on_factorization(parsed, line);
        if (parsed.kind == ParsedLine::kMalformed) mark_seen(parsed, line);
        return;
    }
}

void Verifier::on_malformed(const ParsedLine& parsed, uint64_t line) {
    if (parsed.attempted == ParsedLine::kRate && stage_ == Stage::kBody)
        result_.problems.add(line, std::string("expected the elapsed-time line ") + kElapsedShape +
                                       " before the rate line");
    result_.problems.add(line, parsed.error);
    mark_seen(parsed, line);
    // A report line with a wrong number still ends the part it opens, so
    // that one fault gives one problem.
    if (parsed.attempted == ParsedLine::kElapsed) {
        elapsed_line_ = line;
        stage_ = Stage::kAfterElapsed;
    } else if (parsed.attempted == ParsedLine::kRate) {
        stage_ = Stage::kAfterRate;
    }
}

namespace {

// Returns a line number as kept per number: 32 bits, the largest meaning
// "that line or later", since no real output comes near it.
uint32_t kept_line(uint64_t line) { return static_cast<uint32_t>(std::min<uint64_t>(line, UINT32_MAX)); }

std::string kept_line_text(uint32_t line) {
    return line == UINT32_MAX ? "line " + decimal(line) + " or later" : "line " + decimal(line);
}

}  // namespace

void Verifier::mark_seen(const ParsedLine& parsed, uint64_t line) {
    // A malformed line of a number in the range is that number's line: it is
    // reported once, as malformed, not again as missing.
    if (parsed.has_number && range_.contains(parsed.number) && first_seen_[parsed.number - range_.first] == 0) {
        first_seen_[parsed.number - range_.first] = kept_line(line);
        ++numbers_seen_;
    }
}

void Verifier::on_factorization(const ParsedLine& parsed, uint64_t line) {
    if (!range_.contains(parsed.number)) {
        result_.problems.add(line, decimal(parsed.number) + " is outside the range " + decimal(range_.first) + ".." +
                                       decimal(range_.last));
        return;
    }
    const uint64_t offset = parsed.number - range_.first;
    if (first_seen_[offset] != 0) {
        result_.problems.add(line, decimal(parsed.number) + " appears a second time (first on " +
                                       kept_line_text(first_seen_[offset]) + "); each number has exactly one line");
        return;
    }
    first_seen_[offset] = kept_line(line);
    ++numbers_seen_;
    std::string error = check_factors(parsed.number, parsed.factors);
    if (!error.empty()) {
        result_.problems.add(line, error);
        return;
    }
    const uint64_t tests = remainder_tests(parsed.factors);
    ++result_.numbers_done;
    result_.total_tests += tests;
    if (keep_accepted_)
        accepted_.push_back({parsed.number, tests,
                             result_.team > 0 ? static_cast<int64_t>(member_of(range_.count(),
                                                                               static_cast<uint64_t>(result_.team), offset))
                                              : -1});
    if (result_.team > 0) {
        uint64_t member = member_of(range_.count(), static_cast<uint64_t>(result_.team), offset);
        if (parsed.number < last_in_member_[member])
            result_.warnings.add(line, decimal(parsed.number) + " comes after " + decimal(last_in_member_[member]) +
                                           " in member " + decimal(member) + "'s block of a team of " +
                                           decimal(static_cast<uint64_t>(result_.team)) +
                                           ", whose numbers come in ascending order (the sweep's team may"
                                           " differ from the banner's)");
        last_in_member_[member] = std::max(last_in_member_[member], parsed.number);
        result_.member_tests[member] += tests;
    }
}

void Verifier::check_rate(uint64_t line) {
    if (!result_.has_elapsed) return;
    // The elapsed time printed as E came from a value within E +- 0.005; the
    // rate is the count over that unrounded value, itself rounded.
    const double count = static_cast<double>(range_.count());
    const double low_elapsed = result_.elapsed - 0.005, high_elapsed = result_.elapsed + 0.005;
    const double slack = 1e-9 * result_.rate;
    const double low = count / high_elapsed - 0.005 - slack;
    const double high = low_elapsed > 0 ? count / low_elapsed + 0.005 + slack : INFINITY;
    if (result_.rate < low || result_.rate > high) {
        char text[256];
        if (std::isinf(high))
            snprintf(text, sizeof text, "the rate %s is not %" PRIu64 " / the elapsed time %s: it must be at least %.2f",
                     result_.rate_text.c_str(), range_.count(), result_.elapsed_text.c_str(), low);
        else
            snprintf(text, sizeof text,
                     "the rate %s is not %" PRIu64 " / the elapsed time %s: it must lie between %.2f and %.2f",
                     result_.rate_text.c_str(), range_.count(), result_.elapsed_text.c_str(), low, high);
        result_.problems.add(line, text);
    }
}

void Verifier::finish() {
    if (finished_) return;
    finished_ = true;
    if (line_length_ > 0) end_line(false);

    const uint64_t end = result_.lines + 1;
    if (result_.lines == 0)
        result_.problems.add(1, std::string("expected the banner ") + kBannerShape + ", got an empty input");
    else if (stage_ == Stage::kBody)
        result_.problems.add(end, std::string("the output ends before the elapsed-time line ") + kElapsedShape);
    else if (stage_ == Stage::kAfterElapsed)
        result_.problems.add(end, std::string("the output ends before the rate line ") + kRateShape);
    result_.complete = stage_ == Stage::kAfterRate;

    // The count comes from the lines seen; the scan only names the first few.
    const uint64_t missing = range_.count() - numbers_seen_;
    std::string listed;
    for (uint64_t offset = 0, named = 0; named < std::min<uint64_t>(missing, 5); ++offset) {
        if (first_seen_[offset] != 0) continue;
        listed += (named++ > 0 ? ", " : "") + decimal(range_.first + offset);
    }
    if (missing > 0) {
        if (missing > 5) listed += ", ...";
        result_.problems.add(elapsed_line_ ? elapsed_line_ : end,
                             plural(missing, "number", "numbers") + " of the range " + (missing == 1 ? "has" : "have") +
                                 " no line (" + listed + "); expected one line for each number from " +
                                 decimal(range_.first) + " to " + decimal(range_.last));
    }

    for (uint64_t member = 0; member < result_.member_tests.size(); ++member)
        if (result_.member_tests[member] > result_.slowest_tests) {
            result_.slowest_tests = result_.member_tests[member];
            result_.slowest_member = member;
        }
}

}  // namespace factorize
