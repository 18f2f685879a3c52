#include "options.h"

#include "commands.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <getopt.h>
#include <string_view>

namespace em1sim {
namespace {

constexpr std::string_view kHelp = R"(Usage: em1sim [OPTIONS]
  or:  em1sim ctl SOCKET COMMAND...

Simulates a Eurotherm EM-1 process controller on a serial line, in real time, with the
instrument's ASCII protocol: loops L01..L29, modules M01..M35, an alert list, and faults on
demand. By default it creates a pseudo-terminal and prints the path of its slave as the first
line on standard output (and again each time the line opens after a hang-up); a program under
test opens that path as its serial port. SIGINT, SIGTERM or SIGHUP end it cleanly.

Line:
  --device PATH       answer on this serial device instead of a new pseudo-terminal
  --baud N            line speed: 300 to 460800 (default 9600)
  --data-bits N       character size: 5 to 8 (default 8)
  --parity P          parity: none, even, odd, mark or space (default none)
  --stop-bits N       stop bits: 1 or 2 (default 1)
  --pace              send at the speed and framing above, as a real line does (a start bit,
                      the data bits, the parity bit, the stop bits: 10 bit times a byte at
                      8N1), and answer a request once its last byte would have arrived; for
                      a pseudo-terminal, which otherwise delivers at once (a device paces
                      itself, so --pace with --device is refused)
  --link PATH         keep a symbolic link PATH to the pseudo-terminal's slave; it follows the
                      line across hang-ups, is absent while the line is down and is removed
                      at exit. Refused while another em1sim keeps PATH, and when PATH is
                      anything but a link to a pseudo-terminal left by an ended em1sim
  --latency MS        delay before every reply (default 20)

Instrument:
  --loops N           number of loops, 1 to 29 (default 29)
  --modules N         number of modules, 0 to 35 (default 35)
  --slow-start        S? answers NOT READY instead of *** until SI has been received
  --confirm LETTERS   parameter letters whose writes ask for confirmation, or "none"
                      (default PID)
  --no-drift          keep measured values still (by default V tracks S with some noise and
                      the output % follows, in every mode but OFF and MANUAL)
  --seed N            seed of drift noise, fault rates and garbage bytes (default 1)
  --set ITEM=VALUE    start with this value, e.g. --set L01S=42.5 --set L02M=MANUAL
  --alert TEXT        start with this alert active, e.g. --alert CC --alert "L03 LOW ALARM"

Faults, control and trace:
  --fault RULE        add a fault rule, e.g. --fault "L01S? silence count=2" (see FAULTS)
  --script FILE       run the control commands in FILE (one a line, # starts a comment)
  --control PATH      accept control commands on a Unix socket at PATH (see CONTROL), which
                      only its owner can use; a bare NAME is $XDG_RUNTIME_DIR/NAME (or
                      /tmp/em1sim-UID/NAME). PATH's directory must be the user's own and not
                      writable by every user; a socket another em1sim serves is refused
  --trace FILE        write every request, reply and line event with its time to FILE;
                      "-" is standard error
  -h, --help          this text
  --version           the version

Requests and replies (\r is CR, ETX is byte 3; values are numbers like 26.0 or tokens):
  S?                  "***\r" ETX; "NOT READY\r" ETX with --slow-start before SI; always
                      "***\r" right after a "?"; "ERR " in front while an alert holds ERROR
  SI                  initialise the adapter: "***\r" ETX
  DF                  summary formats back to SV%X and VX: "***\r" ETX
  DLletters, DMletters  letters of the SL? and SM? lines: "DLSV%X ***\r\n"
  L01S?, M03X?        "L01S=26.0\r" ETX, "M03X=OK\r" ETX, "L01M=AUTO\r" ETX
  SL?, SM?            "1,26,25.9,50.4,OK\r\n" one line per loop (module), then ETX; numbers
                      with one decimal at most, whole when the reply would pass 591 bytes
  SA?                 "ALERTS 2\r\n" "CC\r\n" "L03 LOW ALARM\r\n" ETX
  XC                  "29,35,2\r" ETX: loops, modules, alerts
  SS                  "2\r" ETX: active alerts
  XS0                 "REV 2.14\r" ETX
  L01S=12.500         "L01S=12.5 ***\r\n"; letters of --confirm ask "L01P? 45.0 Y/N\r\n"
  Y / N               apply the change asked about: "L01P=45.0 ***\r" ETX / "CANCELLED\r" ETX
  SX                  reset: acknowledge (clear) all alerts: "***\r" ETX
  SOtext, SB          show text on the display, blank it: "***\r" ETX
  anything else       "?\r" then ETX, or "\n" for writes and DL/DM
Tabulated letters take only their tokens: M a mode (OFF MANUAL TRIM AUTO SLAVE CASCADE ON),
X a status (OK DT WM BI ME D L H HD LD XX, or its number 0-10), C D I P [ ] one of 0.1 0.2
0.3 0.5 0.7 1.0 1.4 2.0 3.0 4.0 5.0 6.0 8.0 10.0 15.0 20.0 30.0 45.0 60.0 100 150 200 300 400
500, F ^ one of 1 2 3 4 5 6 8 10 15 20 30 40 50 60 80 100 150 200, G one of 0.125 0.250 0.500
1.0 2.0 4.0 8.0; those three sets also take OFF. V (the measured value) is read-only.

FAULTS: a rule is PATTERN KIND [count=N] [rate=P] [delay=MS] [bytes=N] [to=REQUEST]. PATTERN
is a request without its "\r"; "*" matches any run of characters ("L01*", "*"). count=N: only
the next N matching requests; rate=P: each matching request with chance P (0 to 1, seeded).
The first rule that matches and fires decides. Kinds:
  silence             no reply; the request is lost
  refuse              "?" instead of the reply; the request is not carried out
  empty               the terminator alone
  partial             the first bytes=N of the reply (default half), then nothing
  split               the first bytes=N, then the rest after delay=MS (default 500)
  garbage             bytes=N random bytes (default 12, never a terminator), then the terminator
  noterm              the reply without its terminator
  flood               bytes=N bytes without any terminator (default 600)
  late                the reply after delay=MS instead of the latency (default 3000)
  trailing            the reply, then bytes=N extra bytes "EXTRA..." (default 5)
  hangup              close the line, open it again after delay=MS (default 200); no reply,
                      or with bytes=N the first N bytes of the reply, and the line closes
                      once the peer has taken them.
                      A pseudo-terminal comes back as a new one, printed on standard output;
                      its path is the old one only if every peer had closed the old line
                      (--link always follows it). The instrument's state is kept.
  foreign             first the reply to another request, then after delay=MS (default 100)
                      its own: a late reply to an earlier request. The other is the request
                      before this one, or to=REQUEST, a request the instrument answers
                      without carrying it out (an item's read such as L02S?, SL?, SM?, SA?, XC)
  random              one of the kinds above but trailing, chosen afresh (seeded) each time
                      the rule fires, with that kind's delay and bytes unless given; the trace
                      names the kind chosen. E.g. "* random rate=0.01" spoils 1 % of replies.
Except for silence, refuse and hangup without bytes=N the request is carried out; only its
reply is spoiled.

CONTROL: commands, from --script, --control or "em1sim ctl SOCKET COMMAND...", one answer line
each ("ok", a value, or "error: ..."); SOCKET is the path or bare name given to --control:
)";

constexpr std::string_view kExamples = R"(
Examples:
  $ em1sim --link /tmp/em1 --trace - --control em1.sock
  $ em1sim ctl em1.sock fault 'L01S?' silence count=2
  $ em1sim ctl em1.sock get L01V
  $ em1sim ctl em1.sock help
  $ em1sim --device /dev/ttyUSB0 --baud 9600 --parity none --slow-start
)";

enum Option {
    kDevice = 256,
    kBaud,
    kDataBits,
    kParity,
    kStopBits,
    kLink,
    kLatency,
    kLoops,
    kModules,
    kSlowStart,
    kConfirm,
    kNoDrift,
    kSeed,
    kSet,
    kAlert,
    kFault,
    kScript,
    kControl,
    kTrace,
    kVersion,
    kPace,
};

constexpr option kLongOptions[] = {
    {"device", required_argument, nullptr, kDevice},
    {"baud", required_argument, nullptr, kBaud},
    {"data-bits", required_argument, nullptr, kDataBits},
    {"parity", required_argument, nullptr, kParity},
    {"stop-bits", required_argument, nullptr, kStopBits},
    {"link", required_argument, nullptr, kLink},
    {"latency", required_argument, nullptr, kLatency},
    {"loops", required_argument, nullptr, kLoops},
    {"modules", required_argument, nullptr, kModules},
    {"slow-start", no_argument, nullptr, kSlowStart},
    {"confirm", required_argument, nullptr, kConfirm},
    {"no-drift", no_argument, nullptr, kNoDrift},
    {"seed", required_argument, nullptr, kSeed},
    {"set", required_argument, nullptr, kSet},
    {"alert", required_argument, nullptr, kAlert},
    {"fault", required_argument, nullptr, kFault},
    {"script", required_argument, nullptr, kScript},
    {"control", required_argument, nullptr, kControl},
    {"trace", required_argument, nullptr, kTrace},
    {"pace", no_argument, nullptr, kPace},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

bool Complain(const std::string &reason) {
    std::fprintf(stderr, "em1sim: %s\nTry 'em1sim --help'.\n", reason.c_str());
    return false;
}

// "--baud '1234' is not allowed; use one of ...": the option, the value given, what it takes.
bool RefuseValue(std::string_view option, std::string_view value, std::string_view allowed) {
    return Complain(std::string(option) + " '" + std::string(value) + "' is not allowed; use " +
                    std::string(allowed));
}

template <typename Number>
bool ParseBounded(std::string_view text, Number low, Number high, Number &value) {
    Number parsed{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || parsed < low ||
        parsed > high)
        return false;
    value = parsed;
    return true;
}

std::string BaudChoices() {
    std::string text = "one of";
    for (const int baud : SupportedBauds())
        text += ' ' + std::to_string(baud);
    return text;
}

bool ReadScript(const std::string &path, std::vector<std::string> &commands) {
    std::ifstream file(path);
    if (!file)
        return Complain("--script '" + path + "' cannot be read");
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line[start] != '#')
            commands.push_back(line.substr(start));
    }
    return true;
}

bool SetCommand(std::string_view assignment, std::vector<std::string> &commands) {
    const auto equals = assignment.find('=');
    if (equals == assignment.npos)
        return RefuseValue("--set", assignment, "ITEM=VALUE, e.g. L01S=42.5");
    commands.push_back("set " + std::string(assignment.substr(0, equals)) + ' ' +
                       std::string(assignment.substr(equals + 1)));
    return true;
}

bool ApplyLineOption(int code, std::string_view value, LineSettings &line) {
    int baud = 0;
    switch (code) {
    case kBaud:
        if (!ParseBounded(value, 1, 10000000, baud) || !SupportedBaud(baud))
            return RefuseValue("--baud", value, BaudChoices());
        line.baud = baud;
        return true;
    case kDataBits:
        return ParseBounded(value, 5, 8, line.dataBits) ||
               RefuseValue("--data-bits", value, "5 to 8");
    case kParity:
        if (const auto parity = ParseParity(value)) {
            line.parity = *parity;
            return true;
        }
        return RefuseValue("--parity", value, "none, even, odd, mark or space");
    default:
        return ParseBounded(value, 1, 2, line.stopBits) ||
               RefuseValue("--stop-bits", value, "1 or 2");
    }
}

bool ApplyModelOption(int code, std::string_view value, ModelSettings &model) {
    int latency = 0;
    switch (code) {
    case kLatency:
        if (!ParseBounded(value, 0, 600000, latency))
            return RefuseValue("--latency", value, "0 to 600000 (milliseconds)");
        model.latency = std::chrono::milliseconds(latency);
        return true;
    case kLoops:
        return ParseBounded(value, 1, kMaxLoops, model.loops) ||
               RefuseValue("--loops", value, "1 to 29");
    case kModules:
        return ParseBounded(value, 0, kMaxModules, model.modules) ||
               RefuseValue("--modules", value, "0 to 35");
    case kSlowStart:
        model.protocol.fastStart = false;
        return true;
    case kConfirm:
        model.protocol.confirmLetters = value == "none" ? "" : std::string(value);
        return true;
    case kNoDrift:
        model.drift = false;
        return true;
    default:
        return ParseBounded(value, 0u, 0xFFFFFFFFu, model.seed) ||
               RefuseValue("--seed", value, "0 to 4294967295");
    }
}

bool Apply(int code, std::string_view value, ProgramOptions &options) {
    switch (code) {
    case kDevice:
        options.device = std::string(value);
        return true;
    case kBaud:
    case kDataBits:
    case kParity:
    case kStopBits:
        return ApplyLineOption(code, value, options.line);
    case kLink:
        options.link = value;
        return true;
    case kLatency:
    case kLoops:
    case kModules:
    case kSlowStart:
    case kConfirm:
    case kNoDrift:
    case kSeed:
        return ApplyModelOption(code, value, options.model);
    case kSet:
        return SetCommand(value, options.commands);
    case kAlert:
        options.commands.push_back("alert add " + std::string(value));
        return true;
    case kFault:
        options.commands.push_back("fault " + std::string(value));
        return true;
    case kScript:
        return ReadScript(std::string(value), options.commands);
    case kControl:
        options.control = value;
        return true;
    case kTrace:
        options.trace = std::string(value);
        return true;
    case kVersion:
        options.version = true;
        return true;
    case kPace:
        options.pace = true;
        return true;
    case 'h':
        options.help = true;
        return true;
    default:
        return Complain("unknown option");
    }
}

} // namespace

