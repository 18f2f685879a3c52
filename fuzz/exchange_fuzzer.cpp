// The exchange over any byte stream: Exchange, resetError, SingleRead and BlockRead in any
// order, while the scripted instrument delivers arbitrary bytes at arbitrary times.
//
// Input: a terminator byte (below 0x80 ETX or LF; above, that byte), a read timeout byte,
// an operation count byte and one byte per operation, a count byte and a data type byte for
// the reads, a fault byte (its low three bits a fault of the line, the rest a reply to
// another request that arrives first, ahead of the stream); then chunks of the stream, each
// a delay byte (5 ms steps after the one before), a length byte and its bytes. The first
// chunk arrives 1 ms after start.
#include "checks.h"
#include "fuzz_input.h"

#include "interface/em_driver.h"
#include "log_capture.h"
#include "scripted_line.h"
#include "serial/exchange.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kLongestStream = 4096;
constexpr std::uint64_t kDelayStepMs = 5;
constexpr std::uint64_t kPurgeReadMs = 50; // one drain read of the purge
constexpr std::size_t kPurgeChunk = 512;
constexpr std::uint64_t kAfterReplyMs = 250; // the pauses of one exchange
constexpr std::uint64_t kResetWaitMs = 5000; // the longest wait of resetError
constexpr std::uint64_t kAfterFailedReadMs = 1000;
constexpr std::size_t kResetLimit = 590;
constexpr int kCounts = 122; // -1 to 120

struct Item {
    const char *address;
    std::int32_t itemClass;
};
constexpr std::array<Item, 16> kItems = {{
    {"L01S1", 'L'},
    {"M12X0", 'M'},
    {"A07", 'A'},
    {"NL", 'G'},
    {"NM", 'G'},
    {"NA", 'G'},
    {"S?", 'G'},
    {"XS0", 'G'},
    {"INIT", 'G'},
    {"DISP", 'G'},
    {"SX", 'G'},
    {"L02V3", 'L'},
    {"L01M0", 'L'},
    {"L01X0", 'L'},
    {"B01", 'B'},
    {"L99S0", 'L'},
}};
constexpr std::array<const char *, 8> kRequests = {"L01S?\r", "SL?\r", "SA?\r", "XC\r",
                                                   "S?\r",    "Y\r",   "",      "L01P=OFF\r"};

// Replies that name a request, which arrive ahead of the stream; each answers no request of
// kRequests but the one named beside it.
struct ForeignReply {
    const char *bytes;
    const char *answers;
};
constexpr std::array<ForeignReply, 4> kForeignReplies = {{
    {"L02S=202.5\r\x03", ""},
    {"L02P? 45.0 Y/N\r\n", ""},
    {"ALERTS 1\r\nCC\r\n\x03", "SA?\r"},
    {"DLSV%X ***\r\n", ""},
}};
constexpr std::uint8_t kLineFaults = 8;
// Enough of a reply's start to know what it names.
constexpr std::size_t kJudgedBytes = 32;
// Bytes one exchange may read: a whole reply, and as much of replies to other requests, whose
// start is read before it is known to be foreign.
constexpr std::uint64_t kExchangeReads = 2 * std::uint64_t{kReplyLimit} + 64;

enum class Operation { kExchange, kReset, kSingleRead, kBlockRead };

struct Stream {
    std::string bytes;
    bool atOnce = true; // every chunk arrives 1 ms after start
};

Stream Deliver(FuzzInput &input, ScriptedLine &line, const ForeignReply *foreign) {
    Stream stream;
    std::uint64_t at = 1;
    if (foreign != nullptr) {
        line.Arrive(foreign->bytes, at);
    }
    while (input.Left() > 0 && stream.bytes.size() < kLongestStream) {
        const std::uint8_t delay = input.Byte();
        at += delay * kDelayStepMs;
        stream.atOnce = stream.atOnce && delay == 0;
        const std::string chunk = input.Bytes(input.Byte());
        line.Arrive(chunk, at);
        stream.bytes += chunk;
    }
    return stream;
}

std::uint8_t TerminatorFrom(std::uint8_t byte) {
    if (byte < 0x80) {
        return (byte & 1) != 0 ? kLineFeed : kEtx;
    }
    return byte;
}

