// The termios backend against pseudo-terminals: the test holds the master side, the
// backend opens the slave by name. These tests run in real time and keep their waits short.
#include "backend_conformance.h"
#include "serial/serial.h"
#include "serial/trace_grammar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal whose master side stays open while the program runs.
std::string ConformancePortName() {
    static const std::string name = [] {
        int master = -1;
        int slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            return std::string("pts/none");
        }
        std::string slaveName = std::string(ttyname(slave)).substr(std::strlen("/dev/"));
        close(slave);
        return slaveName;
    }();
    return name;
}

namespace {

// A regular file, removed when the program ends.
struct PlainFile {
    PlainFile() {
        char pattern[] = "/tmp/XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) {
            close(fd);
            name = pattern;
        }
    }
    ~PlainFile() { unlink(name.c_str()); }
    std::string name;
};

} // namespace

std::string ConformancePlainFileName() {
    static const PlainFile file;
    return file.name;
}

namespace {

using Clock = std::chrono::steady_clock;

// Real time on a busy machine says little: a wait is bounded only to catch a hang.
constexpr double kHangMs = 10000;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

PortSettings Settings(const std::string &name, LineSettings line = {9600, 8, 0, 0},
                      std::uint16_t flags = 0x0200) {
    PortSettings settings{};
    name.copy(settings.portName, sizeof settings.portName - 1);
    settings.line = line;
    settings.openFlags = flags;
    return settings;
}

class PseudoTerminal : public ::testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        name = std::string(ttyname(slave)).substr(std::strlen("/dev/")); // "pts/N"
        close(slave);
    }
    void TearDown() override {
        if (handle != 0) {
            SerialClose(handle);
        }
        if (master >= 0) {
            close(master);
        }
    }

    SerialResult Open(LineSettings line = {9600, 8, 0, 0}, std::uint16_t flags = 0x0200) {
        return SerialOpen(Settings(name, line, flags), handle);
    }
    // The kernel moves bytes from master to slave asynchronously.
    void SendAndAwait(const std::string &bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const auto start = Clock::now();
        while (BytesQueued(handle) < bytes.size() && MsSince(start) < kHangMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(BytesQueued(handle), bytes.size());
    }
    termios SeenByTheOtherSide() const {
        termios line{};
        EXPECT_EQ(tcgetattr(master, &line), 0);
        return line;
    }

    int master = -1;
    std::string name;
    SerialHandle handle = 0;
};

// A pseudo-terminal keeps CS8 and clears PARENB whatever is asked, so data bits and parity
// enable are not visible here; PARODD, CMSPAR, CSTOPB, CRTSCTS and the speed are.
struct LineCase {
    LineSettings line;
    std::uint16_t flags;
    speed_t speed;
    tcflag_t cflags; // of CSTOPB | PARODD | CMSPAR | CRTSCTS
};

// A 32-bit process on a 64-bit kernel cannot set CMSPAR; the backend then refuses mark and
// space parity rather than send the wrong parity.
bool KernelKeepsMarkSpace(int master) {
    termios line{};
    tcgetattr(master, &line);
    line.c_cflag |= CMSPAR;
    tcsetattr(master, TCSANOW, &line);
    tcgetattr(master, &line);
    const bool kept = (line.c_cflag & CMSPAR) != 0;
    line.c_cflag &= ~CMSPAR;
    tcsetattr(master, TCSANOW, &line);
    return kept;
}

TEST_F(PseudoTerminal, AppliesTheLineSettings) {
    const bool markSpace = KernelKeepsMarkSpace(master);
    const LineCase cases[] = {
        {{9600, 8, 0, 0}, 0x0200, B9600, 0},
        {{1200, 7, 2, 1}, 0x0303, B1200, CSTOPB | PARODD},             // odd, two stop bits
        {{2400, 0x0108, 0x0100, 2}, 0, B2400, 0},                      // only low bytes count
        {{57600, 8, 0, 3}, 0x1000, B57600, PARODD | CMSPAR | CRTSCTS}, // mark, RTS handshake
        {{19200, 8, 0, 4}, 0x8000 | 0x2000, B19200, CMSPAR},           // space, toggle
        {{300, 5, 1, 0}, 0, B300, CSTOPB},                             // 5 bits, 1.5 stop bits
    };
    for (const LineCase &c : cases) {
        if ((c.cflags & CMSPAR) != 0 && !markSpace) {
            EXPECT_EQ(Open(c.line, c.flags), SerialResult::kStateRejected) << c.line.baudRate;
            continue;
        }
        ASSERT_EQ(Open(c.line, c.flags), SerialResult::kOk) << c.line.baudRate;
        const termios seen = SeenByTheOtherSide();
        EXPECT_EQ(cfgetospeed(&seen), c.speed);
        EXPECT_EQ(seen.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS), c.cflags);
        EXPECT_TRUE(seen.c_iflag & INPCK);
        EXPECT_FALSE(seen.c_iflag & (ICRNL | IXON | IXOFF));
        EXPECT_FALSE(seen.c_lflag & (ICANON | ECHO | ISIG));
        EXPECT_FALSE(seen.c_oflag & OPOST);
        EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
        handle = 0;
    }
}

