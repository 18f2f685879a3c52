// One driver instance against a simulator of its own, as a host runs it: the built driver
// loaded at run time, its DriverState, and the simulator's pseudo-terminal reached through a
// link of at most 11 characters (the port name field), which follows the line across
// hang-ups and is absent while the line is down. Instances share nothing but the library, so
// several run side by side on threads of their own.
#pragma once

#include "em1sim/simulator.h"
#include "hosted_driver.h"
#include "open_descriptors.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace faults {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double MsSince(Clock::time_point start);

// An item as the host keeps it after DefineItem, with room for its values.
struct Item {
    std::string address;
    std::int32_t itemClass;
    std::int32_t index;
    std::int32_t dataType;
    std::int32_t count;
    std::vector<std::int16_t> values = std::vector<std::int16_t>(128, 0);

    ItemRequest Request();
    float Float() const;
    std::int16_t Word() const { return values[1]; }
};

Item SetPoint();   // L01S1 as a float: the loop's set point times 10
Item LoopCount();  // "NL": the number of loops
Item AlertCount(); // "NA": the number of alerts
Item LoopBlock();  // L02S0, a block of the loop's four values
Item Item16(const std::string &address, std::int32_t itemClass); // one 16-bit value

class Instance {
  public:
    // A simulator whose seed is seed, and a driver that logs with number driverNumber.
    Instance(std::int32_t driverNumber, std::uint32_t seed);
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    em1sim::Simulator &Simulator() { return *simulator_; }
    HostedDriver &Driver() { return driver_; }
    const std::string &Link() const { return link_; }

    std::int32_t ColdStart(std::int32_t timeout = 100) { return driver_.ColdStart(link_, timeout); }
    std::int32_t Reopen(std::int32_t timeout = 0) { return driver_.Reopen(link_, timeout); }
    std::int32_t WarmStart() { return driver_.Call(EM_CMD_WARM_START); }
    std::int32_t ClosePort() { return driver_.Call(EM_CMD_CLOSE_PORT); }
    std::int32_t Read(Item &item, std::int32_t command = EM_CMD_SINGLE_READ);
    // Writes value as a float to L01S1.
    std::int32_t WriteSetPoint(float value);

    // Puts the short reply timeout (units of 10 ms) on a started instance: the port opened
    // again with it, then the adapter dialogue, which leaves it on the port. True on success.
    bool UseReplyTimeout(std::int32_t timeout);
    // After the line went down: waits until it is back, then opens it again and reruns the
    // adapter dialogue, which puts the stored reply timeout back on the port.
    bool Reconnect();
    bool LineUp() const { return !simulator_->SlavePath().empty(); }
    bool AwaitLine(bool up, std::chrono::milliseconds timeout = 5000ms);

  private:
    std::string link_;
    std::unique_ptr<em1sim::Simulator> simulator_;
    HostedDriver driver_;
};

// A unique name of 11 characters under /tmp for a simulator's link.
std::string UniqueLinkName();

} // namespace faults
