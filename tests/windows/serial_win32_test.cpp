// The Win32 serial backend under Wine, in real time, on COM5 of the Wine prefix, which
// with_simulator.sh links to the EM-1 simulator's pseudo-terminal. The simulator holds
// L01S at 42.5 and floods 700 bytes on "XF" and exactly 512 on "XG".
#include "backend_conformance.h"
#include "serial/serial.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

std::string ConformancePortName() {
    return "COM5";
}

namespace {

// A file in the working folder, removed when the program ends.
struct PlainFile {
    PlainFile() : name("em" + std::to_string(GetCurrentProcessId() % 100000)) {
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
    ~PlainFile() { DeleteFileA(name.c_str()); }
    std::string name;
};

} // namespace

std::string ConformancePlainFileName() {
    static const PlainFile file;
    return file.name;
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kReply[] = "L01S=42.5\r\x03";

PortSettings Settings(const char *name, LineSettings line = {9600, 8, 0, 0}) {
    PortSettings settings{};
    std::strncpy(settings.portName, name, sizeof settings.portName - 1);
    settings.line = line;
    settings.openFlags = EM_OPEN_RTS_ON;
    return settings;
}

// Real time under Wine on a busy machine says little: a wait is bounded only to catch a hang.
constexpr double kHangMs = 10000;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Com5 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(SerialOpen(Settings("COM5"), port), SerialResult::kOk);
        ASSERT_NE(port, 0u);
    }
    void TearDown() override {
        if (port != 0) {
            EXPECT_EQ(SerialClose(port), SerialResult::kOk);
        }
    }

    void Send(const char *request) {
        std::uint32_t written = 0;
        ASSERT_EQ(SerialWrite(port, request, std::strlen(request), &written), SerialResult::kOk);
        ASSERT_EQ(written, std::strlen(request));
    }
    // Reads one byte at a time up to ETX, as the exchange does.
    std::string ReadUpToEtx() {
        std::string reply;
        char byte = 0;
        while (reply.size() < 600 && SerialRead(port, &byte, 1, nullptr) == SerialResult::kOk) {
            reply += byte;
            if (byte == '\x03') {
                break;
            }
        }
        return reply;
    }
    // Waits up to 3 s for count bytes in the input queue and returns what is queued then.
    std::uint32_t WaitQueued(std::uint32_t count) {
        const auto start = Clock::now();
        while (BytesQueued(port) < count && MillisecondsSince(start) < 3000) {
            Sleep(10);
        }
        return BytesQueued(port);
    }

    SerialHandle port = 0;
};

TEST(Win32Open, OpensComPortsAndNul) {
    for (const char *name : {"COM5", "NUL"}) {
        SCOPED_TRACE(name);
        SerialHandle handle = 0;
        ASSERT_EQ(SerialOpen(Settings(name), handle), SerialResult::kOk);
        EXPECT_NE(handle, 0u);
        EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
    }
}

TEST(Win32Open, NulHasNoTimeoutsAndNoQueue) {
    SerialHandle handle = 0;
    ASSERT_EQ(SerialOpen(Settings("NUL"), handle), SerialResult::kOk);
    EXPECT_EQ(SerialSetReadTimeout(handle, 20), 0);
    EXPECT_EQ(BytesQueued(handle), 0u);
    EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
}

TEST(Win32Open, HoldsOnlyThePortsItOpenedAndHasNotClosed) {
    SerialHandle port = 0;
    SerialHandle nul = 0;
    ASSERT_EQ(SerialOpen(Settings("COM5"), port), SerialResult::kOk);
    ASSERT_EQ(SerialOpen(Settings("NUL"), nul), SerialResult::kOk);
    EXPECT_TRUE(SerialHolds(port));
    EXPECT_TRUE(SerialHolds(nul));
    HANDLE own = CreateFileA("NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SerialHolds(reinterpret_cast<SerialHandle>(own))) << "the host's own handle";
    EXPECT_FALSE(SerialHolds(0));
    CloseHandle(own);

    ASSERT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(nul))) << "closed behind its back";
    EXPECT_FALSE(SerialHolds(nul));
    EXPECT_EQ(SerialClose(port), SerialResult::kOk);
    EXPECT_FALSE(SerialHolds(port));
}

