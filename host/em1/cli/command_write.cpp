// write: one value to one item, read back unless --no-verify, and reported as the line and
// the instrument tell it.
#include "commands.h"
#include "item_reads.h"
#include "line_recovery.h"
#include "verified_write.h"
#include "write_value.h"

#include <cstdio>
#include <thread>

namespace {

// How long a write whose line failed waits for the port to come back for its read-back.
constexpr std::chrono::seconds kReadBackPatience{5};

std::string Carried(const WriteReport &report) {
    return report.sent ? "the line carried " + *report.sent : "the line's text is not known";
}

std::string Held(const WriteReport &report) {
    if (!report.readBack) {
        return "";
    }
    if (report.readBack->problem) {
        return "; the read-back failed: " + report.readBack->problem->message;
    }
    return "; it reads back as " + report.readBack->shown.text;
}

// After a hang-up the port is opened again, so that the read-back can tell what happened.
void ReadBackAfterOutage(Instance &instance, const Item &item, const WriteValue &value,
                         const StartOptions &options, WriteReport &report) {
    const auto deadline = std::chrono::steady_clock::now() + kReadBackPatience;
    const auto wait = [](std::chrono::milliseconds pause) {
        std::this_thread::sleep_for(pause);
        return true;
    };
    if (RecoverLine(instance, options, deadline, wait)) {
        report.readBack = ReadItem(instance, item);
        report.held = HoldsValue(value, *report.readBack);
    }
}

ExitStatus ReportWritten(const Item &item, const WriteValue &value, const WriteReport &report,
                         bool verify) {
    const std::string head = item.address + " = " + value.text;
    if (!verify || !report.readBack) {
        std::printf("%s written: %s and the instrument acknowledged it\n", head.c_str(),
                    Carried(report).c_str());
        return ExitStatus::kOk;
    }
    std::printf("%s written: %s%s\n", head.c_str(), Carried(report).c_str(), Held(report).c_str());
    if (report.readBack->problem) {
        return ExitStatusOf(report.readBack->problem->kind);
    }
    return ExitStatus::kOk;
}

// Tells how a write that was not written failed, on standard error.
ExitStatus ReportFailed(const Item &item, const WriteValue &value, const WriteReport &report) {
    const std::string head = item.address + " = " + value.text + ": ";
    const std::string code = " (SingleWrite result " + std::to_string(report.result);
    switch (report.outcome) {
    case WriteOutcome::kInexact:
        std::fprintf(stderr,
                     "em1: %sinexact: acknowledged, but the instrument holds %s, not %s (%s)\n",
                     head.c_str(), report.readBack->shown.text.c_str(), value.text.c_str(),
                     Carried(report).c_str());
        break;
    case WriteOutcome::kRefused:
        std::fprintf(stderr, "em1: %srefused by the instrument%s: %s, the reply was \"%s\")%s\n",
                     head.c_str(), code.c_str(), Carried(report).c_str(),
                     Escaped(report.reply.value_or("")).c_str(), Held(report).c_str());
        break;
    case WriteOutcome::kNotSent:
        std::fprintf(stderr, "em1: %snot written: nothing reached the line%s)\n", head.c_str(),
                     code.c_str());
        break;
    default:
        std::fprintf(stderr, "em1: %sunconfirmed: it may have been applied%s: %s; %s)%s\n",
                     head.c_str(), code.c_str(), WhyUnconfirmed(report).c_str(),
                     Carried(report).c_str(), Held(report).c_str());
        break;
    }
    return ExitStatusOf(report.outcome);
}

} // namespace

ExitStatus RunWrite(Context &context) {
    Instance instance(context.driver, *context.trace, context.echo);
    const ItemArgument argument = ParseItemArgument(context.line.operands[0]);
    const Item item = DefineOrExplain(context.driver, instance.State(), argument, "write");
    const WriteValue value =
        PrepareWrite(item, context.line.operands[1], argument.dataType.has_value());
    const StartOptions options = StartOptionsOf(context);
    StartInstance(instance, options);
    const bool verify = context.line.verify;
    WriteReport report = WriteVerified(instance, item, value, verify);
    const bool readBackLost = report.readBack && report.readBack->lineFailed;
    if (verify && (report.lineFailed || readBackLost) && item.itemClass != EM_CLASS_SPECIAL) {
        ReadBackAfterOutage(instance, item, value, options, report);
    }
    if (report.outcome == WriteOutcome::kWritten) {
        return ReportWritten(item, value, report, verify);
    }
    return ReportFailed(item, value, report);
}
