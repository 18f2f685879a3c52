#include "station.h"

#include "exit_status.h"
#include "gateway_log.h"
#include "gateway_messages.h"
#include "item_reads.h"
#include "line_recovery.h"
#include "number_text.h"
#include "poll_engine.h"
#include "vocabulary.h"
#include "write_value.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWaitStep{50};
// Set messages waiting for the instrument; more are refused rather than kept.
constexpr std::size_t kMostWaitingWrites = 32;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string Trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Seconds(Clock::duration duration) {
    return FormatNumber(std::round(std::chrono::duration<double>(duration).count() * 1000) / 1000);
}

// What an item last published, for publishing on change.
struct LastSent {
    bool any = false;
    bool error = false;
    double value = 0;
    std::string text;
};

bool WorthPublishing(const ItemConfig &config, const Item &item, const LastSent &last,
                     const ItemResult &result) {
    if (!config.onChange || !last.any) {
        return true;
    }
    if (result.problem || last.error) {
        return !(result.problem && last.error);
    }
    if (result.shown.text == last.text) {
        return false;
    }
    const bool number = item.itemClass != EM_CLASS_SPECIAL && item.itemClass != EM_CLASS_ALERT &&
                        KindOfLetter(item.Letter()) == ValueKind::kNumber;
    return !number || std::fabs(result.shown.value - last.value) >= config.deadband;
}

constexpr std::size_t kAlertFlags = kAlertTable.size();

// The active alert flags, with one BlockRead; nothing when the read failed.
std::optional<std::vector<std::size_t>> ReadAlerts(Instance &instance, const Item &first) {
    std::array<unsigned char, kAlertFlags * 2> values{};
    ItemRequest request{};
    request.address = first.address.c_str();
    request.itemClass = first.itemClass;
    request.index = first.index;
    request.dataType = first.dataType;
    request.count = static_cast<std::int32_t>(kAlertFlags);
    request.values = values.data();
    if (instance.Call(EM_CMD_BLOCK_READ, &request) != 0) {
        return std::nullopt;
    }
    std::vector<std::size_t> active;
    for (std::size_t flag = 0; flag < kAlertFlags; ++flag) {
        if (BlockValue(values, flag) != 0) {
            active.push_back(flag);
        }
    }
    return active;
}

} // namespace

// The engine's rounds and the line's changes, published.
class StationListener : public PollListener {
  public:
    StationListener(Station &station, Instance &instance, Item alerts)
        : station_(station), instance_(instance), alerts_(std::move(alerts)),
          last_(station.items_.size()) {}

    // Each reading goes out as soon as it was read, stamped with the end of its read.
    void ItemRead(std::size_t index, const ItemResult &result) override {
        PublishItem(index, result, std::chrono::system_clock::now());
    }
    // The alerts close a round that read every item.
    void RoundDone(const Round &round) override {
        const bool whole =
            std::none_of(round.results.begin(), round.results.end(), [](const ItemResult &result) {
                return result.lineFailed || !result.skipped.empty();
            });
        if (!round.missed && !round.cut && whole) {
            PublishAlerts();
        }
    }
    void LineDown(const Round &) override {
        const std::string detail =
            "the line on " + Port() + " failed (a hang-up or a vanished device); reopening it";
        station_.SetStatus(false, detail);
        GatewayLog(station_.instrument_.name, detail);
    }
    void LineBack(Clock::duration outage, long long missed) override {
        station_.SetStatus(true, "");
        GatewayLog(station_.instrument_.name,
                   "the line on " + Port() + " is back after " + Seconds(outage) + " s; " +
                       std::to_string(missed) + " round" + (missed == 1 ? "" : "s") + " missed");
    }
    void RoundOverran(Clock::duration took, Clock::duration interval) override {
        GatewayLog(station_.instrument_.name,
                   "a round takes " + Seconds(took) + " s, longer than the interval of " +
                       Seconds(interval) + " s; rounds follow each other without a pause");
    }
    void Idle(bool lineDown) override { station_.RunWrites(&instance_, lineDown); }

  private:
    std::string Port() const { return station_.options_.port.name; }

    void PublishItem(std::size_t i, const ItemResult &result, WallTime time) {
        const Item &item = station_.items_[i];
        LastSent &last = last_[i];
        if (!WorthPublishing(station_.instrument_.items[i], item, last, result)) {
            return;
        }
        if (result.problem && !last.error) {
            GatewayLog(station_.instrument_.name, result.problem->message);
        }
        station_.Publish(item.address, ReadingMessage(item, result, time));
        last = LastSent{true, result.problem.has_value(), result.shown.value, result.shown.text};
    }

    void PublishAlerts() {
        const auto active = ReadAlerts(instance_, alerts_);
        if (!active || (lastAlerts_ && *lastAlerts_ == *active)) {
            return;
        }
        station_.Publish("alerts", AlertsMessage(*active, std::chrono::system_clock::now()));
        lastAlerts_ = active;
    }

    Station &station_;
    Instance &instance_;
    Item alerts_;
    std::vector<LastSent> last_;
    std::optional<std::vector<std::size_t>> lastAlerts_;
};

