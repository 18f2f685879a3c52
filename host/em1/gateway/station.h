// One instrument served to the broker: a thread of its own with a driver instance on its
// port, the poll engine reading its items in rounds, and its link to the broker. Readings
// and the line's state go out as they happen.
//
// Sets come in on the link's thread and are judged at once: a retained message, an expired
// one or a request id already taken is ignored; one the gateway cannot carry out (not
// writable, not a value of the item, the instrument offline) is rejected. Each is answered
// with a result. The sets that pass wait for the exchange in progress to end and are then
// written, in their order of arrival, on the same thread as the reads; polling goes on after
// them.
#pragma once

#include "discovery_link.h"
#include "gateway_config.h"
#include "item.h"
#include "loaded_driver.h"
#include "metrics.h"
#include "mqtt_link.h"
#include "set_request.h"
#include "startup.h"
#include "write_value.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

class Station {
  public:
    // Defines the items with the driver; throws UsageError naming a refused one. base holds
    // the options every instrument shares (--no-start); the port comes from the instrument.
    Station(const Driver &driver, const LineTrace &trace, const GatewayConfig &gateway,
            InstrumentConfig instrument, const StartOptions &base, LineEcho echo);
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    void Start();
    // Asks the thread to end after its current read; Stop waits for it.
    void RequestStop();
    // Ends the rounds after the current read, shuts the instance down and publishes offline,
    // with detail on status/detail.
    void Stop(const std::string &detail = "the gateway stopped");
    const InstrumentConfig &Config() const { return instrument_; }
    std::shared_ptr<InstrumentMetrics> Metrics() const { return metrics_; }
    // Announces the instrument's discovery configs through link, which outlives the station;
    // given before Start.
    void UseDiscovery(DiscoveryLink *link) { discovery_ = link; }
    // Removes the instrument's discovery configs from the broker, but those named in kept:
    // for an instrument that leaves the configuration, or that comes back with other items.
    // After Stop.
    void WithdrawDiscovery(const std::vector<std::string> &kept);

    struct Writable {
        Item item;
        bool typeGiven = false;
    };

  private:
    // A set that passed the checks on arrival, waiting for the line.
    struct Pending {
        const Writable *target = nullptr;
        std::string topicItem; // the item as the topic named it
        SetRequest request;
        WriteValue value;
        std::string responseTopic;
        std::string correlation;
        std::optional<std::chrono::steady_clock::time_point> expires;
        std::chrono::steady_clock::time_point arrived;
    };

    void Run();
    void Serve(Instance &instance);
    bool StartLine(Instance &instance);
    void TakeCommand(const MqttCommand &command);
    // Passes the checks that need no line; false when the set was answered already.
    bool Admit(const MqttCommand &command, const std::string &item, const SetRequest &request,
               Pending &pending);
    void TurnDown(const MqttCommand &command, const std::string &item, const SetRequest &request,
                  bool ignored, const std::string &reason);
    void IgnoreRetained(const MqttCommand &command, const std::string &item);
    bool IdTaken(const std::string &id);
    void Answer(const std::string &item, const std::string &responseTopic,
                const std::string &correlation, const std::string &message);

    friend class StationListener;
    void Publish(const std::string &level, const std::string &payload, bool retain = true);
    void SetStatus(bool online, const std::string &detail);
    // Writes the sets waiting, in their order; with no instance or a line down each is
    // rejected. Also keeps an eye on the broker connection.
    void RunWrites(Instance *instance, bool lineDown);
    // Waits up to duration, or until a set arrives or a stop is asked for.
    void WaitForWork(std::chrono::steady_clock::duration duration);
    std::string PortShown() const;
    // Discovery, when it is on: the configs are announced one at a time by AnnounceStep, on
    // the station's thread, and again from the first after Home Assistant announced itself.
    void AnnounceStep();
    DiscoverySource CurrentDiscovery() const;
    // The instrument's revision (XS0) for its discovery device.
    void ReadRevision(Instance &instance);
    // The discovery configs the first time; after that the device's, when its revision changed.
    void AnnounceOnce();
    void PublishMetricsWhenDue();

    const Driver &driver_;
    std::unique_ptr<LineTrace> trace_;
    std::string prefix_; // PREFIX/NAME
    InstrumentConfig instrument_;
    StartOptions options_;
    LineEcho echo_;
    std::vector<Item> items_;
    std::vector<Writable> writable_;
    std::unique_ptr<MqttLink> link_;
    std::atomic<bool> stop_{false};
    std::mutex requestsLock_; // requests_, status, the ids and retained messages seen
    std::condition_variable work_;
    std::deque<Pending> requests_;
    bool online_ = false;
    std::string statusDetail_ = "starting";
    std::deque<std::string> recentIds_;
    std::set<std::string> retainedSeen_;
    std::string topicPrefix_;            // the gateway's: PREFIX of PREFIX/NAME
    DiscoveryLink *discovery_ = nullptr; // none: discovery is off
    // The revision and the announcement's progress, on the station's thread alone.
    std::string revision_;
    bool revisionChanged_ = false;
    long announcementsSeen_ = 0; // Home Assistant's announcements answered
    bool announced_ = false;
    int nextConfig_ = -1; // the next config to announce; -1: none
    std::shared_ptr<InstrumentMetrics> metrics_;
    std::chrono::steady_clock::duration metricsInterval_{};
    std::chrono::steady_clock::time_point nextMetrics_{};
    std::thread thread_;
};
