// em1 without an instrument: the command line, help, the self-description, and ports that
// cannot be opened.
#include "em1_runner.h"
#include "em_version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct UsageCase {
    std::vector<std::string> arguments;
    std::string message;
    std::string help = "em1 --help"; // where the hint points: the command's help, once named
};

class Em1Usage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(Em1Usage, IsRefusedWithStatus64NamingTheArgument) {
    const ProgramRun run = Em1(GetParam().arguments);
    EXPECT_EQ(run.status, 64) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try '" + GetParam().help + "'."), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    BadCommandLines, Em1Usage,
    ::testing::Values(
        UsageCase{{}, "no command given"},
        UsageCase{{"frobnicate"}, "unknown command 'frobnicate'"},
        UsageCase{{"--frob", "info"}, "unknown option '--frob'"},
        UsageCase{{"-x", "info"}, "unknown option '-x'"},
        UsageCase{{"info", "extra"}, "info: unexpected argument 'extra'", "em1 help info"},
        UsageCase{{"read"}, "read: missing operands", "em1 help read"},
        UsageCase{{"read", "L01S1"},
                  "read: talks to the instrument; give its port with --port",
                  "em1 help read"},
        UsageCase{{"-p", "pts/1", "--baud", "abc", "start"},
                  "--baud: 'abc' is not a whole number (allowed: 50 to 65535)"},
        UsageCase{{"-p", "pts/1", "--baud=70000", "start"},
                  "--baud: 70000 is out of range (allowed: 50 to 65535)"},
        UsageCase{{"-p", "pts/1", "--data-bits", "9", "start"},
                  "--data-bits: 9 is out of range (allowed: 5 to 8)"},
        UsageCase{{"-p", "pts/1", "--parity", "x", "start"},
                  "--parity: 'x' is not one of none, odd, even, mark, space"},
        UsageCase{{"-p", "pts/1", "--stop-bits", "3", "start"},
                  "--stop-bits: '3' is not one of 1, 1.5, 2"},
        UsageCase{{"-p", "pts/1", "--rts", "maybe", "start"},
                  "--rts: 'maybe' is not one of on, off, handshake, toggle"},
        UsageCase{{"-p", "pts/1", "--timeout", "500", "start"},
                  "--timeout: 500 is out of range (allowed: 1000 to 60000)"},
        UsageCase{{"-p", "pts/1", "--timeout", "1s", "start"},
                  "--timeout: '1s' is not a whole number (allowed: 1000 to 60000)"},
        UsageCase{{"-p", "pts/1", "start", "--timeout"}, "--timeout: needs a value"},
        UsageCase{{"--port", "/dev/serial/by-id/usb-FTDI-0001", "start"},
                  "--port: '/dev/serial/by-id/usb-FTDI-0001' has 31 characters"},
        UsageCase{{"-p", "pts/1", "poll", "L01S1", "--count", "0"},
                  "--count: 0 is out of range (allowed: 1 to 100000000)"},
        UsageCase{{"-p", "pts/1", "poll", "L01S1", "--interval", "soon"},
                  "--interval: 'soon' is not a number (allowed: 0 to 86400)"},
        UsageCase{{"-p", "pts/1", "poll", "L01S1", "--format", "xml"},
                  "--format: 'xml' is not one of table, csv, json"},
        UsageCase{{"-p", "pts/1", "write", "L01S1", "1", "--format", "csv"},
                  "--format does not apply to write",
                  "em1 help write"},
        UsageCase{{"-p", "pts/1", "read", "L01S1:double"},
                  "'L01S1:double': unknown data type 'double'",
                  "em1 help read"},
        UsageCase{{"-p", "pts/1", "block", "L", "many"},
                  "block: COUNT 'many' is not a whole number",
                  "em1 help block"},
        UsageCase{
            {"-p", "pts/1", "block", "Q", "4"}, "block: 'Q' is neither a class", "em1 help block"},
        UsageCase{{"-p", "pts/1", "block", "M", "71"},
                  "block: COUNT 71 is out of range for class M (allowed: 2 to 70)",
                  "em1 help block"},
        UsageCase{{"-p", "pts/1", "read", "A99"}, "read: 'A99' names no alert", "em1 help read"},
        UsageCase{{"-p", "pts/1", "--trace", "/", "start"},
                  "--trace: the line trace cannot be written to '/'",
                  "em1 help start"},
        UsageCase{{"-p", "pts/1", "--trace", "/nonexistent-folder/trace", "start"},
                  "--trace: the line trace cannot be written to '/nonexistent-folder/trace'",
                  "em1 help start"},
        UsageCase{{"gateway", "--port", "pts/1"}, "gateway: ", "em1 help gateway"},
        UsageCase{{"help", "frobnicate"}, "help: unknown command 'frobnicate'"}));