Station::Station(const Driver &driver, const LineTrace *trace, const GatewayConfig &gateway,
                 InstrumentConfig instrument, const StartOptions &base, LineEcho echo)
    : driver_(driver), trace_(trace != nullptr ? trace->Follow() : nullptr),
      prefix_(gateway.topicPrefix + "/" + instrument.name), instrument_(std::move(instrument)),
      options_(base), echo_(std::move(echo)) {
    options_.port = instrument_.port;
    options_.line = ResolveLine(instrument_.port, driver.Info().defaults);
    DriverState scratch{};
    for (const auto &config : instrument_.items) {
        items_.push_back(
            DefineOrExplain(driver, scratch, ParseItemArgument(config.argument), "gateway"));
    }
    for (const auto &argument : instrument_.writable) {
        const ItemArgument parsed = ParseItemArgument(argument);
        writable_.push_back(Writable{DefineOrExplain(driver, scratch, parsed, "gateway"),
                                     parsed.dataType.has_value()});
    }
    link_ = std::make_unique<MqttLink>(
        gateway.broker, "em1-gateway:" + prefix_, prefix_ + "/status", instrument_.name,
        prefix_ + "/+/set",
        [this](const std::string &topic, const std::string &payload) { TakeSet(topic, payload); });
}

Station::~Station() {
    Stop();
}

void Station::Start() {
    link_->Start();
    thread_ = std::thread(&Station::Run, this);
}

void Station::Stop(const std::string &detail) {
    if (!thread_.joinable()) {
        return;
    }
    stop_ = true;
    thread_.join();
    Publish("status/detail", detail);
    link_->Close("offline");
}

void Station::Publish(const std::string &level, const std::string &payload, bool retain) {
    link_->Publish(prefix_ + "/" + level, payload, retain);
}

void Station::SetStatus(bool online, const std::string &detail) {
    Publish("status/detail", detail);
    Publish("status", online ? "online" : "offline");
}

void Station::Run() {
    try {
        Instance instance(driver_, trace_.get(), echo_);
        if (StartLine(instance)) {
            Serve(instance);
        }
    } catch (const std::exception &error) {
        SetStatus(false, error.what());
        GatewayLog(instrument_.name, std::string("stopped: ") + error.what());
    }
}

bool Station::StartLine(Instance &instance) {
    std::string told;
    for (int attempt = 0; !stop_; ++attempt) {
        try {
            StartInstance(instance, options_);
            return true;
        } catch (const Failure &failure) {
            if (failure.what() != told) {
                told = failure.what();
                SetStatus(false, told);
                GatewayLog(instrument_.name, told + "; trying again");
            }
        }
        if (instance.PortOpen()) {
            instance.Call(EM_CMD_SHUTDOWN);
        }
        const auto until = Clock::now() + BackOff(attempt);
        while (!stop_ && Clock::now() < until) {
            RunWrites(nullptr, true);
            std::this_thread::sleep_for(kWaitStep);
        }
    }
    return false;
}

void Station::Serve(Instance &instance) {
    SetStatus(true, "");
    GatewayLog(instrument_.name, "reading " + std::to_string(items_.size()) + " item" +
                                     (items_.size() == 1 ? "" : "s") + " on " + options_.port.name +
                                     " every " + FormatNumber(instrument_.intervalSeconds) + " s");
    DriverState scratch{};
    const Item alerts =
        DefineOrExplain(driver_, scratch, ItemArgument{"A00", EM_TYPE_BIT}, "gateway");
    StationListener listener(*this, instance, alerts);
    PollEngine engine(instance, items_, options_, [this] { return stop_.load(); });
    const PollPlan plan{std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(instrument_.intervalSeconds)),
                        std::nullopt};
    engine.Run(plan, listener);
}

void Station::Refuse(const std::string &item, const std::string &value, const std::string &reason) {
    GatewayLog(instrument_.name, "write " + item + " = " + value + " refused: " + reason);
    Publish(item + "/result", RefusedMessage(item, value, reason, std::chrono::system_clock::now()),
            false);
}

void Station::TakeSet(const std::string &topic, const std::string &payload) {
    const std::string head = prefix_ + "/";
    const std::string tail = "/set";
    if (!topic.starts_with(head) || !topic.ends_with(tail) ||
        topic.size() <= head.size() + tail.size()) {
        return;
    }
    const std::string item = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    const std::string value = Trimmed(payload);
    const bool writable =
        std::any_of(writable_.begin(), writable_.end(),
                    [&](const Writable &entry) { return entry.item.address == Upper(item); });
    if (!writable) {
        Refuse(item, value, "not among the writable items of " + instrument_.name);
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(requestsLock_);
        if (requests_.size() < kMostWaitingWrites) {
            requests_.push_back(Request{item, value});
            return;
        }
    }
    Refuse(item, value, "too many writes are waiting for the instrument");
}

void Station::RunWrites(Instance *instance, bool lineDown) {
    for (;;) {
        Request request;
        {
            const std::lock_guard<std::mutex> hold(requestsLock_);
            if (requests_.empty()) {
                return;
            }
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        if (instance == nullptr || lineDown) {
            Refuse(request.item, request.value,
                   "the line to the instrument is down; nothing was sent");
            continue;
        }
        const auto entry =
            std::find_if(writable_.begin(), writable_.end(), [&](const Writable &writable) {
                return writable.item.address == Upper(request.item);
            });
        if (entry == writable_.end()) {
            continue;
        }
        try {
            const WriteValue value = PrepareWrite(entry->item, request.value, entry->typeGiven);
            const WriteReport report = WriteVerified(*instance, entry->item, value, true);
            const std::string message = WriteResultMessage(entry->item, request.value, report,
                                                           std::chrono::system_clock::now());
            GatewayLog(instrument_.name, "write " + entry->item.address + " = " + request.value +
                                             ": " + WriteResultWords(report));
            Publish(request.item + "/result", message, false);
        } catch (const Failure &failure) {
            Refuse(request.item, request.value, failure.what());
        }
    }
}
