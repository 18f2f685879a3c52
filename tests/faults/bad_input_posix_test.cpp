// Bad host input on the real serial backend, in real time: a state record whose port handle
// is one of the host's own descriptors (one the driver never opened, or its own port closed
// behind its back and the number reused), commands before ColdStart, and ColdStart twice.
// The host's descriptors stay open and untouched: nothing is read from them, written to
// them or drained, and no command leaves a descriptor behind.
#include "em1sim/simulator.h"
#include "em_driver.h"
#include "log_capture.h"
#include "open_descriptors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr char kHostBytes[] = "HOST\n";
constexpr int kHostByteCount = sizeof kHostBytes - 1;

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

int Waiting(int fd) {
    int count = -1;
    return ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

std::string PortName(const std::string &path) {
    return path.rfind("/dev/", 0) == 0 ? path.substr(5) : path;
}

class HostDescriptors : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearCapturedLog();
        ASSERT_EQ(pipe(pipeEnds), 0);
        ASSERT_EQ(write(pipeEnds[1], kHostBytes, kHostByteCount), kHostByteCount);
        filePath = ::testing::TempDir() + "host_file_" + std::to_string(getpid());
        std::ofstream(filePath) << "host file\n";
        file = open(filePath.c_str(), O_RDWR);
        ASSERT_GE(file, 0);
        ASSERT_EQ(openpty(&ptyMaster, &ptySlave, nullptr, nullptr, nullptr), 0);
        descriptorsBefore = OpenDescriptors();
    }
    // Every descriptor of the host is open and holds what the host put there.
    void TearDown() override {
        EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "no descriptor left behind";
        for (const int fd : Hosts()) {
            EXPECT_TRUE(IsOpen(fd)) << fd;
        }
        EXPECT_EQ(Waiting(pipeEnds[0]), kHostByteCount) << "the pipe was neither drained nor fed";
        char bytes[16] = {};
        EXPECT_EQ(read(pipeEnds[0], bytes, sizeof bytes), kHostByteCount);
        EXPECT_STREQ(bytes, kHostBytes);
        EXPECT_EQ(Waiting(ptyMaster), 0) << "nothing was written to the host's terminal";
        EXPECT_EQ(lseek(file, 0, SEEK_CUR), 0);
        std::ifstream in(filePath);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "host file\n");
        for (const int fd : Hosts()) {
            close(fd);
        }
        std::filesystem::remove(filePath);
    }
    std::vector<int> Hosts() const { return {pipeEnds[0], pipeEnds[1], file, ptyMaster, ptySlave}; }

    std::int32_t Call(std::int32_t command, void *params = nullptr) {
        DriverCall call{&state, command, 2, 0, params};
        return ZelMain(&call);
    }
    std::int32_t ReadSetPoint() {
        item = ItemRequest{"L01S1", {}, EM_CLASS_LOOP, 4, {}, EM_TYPE_FLOAT, 1, 0, values};
        return Call(EM_CMD_SINGLE_READ, &item);
    }
    std::int32_t WriteSetPoint() {
        item = ItemRequest{"L01S0", {}, EM_CLASS_LOOP, 4, {}, EM_TYPE_INT16, 1, 0, values};
        return Call(EM_CMD_SINGLE_WRITE, &item);
    }
    std::int32_t ColdStart(const std::string &port) {
        ColdStartParameters params{{}, 1, 100, {9600, 8, 0, 0}};
        port.copy(params.portName, sizeof params.portName - 1);
        return Call(EM_CMD_COLD_START, &params);
    }

    int pipeEnds[2] = {-1, -1};
    std::string filePath;
    int file = -1;
    int ptyMaster = -1;
    int ptySlave = -1;
    std::size_t descriptorsBefore = 0;
    DriverState state{};
    ItemRequest item{};
    unsigned char values[4] = {};
};

// A record the host did not zero: its handle happens to be one of the host's descriptors.
TEST_F(HostDescriptors, ForeignHandlesAreNeverReadWrittenOrDrained) {
    for (const int fd : Hosts()) {
        state = DriverState{};
        state.portHandle = static_cast<SerialHandle>(fd);
        state.enabled = 1;
        state.replyTerminator = 3;
        EXPECT_EQ(Call(EM_CMD_WARM_START), 5) << fd;
        EXPECT_EQ(WriteSetPoint(), 2) << fd;
        if (fd == pipeEnds[0] || fd == ptySlave) {
            EXPECT_EQ(ReadSetPoint(), 2) << fd;
        }
        EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 0) << fd;
        EXPECT_EQ(state.portHandle, 0u) << "forgotten, not closed";
    }
}

// The driver's port closed behind its back, and the host's pipe given the same number.
TEST_F(HostDescriptors, APortClosedBehindTheDriversBackIsNotTakenForTheNewDescriptor) {
    ASSERT_EQ(ColdStart("NUL"), 0);
    const int number = static_cast<int>(state.portHandle);
    ASSERT_GT(number, 2);
    ASSERT_EQ(close(number), 0);
    ASSERT_EQ(dup2(pipeEnds[0], number), number);

    EXPECT_EQ(ReadSetPoint(), 2);
    EXPECT_EQ(Call(EM_CMD_WARM_START), 5);
    EXPECT_EQ(Waiting(number), kHostByteCount);
    EXPECT_EQ(Call(EM_CMD_SHUTDOWN), 0);
    EXPECT_EQ(state.portHandle, 0u);
    EXPECT_TRUE(IsOpen(number)) << "the host's descriptor stays open";
    close(number);
}

// Before ColdStart the record is zeroed: no port is opened from its empty name, and the
// item commands find no port.
TEST_F(HostDescriptors, CommandsBeforeColdStartOpenNothing) {
    EXPECT_EQ(Call(EM_CMD_OPEN_PORT), 2);
    ReopenPortParameters missing{"ttyNOPE9", 0, {9600, 8, 0, 0}};
    EXPECT_EQ(Call(EM_CMD_REOPEN_PORT, &missing), 2);
    state = DriverState{};
    EXPECT_EQ(ReadSetPoint(), 2);
    EXPECT_EQ(Call(EM_CMD_WARM_START), 0);
    EXPECT_EQ(Call(EM_CMD_CLOSE_PORT), 0);
}

// A second ColdStart on the open port cannot open it again (a port is opened exclusively)
// and leaves the first one working; on the null device the second open replaces the first,
// which is closed.
TEST_F(HostDescriptors, ColdStartTwice) {
    {
        em1sim::Simulator simulator;
        const std::size_t withSimulator = OpenDescriptors();
        const std::string port = PortName(simulator.SlavePath());
        ASSERT_EQ(ColdStart(port), 0);
        const SerialHandle first = state.portHandle;
        EXPECT_EQ(state.adapterReady, 1);
        EXPECT_EQ(ColdStart(port), 2);
        EXPECT_EQ(state.portHandle, first);
        EXPECT_EQ(ReadSetPoint(), 0) << "the first port still answers";
        EXPECT_EQ(OpenDescriptors(), withSimulator + 1);
        EXPECT_EQ(Call(EM_CMD_SHUTDOWN), 0);
    }
    ASSERT_EQ(ColdStart("NUL"), 0);
    const int first = static_cast<int>(state.portHandle);
    ASSERT_EQ(ColdStart("NUL"), 0);
    EXPECT_NE(static_cast<int>(state.portHandle), first);
    EXPECT_FALSE(IsOpen(first));
    EXPECT_EQ(Call(EM_CMD_SHUTDOWN), 0);
}

} // namespace