// The reply of an exchange that finds the whole stream waiting: up to the first terminator,
// or the first 591 bytes.
void CheckExchangeOfStream(const std::string &stream, std::uint8_t terminator,
                           ExchangeResult result, const char (&reply)[kReplyBufferSize]) {
    const std::size_t end = stream.find(static_cast<char>(terminator));
    if (end != std::string::npos && end < kReplyLimit) {
        Require(result == ExchangeResult::kOk && std::memcmp(reply, stream.data(), end + 1) == 0 &&
                    reply[end + 1] == '\0',
                "a reply ends at its terminator");
        return;
    }
    if (stream.size() < kReplyLimit) {
        Require(result == ExchangeResult::kIoFailed &&
                    std::memcmp(reply, stream.data(), stream.size()) == 0 &&
                    reply[stream.size()] == '\0',
                "a reply that stops short fails with 7 and keeps its bytes");
        return;
    }
    Require(result ==
                (stream[kReplyLimit - 1] == '\r' ? ExchangeResult::kOk : ExchangeResult::kOverflow),
            "591 bytes without terminator give 255, unless the last is CR");
    Require(std::memcmp(reply, stream.data(), kReplyLimit) == 0 && reply[kReplyLimit] == '\0',
            "a full reply keeps its 591 bytes");
}

void CheckResetOfStream(const std::string &stream, int result) {
    const std::string area = stream.substr(0, kResetLimit);
    const bool ready = std::string_view(area.c_str()).find("***\r") != std::string_view::npos;
    Require(result == (ready ? 0 : 2), "resetError succeeds exactly on ***\\r in its answer");
}

class Run {
  public:
    Run(FuzzInput &input, ScriptedLine &line) : line_(line) {
        state_.replyTerminator = TerminatorFrom(input.Byte());
        timeoutUnits_ = 1 + input.Byte() % 50;
        const int operations = 1 + input.Byte() % 4;
        for (int i = 0; i < operations; ++i) {
            plan_.push_back(input.Byte());
        }
        count_ = input.Byte() % kCounts - 1;
        dataType_ = input.SignedByte();
        fault_ = input.Byte();
        const std::size_t ahead = (fault_ / kLineFaults) % (kForeignReplies.size() + 1);
        foreign_ = ahead == 0 ? nullptr : &kForeignReplies[ahead - 1];
    }

    const ForeignReply *Foreign() const { return foreign_; }

    void Open() {
        PortSettings port{};
        std::strcpy(port.portName, "ttyS0");
        Require(line_.Open(port, state_.portHandle) == SerialResult::kOk,
                "the scripted port opens");
        line_.SetReadTimeout(state_.portHandle, timeoutUnits_);
        switch (fault_ % kLineFaults) {
        case 1:
            line_.FailNextWrite();
            break;
        case 2:
            line_.FailNextRead();
            break;
        default:
            break;
        }
    }

    void Perform(const Stream &stream) {
        const std::uint64_t purgeMs = kPurgeReadMs * (stream.bytes.size() / kPurgeChunk + 2);
        const std::uint64_t exchangeMs =
            kAfterReplyMs + kExchangeReads * 10 * static_cast<std::uint64_t>(timeoutUnits_) +
            2 * purgeMs;
        const std::string arrived = (foreign_ != nullptr ? foreign_->bytes : "") + stream.bytes;
        const std::uint64_t resetMs = kResetWaitMs + purgeMs;
        bool first = true;
        for (const std::uint8_t step : plan_) {
            const std::uint64_t start = line_.Now();
            const bool exact = first && stream.atOnce && fault_ % kLineFaults == 0;
            switch (static_cast<Operation>(step & 3)) {
            case Operation::kExchange:
                PerformExchange(step, stream, exact);
                Require(line_.Now() - start <= exchangeMs, "an exchange ends within its bound");
                break;
            case Operation::kReset: {
                const int result = resetError(Call(EM_CMD_ANSWER_ONE, nullptr));
                Require(result == 0 || result == 2, "resetError gives 0 or 2");
                if (exact) {
                    CheckResetOfStream(arrived, result);
                }
                Require(line_.Now() - start <= resetMs, "resetError ends within its bound");
                break;
            }
            default:
                PerformRead(step);
                Require(line_.Now() - start <= exchangeMs + kAfterFailedReadMs + resetMs,
                        "a read ends within its bound");
                break;
            }
            first = false;
        }
    }

