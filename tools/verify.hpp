// Verification of a benchmark run's output, fed in pieces as it arrives.
//
// The output is: the banner, one factorization line per number of the range
// in an order the team decides, the elapsed-time line, the rate line. The
// verifier checks all of it in bounded memory, whatever the input: it keeps
// one line of at most kMaxLineBytes, a flag per number of the range, and
// the first problems and warnings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "range.hpp"

namespace factorize {

// Longer lines are rejected unread: the longest valid line, that of
// 3 * 2^62, has 148 characters with its newline.
constexpr size_t kMaxLineBytes = 256;
// Problems and warnings kept for reporting; the rest are only counted.
constexpr size_t kKeptMessages = 20;

struct Message {
    uint64_t line = 0;  // 1-based line number
    std::string text;
};

// A list of messages that keeps the first kKeptMessages and counts the rest.
struct Messages {
    std::vector<Message> kept;
    uint64_t total = 0;
    void add(uint64_t line, std::string text);
};

struct VerifyResult {
    Messages problems;
    Messages warnings;

    int64_t team = 0;                // from the banner; 0 when it has none
    bool has_elapsed = false, has_rate = false;
    double elapsed = 0, rate = 0;    // as printed
    std::string elapsed_text, rate_text;
    uint64_t lines = 0;              // lines read, the last one too if it has no newline
    uint64_t numbers_done = 0;       // numbers of the range with a valid line
    uint64_t total_tests = 0;        // remainder tests of those lines
    std::vector<uint64_t> member_tests;  // per busy member of the banner's team
    uint64_t slowest_member = 0;
    uint64_t slowest_tests = 0;
    bool complete = false;           // the input reached the rate line

    bool valid() const { return problems.total == 0; }
    // Returns total / (team * slowest member's tests).
    double split_efficiency() const;
    // Says whether the run can be timed: its elapsed time was printed above
    // 0.00. A shorter run's rates are unknown, not 0 and not infinite.
    bool timed() const { return has_elapsed && elapsed > 0; }
    // Returns the slowest member's tests over the elapsed time: the per-core
    // division rate the run sustained; nothing when the run is not timed.
    std::optional<double> sustained_rate() const;
};

// Says what a line of the output is, with its parsed parts.
struct ParsedLine {
    enum Kind { kBanner, kFactorization, kElapsed, kRate, kMalformed } kind = kMalformed;
    Kind attempted = kMalformed;     // what a malformed line was meant to be, by its start
    bool has_number = false;         // a factorization line's number was read, even if the rest was not
    uint64_t number = 0;             // a factorization line's number
    std::vector<uint64_t> factors;   // and its factors, as printed
    int64_t team = 0;                // a banner's team size
    double value = 0;                // a report line's value
    std::string value_text;          // and that value as printed
    std::string error;               // why a line is malformed
};

// Parses one line without its line ending. Checks the format alone: not
// primality, products or the range.
ParsedLine parse_line(std::string_view line);

// Checks a factorization line's factors against its number: each at least 2
// and prime, ascending, and their product (without 64-bit overflow) equal to
// the number. Returns "" when they are right, else what is wrong.
std::string check_factors(uint64_t number, const std::vector<uint64_t>& factors);

// Returns text quoted for a message: non-printable bytes as \xNN, cut short
// after a few dozen characters.
std::string quote(std::string_view text);

// A correct factorization line of the range, as the verifier accepted it.
struct AcceptedLine {
    uint64_t number = 0;
    uint64_t tests = 0;   // its remainder tests
    int64_t member = -1;  // whose block it is in, by the banner's team; -1 without a banner
};

class Verifier {
public:
    explicit Verifier(Range range = kBenchmarkRange);

    // Makes the verifier keep each correct factorization line it accepts,
    // for take_accepted.
    void keep_accepted() { keep_accepted_ = true; }
    // Returns the lines accepted since the last call, in input order.
    std::vector<AcceptedLine> take_accepted();

    // Takes the next bytes of the output, split anywhere.
    void feed(std::string_view bytes);
    // Ends the input and runs the checks that need all of it.
    void finish();
    const VerifyResult& result() const { return result_; }
    const Range& range() const { return range_; }

private:
    void end_line(bool had_newline);
    void dispatch(const ParsedLine& parsed, std::string_view text, uint64_t line);
    void on_factorization(const ParsedLine& parsed, uint64_t line);
    void on_malformed(const ParsedLine& parsed, uint64_t line);
    void mark_seen(const ParsedLine& parsed, uint64_t line);
    void check_rate(uint64_t line);

    enum class Stage { kBanner, kBody, kAfterElapsed, kAfterRate };

    Range range_;
    VerifyResult result_;
    Stage stage_ = Stage::kBanner;
    std::string line_;                  // the current line, up to kMaxLineBytes
    uint64_t line_length_ = 0;          // its length, even past the cap
    char last_byte_ = 0;                // its last byte, even past the cap
    int line_ending_ = 0;               // 0 unknown, 1 "\n", 2 "\r\n"
    uint64_t elapsed_line_ = 0;         // the elapsed-time line's number, 0 for none
    std::vector<uint32_t> first_seen_;  // per number: the line that first held it, 0 for none
    uint64_t numbers_seen_ = 0;         // numbers with a nonzero first_seen_
    std::vector<uint64_t> last_in_member_;  // per member: the highest number it printed
    bool finished_ = false;
    bool keep_accepted_ = false;
    std::vector<AcceptedLine> accepted_;
};

// Formats a count with the English plural.
std::string plural(uint64_t n, const char* one, const char* many);

}  // namespace factorize
