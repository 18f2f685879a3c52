#include "results.h"

#include <ctime>
#include <fstream>
#include <sys/utsname.h>
#include <thread>

namespace bench {
namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

std::string CpuModel() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.starts_with("model name")) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    return "unknown";
}

std::string Kernel() {
    utsname name{};
    if (uname(&name) != 0)
        return "unknown";
    return std::string(name.sysname) + ' ' + name.release + ' ' + name.machine;
}

} // namespace

Machine ThisMachine() {
    return Machine{UtcNow(), CpuModel(), std::thread::hardware_concurrency(), Kernel()};
}

} // namespace bench
