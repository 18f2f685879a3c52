// The line trace's reader on any line, and the writer and reader together on any bytes and
// port name.
//
// Input: one byte picks the check. Reading: the rest is a line, in a heap block of exactly its
// size; whatever the reader takes must be the one form the writer gives (its bytes escaped
// again give the same text, its fields make the line again). Round trip: one byte the tag, a
// counted port name of up to 11 bytes, and the rest the bytes of a run; the line written must
// read back as that tag, port and bytes.
#include "checks.h"
#include "fuzz_input.h"

#include "serial/byte_escape.h"
#include "serial/trace_grammar.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kLongestName = 11;

std::string EscapedAgain(const std::vector<unsigned char> &bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char shown[kEscapeMax];
        text.append(shown, EscapeByte(bytes[i], shown));
    }
    return text;
}

std::string_view TagWord(TraceTag tag) {
    switch (tag) {
    case TraceTag::kSent:
        return "TX";
    case TraceTag::kReceived:
        return "RX";
    case TraceTag::kPurged:
        return "PURGED";
    default:
        return "--";
    }
}

void CheckReading(const std::string &text) {
    ExactBytes line(text, false);
    const std::string_view view(line.Data(), line.Size());
    unsigned version = 0;
    TraceEntry entry;
    switch (ReadTraceLine(view, version, entry)) {
    case TraceLineKind::kVersion:
        Require(view == std::string(kTraceVersionPrefix) + std::to_string(version),
                "a version line is the prefix and its number");
        return;
    case TraceLineKind::kMalformed:
        return;
    default:
        break;
    }
    const bool bytes = entry.tag != TraceTag::kEvent;
    const std::string rebuilt = std::string(entry.time) + " " + std::string(entry.port) + " " +
                                std::string(TagWord(entry.tag)) + " " + (bytes ? "\"" : "") +
                                std::string(entry.text) + (bytes ? "\"" : "");
    Require(rebuilt == view, "the fields of a line make the line again");
    if (!bytes) {
        return;
    }
    std::vector<unsigned char> unescaped(entry.text.size());
    std::size_t count = 0;
    Require(UnescapeTraceText(entry.text, unescaped.data(), count), "a line taken unescapes");
    Require(count <= entry.text.size(), "no more bytes than characters");
    Require(EscapedAgain(unescaped, count) == entry.text, "the bytes have one text only");
}

void CheckRoundTrip(FuzzInput &input) {
    const auto tag = static_cast<TraceTag>(input.Byte() % 3);
    std::string name = input.Counted(kLongestName);
    name = name.substr(0, name.find('\0'));
    const std::string run = input.Rest(kTraceRunMax);
    TraceLine written{};
    FormatTraceBytes(written, 1735689600123, name.c_str(), tag,
                     reinterpret_cast<const unsigned char *>(run.data()), run.size());
    Require(written.length > 0 && written.text[written.length - 1] == '\n', "a whole line");
    const std::string_view line(written.text, written.length - 1);
    unsigned version = 0;
    TraceEntry entry;
    Require(ReadTraceLine(line, version, entry) == TraceLineKind::kEntry, "a written line reads");
    Require(entry.tag == tag, "the tag reads back");
    Require(TracePortIs(entry.port, name.c_str()), "the port name reads back");
    std::vector<unsigned char> bytes(entry.text.size());
    std::size_t count = 0;
    Require(UnescapeTraceText(entry.text, bytes.data(), count) &&
                std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count)) ==
                    run,
            "the bytes read back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput input(data, size);
    if (input.Byte() % 2 == 0) {
        CheckReading(input.Rest(size));
    } else {
        CheckRoundTrip(input);
    }
    return 0;
}
