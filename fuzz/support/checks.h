// What the fuzz targets demand of the code under test beyond the sanitizers: a broken
// demand aborts, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

inline void Require(bool holds, const char *what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Bytes in a heap block of exactly their size, NUL-terminated when asked: AddressSanitizer
// reports any access past either end.
class ExactBytes {
  public:
    explicit ExactBytes(const std::string &bytes, bool terminated = true)
        : size_(bytes.size() + (terminated ? 1 : 0)), bytes_(new char[size_]) {
        std::memcpy(bytes_.get(), bytes.data(), bytes.size());
        if (terminated) {
            bytes_[bytes.size()] = '\0';
        }
    }
    char *Data() { return bytes_.get(); }
    std::size_t Size() const { return size_; }

  private:
    std::size_t size_;
    std::unique_ptr<char[]> bytes_;
};

// A buffer of size bytes between two runs of guard bytes in one heap block. The code under
// test may write the buffer and nothing else: Intact() tells whether the guards still hold
// their pattern, and AddressSanitizer reports anything beyond them.
class GuardedBuffer {
  public:
    static constexpr std::size_t kGuard = 64;
    static constexpr unsigned char kGuardByte = 0xA5;

    GuardedBuffer(std::size_t size, unsigned char fill)
        : size_(size), block_(new unsigned char[kGuard + size + kGuard]) {
        std::memset(block_.get(), kGuardByte, kGuard);
        std::memset(block_.get() + kGuard, fill, size);
        std::memset(block_.get() + kGuard + size, kGuardByte, kGuard);
    }
    unsigned char *Data() { return block_.get() + kGuard; }
    const unsigned char *Data() const { return block_.get() + kGuard; }
    std::size_t Size() const { return size_; }
    bool Intact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (block_[i] != kGuardByte || block_[kGuard + size_ + i] != kGuardByte) {
                return false;
            }
        }
        return true;
    }

  private:
    std::size_t size_;
    std::unique_ptr<unsigned char[]> block_;
};
