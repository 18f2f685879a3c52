// SingleWrite: writes one host value to one parameter of a loop or module, or carries out
// the action of a special word. One request, the confirmation "Y" when the instrument asks
// for it, and the acknowledgement "***" in the final reply; a refusal is followed by the
// recovery exchange.
#include "interface/em_vocabulary.h"
#include "interface/handlers.h"
#include "interface/log.h"
#include "protocol/address.h"
#include "protocol/number_text.h"
#include "protocol/scale.h"
#include "protocol/tabulated.h"
#include "serial/exchange.h"
#include "serial/serial.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kRequestSize = 590;
using Request = char[kRequestSize];
using Reply = char[kReplyBufferSize];

// The request head is the address up to its parameter letter and "=" in place of the scale
// digit; the value text follows it.
constexpr std::size_t kEqualsPosition = 4;
constexpr std::size_t kValuePosition = 5;

// A reply with "?" here asks for confirmation, as in "L01P? 45.0 Y/N".
constexpr std::size_t kQuestionPosition = 4;
constexpr char kConfirmation[] = "Y\r";
constexpr char kAcknowledgement[] = "***";
constexpr std::uint32_t kAfterFailedWordPauseMs = 1000;

static_assert(kValuePosition + kNumberTextCapacity + 1 < kRequestSize);

template <typename T> T CellField(const void *cell, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char *>(cell) + offset, sizeof value);
    return value;
}

// The 16-bit word in bytes 2-3 of the cell, where 16-bit values lie.
std::uint16_t UpperWord(const void *cell) {
    return CellField<std::uint16_t>(cell, 2);
}

// The host's value by data type. Types without a width of their own are read as the
// signed 16-bit integer in bytes 2-3, where reads store them.
double CellValue(const void *cell, std::int32_t dataType) {
    switch (dataType) {
    case EM_TYPE_UINT16:
    case EM_TYPE_WORD:
        return UpperWord(cell);
    case EM_TYPE_FLOAT:
        return CellField<float>(cell, 0);
    case EM_TYPE_INT32:
        return CellField<std::int32_t>(cell, 0);
    case EM_TYPE_UINT32:
        return CellField<std::uint32_t>(cell, 0);
    default:
        return CellField<std::int16_t>(cell, 2);
    }
}

// The request of a special word for the value in its cell; empty when the word sends
// nothing.
struct WordRequest {
    std::int32_t result;
    std::string_view request;
};

WordRequest SpecialWordRequest(std::string_view word, const void *cell) {
    if (word == "INIT") {
        return {EM_OK, {}};
    }
    if (cell == nullptr) {
        return {EM_REFUSED, {}};
    }
    const std::uint16_t value = UpperWord(cell);
    if (word == "SX" && value == 0) {
        return {EM_OK, "SX\r"};
    }
    if (word == "S?" && value == 0) {
        return {EM_OK, "SI\r"};
    }
    if (word == "DISP" && value == 1) {
        return {EM_OK, "SOTURN KEY OFF\r"};
    }
    if (word == "DISP" && value == 0) {
        return {EM_OK, "SB\r"};
    }
    return {EM_REFUSED, {}};
}

// Parameters whose values go out as tokens rather than free numbers: the step tables' and
// the mode's. A status (X) is written as a number.
bool IsTabulated(char letter) {
    const auto in = [letter](std::string_view letters) {
        return letters.find(letter) != std::string_view::npos;
    };
    return in(kWideStepLetters) || in(kCountStepLetters) || in(kGainStepLetters) ||
           letter == kModeLetter;
}

// True when address holds exactly the five characters of an item address; reads no further
// than its sixth byte.
bool IsItemAddress(const char *address) {
    for (std::size_t i = 0; i < kValueAddressLength; ++i) {
        if (address[i] == '\0') {
            return false;
        }
    }
    return address[kValueAddressLength] == '\0';
}

// Builds "L01S=<value>\r": the value divided by the item's scale, as a token for tabulated
// letters and as a number text otherwise. False when the value has neither (logged).
bool BuildValueRequest(const DriverCall &call, const ItemRequest &item, Request &request) {
    std::memcpy(request, item.address, kEqualsPosition);
    request[kEqualsPosition] = '=';
    const char letter = item.address[kParameterPosition];
    const double value = CellValue(item.values, item.dataType) / ScaleFactor(item.address);
    char *text = request + kValuePosition;
    if (IsTabulated(letter)) {
        if (setTabularVal(letter, static_cast<float>(value),
                          std::span<char, kTokenCapacity>(text, kTokenCapacity)) != EM_OK) {
            return false;
        }
    } else if (!WriteNumberText(value,
                                std::span<char, kNumberTextCapacity>(text, kNumberTextCapacity))) {
        err(kLogDetail, "ZEL%d: EM: SingleWrite(): no number text for val = %f", call.driverNumber,
            value);
        return false;
    }
    text[std::strlen(text)] = '\r';
    return true;
}

