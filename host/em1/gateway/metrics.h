// The gateway's account of itself, per instrument: reads and sets by outcome, line outages,
// broker reconnections, messages kept and superseded while the broker was away, and how long
// rounds and sets take. Published as JSON on PREFIX/NAME/metrics and served in the
// Prometheus text format.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// What a broker connection counts, kept up to date by the link's own thread.
struct LinkCounters {
    std::atomic<bool> connected{false};
    std::atomic<long long> reconnections{0}; // connections after the first
    std::atomic<long long> kept{0};          // messages held while the broker was away
    std::atomic<long long> superseded{0};    // held messages replaced by newer ones
};

// The read outcomes that the metrics tell apart, and the outcome words of set results, in
// the order they are shown.
inline constexpr std::array<std::string_view, 5> kReadOutcomes = {"bad_value", "line_failed",
                                                                  "no_answer", "ok", "refused"};
inline constexpr std::array<std::string_view, 6> kSetOutcomes = {
    "ignored", "inexact", "refused", "rejected", "unconfirmed", "written"};
using ReadCounts = std::array<long long, kReadOutcomes.size()>;
using SetCounts = std::array<long long, kSetOutcomes.size()>;

// Durations observed, for their median and 99th percentile over the latest ones.
struct Quantiles {
    double median = 0; // NaN before the first observation
    double p99 = 0;
    double sum = 0; // seconds, over every observation
    long long count = 0;
};

struct MetricsSnapshot {
    std::string instrument;
    ReadCounts reads{}; // by outcome, as kReadOutcomes
    SetCounts sets{};
    long long lineOutages = 0;
    long long reconnections = 0;
    long long kept = 0;
    long long superseded = 0;
    Quantiles round;     // seconds a round of reads took
    Quantiles setResult; // seconds from a set's arrival to its result, for sets that waited
    bool online = false; // the instrument's status: its line up and answering
    bool brokerUp = false;
};

class InstrumentMetrics {
  public:
    using Duration = std::chrono::steady_clock::duration;
    InstrumentMetrics(std::string instrument, std::shared_ptr<const LinkCounters> link);

    // outcome: one of kReadOutcomes, kSetOutcomes.
    void ReadDone(std::string_view outcome);
    void SetAnswered(std::string_view outcome);
    void SetWaited(Duration arrivalToResult);
    void LineOutage();
    void RoundTook(Duration took);
    void Online(bool online);
    MetricsSnapshot Take() const;

  private:
    class Window {
      public:
        void Add(double seconds);
        Quantiles Summary() const;

      private:
        std::deque<double> latest_;
        double sum_ = 0;
        long long count_ = 0;
    };

    std::string instrument_;
    std::shared_ptr<const LinkCounters> link_;
    mutable std::mutex lock_;
    ReadCounts reads_{};
    SetCounts sets_{};
    long long lineOutages_ = 0;
    Window round_;
    Window setResult_;
    bool online_ = false;
};

// The metrics of the instruments served now: each station adds its own, and its metrics
// leave with it.
class MetricsRegistry {
  public:
    void Add(const std::shared_ptr<InstrumentMetrics> &metrics);
    std::vector<MetricsSnapshot> Snapshots() const; // by instrument name

  private:
    mutable std::mutex lock_;
    mutable std::vector<std::weak_ptr<InstrumentMetrics>> entries_;
};

// The snapshots in the Prometheus text format (version 0.0.4).
std::string PrometheusText(const std::vector<MetricsSnapshot> &snapshots);

// One instrument's metrics as the JSON of its metrics topic.
std::string MetricsJson(const MetricsSnapshot &snapshot,
                        std::chrono::system_clock::time_point time);
