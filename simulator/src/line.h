// The simulator's end of the serial line: the master of a pseudo-terminal it creates, or a
// real serial device. A line can be hung up and opened again.
//
// On a pseudo-terminal the simulator keeps a descriptor of the slave open itself, so a peer
// that closes and reopens the slave never leaves the master hung up. Opening again after a
// hang-up creates a new pseudo-terminal, whose slave path differs from the old one while a
// peer still holds the old slave open; the optional link is moved to it, so peers that use
// the link keep one stable name.
//
// The link is this process's alone while the line lives: a second simulator asking for the
// same link is refused. The link replaces nothing but a link to a pseudo-terminal that an
// ended simulator left behind, and it is removed at the end only while it is still the one
// this line made. While the line is down the link is gone, as a device
// file is while its device is unplugged.
#pragma once

#include "line_settings.h"
#include "path_claim.h"

#include <cstddef>
#include <optional>
#include <string>

namespace em1sim {

class Line {
  public:
    // A fresh pseudo-terminal; link (if not empty) becomes a symbolic link to its slave.
    // Throws std::runtime_error when the link is in use or something else is in its place.
    static Line PseudoTerminal(std::string link);
    // A serial device, opened with the given settings.
    static Line Device(std::string path, LineSettings settings);

    Line(Line &&other) noexcept;
    Line &operator=(Line &&other) = delete;
    Line(const Line &) = delete;
    ~Line();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The path a peer opens: the pseudo-terminal's slave, or the device.
    const std::string &PeerPath() const { return peerPath_; }

    // Bytes sent that the peer has not taken yet: on a pseudo-terminal those waiting in the
    // slave's input, on a device those still in the output queue; 0 when closed.
    std::size_t Unread() const;

    void Close();
    // Opens the line again after Close(); throws std::system_error or std::runtime_error on
    // failure, and leaves the line closed.
    void Open();

  private:
    Line(std::string link, std::optional<std::string> device, LineSettings settings);
    void OpenPseudoTerminal();
    void OpenDevice();
    void UpdateLink();
    void RemoveLink() const;

    std::string link_;
    std::optional<PathClaim> linkClaim_;
    std::string linkTarget_; // what the link points at, once this line has made it
    std::optional<std::string> device_;
    LineSettings settings_;
    int fd_ = -1;
    int slaveFd_ = -1;
    std::string peerPath_;
};

} // namespace em1sim
