// The gateway's account of itself, per instrument: reads and sets by outcome, line outages,
// broker reconnections, messages kept and superseded while the broker was away, and how long
// rounds and sets take. Published as JSON on PREFIX/NAME/metrics and served in the
// Prometheus text format.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What a broker connection counts, kept up to date by the link's own thread.
struct LinkCounters {
    std::atomic<bool> connected{false};
    std::atomic<long long> reconnections{0}; // connections after the first
    std::atomic<long long> kept{0};          // messages held while the broker was away
    std::atomic<long long> superseded{0};    // held messages replaced by newer ones
};

// The read outcomes that the metrics tell apart.
inline constexpr const char *kReadOutcomes[] = {"ok", "no_answer", "refused", "bad_value",
                                                "line_failed"};
// The outcome words of set results.
inline constexpr const char *kSetOutcomes[] = {"written", "inexact",  "unconfirmed",
                                               "refused", "rejected", "ignored"};

// Durations observed, for their median and 99th percentile over the latest ones.
struct Quantiles {
    double median = 0; // NaN before the first observation
    double p99 = 0;
    double sum = 0; // seconds, over every observation
    long long count = 0;
};

struct MetricsSnapshot {
    std::string instrument;
    std::map<std::string, long long> reads; // by outcome, every outcome present
    std::map<std::string, long long> sets;
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

    void ReadDone(const std::string &outcome);
    void SetAnswered(const std::string &outcome);
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
    std::map<std::string, long long> reads_;
    std::map<std::string, long long> sets_;
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
