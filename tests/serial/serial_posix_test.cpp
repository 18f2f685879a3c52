// The termios backend against pseudo-terminals: the test holds the master side, the
// backend opens the slave by name. These tests run in real time and keep their waits short.
#include "serial/serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

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

    int Open(LineSettings line = {9600, 8, 0, 0}, std::uint16_t flags = 0x0200) {
        return SerialOpen(Settings(name, line, flags), handle);
    }
    // The kernel moves bytes from master to slave asynchronously.
    void SendAndAwait(const std::string &bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        const auto start = Clock::now();
        while (BytesQueued(handle) < bytes.size() && MsSince(start) < 1000) {
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
            EXPECT_EQ(Open(c.line, c.flags), kSerialStateRejected) << c.line.baudRate;
            continue;
        }
        ASSERT_EQ(Open(c.line, c.flags), kSerialOk) << c.line.baudRate;
        const termios seen = SeenByTheOtherSide();
        EXPECT_EQ(cfgetospeed(&seen), c.speed);
        EXPECT_EQ(seen.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS), c.cflags);
        EXPECT_TRUE(seen.c_iflag & INPCK);
        EXPECT_FALSE(seen.c_iflag & (ICRNL | IXON | IXOFF));
        EXPECT_FALSE(seen.c_lflag & (ICANON | ECHO | ISIG));
        EXPECT_FALSE(seen.c_oflag & OPOST);
        EXPECT_EQ(SerialClose(handle), kSerialOk);
        handle = 0;
    }
}

TEST_F(PseudoTerminal, RefusesSettingsTheLineCannotTake) {
    const LineSettings refused[] = {
        {0, 8, 0, 0},    {9601, 8, 0, 0}, {65535, 8, 0, 0}, {9600, 4, 0, 0}, {9600, 9, 0, 0},
        {9600, 8, 1, 0}, {9600, 5, 2, 0}, {9600, 8, 3, 0},  {9600, 8, 0, 5},
    };
    for (const LineSettings &line : refused) {
        EXPECT_EQ(Open(line), kSerialStateRejected)
            << line.baudRate << " " << line.dataBits << " " << line.stopBits << " " << line.parity;
        EXPECT_EQ(handle, 0u);
    }
    EXPECT_EQ(Open(), kSerialOk) << "a refused open leaves the port closed";
}

TEST_F(PseudoTerminal, OpensExclusively) {
    ASSERT_EQ(Open(), kSerialOk);
    SerialHandle second = 0;
    EXPECT_EQ(SerialOpen(Settings(name), second), kSerialOpenFailed);
    EXPECT_EQ(second, 0u);
    ASSERT_EQ(SerialClose(handle), kSerialOk);
    EXPECT_EQ(SerialOpen(Settings(name), handle), kSerialOk);
}

TEST(SerialOpen, FailsWithTheCodeOfTheStepThatFailed) {
    char file[] = "/tmp/XXXXXX"; // a regular file has no line state
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    PortSettings noNul = Settings("");
    std::memset(noNul.portName, 'A', sizeof noNul.portName);

    struct {
        PortSettings settings;
        int result;
    } const cases[] = {
        {Settings("ttyNoSuchPort"), kSerialOpenFailed},
        {Settings("nul"), kSerialOpenFailed},
        {Settings(""), kSerialOpenFailed},
        {noNul, kSerialOpenFailed},
        {Settings(file), kSerialStateUnreadable},
    };
    for (const auto &c : cases) {
        SerialHandle handle = 0;
        EXPECT_EQ(SerialOpen(c.settings, handle), c.result) << c.settings.portName[0];
        EXPECT_EQ(handle, 0u);
    }
    unlink(file);
}

TEST(SerialOpen, NulIsTheNullDeviceWithoutTimeouts) {
    SerialHandle handle = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), handle), kSerialOk);
    SerialHandle again = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), again), kSerialOk) << "no exclusive use";
    std::uint32_t count = 9;
    char byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(SerialSetReadTimeout(handle, 50), 0);
    EXPECT_EQ(SerialWrite(handle, "S?\r", 3, &count), kSerialOk);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(SerialRead(handle, &byte, 1, &count), kSerialIoFailed);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(SerialPurge(handle), kSerialOk);
    EXPECT_EQ(BytesQueued(handle), 0u);
    EXPECT_LT(MsSince(start), 20.0);
    EXPECT_EQ(SerialClose(handle), kSerialOk);
    EXPECT_EQ(SerialClose(again), kSerialOk);
}

TEST_F(PseudoTerminal, HandleIsNeverZero) {
    const int savedStdin = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    const int result = Open();
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    ASSERT_EQ(result, kSerialOk);
    EXPECT_GT(handle, 2u);
}

TEST_F(PseudoTerminal, HoldsOnlyThePortsItOpenedAndHasNotClosed) {
    ASSERT_EQ(Open(), kSerialOk);
    SerialHandle nul = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), nul), kSerialOk);
    EXPECT_TRUE(SerialHolds(handle));
    EXPECT_TRUE(SerialHolds(nul));
    const SerialHandle foreign[] = {0, STDERR_FILENO, static_cast<SerialHandle>(master),
                                    0x5A5A5A5A};
    for (const SerialHandle other : foreign) {
        EXPECT_FALSE(SerialHolds(other)) << other;
    }
    ASSERT_EQ(SerialClose(nul), kSerialOk);
    EXPECT_FALSE(SerialHolds(nul));
}

