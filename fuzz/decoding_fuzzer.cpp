// StoreData on any reply of up to 591 bytes, for every class, data type, count from -1 to
// 120, index and address.
//
// Input: a class byte (below 0x80 one of A, L, M, G; above, that byte as an unknown class),
// a data type byte (signed), a count byte, four bytes of index, a counted address of up to
// 32 bytes, then the reply. The address and the reply lie in heap blocks of exactly their
// size and NUL; the value buffer holds one cell, or count 16-bit slots, between guard bytes.
#include "checks.h"
#include "fuzz_input.h"

#include "interface/em_driver.h"
#include "log_capture.h"
#include "protocol/decoding.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLongestReply = 591;
constexpr std::size_t kLongestAddress = 32; // the longest that DefineItem takes
constexpr int kCounts = 122;                // -1 to 120
constexpr unsigned char kFill = 0xEE;

std::int32_t ClassFrom(std::uint8_t byte) {
    constexpr char kClasses[] = {'A', 'L', 'M', 'G'};
    return byte < 0x80 ? kClasses[byte % 4] : byte;
}

bool IsWide(std::int32_t dataType) {
    return dataType == EM_TYPE_FLOAT || dataType == EM_TYPE_INT32 || dataType == EM_TYPE_UINT32;
}

bool Untouched(const unsigned char *bytes, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (bytes[i] != kFill) {
            return false;
        }
    }
    return true;
}

std::uint16_t Word(const unsigned char *bytes, std::size_t offset) {
    std::uint16_t word;
    std::memcpy(&word, bytes + offset, sizeof word);
    return word;
}

// Alert flags are 0 or 1 wherever they are stored.
bool FlagsOnly(const unsigned char *bytes, std::size_t from, std::size_t to) {
    for (std::size_t offset = from; offset < to; offset += 2) {
        if (Word(bytes, offset) > 1) {
            return false;
        }
    }
    return true;
}

void CheckStored(const ItemRequest &request, const GuardedBuffer &values, int result) {
    const unsigned char *bytes = values.Data();
    const bool block = request.count >= 2;
    const bool known = request.itemClass == 'A' || request.itemClass == 'L' ||
                       request.itemClass == 'M' || request.itemClass == 'G';
    if (!known) {
        Require(result == 0 && Untouched(bytes, 0, values.Size()),
                "an unknown class stores nothing and succeeds");
    } else if (request.itemClass == 'A') {
        Require(result == 1 ? Untouched(bytes, 0, values.Size())
                            : FlagsOnly(bytes, block ? 0 : 2, values.Size()),
                "alerts store flags of 0 and 1, or nothing when the list does not parse");
        Require(block || Untouched(bytes, 0, 2), "an alert flag leaves bytes 0-1 of its cell");
    } else if (request.count <= 0) {
        Require(Untouched(bytes, 0, values.Size()), "a count of 0 or less stores nothing");
    } else if (!block && !IsWide(request.dataType)) {
        Require(Untouched(bytes, 0, 2), "a 16-bit value leaves bytes 0-1 of its cell");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput input(data, size);
    ItemRequest request{};
    request.itemClass = ClassFrom(input.Byte());
    request.dataType = input.SignedByte();
    request.count = input.Byte() % kCounts - 1;
    request.index = input.Raw<std::int32_t>();
    ExactBytes address(input.Bytes(input.Byte() % (kLongestAddress + 1)));
    ExactBytes reply(input.Rest(kLongestReply));

    const std::size_t bytes = request.count >= 2 ? 2 * static_cast<std::size_t>(request.count) : 4;
    GuardedBuffer values(bytes, kFill);
    request.address = address.Data();
    request.values = values.Data();

    ClearCapturedLog();
    const int result = StoreData(request, reply.Data());

    Require(values.Intact(), "nothing written around the value buffer");
    Require(result == 0 || result == 1, "result 0 or 1");
    CheckStored(request, values, result);
    return 0;
}
