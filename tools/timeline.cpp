#include "timeline.hpp"

#include <algorithm>
#include <cmath>
#include <map>

namespace factorize {
namespace {

// Returns the q-quantile of sorted values, interpolating between neighbours.
double quantile(const std::vector<double>& sorted, double q) {
    if (sorted.size() == 1) return sorted[0];
    double at = q * static_cast<double>(sorted.size() - 1);
    size_t low = static_cast<size_t>(std::floor(at));
    size_t high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (at - static_cast<double>(low)) * (sorted[high] - sorted[low]);
}

std::optional<double> median_of(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    return quantile(values, 0.5);
}

nlohmann::json optional_json(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

void Timeline::banner(double ms) {
    if (!banner_ms_) banner_ms_ = ms;
}

void Timeline::add(const AcceptedLine& line, double ms) { entries_.push_back({line.number, line.tests, line.member, ms}); }

std::vector<double> Timeline::member_finish_ms() const {
    std::vector<double> finish;
    for (const TimelineEntry& e : entries_) {
        if (e.member < 0) continue;
        size_t m = static_cast<size_t>(e.member);
        if (finish.size() <= m) finish.resize(m + 1, -1);
        finish[m] = std::max(finish[m], e.ms);
    }
    return finish;
}

std::vector<RateSample> Timeline::rate_samples() const {
    std::vector<RateSample> samples;
    if (!banner_ms_) return samples;
    std::map<int64_t, double> previous;  // per member: its previous line's arrival
    for (const TimelineEntry& e : entries_) {
        if (e.member < 0) continue;
        auto it = previous.find(e.member);
        double since = e.ms - (it == previous.end() ? *banner_ms_ : it->second);
        previous[e.member] = e.ms;
        if (since >= kMinSampleMs && e.tests > 0)
            samples.push_back({e.ms, e.member, e.number, static_cast<double>(e.tests) / (since / 1000)});
    }
    return samples;
}

std::optional<RateStats> rate_stats(const std::vector<RateSample>& samples) {
    if (samples.empty()) return std::nullopt;
    std::vector<double> rates;
    double first_ms = samples.front().ms, last_ms = samples.front().ms;
    for (const RateSample& s : samples) {
        rates.push_back(s.rate);
        first_ms = std::min(first_ms, s.ms);
        last_ms = std::max(last_ms, s.ms);
    }
    std::sort(rates.begin(), rates.end());
    RateStats stats;
    stats.samples = rates.size();
    stats.median = quantile(rates, 0.5);
    stats.p10 = quantile(rates, 0.10);
    stats.p25 = quantile(rates, 0.25);
    stats.p75 = quantile(rates, 0.75);
    stats.p90 = quantile(rates, 0.90);
    stats.relative_spread = stats.median > 0 ? (stats.p75 - stats.p25) / stats.median : 0;
    // The trend compares the run's first and last quarters of time; each
    // needs a few samples to say anything.
    const double span = last_ms - first_ms;
    std::vector<double> first, last;
    for (const RateSample& s : samples) {
        if (s.ms <= first_ms + span / 4) first.push_back(s.rate);
        if (s.ms >= last_ms - span / 4) last.push_back(s.rate);
    }
    if (span > 0 && first.size() >= 3 && last.size() >= 3) {
        stats.first_quarter_median = median_of(first);
        stats.last_quarter_median = median_of(last);
        if (*stats.first_quarter_median > 0)
            stats.trend = *stats.last_quarter_median / *stats.first_quarter_median - 1;
    }
    return stats;
}

nlohmann::json timeline_json(const Timeline& timeline) {
    nlohmann::json j;
    j["banner_ms"] = optional_json(timeline.banner_ms());
    nlohmann::json numbers = nlohmann::json::array(), arrived = nlohmann::json::array(),
                   members = nlohmann::json::array(), tests = nlohmann::json::array();
    for (const TimelineEntry& e : timeline.entries()) {
        numbers.push_back(e.number);
        arrived.push_back(std::round(e.ms * 10) / 10);
        members.push_back(e.member);
        tests.push_back(e.tests);
    }
    j["number"] = numbers;
    j["arrived_ms"] = arrived;
    j["member"] = members;
    j["remainder_tests"] = tests;
    nlohmann::json finish = nlohmann::json::array();
    for (double ms : timeline.member_finish_ms()) finish.push_back(ms < 0 ? nlohmann::json(nullptr) : nlohmann::json(ms));
    j["member_finish_ms"] = finish;

    const std::vector<RateSample> samples = timeline.rate_samples();
    nlohmann::json rate;
    rate["min_sample_ms"] = kMinSampleMs;
    nlohmann::json sample_ms = nlohmann::json::array(), sample_member = nlohmann::json::array(),
                   sample_number = nlohmann::json::array(), sample_rate = nlohmann::json::array();
    for (const RateSample& s : samples) {
        sample_ms.push_back(std::round(s.ms * 10) / 10);
        sample_member.push_back(s.member);
        sample_number.push_back(s.number);
        sample_rate.push_back(std::round(s.rate));
    }
    rate["sample_ms"] = sample_ms;
    rate["sample_member"] = sample_member;
    rate["sample_number"] = sample_number;
    rate["sample_rate"] = sample_rate;
    std::optional<RateStats> stats = rate_stats(samples);
    rate["samples"] = samples.size();
    rate["median"] = stats ? nlohmann::json(stats->median) : nlohmann::json(nullptr);
    rate["p10"] = stats ? nlohmann::json(stats->p10) : nlohmann::json(nullptr);
    rate["p25"] = stats ? nlohmann::json(stats->p25) : nlohmann::json(nullptr);
    rate["p75"] = stats ? nlohmann::json(stats->p75) : nlohmann::json(nullptr);
    rate["p90"] = stats ? nlohmann::json(stats->p90) : nlohmann::json(nullptr);
    rate["relative_spread"] = stats ? nlohmann::json(stats->relative_spread) : nlohmann::json(nullptr);
    rate["first_quarter_median"] = optional_json(stats ? stats->first_quarter_median : std::nullopt);
    rate["last_quarter_median"] = optional_json(stats ? stats->last_quarter_median : std::nullopt);
    rate["trend"] = optional_json(stats ? stats->trend : std::nullopt);
    j["per_core_rate"] = rate;
    return j;
}

}  // namespace factorize
