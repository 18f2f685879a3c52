// Bad host input through ZelMain, on the scripted instrument's virtual clock: item records
// with null pointers or unterminated addresses, data types and counts out of range, a
// disabled instance, commands before ColdStart and on a state record full of garbage.
// Every call returns a result code, puts nothing on the line that it should not, and writes
// nothing outside its record's fields: records and value buffers sit between guard bytes,
// and buffers the driver only reads are exactly as large as the host's contract says, so the
// sanitizer sees any read past them.
#include "em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kGuard = 0x5A;
constexpr std::size_t kGuardSize = 16;

// A host buffer of size bytes with guard bytes on both sides.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(std::size_t size, unsigned char fill = 0xAB)
        : size_(size), bytes_(new unsigned char[size + 2 * kGuardSize]) {
        std::memset(bytes_.get(), kGuard, size + 2 * kGuardSize);
        std::memset(Data(), fill, size);
    }
    unsigned char *Data() { return bytes_.get() + kGuardSize; }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < kGuardSize; ++i) {
            if (bytes_[i] != kGuard || bytes_[kGuardSize + size_ + i] != kGuard) {
                return false;
            }
        }
        return true;
    }
    std::vector<unsigned char> Bytes() const {
        return {bytes_.get() + kGuardSize, bytes_.get() + kGuardSize + size_};
    }

  private:
    std::size_t size_;
    std::unique_ptr<unsigned char[]> bytes_;
};

// A record between guard bytes.
template <typename T> struct Guarded {
    std::array<unsigned char, kGuardSize> before;
    T record;
    std::array<unsigned char, kGuardSize> after;

    Guarded() {
        before.fill(kGuard);
        after.fill(kGuard);
        std::memset(&record, 0, sizeof record);
    }
    bool GuardsIntact() const {
        const auto guard = [](const auto &bytes) {
            for (const unsigned char b : bytes) {
                if (b != kGuard) {
                    return false;
                }
            }
            return true;
        };
        return guard(before) && guard(after);
    }
};

// An address of exactly 33 bytes and no NUL: digits after the class letter, so any scan for
// a number or a terminator would run on.
std::unique_ptr<char[]> UnterminatedAddress(char classLetter) {
    std::unique_ptr<char[]> text(new char[33]);
    std::memset(text.get(), '1', 33);
    text[0] = classLetter;
    return text;
}

class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        Line().Reset();
        ClearCapturedLog();
        const PortSettings port{"ttyS2", {9600, 8, 0, 0}, 0x0200};
        ASSERT_EQ(SerialOpen(port, state.record.portHandle), SerialResult::kOk);
        state.record.enabled = 1;
        state.record.replyTerminator = 3;
    }
    static ScriptedLine &Line() { return ScriptedLine::Instance(); }

    std::int32_t Call(std::int32_t command, void *params) {
        DriverCall call{&state.record, command, 3, 0, params};
        return ZelMain(&call);
    }
    std::int32_t Item(std::int32_t command, const char *address, std::int32_t itemClass,
                      void *values, std::int32_t count = 1, std::int32_t dataType = 1,
                      std::int32_t index = 0) {
        request.record = ItemRequest{address, {}, itemClass, index, {}, dataType, count, 0, values};
        return Call(command, &request.record);
    }
    static std::vector<std::string> Requests() {
        std::vector<std::string> sent;
        for (const auto &write : Line().Writes()) {
            sent.push_back(write.bytes);
        }
        return sent;
    }

    Guarded<DriverState> state;
    Guarded<ItemRequest> request;
};

struct ItemCase {
    std::int32_t command;
    std::int32_t itemClass;
    const char *address; // nullptr: an unterminated address of the class
    std::int32_t result;
    bool values; // false: no value buffer
};

