// The protocol's floor: the driver's exchange done with bare system calls and nothing else,
// on a raw 9600 8N1 port. A check of the input queue, the request's write, 200 ms, one-byte
// reads up to the terminator, 50 ms and a check of the queue: what any implementation of the
// protocol has to spend.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bench {

inline constexpr std::size_t kReplyLimit = 591;
inline constexpr char kEtx = '\x03';

class BareLine {
  public:
    // Opens path as a raw port; throws std::system_error.
    explicit BareLine(const std::string &path);
    ~BareLine();
    BareLine(const BareLine &) = delete;
    BareLine &operator=(const BareLine &) = delete;

    // One exchange with the protocol's pauses; the reply, empty when nothing arrived within a
    // second of the pause after the request.
    std::string Exchange(std::string_view request, char terminator);
    // The same without the pauses, to fetch a reply.
    std::string Ask(std::string_view request, char terminator);

  private:
    void DiscardWaiting() const;
    std::string ReadReply(char terminator) const;

    int fd_;
};

} // namespace bench
