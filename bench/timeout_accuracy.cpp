#include "timeout_accuracy.h"

#include "serial/serial.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace bench {
namespace {

// A pseudo-terminal whose master stays open and silent.
class SilentLine {
  public:
    SilentLine() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        char name[PATH_MAX];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("no pseudo-terminal for the silent line");
        path_ = name;
    }
    ~SilentLine() { ::close(master_); }
    SilentLine(const SilentLine &) = delete;
    SilentLine &operator=(const SilentLine &) = delete;

    const std::string &Path() const { return path_; }

  private:
    int master_;
    std::string path_;
};

// The line as the driver opens a port: the settings a ColdStart gives it.
class Port {
  public:
    explicit Port(const std::string &path);
    ~Port() { SerialClose(handle_); }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    SerialHandle Handle() const { return handle_; }

  private:
    SerialHandle handle_ = 0;
};

Port::Port(const std::string &path) {
    PortSettings settings{};
    if (path.size() >= sizeof settings.portName)
        throw std::runtime_error("the silent line's name " + path + " is too long for a port");
    path.copy(settings.portName, sizeof settings.portName - 1);
    settings.line = LineSettings{9600, 8, 0, 0};
    settings.openFlags = EM_OPEN_RTS_ON;
    if (SerialOpen(settings, handle_) != SerialResult::kOk)
        throw std::runtime_error("cannot open the silent line " + path);
}

double SilentReadMs(SerialHandle port) {
    unsigned char byte = 0;
    std::uint32_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    const SerialResult result = SerialRead(port, &byte, 1, &got);
    const auto end = std::chrono::steady_clock::now();
    if (result != SerialResult::kIoFailed || got != 0)
        throw std::runtime_error("a read on the silent line did not time out");
    return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace

std::vector<TimeoutSamples> TimeSilentReads(const std::vector<int> &timeoutsMs,
                                            const std::vector<int> &samples) {
    const SilentLine line;
    const Port port(line.Path());
    std::vector<TimeoutSamples> results;
    for (std::size_t t = 0; t < timeoutsMs.size(); ++t) {
        std::fprintf(stderr, "timing %d silent reads of %d ms\n", samples[t], timeoutsMs[t]);
        SerialSetReadTimeout(port.Handle(), timeoutsMs[t] / 10);
        TimeoutSamples result{timeoutsMs[t], {}};
        for (int i = 0; i < samples[t]; ++i)
            result.overshootMs.push_back(SilentReadMs(port.Handle()) - timeoutsMs[t]);
        results.push_back(std::move(result));
    }
    return results;
}

} // namespace bench
