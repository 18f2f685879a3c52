// Runs a program to its end and keeps what it wrote: standard output and standard error
// apart, its exit status and how long it ran. Standard error can be a pseudo-terminal, for
// output that a program writes only to a terminal.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ProgramRun {
    int status = -1; // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
    std::chrono::duration<double> elapsed{};
};

struct ProgramOptions {
    std::vector<std::string> environment; // NAME=VALUE added to this process's environment
    std::vector<std::string> unset;       // names removed from it
    bool errorOnTerminal = false;         // standard error is a pseudo-terminal
};

ProgramRun RunProgram(const std::string &path, const std::vector<std::string> &arguments,
                      const ProgramOptions &options = {});