// Refused before the line: nothing is sent and the value buffer keeps its bytes.
TEST_F(BadInput, ItemRecordsWithoutTheirPointersOrNulAreRefusedUnread) {
    const ItemCase cases[] = {
        {EM_CMD_SINGLE_READ, 'L', nullptr, 1, true},  {EM_CMD_SINGLE_READ, 'M', nullptr, 1, true},
        {EM_CMD_SINGLE_READ, 'A', nullptr, 1, true},  {EM_CMD_SINGLE_READ, 'G', nullptr, 1, true},
        {EM_CMD_BLOCK_READ, 'L', nullptr, 1, true},   {EM_CMD_SINGLE_WRITE, 'L', nullptr, 1, true},
        {EM_CMD_SINGLE_WRITE, 'G', nullptr, 1, true}, {EM_CMD_SINGLE_WRITE, 'L', "L01S0", 1, false},
        {EM_CMD_SINGLE_WRITE, 'G', "DISP", 1, false}, {EM_CMD_SINGLE_WRITE, 'G', "INIT", 0, false},
    };
    for (const ItemCase &c : cases) {
        SetUp();
        const auto unterminated = UnterminatedAddress(static_cast<char>(c.itemClass));
        const char *address = c.address != nullptr ? c.address : unterminated.get();
        GuardedBuffer values(4);
        const std::int32_t result =
            Item(c.command, address, c.itemClass, c.values ? values.Data() : nullptr, 1);
        const std::string name = std::to_string(c.command) + " " + static_cast<char>(c.itemClass);
        EXPECT_EQ(result, c.result) << name;
        EXPECT_TRUE(Line().Writes().empty()) << name;
        EXPECT_EQ(values.Bytes(), std::vector<unsigned char>(4, 0xAB)) << name;
        EXPECT_TRUE(values.GuardsIntact() && request.GuardsIntact() && state.GuardsIntact());
    }
}

// Any count is taken: decoding stores at most count values and no more than the reply
// holds, and a special word answered from the driver's state fills one cell at most. The
// host's buffer here is far smaller than these counts promise, and nothing lands beyond
// what the reply holds. With more values in the reply than asked, exactly count are stored.
TEST_F(BadInput, CountsBeyondAClassStoreWhatTheReplyHolds) {
    const std::string threeValues = "1,5,6,7\r\n\x03";
    const std::vector<unsigned char> fiveSixSeven = {5, 0, 6, 0, 7, 0};
    std::vector<unsigned char> flagCc(56, 0);
    flagCc[4] = 1;
    const struct {
        std::int32_t command;
        const char *address;
        std::int32_t itemClass;
        std::int32_t count;
        const char *request; // nullptr: nothing is sent
        std::string reply;
        std::vector<unsigned char> stored; // the buffer's first bytes; the rest keep theirs
    } beyond[] = {
        {EM_CMD_SINGLE_READ, "SX", 'G', 2, nullptr, "", {}},
        {EM_CMD_SINGLE_READ, "DISP", 'G', 2, nullptr, "", {0xAB, 0xAB, 0, 0}},
        {EM_CMD_SINGLE_READ, "INIT", 'G', 2, nullptr, "", {0xAB, 0xAB, 0, 0}},
        {EM_CMD_BLOCK_READ, "L01S0", 'L', 117, "SL?\r", threeValues, fiveSixSeven},
        {EM_CMD_BLOCK_READ, "M01V0", 'M', 71, "SM?\r", threeValues, fiveSixSeven},
        {EM_CMD_BLOCK_READ, "L01S0", 'L', INT_MAX, "SL?\r", threeValues, fiveSixSeven},
        {EM_CMD_BLOCK_READ, "A00", 'A', 28, "SA?\r", "ALERTS 1\r\nCC\r\n\x03", flagCc},
    };
    for (const auto &c : beyond) {
        SetUp();
        if (c.request != nullptr) {
            Line().Expect(c.request).Reply(c.reply);
        }
        GuardedBuffer values(64);
        EXPECT_EQ(Item(c.command, c.address, c.itemClass, values.Data(), c.count), 0)
            << c.address << " " << c.count;
        EXPECT_EQ(Requests(), c.request != nullptr ? std::vector<std::string>{c.request}
                                                   : std::vector<std::string>{})
            << c.address;
        std::vector<unsigned char> expected(64, 0xAB);
        std::copy(c.stored.begin(), c.stored.end(), expected.begin());
        EXPECT_EQ(values.Bytes(), expected) << c.address << " " << c.count;
        EXPECT_TRUE(values.GuardsIntact() && request.GuardsIntact() && state.GuardsIntact());
    }

    std::string many = "1";
    for (int i = 0; i < 200; ++i) {
        many += ",7";
    }
    many += "\r\n\x03";
    const struct {
        const char *address;
        std::int32_t itemClass;
        std::int32_t count;
        const char *request;
        std::string reply;
    } atLimit[] = {
        {"L01S0", 'L', 116, "SL?\r", many},
        {"M01V0", 'M', 70, "SM?\r", many},
        {"A00", 'A', 27, "SA?\r", "ALERTS 1\r\nCC\r\n\x03"},
    };
    for (const auto &c : atLimit) {
        SetUp();
        Line().Expect(c.request).Reply(c.reply);
        GuardedBuffer values(static_cast<std::size_t>(c.count) * 2);
        EXPECT_EQ(Item(EM_CMD_BLOCK_READ, c.address, c.itemClass, values.Data(), c.count), 0);
        EXPECT_TRUE(values.GuardsIntact()) << c.address;
    }
}