TEST(Em1Help, EveryCommandHasItsHelpAndTheVersionIsShown) {
    const ProgramRun help = Em1({"--help"});
    ASSERT_EQ(help.status, 0);
    for (const std::string command : {"info", "check", "start", "read", "poll", "block", "alerts",
                                      "write", "open", "close", "reopen"}) {
        EXPECT_NE(help.out.find("\n  " + command), std::string::npos) << command;
        for (const auto &asked : {std::vector<std::string>{command, "--help"},
                                  std::vector<std::string>{"help", command}}) {
            const ProgramRun own = Em1(asked);
            EXPECT_EQ(own.status, 0) << command;
            EXPECT_EQ(own.out.rfind("Usage: em1 [OPTIONS] " + command, 0), 0u) << own.out;
            EXPECT_NE(own.out.find("76  the instrument refused a request"), std::string::npos);
        }
    }
    const ProgramRun version = Em1({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind(std::string("em1 ") + EM_VERSION_STRING + ",", 0), 0u)
        << version.out;
}

// Code points of a UTF-8 text: every byte that does not continue a sequence.
std::size_t Columns(const std::string &line) {
    std::size_t columns = 0;
    for (const char c : line) {
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return columns;
}

TEST(Em1Info, ShowsTheSelfDescriptionInWordsAndASquareBanner) {
    const ProgramRun run = Em1({"info"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Eurotherm EM-1"), std::string::npos);
    EXPECT_NE(run.out.find("9600 baud, 8 data bits, one stop bit, no parity (9600 8N1)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("(bytes of the host's DriverState the driver uses)"), std::string::npos);
    std::vector<std::string> frame;
    for (const auto &line : LinesOf(run.out)) {
        if (line.rfind("\u250c", 0) == 0 || line.rfind("\u2502", 0) == 0 ||
            line.rfind("\u2514", 0) == 0) {
            frame.push_back(line);
        }
    }
    ASSERT_EQ(frame.size(), 6u) << run.out;
    for (const auto &line : frame) {
        EXPECT_EQ(Columns(line), 62u) << "the frame is 60 wide inside: " << line;
    }
    EXPECT_NE(frame[1].find(" Z E L E M   "), std::string::npos);
    EXPECT_EQ(run.out.find('\t'), std::string::npos) << "tabs laid out inside the frame";
}

TEST(Em1Info, ALibraryThatCannotBeLoadedGives66) {
    const ProgramRun run = Em1({"--driver", "/nonexistent/libEM.so", "info"});
    EXPECT_EQ(run.status, 66);
    EXPECT_NE(run.err.find("em1: cannot load the driver: /nonexistent/libEM.so"), std::string::npos)
        << run.err;
}

// A port em1 cannot open ends the run with 74 and the reason in words, found by em1.
struct PortCase {
    std::string port;
    std::string reason;
};

class Em1PortTrouble : public ::testing::TestWithParam<PortCase> {};

TEST_P(Em1PortTrouble, IsToldInWordsWithStatus74) {
    const ProgramRun run = Em1({"--port", GetParam().port, "start"});
    EXPECT_EQ(run.status, 74) << run.err;
    EXPECT_NE(run.err.find("em1: cannot open port " + GetParam().port +
                           " (ColdStart result 2): " + GetParam().reason),
              std::string::npos)
        << run.err;
    EXPECT_LT(run.elapsed.count(), 10.0) << "no adapter dialogue on a port that failed";
}

INSTANTIATE_TEST_SUITE_P(
    Ports, Em1PortTrouble,
    ::testing::Values(PortCase{"ttyNOPE9", "no such device: /dev/ttyNOPE9 does not exist"},
                      PortCase{"/dev/null", "not a serial device: /dev/null has no line settings"},
                      PortCase{"/etc/hosts", "not a serial device: /etc/hosts is a regular file"},
                      PortCase{"/tmp", "not a serial device: /tmp is a folder"}));

TEST(Em1PortInUse, APortLockedByAnotherProgramIsInUse) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string port = ttyname(slave);
    ASSERT_EQ(flock(slave, LOCK_EX | LOCK_NB), 0);
    const ProgramRun run = Em1({"--port", port, "start"});
    EXPECT_EQ(run.status, 74);
    EXPECT_NE(run.err.find("in use by another program: " + port + " is locked"), std::string::npos)
        << run.err;
    close(slave);
    close(master);
}

TEST(Em1PortInUse, ABaudRateTheLineDoesNotTakeIsNamed) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string port = ttyname(slave);
    close(slave);
    const ProgramRun run = Em1({"--port", port, "--baud", "12345", "start"});
    EXPECT_EQ(run.status, 74);
    EXPECT_NE(run.err.find("line settings refused: the port takes standard baud rates only"),
              std::string::npos)
        << run.err;
    close(master);
}

// Every address the driver refuses is explained in words, each by the first fault in it; all
// in one run, which also shows that em1 and the driver agree on what is refused.
TEST(Em1Check, ExplainsWhyTheDriverRefusesAnAddress) {
    const std::string letters = "S V % X H L E T B ( ) R > < M C P I D G ^ F [ ]";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"A7", "an alert address has 3 characters, like A07"},
        {"L01S0X", "a loop or module address has 5 characters: letter, two digits, parameter "
                   "letter and scale digit, like L01S1 or M12V0"},
        {"L1S01", "character 3 ('S') should be a digit of the item number"},
        {"l01q0", "character 4 ('Q') should be a parameter letter (" + letters + ")"},
        {"M12V2", "character 5 ('2') should be a scale digit: 0, 1 or 3 (times 1, 10 or 1000)"},
        {"XYZ", "it is neither an item address (A, L or M, then digits) nor a special word (XS0 "
                "NL NM NA SX S? DISP INIT)"},
        {std::string(33, 'L'), "the address is longer than 32 characters"},
        {"A07:int16", "an alert item takes only the data type bit (6)"},
        {"L01S0:7", "the data type 7 is refused by the driver"},
    };
    std::vector<std::string> arguments = {"check"};
    std::vector<std::string> expected;
    for (const auto &[address, reason] : cases) {
        arguments.push_back(address);
        const std::string shown = address.substr(0, address.find(':'));
        std::string line = shown;
        line.append(shown.size() < 8 ? 8 - shown.size() : 0, ' ')
            .append(" refused: ")
            .append(reason);
        expected.push_back(line);
    }

    const ProgramRun run = Em1(arguments);

    EXPECT_EQ(run.status, 64) << run.err;
    const std::vector<std::string> lines = LinesOf(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);
}

} // namespace
