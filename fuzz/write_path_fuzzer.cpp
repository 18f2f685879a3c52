// The write path: the number text and the tabulated tokens on any bit pattern, and
// SingleWrite with any cell, data type and address against instrument replies of any bytes.
//
// Input: a mode byte, then
//   number text:   8 bytes, a double;
//   tokens:        4 bytes of valType, 4 bytes, a float;
//   SingleWrite:   class byte, data type byte (signed), enabled byte, reply terminator,
//                  4 cell bytes, a counted address of up to 8 bytes, a fault byte, then
//                  up to three counted replies for the request, "Y" and "S?".
#include "checks.h"
#include "fuzz_input.h"

#include "interface/em_driver.h"
#include "interface/em_vocabulary.h"
#include "log_capture.h"
#include "protocol/number_text.h"
#include "protocol/tabulated.h"
#include "scripted_line.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kLongestReply = 600;
constexpr std::size_t kLongestAddress = 8;
constexpr unsigned char kFill = 0xEE;

// ---- The number text ----

// The text is "-"? digits ("." 1 to 3 digits)?, the integer part without leading zeros.
struct NumberShape {
    bool negative = false;
    std::size_t integerDigits = 0;
    std::size_t fractionDigits = 0;
};

bool ShapeOf(const char *text, NumberShape &shape) {
    const char *p = text;
    shape.negative = *p == '-';
    p += shape.negative ? 1 : 0;
    const char *digits = p;
    while (*p >= '0' && *p <= '9') {
        ++p;
    }
    shape.integerDigits = static_cast<std::size_t>(p - digits);
    if (shape.integerDigits == 0 || (shape.integerDigits > 1 && digits[0] == '0')) {
        return false;
    }
    if (*p == '.') {
        const char *fraction = ++p;
        while (*p >= '0' && *p <= '9') {
            ++p;
        }
        shape.fractionDigits = static_cast<std::size_t>(p - fraction);
        if (shape.fractionDigits == 0 || shape.fractionDigits > 3) {
            return false;
        }
    }
    return *p == '\0';
}

void CheckNumberText(double value) {
    GuardedBuffer text(kNumberTextCapacity, kFill);
    const bool wrote =
        WriteNumberText(value, std::span<char, kNumberTextCapacity>(
                                   reinterpret_cast<char *>(text.Data()), kNumberTextCapacity));
    Require(text.Intact(), "the number text stays within its capacity");
    if (!(std::fabs(value) < 1e15)) {
        Require(!wrote && text.Data()[0] == kFill, "no text for 1e15 and beyond, inf or NaN");
        return;
    }
    Require(wrote, "a text for every magnitude below 1e15");
    const char *number = reinterpret_cast<const char *>(text.Data());
    NumberShape shape;
    Require(ShapeOf(number, shape), "sign, digits and at most three decimals");
    Require(shape.integerDigits + shape.fractionDigits <= 6 || shape.fractionDigits == 0,
            "at most six digits once a fraction is written");
    // Rounding to thousandths, then cutting to the digits written.
    const double parsed = std::strtod(number, nullptr);
    Require(shape.negative == (value < 0 && parsed != 0),
            "a minus sign for a negative value that does not round to 0");
    double tolerance = 0.0005 + std::fabs(value) * 1e-15;
    if (shape.integerDigits >= 6) {
        tolerance += 1.0;
    } else if (shape.fractionDigits > 0 && shape.fractionDigits < 3) {
        tolerance += std::pow(10.0, -static_cast<double>(shape.fractionDigits));
    }
    Require(std::fabs(parsed - value) <= tolerance, "the text parses back within its rounding");
}

// ---- Tabulated tokens ----

bool IsStepLetter(int letter) {
    return std::string_view("CDIP[]F^G").find(static_cast<char>(letter)) != std::string_view::npos;
}

template <std::size_t N>
bool IsCodedToken(const std::array<std::string_view, N> &tokens, float val,
                  std::string_view token) {
    return val > -1.0F && val <= static_cast<float>(N - 1) &&
           tokens[static_cast<std::size_t>(static_cast<int>(val))] == token;
}

void CheckToken(int valType, float val) {
    GuardedBuffer destination(kTokenCapacity, kFill);
    ClearCapturedLog();
    const int result =
        setTabularVal(valType, val,
                      std::span<char, kTokenCapacity>(reinterpret_cast<char *>(destination.Data()),
                                                      kTokenCapacity));
    Require(destination.Intact(), "a token stays within its 8 bytes");
    Require(result == 0 || result == 1, "result 0 or 1");
    const int letter = valType & 0xFF;
    const bool known = IsStepLetter(letter) || letter == 'M' || letter == 'X';
    if (result == 1 || !known) {
        Require(known || result == 0, "an unknown letter is not refused");
        Require(std::all_of(destination.Data(), destination.Data() + kTokenCapacity,
                            [](unsigned char c) { return c == kFill; }),
                "nothing written without a token");
        return;
    }
    const std::string_view token(
        reinterpret_cast<const char *>(destination.Data()),
        strnlen(reinterpret_cast<const char *>(destination.Data()), kTokenCapacity));
    Require(token.size() < kTokenCapacity, "a token ends in its NUL");
    if (letter == 'M') {
        Require(IsCodedToken(kModeTokens, val, token), "the mode at the value's index");
    } else if (letter == 'X') {
        Require(IsCodedToken(kStatusTokens, val, token), "the status at the value's index");
    } else if (static_cast<double>(val) < 0.0001) {
        Require(token == "OFF", "OFF below the threshold");
    } else {
        Require(std::strtof(std::string(token).c_str(), nullptr) == val,
                "the token spells the value exactly");
    }
}