// Types and counts the host's contract does not name: a single value is a 16-bit integer in
// bytes 2-3 of its cell, a count of 0 or less stores nothing, and alert numbers outside the
// table read as 0. The cell is exactly 4 bytes.
TEST_F(BadInput, DataTypesCountsAndIndexesOutOfRange) {
    for (const std::int32_t dataType : {-1, 7, 8, 1000, INT_MIN, INT_MAX}) {
        SetUp();
        Line().Expect("L01S?\r").Reply("L01S=5\r\x03");
        GuardedBuffer cell(4);
        EXPECT_EQ(Item(EM_CMD_SINGLE_READ, "L01S0", 'L', cell.Data(), 1, dataType), 0);
        EXPECT_EQ(cell.Bytes(), (std::vector<unsigned char>{0xAB, 0xAB, 5, 0})) << dataType;

        SetUp();
        Line().Expect("L01S=5\r").Reply("L01S=5.0 ***\r\n");
        EXPECT_EQ(Item(EM_CMD_SINGLE_WRITE, "L01S0", 'L', cell.Data(), 1, dataType), 0);
        EXPECT_EQ(Requests(), std::vector<std::string>{"L01S=5\r"}) << dataType;
        EXPECT_TRUE(cell.GuardsIntact());
    }
    for (const std::int32_t count : {0, -1, INT_MIN}) {
        SetUp();
        Line().Expect("L01S?\r").Reply("L01S=5\r\x03");
        GuardedBuffer cell(4);
        EXPECT_EQ(Item(EM_CMD_SINGLE_READ, "L01S0", 'L', cell.Data(), count), 0) << count;
        EXPECT_EQ(cell.Bytes(), std::vector<unsigned char>(4, 0xAB)) << count;
    }
    // Only flag 2 (CC) is set; every other number, in the table or not, reads as 0.
    for (const std::int32_t index : {-1, 2, 27, INT_MIN, INT_MAX}) {
        for (const std::int32_t count : {1, 27}) {
            SetUp();
            Line().Expect("SA?\r").Reply("ALERTS 1\r\nCC\r\n\x03");
            GuardedBuffer values(count == 1 ? 4 : 54);
            EXPECT_EQ(Item(EM_CMD_BLOCK_READ, "A00", 'A', values.Data(), count, 6, index), 0);
            std::vector<unsigned char> expected(count == 1 ? 2 : 54, 0);
            const std::int64_t cc = 2 - std::int64_t{index};
            if (cc >= 0 && cc < count) {
                expected[static_cast<std::size_t>(cc) * 2] = 1;
            }
            const std::vector<unsigned char> bytes = values.Bytes();
            EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + (count == 1 ? 2 : 0), bytes.end()),
                      expected)
                << index << " " << count;
            EXPECT_TRUE(values.GuardsIntact());
        }
    }
}

