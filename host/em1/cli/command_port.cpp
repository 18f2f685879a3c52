// start, open, close and reopen: the instance and its port.
#include "commands.h"
#include "line_text.h"
#include "port_name.h"

#include <cstdio>

namespace {

// The instance's state after a call; after a failed one only whether the port is open, as
// the adapter's state is then from before.
void Report(const char *operation, std::int32_t result, Instance &instance) {
    const std::string state = result == EM_OK       ? StateInWords(instance.State())
                              : instance.PortOpen() ? "failed; the port is still open"
                                                    : "failed; no port open";
    std::printf("%-10s result %d: %s\n", operation, result, state.c_str());
    std::fflush(stdout);
}

const char *StartedBy(const StartOptions &options) {
    if (options.noStart) {
        return "OpenPort";
    }
    return UsesStartupLines(options.port) ? "ColdStart" : "WarmStart";
}

// Starts the instance as the options say and reports how.
StartOptions StartReported(Instance &instance, Context &context) {
    StartOptions options = StartOptionsOf(context);
    StartInstance(instance, options);
    Report(StartedBy(options), EM_OK, instance);
    return options;
}

} // namespace

ExitStatus RunStart(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    StartReported(instance, context);
    return ExitStatus::kOk;
}

ExitStatus RunOpen(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    const StartOptions options = StartReported(instance, context);
    const std::int32_t closed = instance.Call(EM_CMD_CLOSE_PORT);
    Report("ClosePort", closed, instance);
    const std::int32_t opened = instance.Call(EM_CMD_OPEN_PORT);
    Report("OpenPort", opened, instance);
    if (opened != EM_OK) {
        ThrowPortFailure("OpenPort", options.port.name, options.line);
    }
    return closed == EM_OK ? ExitStatus::kOk : ExitStatusOf(FailureKind::kPortUnavailable);
}

ExitStatus RunClose(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    const StartOptions options = StartReported(instance, context);
    const std::int32_t closed = instance.Call(EM_CMD_CLOSE_PORT);
    Report("ClosePort", closed, instance);
    if (closed != EM_OK) {
        throw Failure(FailureKind::kPortUnavailable,
                      "ClosePort: the platform refused to close " + options.port.name);
    }
    return ExitStatus::kOk;
}

ExitStatus RunReopen(Context &context) {
    const std::string name = context.line.operands.empty()
                                 ? context.line.port.name
                                 : FitPortName("reopen", context.line.operands.front());
    Instance instance(context.driver, *context.trace, context.echo);
    const StartOptions options = StartReported(instance, context);
    if (name == options.port.name && instance.PortOpen()) {
        // ReopenPort closes the old port only for a new name; the same port, still open,
        // would refuse a second open.
        Report("ClosePort", instance.Call(EM_CMD_CLOSE_PORT), instance);
    }
    ReopenPortParameters parameters{};
    name.copy(parameters.portName, sizeof parameters.portName - 1);
    parameters.replyTimeout = options.port.replyTimeout;
    parameters.line = options.line;
    const std::int32_t reopened = instance.Call(EM_CMD_REOPEN_PORT, &parameters);
    Report("ReopenPort", reopened, instance);
    if (reopened != EM_OK) {
        ThrowPortFailure("ReopenPort", name, options.line);
    }
    return ExitStatus::kOk;
}