// The host closes the driver's descriptor and the number comes back for a file of its own.
TEST_F(PseudoTerminal, ANumberReusedBehindItsBackIsNotHeld) {
    ASSERT_EQ(Open(), kSerialOk);
    const int fd = static_cast<int>(handle);
    const int file = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    ASSERT_EQ(dup2(file, fd), fd);
    close(file);
    EXPECT_FALSE(SerialHolds(handle));
    close(fd);
    EXPECT_EQ(SerialClose(handle), kSerialIoFailed) << "nothing left to close";
    EXPECT_FALSE(SerialHolds(handle));
    handle = 0;
}

TEST_F(PseudoTerminal, ReadTimeoutIsKeptInUnitsOf10Ms) {
    ASSERT_EQ(Open(), kSerialOk);
    EXPECT_EQ(SerialSetReadTimeout(handle, 30), 100) << "a fresh port waits 1000 ms";
    EXPECT_EQ(SerialSetReadTimeout(handle, 30), 30);
    EXPECT_EQ(SerialSetReadTimeout(handle, -5), 30);
    EXPECT_EQ(SerialSetReadTimeout(handle, kMaxTimeoutUnits + 1), 0) << "negative is 0";
    EXPECT_EQ(SerialSetReadTimeout(handle, 10), kMaxTimeoutUnits);
}

TEST_F(PseudoTerminal, ReadOnASilentLineEndsAtTheReadTimeout) {
    ASSERT_EQ(Open(), kSerialOk);
    constexpr std::int32_t kTimeoutUnits = 10;
    SerialSetReadTimeout(handle, kTimeoutUnits);
    double worst = 0;
    for (int i = 0; i < 3; ++i) {
        char byte = 0;
        std::uint32_t count = 9;
        const auto start = Clock::now();
        EXPECT_EQ(SerialRead(handle, &byte, 1, &count), kSerialIoFailed);
        const double late = MsSince(start) - kTimeoutUnits * 10;
        EXPECT_EQ(count, 0u);
        EXPECT_GE(late, 0.0);
        EXPECT_LT(late, 20.0);
        worst = std::max(worst, late);
    }
    std::printf("read timeout accuracy on a pseudo-terminal: at most %.3f ms late\n", worst);
}

TEST_F(PseudoTerminal, WritesAndReadsRawBytes) {
    ASSERT_EQ(Open(), kSerialOk);
    SerialSetReadTimeout(handle, 5);
    const std::string out = "L01S?\r\n\x03\x11";
    std::uint32_t count = 0;
    ASSERT_EQ(SerialWrite(handle, out.data(), static_cast<std::uint32_t>(out.size()), &count),
              kSerialOk);
    EXPECT_EQ(count, out.size());
    char seen[16] = {};
    EXPECT_EQ(read(master, seen, sizeof seen), static_cast<ssize_t>(out.size()));
    EXPECT_EQ(std::string(seen, out.size()), out);
    EXPECT_EQ(SerialWrite(handle, nullptr, 0, &count), kSerialOk);
    EXPECT_EQ(count, 0u);

    SendAndAwait("ok\r\n\x03\x13");
    char in[6] = {};
    EXPECT_EQ(SerialRead(handle, in, sizeof in, &count), kSerialOk);
    EXPECT_EQ(std::string(in, count), "ok\r\n\x03\x13");

    SendAndAwait("ab");
    EXPECT_EQ(SerialRead(handle, in, 4, &count), kSerialIoFailed) << "two of four bytes";
    EXPECT_EQ(count, 2u);
}

// Bytes waiting: none costs no read; 100 cost one short read (50 ms); exactly 512 cost a
// full read and a short one. The read timeout in force before is put back.
TEST_F(PseudoTerminal, PurgeDiscardsWaitingInput) {
    ASSERT_EQ(Open(), kSerialOk);
    SerialSetReadTimeout(handle, 40);
    const struct {
        std::size_t waiting;
        double minMs;
        double maxMs;
    } cases[] = {{0, 0, 20}, {100, 50, 70}, {512, 50, 70}};
    for (const auto &c : cases) {
        SendAndAwait(std::string(c.waiting, 'x'));
        const auto start = Clock::now();
        EXPECT_EQ(SerialPurge(handle), kSerialOk);
        const double took = MsSince(start);
        EXPECT_GE(took, c.minMs) << c.waiting;
        EXPECT_LT(took, c.maxMs) << c.waiting;
        EXPECT_EQ(BytesQueued(handle), 0u);
        EXPECT_EQ(SerialSetReadTimeout(handle, 40), 40);
    }
}

TEST_F(PseudoTerminal, OtherSideClosingEndsTheRead) {
    ASSERT_EQ(Open(), kSerialOk);
    SerialSetReadTimeout(handle, 300);
    std::thread hangUp([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(master);
        master = -1;
    });
    char bytes[8] = {};
    std::uint32_t count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(SerialRead(handle, bytes, sizeof bytes, &count), kSerialIoFailed);
    hangUp.join();
    EXPECT_LT(MsSince(start), 1000.0);
}

} // namespace