std::optional<ProgramOptions> ParseOptions(int argc, char **argv) {
    ProgramOptions options;
    ::opterr = 0;
    ::optind = 1;
    for (int code; (code = ::getopt_long(argc, argv, ":h", kLongOptions, nullptr)) != -1;) {
        const std::string given = argv[::optind - 1];
        const bool applied = code == '?' ? Complain("unknown option '" + given + "'")
                             : code == ':'
                                 ? Complain("option '" + given + "' wants a value")
                                 : Apply(code, ::optarg != nullptr ? ::optarg : "", options);
        if (!applied)
            return std::nullopt;
    }
    if (::optind < argc) {
        Complain(std::string("unexpected argument ") + argv[::optind]);
        return std::nullopt;
    }
    if (options.pace && options.device) {
        Complain("--pace is for a pseudo-terminal; a device keeps its own pace");
        return std::nullopt;
    }
    if (options.pace)
        options.model.characterTime = CharacterTime(options.line);
    return options;
}

void PrintVersion() {
    std::printf("em1sim (EM-1 driver) %s\n", EM1SIM_VERSION);
}

void PrintHelp() {
    std::fputs(std::string(kHelp).c_str(), stdout);
    std::fputs(std::string(CommandSummary()).c_str(), stdout);
    std::fputs(std::string(kExamples).c_str(), stdout);
}

} // namespace em1sim
