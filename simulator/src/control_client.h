// "em1sim ctl SOCKET COMMAND...": sends one command to a running simulator's control socket
// and prints its answer.
#pragma once

namespace em1sim {

// Exit status: 0 for an answer that is not an error, 1 otherwise.
int RunControlClient(int argc, char **argv);

} // namespace em1sim
