#include "gateway_config.h"

#include "address_grammar.h"
#include "failure.h"
#include "ini_text.h"
#include "number_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <utility>

namespace {

constexpr std::string_view kInstrumentSection = "instrument";
constexpr std::string_view kGatewaySection = "gateway";
constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

// Where a setting was given: a line of a configuration file, or the command line (no file).
struct Place {
    std::string file;
    int line = 0;
};

// The setting as the place spells it: --key on the command line, key in a file.
std::string Spelled(const Place &place, std::string_view key) {
    return (place.file.empty() ? "--" : "") + std::string(key);
}

// Refuses what was given at place: "FILE:LINE: key: what", or "--key: what" on the command
// line; without a key "FILE:LINE: what" or "gateway: what".
[[noreturn]] void Refuse(const Place &place, std::string_view key, const std::string &what) {
    std::string where =
        place.file.empty() ? "gateway" : place.file + ":" + std::to_string(place.line);
    if (!key.empty()) {
        where = place.file.empty() ? Spelled(place, key) : where + ": " + std::string(key);
    }
    throw UsageError(where + ": " + what);
}

// " (FILE:LINE)" for a place in a file; nothing for the command line.
std::string Reference(const Place &place) {
    return place.file.empty() ? "" : " (" + place.file + ":" + std::to_string(place.line) + ")";
}

// Where an instrument's settings were given, for the messages that refuse them.
struct Origin {
    Place start; // its [instrument NAME] line, or the command line
    Place port;
    std::vector<std::pair<std::string, Place>> onChange; // ADDR[=DEADBAND], resolved at the end
};

struct Reading {
    GatewayConfig config;
    InstrumentConfig defaults;
    std::optional<std::size_t> current; // the instrument being read; none: the defaults
    std::vector<Origin> origins;        // parallel to config.instruments
    Origin defaultOrigin;
    Place here;             // where the setting being read was given
    Place certPlace;        // where --cert-file was given
    Place keyPlace;         // where --key-file was given
    std::string configFile; // the last configuration file read
};

// The settings of the gateway itself, each with a value.
constexpr std::array<std::string_view, 18> kOwnOptions = {
    "--broker",    "--user",           "--password-file",    "--ca-file",   "--cert-file",
    "--key-file",  "--topic-prefix",   "--config",           "--name",      "--items",
    "--writable",  "--on-change",      "--interval",         "--keepalive", "--offline-after",
    "--client-id", "--metrics-listen", "--metrics-interval",
};
constexpr std::string_view kDiscoveryOption = "--discovery";
constexpr long long kMostOfflineRounds = 1000;

// em1's options that a file may set for an instrument: the port and its line.
constexpr std::array<std::string_view, 8> kPortKeys = {
    "port", "baud", "data-bits", "parity", "stop-bits", "dtr", "rts", "timeout",
};

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

std::string AddressOf(const std::string &argument) {
    return UpperCased(argument.substr(0, argument.find(':')));
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

[[noreturn]] void RefuseUnreadable(std::string_view option, const std::string &path, int error) {
    throw UsageError(std::string(option) + ": cannot read '" + path + "': " + std::strerror(error));
}

// The first bytes of the file at path, at most length; refused with the reason when it
// cannot be read.
std::string FileStart(std::string_view option, const std::string &path, std::size_t length) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        RefuseUnreadable(option, path, errno);
    }
    std::string text(length, '\0');
    text.resize(std::fread(text.data(), 1, length, file));
    const int error = std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
    if (error != 0) {
        RefuseUnreadable(option, path, error);
    }
    return text;
}

// The whole text of a configuration or password file, which is far smaller than this: a
// larger one (/dev/zero) is refused rather than read for ever.
constexpr std::size_t kLargestFile = std::size_t{1} << 20;

std::string FileText(std::string_view option, const std::string &path) {
    std::string text = FileStart(option, path, kLargestFile + 1);
    if (text.size() > kLargestFile) {
        throw UsageError(std::string(option) + ": '" + path + "' is larger than 1 MiB");
    }
    return text;
}