  private:
    DriverCall Call(std::int32_t command, void *parameters) {
        return DriverCall{&state_, command, 7, 0, parameters};
    }

    void PerformExchange(std::uint8_t step, const Stream &stream, bool exact) {
        char reply[kReplyBufferSize];
        std::memset(reply, 0x7F, sizeof reply);
        ExactBytes request(kRequests[(step >> 2) % kRequests.size()]);
        const ExchangeResult result =
            Exchange(Call(EM_CMD_ANSWER_ONE, nullptr), request.Data(), reply);
        const int code = static_cast<int>(result);
        Require(code == 0 || code == 2 || code == 7 || code == 255,
                "Exchange gives 0, 2, 7 or 255");
        Require(std::memchr(reply, '\0', sizeof reply) != nullptr, "every reply is terminated");
        if (exact) {
            CheckExactly(request.Data(), stream.bytes, result, reply);
        }
    }

    // A read's reply that names its item and meets a line feed before its terminator is a
    // write's acknowledgement of that item: it is thrown away and the read goes on.
    static bool ReadsAsAcknowledgement(const ReplySubjects &expected, std::uint8_t terminator,
                                       const std::string &stream) {
        if (!expected.oneLine || terminator == '\n') {
            return false;
        }
        const Subject &item = expected.accepted[0];
        const std::size_t lineFeed = stream.find('\n');
        const std::size_t end = stream.find(static_cast<char>(terminator));
        return stream.starts_with(std::string_view(item.text, item.length)) &&
               lineFeed != std::string::npos && lineFeed < kReplyLimit && lineFeed < end;
    }

    // The stream read as a reply, when its start answers this request or names none; a
    // reply to another request ahead of it is thrown away first, with its log line.
    void CheckExactly(const char *request, const std::string &stream, ExchangeResult result,
                      const char (&reply)[kReplyBufferSize]) {
        const ReplySubjects expected = SubjectsOfRequest(request);
        const std::size_t judged = std::min<std::size_t>(stream.size(), kJudgedBytes);
        if (JudgeReplyStart(stream.data(), judged, expected).verdict == StartVerdict::kForeign ||
            (foreign_ != nullptr && std::string_view(request) == foreign_->answers) ||
            ReadsAsAcknowledgement(expected, state_.replyTerminator, stream)) {
            return;
        }
        if (foreign_ != nullptr) {
            Require(!CapturedLog().empty() && CapturedLog().front().level == 64 &&
                        CapturedLog().front().text.starts_with(
                            "ZEL7: EM: ReadReply(): discarded the reply to another request: "),
                    "a reply to another request is thrown away with its log line");
        }
        CheckExchangeOfStream(stream, state_.replyTerminator, result, reply);
    }

    void PerformRead(std::uint8_t step) {
        const Item &item = kItems[(step >> 2) % kItems.size()];
        const std::size_t bytes = count_ >= 2 ? 2 * static_cast<std::size_t>(count_) : 4;
        GuardedBuffer values(bytes, 0xEE);
        ExactBytes address(item.address);
        ItemRequest request{};
        request.address = address.Data();
        request.itemClass = item.itemClass;
        request.index = 7;
        request.dataType = dataType_;
        request.count = count_;
        request.values = values.Data();
        const std::int32_t command = static_cast<Operation>(step & 3) == Operation::kSingleRead
                                         ? EM_CMD_SINGLE_READ
                                         : EM_CMD_BLOCK_READ;
        const DriverCall call = Call(command, &request);
        const std::int32_t result = ZelMain(&call);
        Require(result == 0 || result == 1 || result == 2, "a read gives 0, 1 or 2");
        Require(values.Intact(), "a read writes only its value buffer");
    }

    ScriptedLine &line_;
    DriverState state_{};
    std::int32_t timeoutUnits_ = 1;
    std::vector<std::uint8_t> plan_;
    std::int32_t count_ = 1;
    std::int32_t dataType_ = 0;
    std::uint8_t fault_ = 0;
    const ForeignReply *foreign_ = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    ScriptedLine &line = ScriptedLine::Instance();
    line.Reset();
    ClearCapturedLog();
    FuzzInput input(data, size);
    Run run(input, line);
    run.Open();
    const Stream stream = Deliver(input, line, run.Foreign());
    run.Perform(stream);
    return 0;
}
