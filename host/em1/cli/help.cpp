#include "help.h"

#include "driver_library.h"
#include "em_version.h"

#include <string>

namespace {

constexpr const char *kIntroduction = R"(Usage: em1 [OPTIONS] COMMAND [ARGUMENTS]

Drives a Eurotherm EM-1 process controller through the EM-1 driver, as a host program
does: loads the driver library, starts an instance on a serial port, and calls the driver's
commands. Options may stand anywhere on the line.

Commands:
)";

constexpr const char *kOptions = R"(
Port options (commands that talk to the instrument need --port):
  -p, --port NAME     the serial port: ttyUSB0, /dev/ttyUSB0, pts/3 or a path on Linux,
                      COM5 or \\.\COM12 on Windows; at most 11 characters, a leading /dev/
                      is dropped when the name would not fit otherwise, and a longer link
                      (/dev/serial/by-id/...) stands for the device it names (default:
                      $EM1_PORT)
  -b, --baud N        baud rate, 50 to 65535 (Linux takes standard rates only)
      --data-bits N   5 to 8
      --parity P      none, odd, even, mark or space
      --stop-bits N   1, 1.5 or 2
      --dtr LINE      on, off or handshake (default off)
      --rts LINE      on, off, handshake or toggle (default on)
      --timeout MS    the reply timeout in milliseconds, 1000 to 60000 (default 1000)
  The line settings not given are the driver's defaults (em1 info shows them: 9600 8N1).

Command options:
  -f, --format F      read, poll, block, alerts: table (default), csv or json (JSON
                      lines)
      --no-header     read, poll, block, alerts: CSV without its header row
  -i, --interval S    poll, block: seconds from the start of one round to the next
                      (default 1, decimals allowed); a round that takes longer is told once
  -c, --count N       poll, block: this many rounds (default: until Ctrl-C)
      --no-verify     write: do not read the item back; report the text the line carried

Other options:
      --driver PATH   the driver library to load (default: %s beside em1)
      --no-start      skip the adapter dialogue: em1 records the port settings itself and
                      opens the port with OpenPort (the port keeps the driver's 1 s read
                      timeout)
      --trace FILE    have the driver's serial layer trace the bytes on the line into FILE
                      (sets EM_TRACE=FILE before the driver is loaded); a FILE the driver
                      would not write to (a folder, a link, a missing folder) is refused.
                      Without it em1 keeps a private trace of its own, removed at the end:
                      what each call did on the line is how em1 judges a write's outcome
  -v, --verbose       show the driver's log lines: -v its outcome lines (level 32), -vv its
                      detail lines too (level 64) and every request and reply on the line
                      (from the line trace, "em1: line ..."), failed or not
  -h, --help          this help; a command's own: em1 COMMAND --help or em1 help COMMAND
  -V, --version       em1's version

START-UP: every command that talks to the instrument first starts an instance with
ColdStart, which opens the port and runs the adapter dialogue (over 30 s when the adapter
needs a reset). On a terminal a progress line shows the elapsed time. When the adapter is
not ready afterwards, em1 runs the dialogue once more (WarmStart) to learn why, and stops
with 69 if it fails again. With --dtr or --rts other than the defaults, em1 records the port
settings itself, opens the port with OpenPort and runs the dialogue with WarmStart, so the
dialogue already has those lines. The port is shut down when em1 ends.

Environment:
  ZEL_LOG_FILE        a file that the driver's log lines are appended to (default: standard
                      error)
  ZEL_LOG_MASK        the levels of the driver's log lines to write when neither -v nor -vv
                      is given: 32 outcome lines, 96 with the detail lines (default: none)
  EM1_PORT            the port when --port is not given
  EM_TRACE            set by em1 to --trace FILE or to its private trace

Exit status:
)";

constexpr const char *kExitStatuses =
    R"(   0  success (a write: acknowledged, and read back as the value given)
  64  usage: a bad command, option, option value or item address
  65  a value that could not be decoded or written: a reply that does not decode, a value
      its cell type cannot hold, a value refused before sending, or a write that reads
      back as another value than the one given
  66  the driver library cannot be loaded, or it writes its line trace in a version this
      em1 does not know
  69  the instrument does not answer, or its adapter is not ready; a write that never
      reached the line
  74  the serial port cannot be opened, standard output cannot be written, or the driver's
      line trace cannot be made or read (em1 reports nothing it cannot know)
  75  a write was sent but not acknowledged: unconfirmed, it may have been applied
  76  the instrument refused a request (it answered "?")
 130  interrupted (Ctrl-C) during poll (or block in rounds), after the current read;
      143 for SIGTERM
)";

} // namespace

const char *ExitStatusTable() {
    return kExitStatuses;
}

void PrintHelp(std::FILE *out) {
    std::fputs(kIntroduction, out);
    for (const auto &command : Commands()) {
        // The operands without the command options, which the command's help lists.
        const std::string operands(command.synopsis.substr(0, command.synopsis.find(" [-")));
        std::fprintf(out, "  %-24s %s\n", operands.c_str(), std::string(command.summary).c_str());
    }
    std::fprintf(out, kOptions, DriverFileName());
    std::fputs(ExitStatusTable(), out);
}

void PrintCommandHelp(std::FILE *out, const CommandDefinition &command) {
    std::fprintf(out, "Usage: em1 [OPTIONS] %s\n\n%s", std::string(command.synopsis).c_str(),
                 std::string(command.details).c_str());
    if (command.synopsis.find("ADDR") != std::string_view::npos) {
        std::fputs(std::string(ItemHelp()).c_str(), out);
    }
    if (command.talksToInstrument) {
        std::fputs("\nNeeds --port; see em1 --help for the port options and the start-up.\n", out);
    }
    std::fputs("\nExit status:\n", out);
    std::fputs(ExitStatusTable(), out);
}

void PrintVersion(std::FILE *out) {
    std::fprintf(out, "em1 %s, host program of the EM-1 driver\n", EM_VERSION_STRING);
}
