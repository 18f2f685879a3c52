#include "station.h"

#include "address_grammar.h"
#include "block_read.h"
#include "clock_text.h"
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
// Set messages waiting for the instrument; more are rejected rather than kept.
constexpr std::size_t kMostWaitingWrites = 32;
// Request ids remembered per instrument, so that a set delivered again is not written again.
constexpr std::size_t kRememberedIds = 1024;
// Retained set messages remembered, so that each is answered once.
constexpr std::size_t kRememberedRetained = 1024;

// A read the instrument answered, well or not: anything but silence.
bool Answered(const ItemResult &result) {
    return result.skipped.empty() && !result.lineFailed &&
           (!result.problem || result.problem->kind != FailureKind::kNoAnswer);
}

// A read's outcome as the metrics count it.
std::string ReadOutcome(const ItemResult &result) {
    if (result.lineFailed) {
        return "line_failed";
    }
    if (!result.problem) {
        return "ok";
    }
    switch (result.problem->kind) {
    case FailureKind::kNoAnswer:
        return "no_answer";
    case FailureKind::kRefused:
        return "refused";
    default:
        return "bad_value";
    }
}

Clock::duration SecondsDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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

} // namespace

// The engine's rounds and the line's changes, published.
class StationListener : public PollListener {
  public:
    StationListener(Station &station, Instance &instance, Block alerts)
        : station_(station), instance_(instance), alerts_(std::move(alerts)),
          last_(station.items_.size()) {}

    // Each reading goes out as soon as it was read, stamped with the end of its read.
    void ItemRead(std::size_t index, const ItemResult &result) override {
        station_.metrics_->ReadDone(ReadOutcome(result));
        PublishItem(index, result, std::chrono::system_clock::now());
        if (Answered(result)) {
            Heard();
        } else if (result.skipped.empty() && !silentSince_) {
            silentSince_ = std::chrono::system_clock::now();
        }
    }
    void RoundDone(const Round &round) override {
        CountSilence(round);
        const bool read =
            std::any_of(round.results.begin(), round.results.end(),
                        [](const ItemResult &result) { return result.skipped.empty(); });
        if (!round.missed && read) {
            station_.metrics_->RoundTook(std::max(std::chrono::system_clock::duration::zero(),
                                                  std::chrono::system_clock::now() - round.time));
        }
    }
    // The alerts close a round that the line did not fail. The discovery configs follow the
    // first round, once every topic of the instrument has been published.
    void ReadClosing() override {
        PublishAlerts();
        station_.AnnounceOnce();
    }
    void LineDown(const Round &) override {
        station_.metrics_->LineOutage();
        const std::string detail =
            "the line on " + Port() + " failed (a hang-up or a vanished device); reopening it";
        station_.SetStatus(false, detail);
        GatewayLog(station_.instrument_.name, detail);
    }
    void LineBack(Clock::duration outage, long long missed) override {
        station_.SetStatus(true, "");
        GatewayLog(station_.instrument_.name,
                   "the line on " + Port() + " is back after " + SecondsText(outage) + " s; " +
                       std::to_string(missed) + " round" + (missed == 1 ? "" : "s") + " missed");
    }
    void RoundOverran(Clock::duration need, Clock::duration interval) override {
        GatewayLog(station_.instrument_.name,
                   "the items cannot be read in their intervals: they need " + SecondsText(need) +
                       " s of the line every " + SecondsText(interval) +
                       " s; each is read as soon as the line allows");
    }
    void Idle(bool lineDown) override { station_.RunWrites(&instance_, lineDown); }
    void Wait(Clock::duration duration) override { station_.WaitForWork(duration); }

  private:
    std::string Port() const { return station_.PortShown(); }

    // An answer ends a silence, and brings the status back when the silence had taken it.
    void Heard() {
        silentSince_.reset();
        silentRounds_ = 0;
        if (silenceTold_) {
            silenceTold_ = false;
            station_.SetStatus(true, "");
            GatewayLog(station_.instrument_.name, "the instrument on " + Port() + " answers again");
        }
    }

