#include "gateway_config.h"

#include "exit_status.h"
#include "number_text.h"

#include <ini.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <optional>

namespace {

constexpr std::string_view kInstrumentSection = "instrument ";
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

struct Reading {
    CommandLine &line;
    GatewayConfig config;
    InstrumentConfig defaults;
    std::optional<std::size_t> current; // the instrument being read; none: the defaults
    // --on-change as given, resolved against the items once everything is read.
    std::vector<std::vector<std::string>> onChange; // parallel to config.instruments
    std::vector<std::string> defaultOnChange;
};

// The settings of the gateway itself, each with a value.
constexpr std::array<std::string_view, 16> kOwnOptions = {
    "--broker",       "--user",      "--password-file", "--ca-file",   "--cert-file", "--key-file",
    "--topic-prefix", "--config",    "--name",          "--items",     "--writable",  "--on-change",
    "--interval",     "--keepalive", "--offline-after", "--client-id",
};
constexpr long long kMostOfflineRounds = 1000;

bool IsOwn(std::string_view option) {
    return std::find(kOwnOptions.begin(), kOwnOptions.end(), option) != kOwnOptions.end();
}

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : text) {
        if (c == ',' || std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    return parts;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string AddressOf(const std::string &argument) {
    return Upper(argument.substr(0, argument.find(':')));
}

// A topic level of its own: no "/", "+" or "#", not empty.
std::string TopicLevel(std::string_view option, std::string_view value) {
    if (value.empty() || value.find_first_of("/+#") != std::string_view::npos) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' must be one topic level, without / + #");
    }
    return std::string(value);
}

std::string TopicPrefix(std::string_view option, std::string_view value) {
    if (value.empty() || value.find_first_of("+#") != std::string_view::npos ||
        value.front() == '/' || value.back() == '/') {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' must be topic levels without + # or a leading or trailing /");
    }
    return std::string(value);
}

// Letters, digits and "-" only: some brokers refuse any other character in a client id.
std::string ClientId(std::string_view option, std::string_view value) {
    const bool plain = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
    });
    if (!plain) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' must be letters, digits and - only");
    }
    return std::string(value);
}

void ReadBroker(BrokerConfig &broker, std::string_view option, std::string_view value) {
    const auto colon = value.rfind(':');
    broker.host = std::string(value.substr(0, colon));
    if (broker.host.empty()) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' needs a host: HOST or HOST:PORT");
    }
    if (colon == std::string_view::npos) {
        return;
    }
    const auto port = ParseInteger(value.substr(colon + 1));
    if (!port || *port < kLowestPort || *port > kHighestPort) {
        throw UsageError(std::string(option) + ": '" + std::string(value.substr(colon + 1)) +
                         "' is not a port number (1 to 65535)");
    }
    broker.port = static_cast<int>(*port);
}

