// Where a control socket lives. A name without "/" is a socket in the user's runtime
// directory ($XDG_RUNTIME_DIR, or a private /tmp/em1sim-UID when that is not set); any other
// path is used as it stands. The server and the ctl client resolve names the same way.
#pragma once

#include <string>

namespace em1sim {

std::string ControlSocketPath(const std::string &given);

// Makes sure the socket's directory keeps others out: it must belong to this user and not
// be writable by others. The private fallback directory is created (mode 0700) when missing.
// Throws std::runtime_error naming the directory and the reason.
void CheckControlDirectory(const std::string &socketPath);

} // namespace em1sim