// A value write's reply ends in "\n"; every later reply again in ETX.
ReplyCheck ExchangeValueWrite(const DriverCall &call, const Request &request, Reply &reply) {
    call.state->replyTerminator = kLineFeed;
    Exchange(call, request, reply);
    call.state->replyTerminator = kEtx;
    return CheckReply(reply);
}

ReplyCheck ExchangeSpecialWord(const DriverCall &call, const Request &request, Reply &reply) {
    if (Exchange(call, request, reply) != ExchangeResult::kOk) {
        SerialPause(kAfterFailedWordPauseMs);
    }
    return CheckReply(reply);
}

// Answers the instrument's question with "Y". When "Y" cannot be sent no answer comes, and
// the reply keeps the question, the last reply that arrived, for the failure log; the send's
// failure ends the write, so the question is never judged as the answer.
// The answer names the written item, as the write's acknowledgement would.
ExchangeResult Confirm(const DriverCall &call, Request &request, Reply &reply) {
    const ReplySubjects written = SubjectsOfConfirmation(request);
    std::memcpy(request, kConfirmation, sizeof kConfirmation);
    const ExchangeResult sent = Ask(call, request);
    return sent == ExchangeResult::kOk ? ReadReply(call, written, reply) : sent;
}

// Answers a confirmation question, checks the acknowledgement, recovers after a refusal
// and logs a failure with the last request and reply. The host receives the check of the
// first reply, or the outcome of the confirmation exchange when there was one.
// The instrument's question names the item written, "L01P? 45.0 Y/N": a reply to a value write
// whose fifth byte happens to be "?" (noise, a reply cut short) asks nothing, and answering it
// "Y" would turn a write the instrument may have carried out into a refusal.
bool AsksConfirmation(const Request &request, const Reply &reply) {
    if (reply[kQuestionPosition] != '?') {
        return false;
    }
    const bool valueWrite = request[kEqualsPosition] == '=';
    return !valueWrite || std::memcmp(request, reply, kEqualsPosition) == 0;
}

std::int32_t Conclude(const DriverCall &call, ReplyCheck check, Request &request, Reply &reply) {
    std::int32_t result = HostResult(check);
    if (check == ReplyCheck::kGood && AsksConfirmation(request, reply)) {
        result = HostResult(Confirm(call, request, reply));
    }
    if (result == EM_OK && std::strstr(reply, kAcknowledgement) == nullptr) {
        result = EM_REFUSED;
    }
    if (result == EM_REFUSED) {
        resetError(call);
    }
    if (result != EM_OK) {
        err(kLogOutcome, "ZEL%d: EM: SingleWrite(): Failed rc = %d", call.driverNumber, result);
        err(kLogDetail, "\trequest: %s", request);
        err(kLogDetail, "\treply: %s", reply);
    }
    return result;
}

std::int32_t WriteSpecialWord(const DriverCall &call, const ItemRequest &item, Request &request,
                              Reply &reply) {
    const WordRequest word = SpecialWordRequest(item.address, item.values);
    if (word.request.empty()) {
        return word.result;
    }
    word.request.copy(request, word.request.size());
    return Conclude(call, ExchangeSpecialWord(call, request, reply), request, reply);
}

std::int32_t WriteValue(const DriverCall &call, const ItemRequest &item, Request &request,
                        Reply &reply) {
    if (!IsItemAddress(item.address)) {
        err(kLogDetail, "ZEL%d: EM: SingleWrite(): not an item address: %s", call.driverNumber,
            item.address);
        return EM_REFUSED;
    }
    if (item.values == nullptr || !BuildValueRequest(call, item, request)) {
        return EM_REFUSED;
    }
    return Conclude(call, ExchangeValueWrite(call, request, reply), request, reply);
}

} // namespace

std::int32_t SingleWrite(const DriverCall &call) {
    Request request = {};
    Reply reply = {};
    const auto *item = static_cast<const ItemRequest *>(call.parameters);
    if (call.state == nullptr || call.state->enabled == 0 || item == nullptr ||
        item->address == nullptr || !AddressTerminated(item->address)) {
        return EM_REFUSED;
    }
    switch (item->itemClass) {
    case EM_CLASS_SPECIAL:
        return WriteSpecialWord(call, *item, request, reply);
    case EM_CLASS_LOOP:
    case EM_CLASS_MODULE:
        return WriteValue(call, *item, request, reply);
    default:
        // Alert items cannot be written, and no other class has a request.
        return EM_REFUSED;
    }
}