// A handle of the host's own (here a file, which would take any write) is neither written,
// read, drained nor given timeouts: every operation fails as on a dead port.
TEST(Win32Open, LeavesHandlesItDoesNotHoldAlone) {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(sizeof folder, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "em", 0, path), 0u);
    HANDLE own = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(own, "HOST", 4, &done, nullptr));
    ASSERT_EQ(SetFilePointer(own, 0, nullptr, FILE_BEGIN), 0u);
    const auto handle = reinterpret_cast<SerialHandle>(own);

    EXPECT_EQ(SerialWrite(handle, "L01S?\r", 6, nullptr), SerialResult::kIoFailed);
    char byte = 0;
    std::uint32_t got = 9;
    EXPECT_EQ(SerialRead(handle, &byte, 1, &got), SerialResult::kIoFailed);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(SerialPurge(handle), SerialResult::kDrainFailed);
    EXPECT_EQ(BytesQueued(handle), 0u);
    EXPECT_EQ(SerialSetReadTimeout(handle, 20), 0);
    EXPECT_EQ(SerialBreak(1, handle), SerialResult::kOk);

    EXPECT_EQ(SetFilePointer(own, 0, nullptr, FILE_CURRENT), 0u) << "nothing read or written";
    EXPECT_EQ(GetFileSize(own, nullptr), 4u);
    CloseHandle(own);
    DeleteFileA(path);
}