TEST_F(PseudoTerminal, RefusesSettingsTheLineCannotTake) {
    const LineSettings refused[] = {
        {0, 8, 0, 0},    {9601, 8, 0, 0}, {65535, 8, 0, 0}, {9600, 4, 0, 0}, {9600, 9, 0, 0},
        {9600, 8, 1, 0}, {9600, 5, 2, 0}, {9600, 8, 3, 0},  {9600, 8, 0, 5},
    };
    for (const LineSettings &line : refused) {
        EXPECT_EQ(Open(line), SerialResult::kStateRejected)
            << line.baudRate << " " << line.dataBits << " " << line.stopBits << " " << line.parity;
        EXPECT_EQ(handle, 0u);
    }
    EXPECT_EQ(Open(), SerialResult::kOk) << "a refused open leaves the port closed";
}

TEST_F(PseudoTerminal, OpensExclusively) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    SerialHandle second = 0;
    EXPECT_EQ(SerialOpen(Settings(name), second), SerialResult::kOpenFailed);
    EXPECT_EQ(second, 0u);
    ASSERT_EQ(SerialClose(handle), SerialResult::kOk);
    EXPECT_EQ(SerialOpen(Settings(name), handle), SerialResult::kOk);
}

TEST(SerialOpen, NulIsTheNullDeviceWithoutTimeouts) {
    SerialHandle handle = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), handle), SerialResult::kOk);
    SerialHandle again = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), again), SerialResult::kOk) << "no exclusive use";
    std::uint32_t count = 9;
    char byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(SerialSetReadTimeout(handle, 3000), 0);
    EXPECT_EQ(SerialWrite(handle, "S?\r", 3, &count), SerialResult::kOk);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(SerialRead(handle, &byte, 1, &count), SerialResult::kIoFailed);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(SerialPurge(handle), SerialResult::kOk);
    EXPECT_EQ(BytesQueued(handle), 0u);
    EXPECT_LT(MsSince(start), 30000.0) << "the read did not wait the 30 s asked for";
    EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
    EXPECT_EQ(SerialClose(again), SerialResult::kOk);
}

TEST_F(PseudoTerminal, HandleIsNeverZero) {
    const int savedStdin = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    const SerialResult result = Open();
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    ASSERT_EQ(result, SerialResult::kOk);
    EXPECT_GT(handle, 2u);
}

TEST_F(PseudoTerminal, HoldsOnlyThePortsItOpenedAndHasNotClosed) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    SerialHandle nul = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), nul), SerialResult::kOk);
    EXPECT_TRUE(SerialHolds(handle));
    EXPECT_TRUE(SerialHolds(nul));
    const SerialHandle foreign[] = {0, STDERR_FILENO, static_cast<SerialHandle>(master),
                                    0x5A5A5A5A};
    for (const SerialHandle other : foreign) {
        EXPECT_FALSE(SerialHolds(other)) << other;
    }
    ASSERT_EQ(SerialClose(nul), SerialResult::kOk);
    EXPECT_FALSE(SerialHolds(nul));
}

// The host closes the driver's descriptor and the number comes back for a file of its own.
TEST_F(PseudoTerminal, ANumberReusedBehindItsBackIsNotHeld) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    const int fd = static_cast<int>(handle);
    const int file = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    ASSERT_EQ(dup2(file, fd), fd);
    close(file);
    EXPECT_FALSE(SerialHolds(handle));
    close(fd);
    EXPECT_EQ(SerialClose(handle), SerialResult::kIoFailed) << "nothing left to close";
    EXPECT_FALSE(SerialHolds(handle));
    handle = 0;
}

TEST_F(PseudoTerminal, ReadTimeoutIsKeptInUnitsOf10Ms) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    EXPECT_EQ(SerialSetReadTimeout(handle, 30), 100) << "a fresh port waits 1000 ms";
    EXPECT_EQ(SerialSetReadTimeout(handle, 30), 30);
    EXPECT_EQ(SerialSetReadTimeout(handle, -5), 30);
    EXPECT_EQ(SerialSetReadTimeout(handle, kMaxTimeoutUnits + 1), 0) << "negative is 0";
    EXPECT_EQ(SerialSetReadTimeout(handle, 10), kMaxTimeoutUnits);
}