std::string ReadPassword(std::string_view option, const std::string &path) {
    std::istringstream text(FileText(option, path));
    std::string password;
    if (!std::getline(text, password)) {
        throw UsageError(std::string(option) + ": '" + path + "' is empty; its first line is " +
                         "the password");
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

// A file that libmosquitto reads when it connects: checked now, so that a wrong path is
// told at the start with its reason.
std::string ReadableFile(std::string_view option, std::string_view value) {
    std::string path(value);
    FileStart(option, path, 1);
    return path;
}

// ADDR:PORT, with an IPv6 address in brackets: [::1]:9100.
std::string ListenAddress(std::string_view option, std::string_view value) {
    const auto colon = value.rfind(':');
    const auto port =
        colon == std::string_view::npos ? std::nullopt : ParseInteger(value.substr(colon + 1));
    if (colon == 0 || !port || *port < kLowestPort || *port > kHighestPort) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' is not ADDR:PORT (127.0.0.1:9100, [::1]:9100, 0.0.0.0:9100)");
    }
    return std::string(value);
}

double Interval(std::string_view option, std::string_view value) {
    const auto seconds = ParseDecimal(value);
    if (!seconds || *seconds < 0 || *seconds > 86400) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' is not a number of seconds (0 to 86400)");
    }
    return *seconds;
}

// ADDR[:TYPE][@SECONDS]: an item, with an interval of its own after the @.
ItemConfig ReadItemEntry(std::string_view option, const std::string &entry) {
    const auto at = entry.find('@');
    ItemConfig item{entry.substr(0, at), false, 0, std::nullopt};
    if (at != std::string::npos) {
        item.intervalSeconds = Interval(option, entry.substr(at + 1));
    }
    return item;
}

InstrumentConfig &Target(Reading &reading) {
    return reading.current ? reading.config.instruments[*reading.current] : reading.defaults;
}

Origin &TargetOrigin(Reading &reading) {
    return reading.current ? reading.origins[*reading.current] : reading.defaultOrigin;
}

void StartInstrument(Reading &reading, std::string name) {
    reading.config.instruments.push_back(reading.defaults);
    reading.config.instruments.back().name = std::move(name);
    reading.origins.push_back(reading.defaultOrigin);
    reading.origins.back().start = reading.here;
    reading.current = reading.config.instruments.size() - 1;
}

// A port option of the instrument being read, by its long name.
bool ReadPort(Reading &reading, std::string_view option, std::string_view value) {
    InstrumentConfig &target = Target(reading);
    const std::string given = target.port.given;
    if (!ReadPortOption(target.port, option, value)) {
        return false;
    }
    if (target.port.given != given) {
        TargetOrigin(reading).port = reading.here;
    }
    return true;
}

void ReadFile(Reading &reading, const std::string &path);

// An option as given: --name=value, --name and a value after it, -p NAME or -pNAME (the port
// options' letters). The name is the long one; empty for an argument that names no option.
struct OptionSpelling {
    std::string name;
    std::optional<std::string_view> value;
};

