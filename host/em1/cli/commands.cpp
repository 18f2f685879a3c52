#include "commands.h"

#include <array>

namespace {

constexpr std::string_view kItemHelp = R"(
An item address is A07 (alert flag 7), L01S1 (loop 1, parameter letter S, scale digit 1),
M12V0 (module 12, letter V) or a special word: XS0 NL NM NA SX S? DISP INIT. Parameter
letters: S V % X H L E T B ( ) R > < M C P I D G ^ F [ ]. The scale digit 0, 1 or 3 makes
the host's value 1, 10 or 1000 times the instrument's: em1 shows both. Quote addresses with
( ) > < ^ [ ] or ? for the shell.

ADDR:TYPE reads the item as one of the host's data types: uint16 int16 word float int32
uint32 bit, or a type code 0 to 255. Without a type: float for loop and module values,
uint16 for modes (letter M) and statuses (letter X), bit for alerts, int16 for special
words.
)";

const std::array<CommandDefinition, 12> kCommands = {{
    {"info", "info", "the driver's self-description",
     R"(Loads the driver and shows what it says about itself (GetDriverInfo): its name, its
default line settings and the record codes in words, and its banner as a terminal shows it.
Needs no port.
)",
     0, 0, "", false, RunInfo},
    {"check", "check ADDR[:TYPE]...", "how the driver defines items, or why it refuses them",
     R"(Defines each item with the driver (DefineItem) and shows its class, index, bit number,
width, data type and scale, or why the address is refused. Needs no port. Exits with 64 when
any address is refused.
)",
     1, 64, "", false, RunCheck},
    {"start", "start", "start the instance and report the port and the adapter",
     R"(Brings an instance up on the port (see START-UP in em1 --help), reports the port and
the adapter, and shuts it down.
)",
     0, 0, "", true, RunStart},
    {"read", "read ADDR[:TYPE]...", "read items once",
     R"(Reads each item once (SingleRead) and shows its value in the instrument's units, as the
host's cell holds it, and the scale between them. Modes and statuses show by name (AUTO,
OK), alert items as active or clear. --format csv or json gives the same as one round of
poll.
)",
     1, 64, "--format --no-header", true, RunRead},
    {"poll", "poll ADDR[:TYPE]... [--interval SECONDS] [--count N] [--format table|csv|json]",
     "read items in rounds",
     R"(Reads the items in rounds, one round every --interval seconds (-i, default 1, decimals
allowed), --count rounds (-c) or until interrupted: Ctrl-C ends the run after the current
read, prints the round so far, shuts the instance down and exits with 130. A round that
takes longer than the interval is told once on standard error; the next one follows at once.
A table has a column per item and the UTC time; CSV has a header row (--no-header drops
it), then time,round and a field per item (empty when its read failed); JSON gives one
object per line and round:
  {"time":"2024-05-01T12:00:00.123Z","round":1,"items":[{"item":"L01S1","value":42.5,
   "cell":425,"scale":10},{"item":"L01M0","value":3,"text":"AUTO","cell":3,"scale":1}]}
