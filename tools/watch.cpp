#include "watch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace factorize {

ProgressTracker::ProgressTracker(const RangeCost& costs) : costs_(costs) {}

void ProgressTracker::update(const VerifyResult& result, double now) {
    if (team_ == 0 && result.team > 0) {
        team_ = result.team;
        block_tests_ = costs_.team_cost(static_cast<uint64_t>(team_)).member_tests;
        done_tests_.assign(block_tests_.size(), 0);
        finished_at_.assign(block_tests_.size(), -1);
    }
    total_done_ = result.total_tests;
    numbers_done_ = result.numbers_done;
    for (size_t m = 0; m < done_tests_.size() && m < result.member_tests.size(); ++m) {
        done_tests_[m] = result.member_tests[m];
        if (finished_at_[m] < 0 && done_tests_[m] >= block_tests_[m]) finished_at_[m] = now;
    }
}

Progress ProgressTracker::progress(double now) const {
    Progress p;
    p.has_team = team_ > 0;
    p.numbers = costs_.range().count();
    p.numbers_done = numbers_done_;
    p.elapsed = now;
    p.fraction = costs_.total() ? static_cast<double>(total_done_) / static_cast<double>(costs_.total()) : 1;
    if (!p.has_team) return p;

    double busy_seconds = 0, done = 0;
    for (size_t m = 0; m < done_tests_.size(); ++m) {
        busy_seconds += finished_at_[m] >= 0 ? finished_at_[m] : now;
        done += static_cast<double>(done_tests_[m]);
    }
    if (done <= 0 || busy_seconds <= 0) return p;
    p.member_rate = done / busy_seconds;
    double left = 0;
    for (size_t m = 0; m < done_tests_.size(); ++m)
        if (done_tests_[m] < block_tests_[m])
            left = std::max(left, static_cast<double>(block_tests_[m] - done_tests_[m]) / p.member_rate);
    p.eta = left;
    return p;
}

std::string format_duration(double seconds) {
    if (!(seconds >= 0)) seconds = 0;
    uint64_t s = static_cast<uint64_t>(std::llround(seconds));
    char text[32];
    if (s >= 3600)
        snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                 static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
    else
        snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                 static_cast<unsigned long long>(s % 60));
    return text;
}

namespace {

std::string eta_text(const Progress& p) {
    if (!p.has_team) return "waiting for the banner";
    if (!p.eta) return "ETA unknown";
    return "ETA " + format_duration(*p.eta);
}

}  // namespace

std::string progress_bar(const Progress& p, int width) {
    int filled = static_cast<int>(std::clamp(p.fraction, 0.0, 1.0) * width);
    char text[256];
    snprintf(text, sizeof text, "[%s%s] %5.1f%%  %llu/%llu numbers  elapsed %s  %s",
             std::string(static_cast<size_t>(filled), '#').c_str(),
             std::string(static_cast<size_t>(width - filled), '.').c_str(), 100 * p.fraction,
             static_cast<unsigned long long>(p.numbers_done), static_cast<unsigned long long>(p.numbers),
             format_duration(p.elapsed).c_str(), eta_text(p).c_str());
    return text;
}

std::string progress_line(const Progress& p) {
    char text[256];
    snprintf(text, sizeof text, "progress: %.1f%% of the remainder tests, %llu/%llu numbers, elapsed %s, %s",
             100 * p.fraction, static_cast<unsigned long long>(p.numbers_done),
             static_cast<unsigned long long>(p.numbers), format_duration(p.elapsed).c_str(), eta_text(p).c_str());
    return text;
}

}  // namespace factorize
