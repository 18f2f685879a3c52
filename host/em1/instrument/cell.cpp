#include "cell.h"

#include "em_driver.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kWordOffset = 2;

template <typename T> T Load(const unsigned char *bytes) {
    T value{};
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <typename T> void Store(unsigned char *bytes, T value) {
    std::memcpy(bytes, &value, sizeof value);
}

template <typename T> bool Holds(double value) {
    return value == std::trunc(value) &&
           value >= static_cast<double>(std::numeric_limits<T>::lowest()) &&
           value <= static_cast<double>(std::numeric_limits<T>::max());
}

template <typename T> bool StoreWhole(unsigned char *bytes, double value) {
    if (!Holds<T>(value)) {
        return false;
    }
    Store(bytes, static_cast<T>(value));
    return true;
}

} // namespace

double ReadCell(const Cell &cell, std::int32_t dataType) {
    switch (dataType) {
    case EM_TYPE_FLOAT:
        return Load<float>(cell.data());
    case EM_TYPE_INT32:
        return Load<std::int32_t>(cell.data());
    case EM_TYPE_UINT32:
        return Load<std::uint32_t>(cell.data());
    case EM_TYPE_INT16:
        return Load<std::int16_t>(cell.data() + kWordOffset);
    default:
        return Load<std::uint16_t>(cell.data() + kWordOffset);
    }
}

std::int32_t CellWord(const Cell &cell) {
    return Load<std::int16_t>(cell.data() + kWordOffset);
}

bool WriteCell(Cell &cell, std::int32_t dataType, double value) {
    switch (dataType) {
    case EM_TYPE_FLOAT:
        if (std::fabs(value) > std::numeric_limits<float>::max()) {
            return false;
        }
        Store(cell.data(), static_cast<float>(value));
        return true;
    case EM_TYPE_INT32:
        return StoreWhole<std::int32_t>(cell.data(), value);
    case EM_TYPE_UINT32:
        return StoreWhole<std::uint32_t>(cell.data(), value);
    case EM_TYPE_INT16:
        return StoreWhole<std::int16_t>(cell.data() + kWordOffset, value);
    default:
        return StoreWhole<std::uint16_t>(cell.data() + kWordOffset, value);
    }
}

void WriteCellWord(Cell &cell, std::int16_t word) {
    Store(cell.data() + kWordOffset, word);
}

std::int16_t BlockValue(std::span<const unsigned char> buffer, std::size_t i) {
    return Load<std::int16_t>(buffer.data() + 2 * i);
}