Values are the shortest text that reads back as the value the cell holds. A failed read
shows as "-" in a table and {"item":...,"error":"no answer"} in JSON (with "foreign":...
naming the reply to another request that came in its place, never taken as its value), is
told on standard error, and the poll goes on; the exit status is that of the first failure.
When the port itself fails (a hang-up, an adapter unplugged), em1 reopens it with growing
pauses (0.25 s to 4 s) and goes on; it says so on standard error and, in JSON, with event
lines {"time":...,"event":"line down","port":...} and {...,"event":"line back",
"down_seconds":...,"missed_rounds":N}. A round that falls due while the line is down is
a missed round: "-" or empty fields, {"round":N,"missed":true,"items":[{"item":...,
"error":"line down"}]} in JSON, never old values.
)",
     1, 64, "--format --interval --count --no-header", true, RunPoll},
    {"block", "block CLASS|ADDR COUNT [--interval SECONDS] [--count N] [--format table|csv|json]",
     "read a whole class as a block of 16-bit values",
     R"(Reads COUNT values of class L (loops: S V % X of each), M (modules: V X of each) or A
(alert flags) with one request (BlockRead). A class letter starts at loop, module or flag
0 or 1; an address such as L03S1 starts at its loop and takes its scale digit. COUNT is 2
to 116 for L, 2 to 70 for M and 2 to 27 for A. --format csv or json gives the values as
one round of poll, one field or object per value. A value that does not fit its 16-bit
cell (42.5 at scale digit 3 is 42500) is an error naming the cell and the value, exit 65,
shown as "-" (an empty field in CSV, an "error" in JSON).
With --interval (-i) or --count (-c) the block is read in rounds, one request a round,
exactly as poll reads items: the same table, CSV rows and JSON lines, recovery of a failed
line, and Ctrl-C.
)",
     2, 2, "--format --no-header --interval --count", true, RunBlock},
    {"alerts", "alerts [--format table|csv|json]", "the names of the active alerts",
     R"(Reads the alert list (BlockRead of the 27 alert flags) and names each active alert with
the item that reads it (A02 CC, A20 LOW ALARM). "write SX 0" acknowledges them.
--format csv gives a header row time,item,alert (--no-header drops it) and a row per
active alert; json gives one object, its list empty when no alert is active, as em1
gateway publishes it:
  {"active":[{"item":"A02","name":"CC"}],"time":"2024-05-01T12:00:00.123Z"}
)",
     0, 0, "--format --no-header", true, RunAlerts},
    {"write", "write ADDR[:TYPE] VALUE", "write one value",
     R"(Writes VALUE to the item (SingleWrite), in the instrument's units: em1 multiplies it by
the item's scale for the host's cell (a 32-bit integer cell for a whole number that fits
one, so no digit is lost). VALUE is a number (42.5, -3); for letter M a mode: OFF MANUAL
TRIM AUTO SLAVE CASCADE ON, or its code; for letter X a status code 0 to 10 (OK DT WM BI ME
D L H HD LD XX), which the driver sends as a number; for letters C D I P [ ] ^ F G one of
their tokens or OFF. Special words: DISP 1 shows "TURN KEY OFF" on the display and DISP 0
blanks it, SX 0 resets and acknowledges the alerts, S? 0 initialises the adapter.

em1 tells the text the line carried (the driver writes at most three decimals and six
digits: 1234.5678 goes out as 1234.56) and reads the item back: "L01S1 = 42.5 written: the
line carried L01S=42.500; it reads back as 42.5". A value that reads back otherwise ends
with 65. A write sent without an acknowledgement (no reply, a garbled or late reply, a
hang-up) is "unconfirmed: it may have been applied", with the read-back, exit 75; only the
instrument's own "?" is "refused" (76). --no-verify skips the read-back.
)",
     2, 2, "--no-verify", true, RunWrite},
    {"open", "open", "close the instance's port and open it again (OpenPort)",
     R"(Starts the instance, closes its port (ClosePort) and opens it again with OpenPort,
which runs no adapter dialogue. With --no-start em1 records the port settings itself and
OpenPort opens the port for the first time.
)",
     0, 0, "", true, RunOpen},
    {"close", "close", "close the instance's port (ClosePort)",
     R"(Starts the instance and closes its port with ClosePort.
)",
     0, 0, "", true, RunClose},
    {"reopen", "reopen [PORT]", "open the instance's port anew on PORT (ReopenPort)",
     R"(Starts the instance on --port, then ReopenPort with PORT (default: --port), the line
options and --timeout; ReopenPort closes the old port first when PORT is another one. No
adapter dialogue runs on the reopened port.
)",
     0, 1, "", true, RunReopen},
    {"gateway", "gateway [--broker HOST[:PORT]] --port NAME --items ADDR,... | --config FILE",
     "serve instruments to an MQTT broker, both ways (Linux only)",
     R"(Serves one or more instruments to an MQTT broker until SIGTERM or SIGINT (exit 0);
SIGHUP reads the configuration again (instruments whose settings did not change go on).
Each --port is one instrument with a driver instance and a thread of its own; the line
options, --items, --writable, --on-change, --interval and --name after a --port are that
instrument's, before the first --port every instrument's. The gateway is a feature of the
Linux em1.
  --broker HOST[:PORT]     the broker (localhost:1883)
  --items ADDR[:TYPE][@SECONDS],...  the items, read every --interval SECONDS or, with
                           @SECONDS, at their own interval (L01V1@5)
  --interval SECONDS       the interval of the items without one and of the alerts; default:
                           whole seconds that fit a read of each (about 0.35 s a read)
  --writable ADDR,...      the items that PREFIX/NAME/ITEM/set may write; no other
  --on-change ADDR[=DEADBAND],...  publish these (* for all) only when they change by
                           DEADBAND or more; the others every round
  --name NAME              the instrument's topic level (default: the port, / as -)
  --topic-prefix PREFIX    the first topic levels (em1)
  --user NAME --password-file FILE   credentials; the file's first line is the password
  --ca-file FILE [--cert-file FILE --key-file FILE]  TLS, with a client certificate
  --keepalive SECONDS      (30)
  --offline-after ROUNDS   status offline after ROUNDS rounds in a row unanswered (3)
  --client-id ID           the MQTT client id: letters, digits, - (em1-gateway-PREFIX-NAME)
  --config FILE            the settings of a file, in INI form, at this place
  --discovery [PREFIX]     Home Assistant MQTT discovery under PREFIX (homeassistant): a
                           device per instrument, an entity per item (sensor, number, select,
                           binary_sensor) and one for the alerts; published again when
                           PREFIX/status says online, removed when SIGHUP drops them
  --metrics-listen ADDR:PORT  HTTP: /metrics in the Prometheus text format, /health (200
                           while every instrument is online and connected, else 503)
  --metrics-interval SECONDS  PREFIX/NAME/metrics every SECONDS (60; 0: never)
Topics (MQTT 5, QoS 1, a clean session, reconnection with growing pauses):
  PREFIX/NAME/ITEM          retained: {"item":"L01S1","value":42.5,"cell":425,"scale":10,
                            "time":"2024-05-01T12:00:00.123Z"}, with "text" for modes and
                            statuses; {"item":...,"error":"no answer",...} for a failed read
                            ("foreign":... names a reply to another request in its place)
  PREFIX/NAME/alerts        retained: {"active":[{"item":"A19","name":"HIGH ALARM"}],...}
  PREFIX/NAME/status        retained: online or offline, also the connection's last will;
                            offline when the line failed or no read was answered in
                            --offline-after rounds
  PREFIX/NAME/status/detail retained: why the instrument is offline
  PREFIX/NAME/metrics       retained: {"reads":{"ok":...},"writes":{"written":...},
                            "lineOutages":...,"brokerReconnections":...,"messagesKept":...,
                            "messagesSuperseded":...,"roundSeconds":{"median":...,"p99":...,
                            "count":...},"setResultSeconds":{...},"time":...}
  PREFIX/NAME/ITEM/set      a value as em1 write takes it (42.5, AUTO) or JSON
                            {"value":42.5,"id":"..."}; written after the exchange in
                            progress, then read back. Retained sets, expired ones and an id
                            already taken are ignored; sets while offline are rejected
  PREFIX/NAME/ITEM/result   {"item":...,"request":...,"id":...,"outcome":...,"reason":...,
                            "sent":...,"readBack":{...},"held":true,"time":...}; outcome
                            written, inexact (acknowledged, but holds another value),
                            unconfirmed (may have been applied), refused (by the instrument),
                            rejected (nothing sent), ignored; also to an MQTT 5 response
                            topic, with its correlation data
While the broker is away the rounds go on; the latest message of each topic is kept and
published when it is back, and the log says how many were superseded meanwhile.
The configuration file (--config FILE, read again on SIGHUP) is in INI form:
  # the gateway's settings, and every instrument's below unless its section says otherwise
  broker = mqtt.plant:8883
  ca-file = /etc/em1/ca.pem
  interval = 2
  discovery = homeassistant
  metrics-listen = 127.0.0.1:9100
  [instrument boiler]
  port = ttyUSB0
  baud = 9600
  items = L01S1, L01V1@5, L01M0@60
          L02S1, L02V1     ; an indented line without = goes on with the key above
  writable = L01S1, L01M0
  on-change = L01V1=0.5
Keys are the long options above without their dashes, except config and name (the section
names its instrument), and the port options of em1 --help: port baud data-bits parity
stop-bits dtr rts timeout; "discovery =" without a value is the prefix homeassistant.
Values take no quotes; a relative path is taken from em1's
working directory (/ under systemd). The lines before the first section, and those under
[gateway], are the gateway's settings and those of every instrument after them;
[instrument NAME] starts an instrument whose topic level is NAME. A comment runs from # or
; at the start of a line or after a blank to the end of the line. Two instruments cannot share a name, nor a port (the same
name, or a link and the device it leads to). Every error names the file and the line:
  plant.conf:7: baud: 'fast' is not a whole number (allowed: 50 to 65535)
A file that cannot be read (this one, --password-file, --ca-file, --cert-file, --key-file)
is refused with the reason; a client certificate needs its key and --ca-file.
)",
     0, 1 << 20, "", false, RunGateway},
}};

} // namespace

std::string_view ItemHelp() {
    return kItemHelp;
}

std::span<const CommandDefinition> Commands() {
    return kCommands;
}

const CommandDefinition *FindCommand(std::string_view name) {
    for (const auto &command : kCommands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

StartOptions StartOptionsOf(const Context &context) {
    StartOptions options;
    options.port = context.line.port;
    options.line = ResolveLine(context.line.port, context.driver.Info().defaults);
    options.noStart = context.line.noStart;
    options.showProgress = context.showProgress;
    return options;
}
