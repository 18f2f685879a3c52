// How many descriptors this process has open, counted in /proc/self/fd: tests compare the
// count before and after, so a leaked or closed descriptor shows.
#pragma once

#include <cstddef>
#include <filesystem>

inline std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}
