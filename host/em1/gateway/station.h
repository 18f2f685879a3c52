// One instrument served to the broker: a thread of its own with a driver instance on its
// port, the poll engine reading its items in rounds, and its link to the broker. Readings
// and the line's state go out as they happen; writes that come in on the set topics are
// carried out between rounds, on the same thread as the reads.
#pragma once

#include "driver.h"
#include "gateway_config.h"
#include "item.h"
#include "mqtt_link.h"
#include "startup.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class Station {
  public:
    // Defines the items with the driver; throws UsageError naming a refused one. base holds
    // the options every instrument shares (--no-start); the port comes from the instrument.
    Station(const Driver &driver, const LineTrace *trace, const GatewayConfig &gateway,
            InstrumentConfig instrument, const StartOptions &base, LineEcho echo);
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    void Start();
    // Asks the thread to end after its current read; Stop waits for it.
    void RequestStop() { stop_ = true; }
    // Ends the rounds after the current read, shuts the instance down and publishes offline,
    // with detail on status/detail.
    void Stop(const std::string &detail = "the gateway stopped");
    const InstrumentConfig &Config() const { return instrument_; }

    struct Writable {
        Item item;
        bool typeGiven = false;
    };
    struct Request {
        std::string item;
        std::string value;
    };

  private:
    void Run();
    void Serve(Instance &instance);
    bool StartLine(Instance &instance);
    void TakeSet(const std::string &topic, const std::string &payload);
    void Refuse(const std::string &item, const std::string &value, const std::string &reason);

    friend class StationListener;
    void Publish(const std::string &level, const std::string &payload, bool retain = true);
    void SetStatus(bool online, const std::string &detail);
    void RunWrites(Instance *instance, bool lineDown);

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
    std::mutex requestsLock_;
    std::deque<Request> requests_;
    std::thread thread_;
};