// ---- SingleWrite ----

std::int32_t ClassFrom(std::uint8_t byte) {
    constexpr char kClasses[] = {'A', 'L', 'M', 'G'};
    return byte < 0x80 ? kClasses[byte % 4] : byte;
}

enum class Fault { kNone, kFailWrite, kShortWrite, kLineGone, kFailRead };

Fault InjectFault(ScriptedLine &line, std::uint8_t byte) {
    switch (byte % 8) {
    case 1:
        line.FailNextWrite();
        return Fault::kFailWrite;
    case 2:
        line.ShortNextWrite(byte / 8);
        return Fault::kShortWrite;
    case 3:
        line.FailWritesAfter(1);
        return Fault::kLineGone;
    case 4:
        line.FailNextRead();
        return Fault::kFailRead;
    default:
        return Fault::kNone;
    }
}

// What a write sent: whole requests ending in CR, a value write with the address head
// and "=", success only on a reply with the acknowledgement, and ETX as the terminator
// after a value write.
void CheckSent(const ItemRequest &item, const DriverState &state, std::int32_t result,
               const std::array<std::string, 3> &replies, Fault fault) {
    const auto &writes = ScriptedLine::Instance().Writes();
    Require(writes.size() <= 3, "at most the request, Y and S?");
    if (writes.empty()) {
        return;
    }
    if (result == 0) {
        Require(replies[writes.size() - 1].find("***") != std::string::npos,
                "success only on an acknowledged reply");
    }
    const bool valueWrite = item.itemClass == 'L' || item.itemClass == 'M';
    Require(!valueWrite || state.replyTerminator == 3,
            "a value write leaves the terminator at ETX");
    if (fault == Fault::kShortWrite) {
        return;
    }
    for (const auto &write : writes) {
        Require(write.bytes.back() == '\r', "every request ends in CR");
    }
    Require(!valueWrite ||
                (writes[0].bytes.compare(0, 4, item.address, 4) == 0 && writes[0].bytes[4] == '='),
            "a value write sends the address head and =");
}

void CheckSingleWrite(FuzzInput &input) {
    ScriptedLine &line = ScriptedLine::Instance();
    line.Reset();
    ClearCapturedLog();

    ItemRequest item{};
    item.itemClass = ClassFrom(input.Byte());
    item.dataType = input.SignedByte();
    DriverState state{};
    state.enabled = input.Byte() % 4 != 0 ? 1 : 0;
    state.replyTerminator = input.Byte();
    const auto cell = input.Raw<std::array<unsigned char, 4>>();
    ExactBytes address(input.Bytes(input.Byte() % (kLongestAddress + 1)));
    const std::uint8_t fault = input.Byte();
    std::array<std::string, 3> replies;
    for (std::string &reply : replies) {
        reply = input.Counted(kLongestReply);
        line.ExpectAny().Reply(reply);
    }

    PortSettings port{};
    std::strcpy(port.portName, "ttyS0");
    Require(line.Open(port, state.portHandle) == SerialResult::kOk, "the scripted port opens");
    state.replyTimeout = 10;
    line.SetReadTimeout(state.portHandle, state.replyTimeout);
    const Fault injected = InjectFault(line, fault);

    GuardedBuffer values(4, 0);
    std::memcpy(values.Data(), cell.data(), cell.size());
    item.address = address.Data();
    item.values = values.Data();
    DriverCall call{&state, EM_CMD_SINGLE_WRITE, 2, 0, &item};
    const std::int32_t result = ZelMain(&call);

    Require(values.Intact() && std::memcmp(values.Data(), cell.data(), cell.size()) == 0,
            "a write leaves the host's cell and what surrounds it as they were");
    Require(result == 0 || result == 1 || result == 2 || result == 7 || result == 255,
            "result 0, 1, 2, 7 or 255");
    CheckSent(item, state, result, replies, injected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput input(data, size);
    switch (input.Byte() % 3) {
    case 0:
        CheckNumberText(input.Raw<double>());
        break;
    case 1: {
        const auto valType = input.Raw<std::int32_t>();
        CheckToken(valType, input.Raw<float>());
        break;
    }
    default:
        CheckSingleWrite(input);
        break;
    }
    return 0;
}