// A record that was never zeroed or started: whatever its handle, enabled flag, name and
// terminator hold, no command sends a byte, closes a port, or writes outside the record.
TEST_F(BadInput, StateFullOfGarbageSendsNothing) {
    const struct {
        std::int32_t command;
        std::int32_t result;
    } commands[] = {
        {EM_CMD_WARM_START, 5},   {EM_CMD_SINGLE_READ, 2}, {EM_CMD_BLOCK_READ, 2},
        {EM_CMD_SINGLE_WRITE, 2}, {EM_CMD_OPEN_PORT, 2},   {EM_CMD_CLOSE_PORT, 0},
        {EM_CMD_SHUTDOWN, 0},     {EM_CMD_ANSWER_ONE, 1},
    };
    for (const unsigned char pattern : {0xFF, 0xA5, 0x5A, 0x80, 0x01}) {
        for (const auto &c : commands) {
            Line().Reset();
            std::memset(&state.record, pattern, sizeof state.record);
            GuardedBuffer values(4);
            const std::int32_t result = c.command == EM_CMD_SINGLE_READ ||
                                                c.command == EM_CMD_BLOCK_READ ||
                                                c.command == EM_CMD_SINGLE_WRITE
                                            ? Item(c.command, "L01S0", 'L', values.Data())
                                            : Call(c.command, nullptr);
            EXPECT_EQ(result, c.result) << c.command << " " << int{pattern};
            EXPECT_TRUE(Line().Writes().empty()) << c.command << " " << int{pattern};
            EXPECT_TRUE(Line().Opens().empty() && Line().Closes().empty()) << c.command;
            EXPECT_TRUE(state.GuardsIntact() && values.GuardsIntact()) << c.command;
            if (c.command == EM_CMD_CLOSE_PORT || c.command == EM_CMD_SHUTDOWN) {
                EXPECT_EQ(state.record.portHandle, 0u) << "a handle not held is forgotten";
            }
        }
    }
}

// Before ColdStart (a zeroed record) and after a ColdStart that disabled the instance there
// is no port: reads fail as on a dead line, writes are refused, and nothing reaches a line.
TEST_F(BadInput, CommandsWithoutAPort) {
    for (const bool disabled : {false, true}) {
        Line().Reset();
        state.record = DriverState{};
        if (disabled) {
            ColdStartParameters params{"ttyS2", 0, 100, {9600, 8, 0, 0}};
            ASSERT_EQ(Call(EM_CMD_COLD_START, &params), 0);
        }
        const struct {
            std::int32_t command;
            std::int32_t result;
        } commands[] = {
            {EM_CMD_SINGLE_READ, 2}, {EM_CMD_BLOCK_READ, 2}, {EM_CMD_SINGLE_WRITE, 1},
            {EM_CMD_WARM_START, 0},  {EM_CMD_CLOSE_PORT, 0}, {EM_CMD_SHUTDOWN, 0},
        };
        for (const auto &c : commands) {
            GuardedBuffer values(4);
            const std::int32_t result = c.command == EM_CMD_WARM_START ||
                                                c.command == EM_CMD_CLOSE_PORT ||
                                                c.command == EM_CMD_SHUTDOWN
                                            ? Call(c.command, nullptr)
                                            : Item(c.command, "L01S0", 'L', values.Data());
            EXPECT_EQ(result, c.result) << c.command << (disabled ? " disabled" : " fresh");
            EXPECT_TRUE(values.GuardsIntact() && state.GuardsIntact());
        }
        EXPECT_TRUE(Line().Writes().empty());
        EXPECT_TRUE(Line().Opens().empty());
        EXPECT_EQ(state.record.portHandle, 0u);
    }
}

} // namespace