// Only what the line can hold is read back. Linux pseudo-terminals force 8 data bits and
// no parity whatever is set, and Wine reports fParity from the parity and the DTR and RTS
// controls as enabled on a line without modem lines, so those members prove nothing here.
TEST(Win32Open, LineSettingsReachThePort) {
    SerialHandle handle = 0;
    ASSERT_EQ(SerialOpen(Settings("COM5", {19200, 7, 2, 2}), handle), SerialResult::kOk);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(handle), &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// Windows refuses a second open of a port opened without sharing. Wine does not apply sharing
// to serial devices, so there the second open succeeds.
TEST_F(Com5, SecondOpenOfAnOpenPort) {
    SerialHandle second = 0;
    const SerialResult result = SerialOpen(Settings("COM5"), second);
    if (UnderWine()) {
        EXPECT_EQ(result, SerialResult::kOk);
        EXPECT_EQ(SerialClose(second), SerialResult::kOk);
    } else {
        EXPECT_EQ(result, SerialResult::kOpenFailed);
    }
}

TEST_F(Com5, SetReadTimeoutReturnsThePreviousOneInTensOfMilliseconds) {
    EXPECT_EQ(SerialSetReadTimeout(port, 25), 100); // a fresh port waits 1000 ms
    EXPECT_EQ(SerialSetReadTimeout(port, 25), 25);
    EXPECT_EQ(SerialSetReadTimeout(port, 7), 25);
}

TEST_F(Com5, ReadOnASilentLineEndsAtTheTimeout) {
    for (const std::int32_t timeout : {5, 30}) {
        SCOPED_TRACE(timeout);
        SerialSetReadTimeout(port, timeout);
        char byte = 0;
        std::uint32_t got = 99;
        const auto start = Clock::now();
        EXPECT_EQ(SerialRead(port, &byte, 1, &got), SerialResult::kIoFailed);
        const double elapsed = MillisecondsSince(start);
        EXPECT_EQ(got, 0u);
        EXPECT_GE(elapsed, timeout * 10 - 2);
        EXPECT_LE(elapsed, timeout * 10 + kHangMs);
    }
}

TEST_F(Com5, RequestAndReplyUpToEtx) {
    Send("L01S?\r");
    EXPECT_EQ(ReadUpToEtx(), kReply);
    EXPECT_EQ(BytesQueued(port), 0u);
}

TEST_F(Com5, ReadKeepsWhatArrivedBeforeTheTimeout) {
    SerialSetReadTimeout(port, 50);
    Send("L01S?\r");
    char buffer[32] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(SerialRead(port, buffer, 20, &got), SerialResult::kIoFailed);
    EXPECT_EQ(got, std::strlen(kReply));
    EXPECT_STREQ(buffer, kReply);
}

TEST_F(Com5, WriteOfNothingSucceeds) {
    std::uint32_t written = 99;
    EXPECT_EQ(SerialWrite(port, "", 0, &written), SerialResult::kOk);
    EXPECT_EQ(written, 0u);
}

// A purge drains everything waiting, in reads of 512 bytes, and puts the read timeout back.
TEST_F(Com5, PurgeDiscardsWaitingInput) {
    struct Case {
        const char *request;
        std::uint32_t waiting;
    };
    for (const Case c :
         {Case{"L01S?\r", sizeof kReply - 1}, Case{"XG\r", 512}, Case{"XF\r", 700}}) {
        SCOPED_TRACE(c.request);
        SerialSetReadTimeout(port, 10);
        Send(c.request);
        ASSERT_EQ(WaitQueued(c.waiting), c.waiting);
        EXPECT_EQ(SerialPurge(port), SerialResult::kOk);
        EXPECT_EQ(BytesQueued(port), 0u);
        EXPECT_EQ(SerialSetReadTimeout(port, 10), 10);
        char byte = 0;
        EXPECT_EQ(SerialRead(port, &byte, 1, nullptr), SerialResult::kIoFailed);
    }
}

// A hundred idle purges take half the time that the 50 ms drain read each would cost.
TEST_F(Com5, PurgeOfAnIdlePortReturnsAtOnce) {
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(SerialPurge(port), SerialResult::kOk);
    }
    EXPECT_LT(MillisecondsSince(start), 50.0 * 100 / 2);
}

// EM_TRACE is read when the port opens; one exchange leaves its lines in the file.
TEST(Win32Trace, OneExchangeLeavesItsLines) {
    char folder[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
    const std::string path =
        std::string(folder) + "em_trace_" + std::to_string(GetCurrentProcessId()) + ".trace";
    DeleteFileA(path.c_str());
    ASSERT_TRUE(SetEnvironmentVariableA("EM_TRACE", path.c_str()));
    SerialHandle handle = 0;
    const SerialResult opened = SerialOpen(Settings("COM5"), handle);
    SetEnvironmentVariableA("EM_TRACE", nullptr);
    ASSERT_EQ(opened, SerialResult::kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(SerialWrite(handle, "L01S?\r", 6, &count), SerialResult::kOk);
    char reply[sizeof kReply - 1] = {};
    EXPECT_EQ(SerialRead(handle, reply, sizeof reply, &count), SerialResult::kOk);
    EXPECT_EQ(SerialPurge(handle), SerialResult::kOk);
    EXPECT_EQ(SerialClose(handle), SerialResult::kOk);

    std::string text;
    if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;) {
            text += static_cast<char>(c);
        }
        std::fclose(file);
    }
    DeleteFileA(path.c_str());
    std::string tail;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        tail += line.starts_with('#') ? line + "\n" : line.substr(line.find(' ') + 1) + "\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    EXPECT_EQ(tail, "# EM-1 line trace version 1\n"
                    "COM5 -- open 9600 8N1 flags 0x0202\n"
                    "COM5 TX \"L01S?\\r\"\n"
                    "COM5 RX \"L01S=42.5\\r\\x03\"\n"
                    "COM5 -- close\n")
        << text;
}

} // namespace