    // Rounds in which no read was answered; after the configured number of them in a row
    // the instrument is offline.
    void CountSilence(const Round &round) {
        const bool read =
            std::any_of(round.results.begin(), round.results.end(),
                        [](const ItemResult &result) { return result.skipped.empty(); });
        const bool silent =
            read && std::none_of(round.results.begin(), round.results.end(), Answered);
        if (!silent || round.missed) {
            return;
        }
        ++silentRounds_;
        if (!silenceTold_ && silentRounds_ >= station_.instrument_.offlineAfterRounds) {
            silenceTold_ = true;
            const std::string detail = "the instrument on " + Port() + " has not answered since " +
                                       UtcStamp(silentSince_.value_or(round.time));
            station_.SetStatus(false, detail);
            GatewayLog(station_.instrument_.name, detail);
        }
    }

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
        const auto active = ReadActiveAlerts(instance_, alerts_);
        if (!active || (lastAlerts_ && *lastAlerts_ == *active)) {
            return;
        }
        station_.Publish("alerts", AlertsMessage(*active, std::chrono::system_clock::now()));
        lastAlerts_ = active;
    }

    Station &station_;
    Instance &instance_;
    Block alerts_;
    std::vector<LastSent> last_;
    std::optional<std::vector<std::size_t>> lastAlerts_;
    std::optional<WallTime> silentSince_; // the first unanswered read of a silence
    int silentRounds_ = 0;
    bool silenceTold_ = false;
};

Station::Station(const Driver &driver, const LineTrace &trace, const GatewayConfig &gateway,
                 InstrumentConfig instrument, const StartOptions &base, LineEcho echo)
    : driver_(driver), trace_(trace.Follow()), prefix_(gateway.topicPrefix + "/" + instrument.name),
      instrument_(std::move(instrument)), options_(base), echo_(std::move(echo)),
      topicPrefix_(gateway.topicPrefix),
      metricsInterval_(SecondsDuration(gateway.metricsIntervalSeconds)) {
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
    const std::string clientId =
        instrument_.clientId.empty() ? ClientIdOf("em1-gateway-" + prefix_) : instrument_.clientId;
    link_ =
        std::make_unique<MqttLink>(gateway.broker, clientId, prefix_ + "/status", instrument_.name,
                                   std::vector<std::string>{prefix_ + "/+/set"},
                                   [this](const MqttCommand &command) { TakeCommand(command); });
    metrics_ = std::make_shared<InstrumentMetrics>(instrument_.name, link_->Counters());
}

Station::~Station() {
    Stop();
}

void Station::Start() {
    link_->Start();
    thread_ = std::thread(&Station::Run, this);
}

void Station::RequestStop() {
    {
        const std::lock_guard<std::mutex> hold(requestsLock_);
        stop_ = true;
    }
    work_.notify_all();
}

void Station::Stop(const std::string &detail) {
    if (!thread_.joinable()) {
        return;
    }
    RequestStop();
    thread_.join();
    Publish("status/detail", detail);
    link_->Close("offline");
}

void Station::Publish(const std::string &level, const std::string &payload, bool retain) {
    link_->Publish(prefix_ + "/" + level, payload, retain);
}

void Station::SetStatus(bool online, const std::string &detail) {
    metrics_->Online(online);
    {
        const std::lock_guard<std::mutex> hold(requestsLock_);
        online_ = online;
        statusDetail_ = detail;
    }
    Publish("status/detail", detail);
    Publish("status", online ? "online" : "offline");
}

// The port as the configuration names it: a link such as /dev/serial/by-id/... rather than
// the device it leads to now.
std::string Station::PortShown() const {
    return options_.port.given.empty() ? options_.port.name : options_.port.given;
}

void Station::Run() {
    try {
        Instance instance(driver_, *trace_, echo_);
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
                AnnounceOnce(); // without its revision: the entities show it unavailable
            }
        }
        if (instance.PortOpen()) {
            instance.Call(EM_CMD_SHUTDOWN);
        }
        const auto until = Clock::now() + BackOff(attempt);
        while (!stop_ && Clock::now() < until) {
            RunWrites(nullptr, true);
            WaitForWork(std::min<Clock::duration>(kWaitStep, until - Clock::now()));
        }
    }
    return false;
}

