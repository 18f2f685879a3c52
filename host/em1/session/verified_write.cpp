#include "verified_write.h"

#include "item_reads.h"
#include "line_trace.h"
#include "vocabulary.h"

#include <algorithm>

namespace {

bool SentAnything(const std::vector<LineEvent> &events) {
    return std::any_of(events.begin(), events.end(), [](const LineEvent &event) {
        return event.kind == LineEvent::Kind::kSent && !event.bytes.empty();
    });
}

WriteOutcome Judge(const WriteReport &report, bool sent) {
    if (report.result == EM_OK) {
        return WriteOutcome::kWritten;
    }
    if (!sent) {
        return WriteOutcome::kNotSent;
    }
    if (report.result == EM_REFUSED && report.reply && report.reply->starts_with(kRefusalMark)) {
        return WriteOutcome::kRefused;
    }
    return WriteOutcome::kUnconfirmed;
}

} // namespace

bool HoldsValue(const WriteValue &value, const ItemResult &read) {
    if (read.problem) {
        return false;
    }
    if (value.number && read.shown.carried) {
        return *value.number == read.shown.value;
    }
    if (value.number) {
        return static_cast<float>(*value.number) == static_cast<float>(read.shown.value);
    }
    return SameIgnoringCase(value.text, read.shown.text);
}

WriteReport WriteVerified(Instance &instance, const Item &item, const WriteValue &value,
                          bool verify) {
    WriteReport report;
    Cell cell = value.cell;
    Item writing = item;
    writing.dataType = value.dataType;
    ItemRequest request = writing.SingleRequest(cell.data());
    report.result = instance.Call(EM_CMD_SINGLE_WRITE, &request);
    const std::vector<LineEvent> events = instance.LastLine();
    const bool sent = SentAnything(events);
    if (sent) {
        std::string carried;
        std::string reply;
        ReplyToLastRequest(events, carried, reply);
        // The first request is the write itself; a confirmation "Y" may follow it.
        for (const auto &event : events) {
            if (event.kind == LineEvent::Kind::kSent) {
                carried = event.bytes;
                break;
            }
        }
        if (!carried.empty() && carried.back() == '\r') {
            carried.pop_back();
        }
        report.sent = carried;
        if (!reply.empty()) {
            report.reply = reply;
        }
        if (std::string foreign = ForeignRepliesToLastRequest(events); !foreign.empty()) {
            report.foreign = std::move(foreign);
        }
    }
    report.lineFailed = PortFailed(events);
    report.outcome = Judge(report, sent);
    const bool readable = item.itemClass != EM_CLASS_SPECIAL;
    if (verify && readable && report.outcome != WriteOutcome::kNotSent && !report.lineFailed) {
        report.readBack = ReadItem(instance, item);
        report.held = HoldsValue(value, *report.readBack);
        if (!report.held) {
            // A late reply to an earlier read of the same item names the item as the read-back's
            // own reply does, and can come in its place with the value from before the write. A
            // second read, once that reply has been taken, settles what the instrument holds.
            report.readBack = ReadItem(instance, item);
            report.held = HoldsValue(value, *report.readBack);
        }
        if (report.outcome == WriteOutcome::kWritten && !report.readBack->problem && !report.held) {
            report.outcome = WriteOutcome::kInexact;
        }
    }
    return report;
}

std::string WhyUnconfirmed(const WriteReport &report) {
    if (report.lineFailed) {
        return "the line failed after the request was sent (a hang-up or a vanished device)";
    }
    if (report.result == EM_REFUSED && report.reply) {
        return "the reply \"" + Escaped(*report.reply) + "\" is not an acknowledgement";
    }
    if (report.result == EM_REFUSED) {
        return "the driver reports a refusal, and the line's account is not at hand";
    }
    if (report.result == EM_COMM_FAILURE && !report.reply && report.foreign) {
        return "the reply \"" + Escaped(*report.foreign) +
               "\" answers another request, and no reply to this one came within the reply "
               "timeout";
    }
    if (report.result == EM_COMM_FAILURE && !report.reply) {
        return "no reply came within the reply timeout";
    }
    return "the confirmation exchange failed";
}
