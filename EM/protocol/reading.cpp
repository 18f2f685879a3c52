// SingleRead and BlockRead: one request built from the item's class and address, one
// exchange with the instrument, and the reply decoded into the host's value buffer. A few
// special words are answered from the driver's own state without a request.
#include "interface/handlers.h"
#include "interface/log.h"
#include "protocol/address.h"
#include "protocol/cells.h"
#include "protocol/decoding.h"
#include "serial/exchange.h"
#include "serial/serial.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr std::uint32_t kAfterFailedExchangeMs = 1000;
// A loop or module query sends the class letter, the two digits and the parameter letter.
constexpr std::size_t kQueryLength = 4;

using Text = char[kReplyBufferSize];

// The log lines of a failed read; the reply line differs between the two commands.
struct FailureFormats {
    const char *outcome;
    const char *reply;
};
constexpr FailureFormats kSingleReadFailure = {"ZEL%d: EM: SingleRead(): Failed rc = %d",
                                               "\treply: %s"};
constexpr FailureFormats kBlockReadFailure = {"ZEL%d: EM: BlockRead(): Failed rc = %d",
                                              "\tEM: reply: %s"};

struct SpecialRequest {
    std::string_view word;
    const char *request;
};
// Special words that the instrument answers; "SX", "DISP" and "INIT" need no request.
constexpr std::array<SpecialRequest, 5> kSpecialRequests = {{
    {"NL", "XC\r"},
    {"NM", "XC\r"},
    {"NA", "SS\r"},
    {"S?", "S?\r"},
    {"XS0", "XS0\r"},
}};

// The item of the call; nullptr when the call lacks its state, its block, a terminated
// address or the value buffer. Any count is taken: decoding stores at most count values,
// and no more than the reply holds.
ItemRequest *RequestOf(const DriverCall &call) {
    auto *request = static_cast<ItemRequest *>(call.parameters);
    if (call.state == nullptr || request == nullptr || request->address == nullptr ||
        !AddressTerminated(request->address) || request->values == nullptr) {
        return nullptr;
    }
    return request;
}

std::int32_t Failed(const DriverCall &call, std::int32_t result, const FailureFormats &formats,
                    const char *request, const char *reply) {
    err(kLogOutcome, formats.outcome, call.driverNumber, result);
    err(kLogDetail, "\trequest: %s", request);
    err(kLogDetail, formats.reply, reply);
    return result;
}

// One attempt, no retry: the exchange, then the reply's check. A refused or empty reply
// runs the recovery exchange once; a failed exchange costs a pause before the result.
// A good reply is decoded into the host's buffer.
std::int32_t ReadItem(const DriverCall &call, const ItemRequest &item, const char *request,
                      const FailureFormats &formats) {
    Text reply = {};
    std::int32_t result = EM_OK;
    if (Exchange(call, request, reply) != ExchangeResult::kOk) {
        SerialPause(kAfterFailedExchangeMs);
        result = EM_COMM_FAILURE;
    } else if (CheckReply(reply) != ReplyCheck::kGood) {
        resetError(call);
        result = EM_REFUSED;
    } else {
        result = StoreData(item, reply);
    }
    return result == EM_OK ? EM_OK : Failed(call, result, formats, request, reply);
}

// The loop or module query: the address up to its parameter letter, then "?\r".
void BuildQuery(const char *address, Text &request) {
    std::size_t length = 0;
    while (length < kQueryLength && address[length] != '\0') {
        request[length] = address[length];
        ++length;
    }
    std::memcpy(request + length, "?\r", 3);
}

const char *SpecialRequestFor(const char *address) {
    for (const SpecialRequest &special : kSpecialRequests) {
        if (special.word == address) {
            return special.request;
        }
    }
    return "";
}

// "SX" needs nothing, "DISP" reads as 0 and "INIT" as the adapter-ready flag; true when
// the address is one of them and has been answered.
bool AnswerFromState(const DriverCall &call, const ItemRequest &item) {
    const std::string_view word = item.address;
    if (word == "SX") {
        return true;
    }
    if (word == "DISP") {
        StoreCellWord(item.values, 0);
        return true;
    }
    if (word == "INIT") {
        StoreCellWord(item.values, call.state->adapterReady);
        return true;
    }
    return false;
}

const char *BlockRequestFor(std::int32_t itemClass) {
    switch (itemClass) {
    case EM_CLASS_ALERT:
        return "SA?\r";
    case EM_CLASS_LOOP:
        return "SL?\r";
    case EM_CLASS_MODULE:
        return "SM?\r";
    default:
        return "";
    }
}

} // namespace

std::int32_t SingleRead(const DriverCall &call) {
    const ItemRequest *item = RequestOf(call);
    if (item == nullptr) {
        return Failed(call, EM_REFUSED, kSingleReadFailure, "", "");
    }
    Text query = {};
    const char *request = query;
    switch (item->itemClass) {
    case EM_CLASS_ALERT:
        return BlockRead(call);
    case EM_CLASS_LOOP:
    case EM_CLASS_MODULE:
        BuildQuery(item->address, query);
        break;
    case EM_CLASS_SPECIAL:
        if (AnswerFromState(call, *item)) {
            return EM_OK;
        }
        request = SpecialRequestFor(item->address);
        break;
    default:
        break;
    }
    return ReadItem(call, *item, request, kSingleReadFailure);
}

std::int32_t BlockRead(const DriverCall &call) {
    const ItemRequest *item = RequestOf(call);
    if (item == nullptr) {
        return Failed(call, EM_REFUSED, kBlockReadFailure, "", "");
    }
    return ReadItem(call, *item, BlockRequestFor(item->itemClass), kBlockReadFailure);
}