void Station::Serve(Instance &instance) {
    SetStatus(true, "");
    std::string own;
    PollPlan plan(SecondsDuration(instrument_.intervalSeconds), std::nullopt);
    plan.closing = plan.interval;
    for (const auto &item : instrument_.items) {
        plan.periods.push_back(
            SecondsDuration(item.intervalSeconds.value_or(instrument_.intervalSeconds)));
        if (item.intervalSeconds) {
            own += ", " + item.argument + " every " + FormatNumber(*item.intervalSeconds) + " s";
        }
    }
    GatewayLog(instrument_.name, "reading " + std::to_string(items_.size()) + " item" +
                                     (items_.size() == 1 ? "" : "s") + " on " + PortShown() +
                                     " every " + FormatNumber(instrument_.intervalSeconds) + " s" +
                                     own);
    if (discovery_ != nullptr) {
        ReadRevision(instance);
    }
    DriverState scratch{};
    StationListener listener(*this, instance, DefineAlertBlock(driver_, scratch));
    PollEngine engine(instance, items_, options_, [this] { return stop_.load(); });
    engine.Run(plan, listener);
}

void Station::Answer(const std::string &item, const std::string &responseTopic,
                     const std::string &correlation, const std::string &message) {
    Publish(item + "/result", message, false);
    if (!responseTopic.empty()) {
        link_->Reply(responseTopic, message, correlation);
    }
}

void Station::TurnDown(const MqttCommand &command, const std::string &item,
                       const SetRequest &request, bool ignored, const std::string &reason) {
    const TurnedDown outcome = ignored ? TurnedDown::kIgnored : TurnedDown::kRejected;
    metrics_->SetAnswered(OutcomeWord(outcome));
    GatewayLog(instrument_.name,
               "set " + item + " = " + request.value + " " + OutcomeWord(outcome) + ": " + reason);
    Answer(item, command.responseTopic, command.correlation,
           TurnedDownMessage(item, request, outcome, reason, std::chrono::system_clock::now()));
}

// A retained set would be written again on every start and every reconnection: it is never
// applied. It is answered once, and removed from the broker's store so that no later start
// meets it again.
void Station::IgnoreRetained(const MqttCommand &command, const std::string &item) {
    if (command.payload.empty()) {
        return; // the removal of a retained message, not a command
    }
    {
        const std::lock_guard<std::mutex> hold(requestsLock_);
        if (retainedSeen_.size() >= kRememberedRetained) {
            retainedSeen_.clear();
        }
        if (!retainedSeen_.insert(command.topic + '\n' + command.payload).second) {
            return;
        }
    }
    const ParsedSet parsed = ParseSetPayload(command.payload);
    const SetRequest request = parsed.request.value_or(SetRequest{command.payload, {}});
    TurnDown(command, item, request, true,
             "a retained message is not a current command and is never written; it was removed "
             "from the broker (publish sets without the retain flag)");
    link_->Remove(command.topic);
}

bool Station::IdTaken(const std::string &id) {
    const std::lock_guard<std::mutex> hold(requestsLock_);
    if (std::find(recentIds_.begin(), recentIds_.end(), id) != recentIds_.end()) {
        return true;
    }
    recentIds_.push_back(id);
    if (recentIds_.size() > kRememberedIds) {
        recentIds_.pop_front();
    }
    return false;
}

