#include "progress.h"

#include <chrono>
#include <cstdio>
#include <future>

namespace {
constexpr std::chrono::milliseconds kRedrawPeriod{100};
}

std::int32_t RunWithProgress(const std::string &what, bool show,
                             const std::function<std::int32_t()> &work) {
    if (!show) {
        return work();
    }
    const auto started = std::chrono::steady_clock::now();
    auto result = std::async(std::launch::async, work);
    while (result.wait_for(kRedrawPeriod) != std::future_status::ready) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        std::fprintf(stderr, "\rem1: %s, %.1f s\033[K", what.c_str(), elapsed.count());
        std::fflush(stderr);
    }
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    return result.get();
}