std::string ReadPassword(std::string_view option, const std::string &path) {
    std::ifstream file(path);
    std::string password;
    if (!file || !std::getline(file, password)) {
        throw UsageError(std::string(option) + ": cannot read the password from '" + path + "'");
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

std::string ReadableFile(std::string_view option, std::string_view value) {
    std::string path(value);
    if (!std::ifstream(path)) {
        throw UsageError(std::string(option) + ": cannot read '" + path + "'");
    }
    return path;
}

double Interval(std::string_view option, std::string_view value) {
    const auto seconds = ParseDecimal(value);
    if (!seconds || *seconds < 0 || *seconds > 86400) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' is not a number of seconds (0 to 86400)");
    }
    return *seconds;
}

InstrumentConfig &Target(Reading &reading) {
    return reading.current ? reading.config.instruments[*reading.current] : reading.defaults;
}

std::vector<std::string> &OnChangeTarget(Reading &reading) {
    return reading.current ? reading.onChange[*reading.current] : reading.defaultOnChange;
}

void StartInstrument(Reading &reading, std::string name) {
    reading.config.instruments.push_back(reading.defaults);
    reading.config.instruments.back().name = std::move(name);
    reading.onChange.push_back(reading.defaultOnChange);
    reading.current = reading.config.instruments.size() - 1;
}

// One of em1's common options, with the port options of the instrument being read.
bool ReadCommon(Reading &reading, std::string_view argument, ArgumentReader &more) {
    InstrumentConfig &target = Target(reading);
    const PortOptions kept = reading.line.port;
    reading.line.port = target.port;
    const bool known = ReadCommonOption(reading.line, argument, more);
    target.port = reading.line.port;
    reading.line.port = kept;
    return known;
}

void ReadFile(Reading &reading, const std::string &path);

// A setting of the gateway's own; false when name is none of them.
bool ReadOwn(Reading &reading, std::string_view option, std::string_view value) {
    const std::string_view name = option.substr(2);
    if (name == "broker") {
        ReadBroker(reading.config.broker, option, value);
    } else if (name == "user") {
        reading.config.broker.user = value;
    } else if (name == "password-file") {
        reading.config.broker.password = ReadPassword(option, std::string(value));
    } else if (name == "ca-file") {
        reading.config.broker.caFile = ReadableFile(option, value);
    } else if (name == "cert-file") {
        reading.config.broker.certFile = ReadableFile(option, value);
    } else if (name == "key-file") {
        reading.config.broker.keyFile = ReadableFile(option, value);
    } else if (name == "topic-prefix") {
        reading.config.topicPrefix = TopicPrefix(option, value);
    } else if (name == "config") {
        ReadFile(reading, std::string(value));
    } else if (name == "keepalive") {
        const auto seconds = ParseInteger(value);
        if (!seconds || *seconds < 5 || *seconds > 3600) {
            throw UsageError(std::string(option) + ": '" + std::string(value) +
                             "' is not a number of seconds (5 to 3600)");
        }
        reading.config.broker.keepAliveSeconds = static_cast<int>(*seconds);
    } else if (name == "name") {
        if (!reading.current) {
            throw UsageError(std::string(option) + ": give it after the --port it names");
        }
        Target(reading).name = TopicLevel(option, value);
    } else if (name == "items") {
        for (auto &argument : SplitList(value)) {
            Target(reading).items.push_back(ItemConfig{std::move(argument), false, 0});
        }
    } else if (name == "writable") {
        for (auto &argument : SplitList(value)) {
            Target(reading).writable.push_back(std::move(argument));
        }
    } else if (name == "on-change") {
        for (auto &entry : SplitList(value)) {
            OnChangeTarget(reading).push_back(std::move(entry));
        }
    } else if (name == "interval") {
        Target(reading).intervalSeconds = Interval(option, value);
    } else if (name == "offline-after") {
        const auto rounds = ParseInteger(value);
        if (!rounds || *rounds < 1 || *rounds > kMostOfflineRounds) {
            throw UsageError(std::string(option) + ": '" + std::string(value) +
                             "' is not a number of rounds (1 to 1000)");
        }
        Target(reading).offlineAfterRounds = static_cast<int>(*rounds);
    } else if (name == "client-id") {
        Target(reading).clientId = ClientId(option, value);
    } else {
        return false;
    }
    return true;
}

// ADDR, ADDR=DEADBAND, * or *=DEADBAND: which items publish only on change.
void ResolveOnChange(InstrumentConfig &instrument, const std::vector<std::string> &entries) {
    for (const auto &entry : entries) {
        const auto equals = entry.find('=');
        const std::string address = Upper(entry.substr(0, equals));
        double deadband = 0;
        if (equals != std::string::npos) {
            const auto number = ParseDecimal(entry.substr(equals + 1));
            if (!number || *number < 0) {
                throw UsageError("--on-change: '" + entry +
                                 "': the deadband after = must be a number of 0 or more");
            }
            deadband = *number;
        }
        bool matched = false;
        for (auto &item : instrument.items) {
            if (address == "*" || AddressOf(item.argument) == address) {
                item.onChange = true;
                item.deadband = deadband;
                matched = true;
            }
        }
        if (!matched) {
            throw UsageError("--on-change: " + address + " is not among the items of " +
                             instrument.name);
        }
    }
}

std::string DefaultName(const PortOptions &port) {
    std::string name = port.name;
    std::replace(name.begin(), name.end(), '/', '-');
    name.erase(0, name.find_first_not_of('-'));
    return name;
}

void Finish(Reading &reading) {
    auto &instruments = reading.config.instruments;
    if (instruments.empty()) {
        throw UsageError("gateway: no instrument; give --port NAME --items ADDR,... or --config "
                         "FILE");
    }
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        InstrumentConfig &instrument = instruments[i];
        if (instrument.port.name.empty()) {
            throw UsageError("gateway: instrument " + instrument.name + " has no port");
        }
        if (instrument.name.empty()) {
            instrument.name = TopicLevel("--name", DefaultName(instrument.port));
        }
        if (instrument.items.empty() && instrument.writable.empty()) {
            throw UsageError("gateway: " + instrument.name + " has neither --items nor --writable");
        }
        ResolveOnChange(instrument, reading.onChange[i]);
        for (std::size_t j = 0; j < i; ++j) {
            if (instruments[j].name == instrument.name) {
                throw UsageError("gateway: two instruments are named " + instrument.name +
                                 "; give each its own --name");
            }
            if (!instrument.clientId.empty() && instruments[j].clientId == instrument.clientId) {
                throw UsageError("gateway: " + instruments[j].name + " and " + instrument.name +
                                 " have the same --client-id " + instrument.clientId +
                                 "; the broker would keep only one of them connected");
            }
        }
    }
}

