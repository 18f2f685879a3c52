#include "metrics.h"

#include "clock_text.h"
#include "number_text.h"
#include "round_output.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Observations kept for the quantiles: the latest, so the figures follow the present.
constexpr std::size_t kWindow = 1024;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <std::size_t N>
void Count(std::array<long long, N> &counts, const std::array<std::string_view, N> &names,
           std::string_view outcome) {
    const auto at = std::find(names.begin(), names.end(), outcome);
    if (at != names.end()) {
        ++counts[static_cast<std::size_t>(at - names.begin())];
    }
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return kNaN;
    }
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    const auto at =
        values.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(rank, 1) - 1);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// A label value as the text format wants it: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string &text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return "\"" + escaped + "\"";
}

std::string Sample(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    return FormatNumber(value);
}

// One metric family: its HELP and TYPE lines, then a sample line per instrument.
class Family {
  public:
    Family(std::string &text, const std::string &name, const std::string &type,
           const std::string &help)
        : text_(text), name_(name) {
        text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void Add(const std::string &labels, double value, const std::string &suffix = "") {
        text_ += name_ + suffix + "{" + labels + "} " + Sample(value) + "\n";
    }

  private:
    std::string &text_;
    std::string name_;
};

std::string InstrumentLabel(const MetricsSnapshot &snapshot) {
    return "instrument=" + LabelValue(snapshot.instrument);
}

template <std::size_t N>
void Counts(std::string &text, const std::vector<MetricsSnapshot> &snapshots,
            const std::string &name, const std::string &help,
            std::array<long long, N> MetricsSnapshot::*counts,
            const std::array<std::string_view, N> &outcomes) {
    Family family(text, name, "counter", help);
    for (const auto &snapshot : snapshots) {
        for (std::size_t i = 0; i < N; ++i) {
            family.Add(InstrumentLabel(snapshot) +
                           ",outcome=" + LabelValue(std::string(outcomes[i])),
                       static_cast<double>((snapshot.*counts)[i]));
        }
    }
}

void Counter(std::string &text, const std::vector<MetricsSnapshot> &snapshots,
             const std::string &name, const std::string &help, long long MetricsSnapshot::*count) {
    Family family(text, name, "counter", help);
    for (const auto &snapshot : snapshots) {
        family.Add(InstrumentLabel(snapshot), static_cast<double>(snapshot.*count));
    }
}

void Gauge(std::string &text, const std::vector<MetricsSnapshot> &snapshots,
           const std::string &name, const std::string &help, bool MetricsSnapshot::*flag) {
    Family family(text, name, "gauge", help);
    for (const auto &snapshot : snapshots) {
        family.Add(InstrumentLabel(snapshot), snapshot.*flag ? 1 : 0);
    }
}

void Summary(std::string &text, const std::vector<MetricsSnapshot> &snapshots,
             const std::string &name, const std::string &help, Quantiles MetricsSnapshot::*of) {
    Family family(text, name, "summary", help);
    for (const auto &snapshot : snapshots) {
        const Quantiles &quantiles = snapshot.*of;
        const std::string label = InstrumentLabel(snapshot);
        family.Add(label + ",quantile=\"0.5\"", quantiles.median);
        family.Add(label + ",quantile=\"0.99\"", quantiles.p99);
        family.Add(label, quantiles.sum, "_sum");
        family.Add(label, static_cast<double>(quantiles.count), "_count");
    }
}

template <std::size_t N>
std::string JsonCounts(const std::array<long long, N> &counts,
                       const std::array<std::string_view, N> &outcomes) {
    std::string json = "{";
    for (std::size_t i = 0; i < N; ++i) {
        json += (i == 0 ? "" : ",") + JsonString(std::string(outcomes[i])) + ":" +
                std::to_string(counts[i]);
    }
    return json + "}";
}

std::string JsonQuantiles(const Quantiles &quantiles) {
    const auto number = [](double value) {
        return std::isnan(value) ? std::string("null") : FormatNumber(value);
    };
    return "{\"median\":" + number(quantiles.median) + ",\"p99\":" + number(quantiles.p99) +
           ",\"count\":" + std::to_string(quantiles.count) + "}";
}

} // namespace

void InstrumentMetrics::Window::Add(double seconds) {
    latest_.push_back(seconds);
    if (latest_.size() > kWindow) {
        latest_.pop_front();
    }
    sum_ += seconds;
    ++count_;
}

Quantiles InstrumentMetrics::Window::Summary() const {
    const std::vector<double> values(latest_.begin(), latest_.end());
    return Quantiles{Quantile(values, 0.5), Quantile(values, 0.99), sum_, count_};
}

InstrumentMetrics::InstrumentMetrics(std::string instrument,
                                     std::shared_ptr<const LinkCounters> link)
    : instrument_(std::move(instrument)), link_(std::move(link)) {}

void InstrumentMetrics::ReadDone(std::string_view outcome) {
    const std::lock_guard<std::mutex> hold(lock_);
    Count(reads_, kReadOutcomes, outcome);
}