TEST_F(PseudoTerminal, ReadOnASilentLineEndsAtTheReadTimeout) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    constexpr std::int32_t kTimeoutUnits = 10;
    SerialSetReadTimeout(handle, kTimeoutUnits);
    char byte = 0;
    std::uint32_t count = 9;
    const auto start = Clock::now();
    EXPECT_EQ(SerialRead(handle, &byte, 1, &count), SerialResult::kIoFailed);
    const double elapsed = MsSince(start);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(elapsed, kTimeoutUnits * 10);
    EXPECT_LT(elapsed, kTimeoutUnits * 10 + kHangMs);
}

TEST_F(PseudoTerminal, WritesAndReadsRawBytes) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    SerialSetReadTimeout(handle, 5);
    const std::string out = "L01S?\r\n\x03\x11";
    std::uint32_t count = 0;
    ASSERT_EQ(SerialWrite(handle, out.data(), static_cast<std::uint32_t>(out.size()), &count),
              SerialResult::kOk);
    EXPECT_EQ(count, out.size());
    char seen[16] = {};
    EXPECT_EQ(read(master, seen, sizeof seen), static_cast<ssize_t>(out.size()));
    EXPECT_EQ(std::string(seen, out.size()), out);

    SendAndAwait("ok\r\n\x03\x13");
    char in[6] = {};
    EXPECT_EQ(SerialRead(handle, in, sizeof in, &count), SerialResult::kOk);
    EXPECT_EQ(std::string(in, count), "ok\r\n\x03\x13");

    SendAndAwait("ab");
    EXPECT_EQ(SerialRead(handle, in, 4, &count), SerialResult::kIoFailed) << "two of four bytes";
    EXPECT_EQ(count, 2u);
}

// Bytes waiting: none costs no read; 100 cost one short read (50 ms); exactly 512 cost a
// full read and a short one. The read timeout in force before is put back. A hundred idle
// purges take half the time that the short read each would cost if it read.
TEST_F(PseudoTerminal, PurgeDiscardsWaitingInput) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    SerialSetReadTimeout(handle, 40);
    for (const std::size_t waiting : {100, 512}) {
        SendAndAwait(std::string(waiting, 'x'));
        const auto start = Clock::now();
        EXPECT_EQ(SerialPurge(handle), SerialResult::kOk);
        const double took = MsSince(start);
        EXPECT_GE(took, 50.0) << waiting;
        EXPECT_LT(took, 50.0 + kHangMs) << waiting;
        EXPECT_EQ(BytesQueued(handle), 0u);
        EXPECT_EQ(SerialSetReadTimeout(handle, 40), 40);
    }
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(SerialPurge(handle), SerialResult::kOk);
    }
    EXPECT_LT(MsSince(start), 50.0 * 100 / 2);
    EXPECT_EQ(SerialSetReadTimeout(handle, 40), 40);
}

TEST_F(PseudoTerminal, OtherSideClosingEndsTheRead) {
    ASSERT_EQ(Open(), SerialResult::kOk);
    SerialSetReadTimeout(handle, 3000);
    std::thread hangUp([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(master);
        master = -1;
    });
    char bytes[8] = {};
    std::uint32_t count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(SerialRead(handle, bytes, sizeof bytes, &count), SerialResult::kIoFailed);
    hangUp.join();
    EXPECT_LT(MsSince(start), 30000.0) << "ended before the 30 s read timeout";
}

// ---- The line trace ----

// A private folder for trace files; EM_TRACE is set for the test's ports and unset after.
class Traced : public PseudoTerminal {
  protected:
    void SetUp() override {
        PseudoTerminal::SetUp();
        char pattern[] = "/tmp/em_trace_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        tracePath = folder + "/line.trace";
    }
    void TearDown() override {
        PseudoTerminal::TearDown();
        unsetenv("EM_TRACE");
        std::filesystem::remove_all(folder);
    }
    void TraceTo(const std::string &path) { setenv("EM_TRACE", path.c_str(), 1); }
    static std::string Contents(const std::string &path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    // Each line's tag and what follows it, without the time and the port name; the version
    // line as it stands. Every line reads back by the trace's grammar.
    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        std::istringstream lines(Contents(tracePath));
        for (std::string line; std::getline(lines, line);) {
            unsigned version = 0;
            TraceEntry entry;
            const TraceLineKind kind = ReadTraceLine(line, version, entry);
            EXPECT_NE(kind, TraceLineKind::kMalformed) << line;
            const std::size_t tag = line.find(' ', line.find(' ') + 1);
            entries.push_back(kind == TraceLineKind::kVersion ? line : line.substr(tag + 1));
        }
        return entries;
    }