// The handler of the INI parser: "[instrument NAME]" starts an instrument; keys are the
// long options without their dashes.
int OnSetting(void *user, const char *section, const char *key, const char *value) {
    auto &[reading, failure] = *static_cast<std::pair<Reading *, std::string> *>(user);
    if (!failure.empty()) {
        return 1;
    }
    try {
        const std::string_view sectionName = section;
        if (sectionName.starts_with(kInstrumentSection)) {
            const std::string name(sectionName.substr(kInstrumentSection.size()));
            if (!reading->current || Target(*reading).name != name) {
                StartInstrument(*reading, TopicLevel("[instrument NAME]", name));
            }
        } else if (sectionName.empty() || sectionName == "gateway") {
            reading->current.reset();
        } else {
            throw UsageError("unknown section [" + std::string(sectionName) + "]");
        }
        const std::string option = "--" + std::string(key);
        if (option == "--config") {
            throw UsageError("config: a configuration file cannot name another");
        }
        if (!ReadOwn(*reading, option, value)) {
            const std::string argument = option + "=" + value;
            std::array<char *, 0> none{};
            ArgumentReader nothingMore(none);
            if (!ReadCommon(*reading, argument, nothingMore)) {
                throw UsageError("unknown key '" + std::string(key) + "'");
            }
        }
        return 1;
    } catch (const Failure &error) {
        failure = error.what();
        return 0;
    }
}

void ReadFile(Reading &reading, const std::string &path) {
    std::pair<Reading *, std::string> state{&reading, {}};
    const auto outer = reading.current;
    reading.current.reset();
    const int result = ini_parse(path.c_str(), OnSetting, &state);
    if (result == -1) {
        throw UsageError("--config: cannot read '" + path + "'");
    }
    if (result != 0) {
        throw UsageError(path + ":" + std::to_string(result) + ": " +
                         (state.second.empty() ? "not a key = value line" : state.second));
    }
    reading.current = outer;
}

} // namespace

bool InstrumentConfig::operator==(const InstrumentConfig &other) const {
    const auto asGiven = [](PortOptions port) {
        if (!port.given.empty()) {
            port.name.clear();
        }
        return port;
    };
    return name == other.name && asGiven(port) == asGiven(other.port) && items == other.items &&
           writable == other.writable && intervalSeconds == other.intervalSeconds &&
           offlineAfterRounds == other.offlineAfterRounds && clientId == other.clientId;
}

GatewayConfig ParseGatewayArguments(const std::vector<std::string> &arguments, CommandLine &line) {
    std::vector<char *> pointers;
    pointers.reserve(arguments.size());
    for (const auto &argument : arguments) {
        pointers.push_back(const_cast<char *>(argument.c_str()));
    }
    Reading reading{line, {}, {}, {}, {}, {}};
    ArgumentReader reader(pointers);
    while (!reader.Done()) {
        const std::string_view argument = reader.Take();
        const std::string option(argument.substr(0, argument.find('=')));
        if (IsOwn(option)) {
            const auto equals = argument.find('=');
            ReadOwn(reading, option,
                    equals != std::string_view::npos ? argument.substr(equals + 1)
                                                     : reader.TakeValue(option));
            continue;
        }
        if (option == "--port" || option.starts_with("-p")) {
            StartInstrument(reading, "");
        }
        if (!ReadCommon(reading, argument, reader)) {
            throw UsageError("gateway: unknown option or argument '" + option + "'");
        }
    }
    Finish(reading);
    return reading.config;
}
