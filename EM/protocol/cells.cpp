#include "protocol/cells.h"
#include "interface/em_driver.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Half a step above the largest float: from here on the nearest float is infinity.
constexpr double kFloatOverflow = 0x1.ffffffp127;
// 2^63, the first magnitude beyond the 64-bit signed range.
constexpr float kInt64Limit = 0x1p63f;
constexpr std::size_t kWordOffset = 2;
constexpr std::size_t kSlotSize = 2;

std::int64_t TruncatedWithinInt64(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= kInt64Limit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value < -kInt64Limit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

void WriteBytes(void *values, std::size_t offset, const void *bytes, std::size_t count) {
    std::memcpy(static_cast<unsigned char *>(values) + offset, bytes, count);
}

} // namespace

float NarrowToFloat(double value) {
    if (value >= kFloatOverflow) {
        return std::numeric_limits<float>::infinity();
    }
    if (value <= -kFloatOverflow) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

std::uint32_t LowBits32(float value) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(TruncatedWithinInt64(value)));
}

std::uint16_t LowBits16(float value) {
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(TruncatedWithinInt64(value)));
}

void StoreCell(void *values, std::int32_t dataType, float value) {
    switch (dataType) {
    case EM_TYPE_FLOAT:
        WriteBytes(values, 0, &value, sizeof value);
        return;
    case EM_TYPE_INT32:
    case EM_TYPE_UINT32: {
        const std::uint32_t bits = LowBits32(value);
        WriteBytes(values, 0, &bits, sizeof bits);
        return;
    }
    default:
        StoreCellWord(values, LowBits16(value));
        return;
    }
}

void StoreCellWord(void *values, std::uint16_t word) {
    WriteBytes(values, kWordOffset, &word, sizeof word);
}

void StoreSlot(void *values, std::size_t slot, float value) {
    StoreSlotWord(values, slot, LowBits16(value));
}

void StoreSlotWord(void *values, std::size_t slot, std::uint16_t word) {
    WriteBytes(values, slot * kSlotSize, &word, sizeof word);
}
