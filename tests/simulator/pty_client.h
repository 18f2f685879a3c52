// A plain termios client of the simulator's line: opens a path as a raw 9600 8N1 port, as a
// driver would, and reads replies with time limits.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim_test {

using namespace std::chrono_literals;

inline constexpr char kEtx = '\x03';

class PtyClient {
  public:
    explicit PtyClient(const std::string &path);
    ~PtyClient();
    PtyClient(const PtyClient &) = delete;
    PtyClient &operator=(const PtyClient &) = delete;

    void Send(std::string_view bytes);
    // Reads until the terminator has arrived or the timeout has run out.
    std::string ReadUntil(char terminator, std::chrono::milliseconds timeout = 10000ms);
    // Reads as ReadUntil does and records when each byte was taken off the line.
    std::string ReadTimed(char terminator, std::chrono::milliseconds timeout,
                          std::vector<std::chrono::steady_clock::time_point> &arrivals);
    // Everything that arrives within the window.
    std::string ReadFor(std::chrono::milliseconds window);
    std::string Ask(std::string_view request, char terminator = kEtx) {
        Send(request);
        return ReadUntil(terminator);
    }
    // True once the line reports a hang-up (end of file, EIO or POLLHUP) within the timeout.
    bool SeesHangUp(std::chrono::milliseconds timeout);

  private:
    int fd_;
};

// Polls until the condition holds or the timeout runs out.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace sim_test