bool Station::Admit(const MqttCommand &command, const std::string &item, const SetRequest &request,
                    Pending &pending) {
    if (command.expires && Clock::now() >= *command.expires) {
        TurnDown(command, item, request, true, "its message expiry had passed");
        return false;
    }
    if (!request.id.empty() && IdTaken(request.id)) {
        TurnDown(command, item, request, true,
                 "a set with the id " + request.id + " was taken already; it is not written twice");
        return false;
    }
    const auto target =
        std::find_if(writable_.begin(), writable_.end(),
                     [&](const Writable &entry) { return entry.item.address == UpperCased(item); });
    if (target == writable_.end()) {
        TurnDown(command, item, request, false,
                 "not among the writable items of " + instrument_.name);
        return false;
    }
    try {
        pending.value = PrepareWrite(target->item, request.value, target->typeGiven);
    } catch (const Failure &failure) {
        TurnDown(command, item, request, false, failure.what());
        return false;
    }
    pending.target = &*target;
    return true;
}

void Station::TakeCommand(const MqttCommand &command) {
    const std::string head = prefix_ + "/";
    const std::string tail = "/set";
    if (!command.topic.starts_with(head) || !command.topic.ends_with(tail) ||
        command.topic.size() <= head.size() + tail.size()) {
        return;
    }
    const std::string item =
        command.topic.substr(head.size(), command.topic.size() - head.size() - tail.size());
    if (command.retained) {
        IgnoreRetained(command, item);
        return;
    }
    const ParsedSet parsed = ParseSetPayload(command.payload);
    if (!parsed.request) {
        TurnDown(command, item, SetRequest{command.payload, {}}, false, parsed.problem);
        return;
    }
    Pending pending;
    pending.topicItem = item;
    pending.request = *parsed.request;
    pending.responseTopic = command.responseTopic;
    pending.correlation = command.correlation;
    pending.expires = command.expires;
    pending.arrived = Clock::now();
    if (!Admit(command, item, pending.request, pending)) {
        return;
    }
    std::string refusal;
    {
        const std::lock_guard<std::mutex> hold(requestsLock_);
        if (!online_) {
            refusal = "the instrument is offline (" + statusDetail_ + "); nothing was sent";
        } else if (requests_.size() >= kMostWaitingWrites) {
            refusal = "too many sets are waiting for the instrument";
        } else {
            requests_.push_back(std::move(pending));
        }
    }
    if (!refusal.empty()) {
        TurnDown(command, item, *parsed.request, false, refusal);
        return;
    }
    work_.notify_all();
}

void Station::WaitForWork(Clock::duration duration) {
    std::unique_lock<std::mutex> hold(requestsLock_);
    work_.wait_for(hold, duration, [this] { return stop_.load() || !requests_.empty(); });
}

void Station::RunWrites(Instance *instance, bool lineDown) {
    link_->WatchConnection();
    PublishMetricsWhenDue();
    AnnounceStep();
    for (;;) {
        Pending pending;
        std::string offline;
        {
            const std::lock_guard<std::mutex> hold(requestsLock_);
            if (requests_.empty()) {
                return;
            }
            pending = std::move(requests_.front());
            requests_.pop_front();
            if (!online_) {
                offline = statusDetail_;
            }
        }
        MqttCommand origin;
        origin.responseTopic = pending.responseTopic;
        origin.correlation = pending.correlation;
        if (instance == nullptr || lineDown || !offline.empty()) {
            TurnDown(origin, pending.topicItem, pending.request, false,
                     "the instrument went offline before the set was sent" +
                         (offline.empty() ? std::string() : " (" + offline + ")") +
                         "; nothing was sent");
            continue;
        }
        if (pending.expires && Clock::now() >= *pending.expires) {
            TurnDown(origin, pending.topicItem, pending.request, true,
                     "its message expiry passed while it waited; nothing was sent");
            continue;
        }
        const Item &item = pending.target->item;
        const WriteReport report = WriteVerified(*instance, item, pending.value, true);
        GatewayLog(instrument_.name, "set " + item.address + " = " + pending.request.value + ": " +
                                         WriteResultWords(report));
        metrics_->SetAnswered(WriteOutcomeWord(report.outcome));
        metrics_->SetWaited(Clock::now() - pending.arrived);
        Answer(pending.topicItem, pending.responseTopic, pending.correlation,
               WriteResultMessage(item, pending.request, report, std::chrono::system_clock::now()));
    }
}
