// What the gateway serves: the broker, and the instruments with their items, read from the
// command line or from a configuration file in INI form. Both take the same settings under
// the same names: "--baud 9600" on the command line is "baud = 9600" in the file.
#pragma once

#include "port_options.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct BrokerConfig {
    std::string host = "localhost";
    int port = 1883;
    std::string user;
    std::string password; // read from the password file
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    int keepAliveSeconds = 30;
    bool operator==(const BrokerConfig &) const = default;
};

struct ItemConfig {
    std::string argument;  // ADDR or ADDR:TYPE
    bool onChange = false; // published only when it changed (by the deadband or more)
    double deadband = 0;
    std::optional<double> intervalSeconds; // ADDR@SECONDS; none: the instrument's interval
    bool operator==(const ItemConfig &) const = default;
};

struct InstrumentConfig {
    std::string name; // the topic level: PREFIX/NAME/ITEM
    PortOptions port;
    std::vector<ItemConfig> items;
    std::vector<std::string> writable; // ADDR or ADDR:TYPE
    // The period of the items without one of their own, and of the alerts. Without one given,
    // a period that the reads fit: FittingInterval.
    double intervalSeconds = 1;
    bool intervalGiven = false;
    // Rounds in a row with no read answered, after which the instrument is offline.
    int offlineAfterRounds = 3;
    std::string clientId; // the MQTT client id; empty: made from the topic prefix and name
    // The same settings; a port given as a link counts as given, whichever device it leads
    // to now.
    bool operator==(const InstrumentConfig &other) const;
};

struct GatewayConfig {
    BrokerConfig broker;
    std::string topicPrefix = "em1";
    std::vector<InstrumentConfig> instruments;
    // Home Assistant's discovery prefix; none: no discovery messages.
    std::optional<std::string> discoveryPrefix;
    std::string metricsListen;          // ADDR:PORT of the metrics endpoint; empty: none
    double metricsIntervalSeconds = 60; // PREFIX/NAME/metrics; 0: not published
};

inline constexpr std::string_view kDefaultDiscoveryPrefix = "homeassistant";

// About what one read takes: each request waits 250 ms on the line, and its reply comes at
// 9600 baud.
inline constexpr double kSecondsPerRead = 0.35;

// The interval of an instrument's items when none is given: whole seconds, at least one, long
// enough for a read of each item without an interval of its own and of the alerts.
double FittingInterval(const std::vector<ItemConfig> &items);

// Reads the arguments that follow "gateway": the gateway's own options and the port options.
// --port starts an instrument, and the line settings, --items, --writable, --on-change,
// --interval and --name after it are its own (before the first --port they apply to every
// instrument); an item of --items may take an interval of its own (L01V1@5). --config FILE
// reads the file's settings at that place. --discovery takes its prefix as an optional value.
// Two instruments with one name or one port (the same name, or names that lead to the same
// device), a client certificate without its key or the CA, and a file that cannot be read
// are refused. Throws UsageError naming the option, or the file, line and key.
GatewayConfig ParseGatewayArguments(const std::vector<std::string> &arguments);