OptionSpelling Spelling(std::string_view argument) {
    if (argument.starts_with("--")) {
        const auto equals = argument.find('=');
        if (equals == std::string_view::npos) {
            return {std::string(argument), std::nullopt};
        }
        return {std::string(argument.substr(0, equals)), argument.substr(equals + 1)};
    }
    if (argument.size() < 2 || argument[0] != '-') {
        return {};
    }
    const std::string_view name = PortOptionOfLetter(argument[1]);
    if (name.empty()) {
        return {};
    }
    return {std::string(name),
            argument.size() > 2 ? std::optional(argument.substr(2)) : std::nullopt};
}

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
        reading.certPlace = reading.here;
    } else if (name == "key-file") {
        reading.config.broker.keyFile = ReadableFile(option, value);
        reading.keyPlace = reading.here;
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
        for (const auto &entry : SplitList(value)) {
            Target(reading).items.push_back(ReadItemEntry(option, entry));
        }
    } else if (name == "writable") {
        for (auto &argument : SplitList(value)) {
            Target(reading).writable.push_back(std::move(argument));
        }
    } else if (name == "on-change") {
        for (auto &entry : SplitList(value)) {
            TargetOrigin(reading).onChange.emplace_back(std::move(entry), reading.here);
        }
    } else if (name == "interval") {
        Target(reading).intervalSeconds = Interval(option, value);
        Target(reading).intervalGiven = true;
    } else if (name == "metrics-listen") {
        reading.config.metricsListen = ListenAddress(option, value);
    } else if (name == "metrics-interval") {
        reading.config.metricsIntervalSeconds = Interval(option, value);
    } else if (name == "discovery") {
        reading.config.discoveryPrefix =
            value.empty() ? std::string(kDefaultDiscoveryPrefix) : TopicPrefix(option, value);
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
void ResolveOnChange(InstrumentConfig &instrument, const Origin &origin) {
    for (const auto &[entry, place] : origin.onChange) {
        const auto equals = entry.find('=');
        const std::string address = UpperCased(entry.substr(0, equals));
        double deadband = 0;
        if (equals != std::string::npos) {
            const auto number = ParseDecimal(entry.substr(equals + 1));
            if (!number || *number < 0) {
                Refuse(place, "on-change",
                       "'" + entry + "': the deadband after = must be a number of 0 or more");
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
            Refuse(place, "on-change", address + " is not among the items of " + instrument.name);
        }
    }
}

std::string DefaultName(const PortOptions &port) {
    std::string name = port.name;
    std::replace(name.begin(), name.end(), '/', '-');
    name.erase(0, name.find_first_not_of('-'));
    return name;
}

// The device the driver opens for a port: a path as it stands, any other name under /dev/,
// and a link followed to its device where it exists.
std::string DevicePath(const PortOptions &port) {
    const std::string path = port.name.starts_with('/') ? port.name : "/dev/" + port.name;
    std::error_code error;
    const auto device = std::filesystem::canonical(path, error);
    return error ? path : device.string();
}

// One port serves one instrument: a second open of the device would fail, and its
// instrument would retry for ever.
void RefuseSharedPort(const Reading &reading, std::size_t later, std::size_t earlier) {
    const PortOptions &port = reading.config.instruments[later].port;
    const PortOptions &first = reading.config.instruments[earlier].port;
    const bool sameName = port.given == first.given || port.name == first.name;
    const std::string device = DevicePath(port);
    if (!sameName && device != DevicePath(first)) {
        return;
    }
    const std::string leads =
        sameName || device == port.given ? "is " : "leads to " + device + ", ";
    Refuse(reading.origins[later].port, "port",
           "'" + port.given + "' " + leads + "the port of instrument " +
               reading.config.instruments[earlier].name + " already" +
               Reference(reading.origins[earlier].port) + "; each instrument needs its own port");
}

void RefuseSharedName(const Reading &reading, std::size_t later, std::size_t earlier) {
    const std::string &name = reading.config.instruments[later].name;
    if (name != reading.config.instruments[earlier].name) {
        return;
    }
    const Place &place = reading.origins[later].start;
    Refuse(place, place.file.empty() ? "name" : "",
           "a second instrument named " + name + Reference(reading.origins[earlier].start) +
               "; give each its own " + Spelled(place, "name"));
}

// The broker keeps one connection per client id: a second instrument with the same id would
// throw the first off, and be thrown off in turn.
void RefuseSharedClientId(const Reading &reading, std::size_t later, std::size_t earlier) {
    const std::string &id = reading.config.instruments[later].clientId;
    if (id.empty() || id != reading.config.instruments[earlier].clientId) {
        return;
    }
    const Place &place = reading.origins[later].start;
    Refuse(place, place.file.empty() ? "client-id" : "",
           "a second instrument with the client id " + id +
               Reference(reading.origins[earlier].start) + "; give each its own " +
               Spelled(place, "client-id"));
}

// A client certificate goes with its key, and both with the CA of a TLS connection.
void CheckClientCertificate(const Reading &reading) {
    const BrokerConfig &broker = reading.config.broker;
    if (!broker.certFile.empty() && broker.keyFile.empty()) {
        Refuse(reading.certPlace, "cert-file",
               "the client certificate needs its key: give " +
                   Spelled(reading.certPlace, "key-file") + " too");
    }
    if (!broker.keyFile.empty() && broker.certFile.empty()) {
        Refuse(reading.keyPlace, "key-file",
               "the client key needs its certificate: give " +
                   Spelled(reading.keyPlace, "cert-file") + " too");
    }
    if (!broker.certFile.empty() && broker.caFile.empty()) {
        Refuse(reading.certPlace, "cert-file",
               "a client certificate is for TLS: give " + Spelled(reading.certPlace, "ca-file") +
                   " too, the CA that signed the broker's certificate");
    }
}

void Finish(Reading &reading) {
    auto &instruments = reading.config.instruments;
    if (instruments.empty()) {
        throw UsageError(reading.configFile.empty()
                             ? "gateway: no instrument; give --port NAME --items ADDR,... or "
                               "--config FILE"
                             : reading.configFile + ": no instrument; give it an [instrument "
                                                    "NAME] section with port and items");
    }
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        InstrumentConfig &instrument = instruments[i];
        const Origin &origin = reading.origins[i];
        if (instrument.port.name.empty()) {
            Refuse(origin.start, "", "instrument " + instrument.name + " has no port");
        }
        if (instrument.name.empty()) {
            instrument.name = TopicLevel("--name", DefaultName(instrument.port));
        }
        if (instrument.items.empty() && instrument.writable.empty()) {
            Refuse(origin.start, "",
                   "instrument " + instrument.name + " has neither " +
                       Spelled(origin.start, "items") + " nor " +
                       Spelled(origin.start, "writable"));
        }
        ResolveOnChange(instrument, origin);
        if (!instrument.intervalGiven) {
            instrument.intervalSeconds = FittingInterval(instrument.items);
        }
        for (std::size_t j = 0; j < i; ++j) {
            RefuseSharedPort(reading, i, j);
            RefuseSharedName(reading, i, j);
            RefuseSharedClientId(reading, i, j);
        }
    }
    CheckClientCertificate(reading);
}

// "[instrument NAME]" starts an instrument; "[gateway]" returns to the settings of the
// gateway and of every instrument that follows.
void EnterSection(Reading &reading, const std::string &section) {
    if (section == kGatewaySection) {
        reading.current.reset();
        return;
    }
    const auto space = section.find(' ');
    if (section.substr(0, space) != kInstrumentSection) {
        throw UsageError("unknown section [" + section +
                         "]; the sections are [gateway] and [instrument NAME]");
    }
    const auto name = section.find_first_not_of(' ', space);
    StartInstrument(reading, TopicLevel("[instrument NAME]",
                                        name == std::string::npos ? "" : section.substr(name)));
}

// A key of a file: a long option of the gateway's own or of the port, without its dashes.
void ReadSetting(Reading &reading, const std::string &key, const std::string &value) {
    if (key == "config") {
        throw UsageError("config: a configuration file cannot name another");
    }
    if (key == "name") {
        throw UsageError("name: [instrument NAME] names the instrument");
    }
    const std::string option = "--" + key;
    if (ReadOwn(reading, option, value)) {
        return;
    }
    if (std::find(kPortKeys.begin(), kPortKeys.end(), key) == kPortKeys.end()) {
        throw UsageError("unknown key '" + key + "'");
    }
    ReadPort(reading, option, value);
}

void ReadFileLine(Reading &reading, const IniLine &line) {
    switch (line.kind) {
    case IniLine::Kind::kSection:
        EnterSection(reading, line.name);
        break;
    case IniLine::Kind::kSetting:
        ReadSetting(reading, line.name, line.value);
        break;
    default:
        throw UsageError(line.name);
    }
}

// The settings of a file, each refused with the file and its line.
void ReadFile(Reading &reading, const std::string &path) {
    std::istringstream text(FileText("--config", path));
    const auto outer = reading.current;
    const Place outerPlace = reading.here;
    reading.current.reset();
    reading.configFile = path;
    for (const IniLine &line : ReadIni(text)) {
        reading.here = Place{path, line.number};
        try {
            ReadFileLine(reading, line);
        } catch (const UsageError &error) {
            // An option's message names it as the command line does: the file has no dashes.
            const std::string_view message = error.what();
            Refuse(reading.here, "",
                   std::string(message.starts_with("--") ? message.substr(2) : message));
        }
    }
    reading.current = outer;
    reading.here = outerPlace;
}

} // namespace