void InstrumentMetrics::SetAnswered(std::string_view outcome) {
    const std::lock_guard<std::mutex> hold(lock_);
    Count(sets_, kSetOutcomes, outcome);
}

void InstrumentMetrics::SetWaited(Duration arrivalToResult) {
    const std::lock_guard<std::mutex> hold(lock_);
    setResult_.Add(std::chrono::duration<double>(arrivalToResult).count());
}

void InstrumentMetrics::LineOutage() {
    const std::lock_guard<std::mutex> hold(lock_);
    ++lineOutages_;
}

void InstrumentMetrics::RoundTook(Duration took) {
    const std::lock_guard<std::mutex> hold(lock_);
    round_.Add(std::chrono::duration<double>(took).count());
}

void InstrumentMetrics::Online(bool online) {
    const std::lock_guard<std::mutex> hold(lock_);
    online_ = online;
}

MetricsSnapshot InstrumentMetrics::Take() const {
    MetricsSnapshot snapshot;
    snapshot.instrument = instrument_;
    snapshot.reconnections = link_->reconnections;
    snapshot.kept = link_->kept;
    snapshot.superseded = link_->superseded;
    snapshot.brokerUp = link_->connected;
    const std::lock_guard<std::mutex> hold(lock_);
    snapshot.reads = reads_;
    snapshot.sets = sets_;
    snapshot.lineOutages = lineOutages_;
    snapshot.round = round_.Summary();
    snapshot.setResult = setResult_.Summary();
    snapshot.online = online_;
    return snapshot;
}

void MetricsRegistry::Add(const std::shared_ptr<InstrumentMetrics> &metrics) {
    const std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(entries_, [](const auto &entry) { return entry.expired(); });
    entries_.push_back(metrics);
}

std::vector<MetricsSnapshot> MetricsRegistry::Snapshots() const {
    std::vector<MetricsSnapshot> snapshots;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        for (const auto &entry : entries_) {
            if (const auto metrics = entry.lock()) {
                snapshots.push_back(metrics->Take());
            }
        }
    }
    std::sort(snapshots.begin(), snapshots.end(),
              [](const auto &a, const auto &b) { return a.instrument < b.instrument; });
    return snapshots;
}

std::string PrometheusText(const std::vector<MetricsSnapshot> &snapshots) {
    // About 2 kB an instrument and the help lines: taken at once, not by doubling.
    constexpr std::size_t kPerInstrument = 2048;
    constexpr std::size_t kHelp = 2048;
    std::string text;
    text.reserve(kHelp + kPerInstrument * snapshots.size());
    Counts(text, snapshots, "em1_gateway_reads_total", "Item reads, by outcome.",
           &MetricsSnapshot::reads, kReadOutcomes);
    Counts(text, snapshots, "em1_gateway_writes_total", "Sets, by the outcome of their result.",
           &MetricsSnapshot::sets, kSetOutcomes);
    Counter(text, snapshots, "em1_gateway_line_outages_total",
            "Failures of the serial line (a hang-up or a vanished device).",
            &MetricsSnapshot::lineOutages);
    Counter(text, snapshots, "em1_gateway_broker_reconnections_total",
            "Connections to the broker after the first.", &MetricsSnapshot::reconnections);
    Counter(text, snapshots, "em1_gateway_messages_kept_total",
            "Messages kept while the broker was away.", &MetricsSnapshot::kept);
    Counter(text, snapshots, "em1_gateway_messages_superseded_total",
            "Messages kept while the broker was away and replaced by newer ones of their topic.",
            &MetricsSnapshot::superseded);
    Summary(text, snapshots, "em1_gateway_round_duration_seconds",
            "Time a round of reads took (the latest 1024 for the quantiles).",
            &MetricsSnapshot::round);
    Summary(text, snapshots, "em1_gateway_set_result_duration_seconds",
            "Time from a set's arrival to its result, for the sets that went to the line (the "
            "latest 1024 for the quantiles).",
            &MetricsSnapshot::setResult);
    Gauge(text, snapshots, "em1_gateway_instrument_online",
          "1 while the instrument's line is up and it answers.", &MetricsSnapshot::online);
    Gauge(text, snapshots, "em1_gateway_broker_connected",
          "1 while the instrument's connection to the broker is up.", &MetricsSnapshot::brokerUp);
    return text;
}

std::string MetricsJson(const MetricsSnapshot &snapshot,
                        std::chrono::system_clock::time_point time) {
    return "{\"reads\":" + JsonCounts(snapshot.reads, kReadOutcomes) +
           ",\"writes\":" + JsonCounts(snapshot.sets, kSetOutcomes) +
           ",\"lineOutages\":" + std::to_string(snapshot.lineOutages) +
           ",\"brokerReconnections\":" + std::to_string(snapshot.reconnections) +
           ",\"messagesKept\":" + std::to_string(snapshot.kept) +
           ",\"messagesSuperseded\":" + std::to_string(snapshot.superseded) +
           ",\"roundSeconds\":" + JsonQuantiles(snapshot.round) +
           ",\"setResultSeconds\":" + JsonQuantiles(snapshot.setResult) +
           ",\"time\":" + JsonString(UtcStamp(time)) + "}";
}