    std::string folder;
    std::string tracePath;
};

TEST_F(Traced, NewFileIsOwnerOnlyAndAnExistingOneIsAppendedTo) {
    TraceTo(tracePath);
    const mode_t mask = umask(0);
    const SerialResult opened = Open();
    umask(mask);
    ASSERT_EQ(opened, SerialResult::kOk);
    struct stat status {};
    ASSERT_EQ(stat(tracePath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "even with an open umask";
    ASSERT_EQ(SerialClose(handle), SerialResult::kOk);
    handle = 0;

    ASSERT_EQ(Open(), SerialResult::kOk);
    ASSERT_EQ(SerialClose(handle), SerialResult::kOk);
    handle = 0;
    const std::vector<std::string> entries = Entries();
    ASSERT_EQ(entries.size(), 6u) << Contents(tracePath);
    EXPECT_EQ(entries[0], "# EM-1 line trace version 1") << "the file starts with the version";
    EXPECT_EQ(entries[1], "-- open 9600 8N1 flags 0x0200");
    EXPECT_EQ(entries[2], "-- close");
    EXPECT_EQ(entries[3], entries[0]) << "the second port's lines follow the first's";
    EXPECT_EQ(entries[4], entries[1]);
}

// The port opens and works whatever EM_TRACE names; only a plain file of this user with one
// name is written to, and a symbolic link is never followed.
TEST_F(Traced, WritesOnlyToAPlainFileOfItsOwnAndNeverThroughALink) {
    const std::string target = folder + "/target", link = folder + "/link", twin = folder + "/twin",
                      pipe = folder + "/pipe", directory = folder + "/dir";
    std::ofstream(target) << "untouched\n";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    const std::string second = folder + "/second";
    std::ofstream(second) << "untouched\n";
    ASSERT_EQ(::link(second.c_str(), twin.c_str()), 0);
    for (const std::string &path : {link, twin, pipe, directory}) {
        TraceTo(path);
        const auto start = Clock::now();
        ASSERT_EQ(Open(), SerialResult::kOk) << path;
        EXPECT_LT(MsSince(start), kHangMs) << "a pipe without a reader does not hold the open";
        std::uint32_t written = 0;
        EXPECT_EQ(SerialWrite(handle, "S?\r", 3, &written), SerialResult::kOk);
        ASSERT_EQ(SerialClose(handle), SerialResult::kOk);
        handle = 0;
    }
    EXPECT_EQ(Contents(target), "untouched\n");
    EXPECT_EQ(Contents(second), "untouched\n");
}

// Received bytes gather into one line per reply, ended by the purge; a run longer than a
// line goes on over the next; a read that times out, and a close, are events.
TEST_F(Traced, RecordsRepliesPurgedBytesAndTimeouts) {
    TraceTo(tracePath);
    ASSERT_EQ(Open(), SerialResult::kOk);
    SerialSetReadTimeout(handle, 5);
    std::uint32_t count = 0;
    ASSERT_EQ(SerialWrite(handle, "L01S?\r", 6, &count), SerialResult::kOk);
    SendAndAwait("L01S=26.0\r\x03tail");
    char byte = 0;
    for (int i = 0; i < 11; ++i) {
        ASSERT_EQ(SerialRead(handle, &byte, 1, &count), SerialResult::kOk);
    }
    EXPECT_EQ(SerialPurge(handle), SerialResult::kOk);
    EXPECT_EQ(SerialRead(handle, &byte, 1, &count), SerialResult::kIoFailed);
    const std::string flood(kTraceRunMax + 100, 'z');
    SendAndAwait(flood);
    char buffer[kTraceRunMax + 100];
    ASSERT_EQ(SerialRead(handle, buffer, sizeof buffer, &count), SerialResult::kOk);
    ASSERT_EQ(SerialClose(handle), SerialResult::kOk);
    handle = 0;

    const std::vector<std::string> expected = {
        "# EM-1 line trace version 1",
        "-- open 9600 8N1 flags 0x0200",
        R"(TX "L01S?\r")",
        R"(RX "L01S=26.0\r\x03")",
        R"(PURGED "tail")",
        "-- read timed out",
        "RX \"" + std::string(kTraceRunMax, 'z') + "\"",
        "RX \"" + std::string(100, 'z') + "\"",
        "-- close",
    };
    EXPECT_EQ(Entries(), expected) << Contents(tracePath);
}

} // namespace