double FittingInterval(const std::vector<ItemConfig> &items) {
    const auto own = std::count_if(items.begin(), items.end(),
                                   [](const ItemConfig &item) { return !item.intervalSeconds; });
    return std::max(1.0, std::ceil(static_cast<double>(own + 1) * kSecondsPerRead));
}

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

GatewayConfig ParseGatewayArguments(const std::vector<std::string> &arguments) {
    Reading reading;
    for (std::size_t next = 0; next < arguments.size();) {
        const std::string_view argument = arguments[next++];
        const OptionSpelling spelled = Spelling(argument);
        const bool valueFollows = next < arguments.size() && !arguments[next].starts_with('-');
        if (spelled.name == kDiscoveryOption) {
            // The prefix is optional: "--discovery" alone takes the default.
            ReadOwn(reading, spelled.name,
                    spelled.value ? *spelled.value
                                  : (valueFollows ? std::string_view(arguments[next++]) : ""));
            continue;
        }
        const auto value = [&]() -> std::string_view {
            if (spelled.value) {
                return *spelled.value;
            }
            if (next >= arguments.size()) {
                throw UsageError(spelled.name + ": needs a value");
            }
            return arguments[next++];
        };
        if (IsOwn(spelled.name)) {
            ReadOwn(reading, spelled.name, value());
            continue;
        }
        if (!IsPortOption(spelled.name)) {
            throw UsageError("gateway: unknown option or argument '" + std::string(argument) +
                             "' (em1's own options, such as --driver, --trace, --no-start and -v, "
                             "go before the word gateway)");
        }
        if (spelled.name == "--port") {
            StartInstrument(reading, "");
        }
        ReadPort(reading, spelled.name, value());
    }
    Finish(reading);
    return reading.config;
}
