// The fuzzer's input read from its front: fixed fields first, free bytes last. A field
// that runs past the end of the input reads as zeros, so every input is a valid one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return Raw<std::uint8_t>(); }
    // A byte as a number from -128 to 127.
    std::int32_t SignedByte() {
        const std::uint8_t byte = Byte();
        return byte < 0x80 ? byte : byte - 0x100;
    }
    // The bit pattern of a T taken from the next sizeof(T) bytes.
    template <typename T> T Raw() {
        unsigned char bytes[sizeof(T)] = {};
        const std::size_t n = std::min(sizeof(T), Left());
        if (n > 0) {
            std::memcpy(bytes, data_ + used_, n);
        }
        used_ += n;
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    // At most n of the next bytes.
    std::string Bytes(std::size_t n) {
        const std::size_t take = std::min(n, Left());
        std::string bytes(reinterpret_cast<const char *>(data_ + used_), take);
        used_ += take;
        return bytes;
    }
    // Bytes preceded by their length: a 16-bit count, cut to at most limit.
    std::string Counted(std::size_t limit) {
        return Bytes(std::min<std::size_t>(Raw<std::uint16_t>(), limit));
    }
    std::string Rest(std::size_t limit) { return Bytes(limit); }
    std::size_t Left() const { return size_ - used_; }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t used_ = 0;
};
