#include "backend_conformance.h"
#include "serial/serial.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

// What the caller's handle field held before a failed open; it must not survive it.
constexpr SerialHandle kEarlierHandle = 0x5A5A5A5A;

PortSettings Settings(const std::string &name, LineSettings line = {9600, 8, 0, 0}) {
    PortSettings settings{};
    name.copy(settings.portName, sizeof settings.portName - 1);
    settings.line = line;
    settings.openFlags = EM_OPEN_RTS_ON;
    return settings;
}

// Each failure has the code of the step that failed and leaves the caller's handle 0, and
// nothing stays open: the port opens afterwards.
TEST(BackendConformance, FailedOpensLeaveTheHandleZero) {
    PortSettings noNul = Settings("");
    std::memset(noNul.portName, 'A', sizeof noNul.portName);
    const struct {
        PortSettings settings;
        SerialResult result;
    } cases[] = {
        {noNul, SerialResult::kOpenFailed},
        {Settings(""), SerialResult::kOpenFailed},
        {Settings("EMNOSUCH"), SerialResult::kOpenFailed},
        {Settings(ConformancePlainFileName()), SerialResult::kStateUnreadable},
        {Settings(ConformancePortName(), {9600, 9, 0, 0}), SerialResult::kStateRejected},
    };
    for (const auto &c : cases) {
        const std::string name(c.settings.portName, strnlen(c.settings.portName, 12));
        SerialHandle handle = kEarlierHandle;
        EXPECT_EQ(SerialOpen(c.settings, handle), c.result) << name;
        EXPECT_EQ(handle, 0u) << name;
    }
    SerialHandle handle = kEarlierHandle;
    ASSERT_EQ(SerialOpen(Settings(ConformancePortName()), handle), SerialResult::kOk);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
}

// Instances on two threads open and close ports at the same time. The process hands a closed
// port's number out again at once, so a close must never free the place of a port that the
// other thread has just opened under that number.
TEST(BackendConformance, AClosingThreadLeavesTheOtherThreadsPortHeld) {
    std::atomic<int> notHeld{0};
    const auto openAndClose = [&notHeld] {
        for (int i = 0; i < 3000; ++i) {
            SerialHandle handle = 0;
            if (SerialOpen(Settings("NUL"), handle) != SerialResult::kOk) {
                ++notHeld;
                continue;
            }
            std::this_thread::yield();
            notHeld += SerialHolds(handle) ? 0 : 1;
            SerialClose(handle);
        }
    };
    std::thread other(openAndClose);
    openAndClose();
    other.join();
    EXPECT_EQ(notHeld.load(), 0);
}

// A null buffer with bytes to move is refused as a dead port refuses; with none there is
// nothing to do.
TEST(BackendConformance, NullBuffersAreRefused) {
    SerialHandle handle = 0;
    ASSERT_EQ(SerialOpen(Settings(ConformancePortName()), handle), SerialResult::kOk);
    std::uint32_t count = 9;
    EXPECT_EQ(SerialWrite(handle, nullptr, 3, &count), SerialResult::kIoFailed);
    EXPECT_EQ(SerialRead(handle, nullptr, 1, &count), SerialResult::kIoFailed);
    EXPECT_EQ(count, 0u);
    count = 9;
    EXPECT_EQ(SerialWrite(handle, nullptr, 0, &count), SerialResult::kOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(SerialClose(handle), SerialResult::kOk);
}

} // namespace
