// The em1sim program as a separate process, the way an instrument is a separate machine: it
// answers on a pseudo-terminal of its own until this object ends it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class SimulatorProcess {
  public:
    // Starts program with arguments and waits for the slave path it prints first; throws
    // std::runtime_error when it does not start.
    SimulatorProcess(const std::string &program, std::vector<std::string> arguments);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // "/dev/pts/N"
    const std::string &SlavePath() const { return slavePath_; }
    // The name a host gives the driver: "pts/N".
    std::string PortName() const;

  private:
    void Stop();

    pid_t pid_ = -1;
    std::string slavePath_;
};

} // namespace bench
