#include "protocol.h"

#include "number_text.h"

#include <algorithm>

namespace em1sim {
namespace {

constexpr std::string_view kAck = "***";
constexpr std::string_view kFirmware = "REV 2.14";
// The longest reply a peer is expected to take in, terminator included.
constexpr std::size_t kLongestReply = 591;

bool IsWrite(std::string_view request) {
    return request.find('=') != std::string_view::npos || request.starts_with("DL") ||
           request.starts_with("DM");
}

std::string ItemName(const Item &item) {
    return {item.type, static_cast<char>('0' + item.number / 10),
            static_cast<char>('0' + item.number % 10), item.letter};
}

Reply EtxLine(std::string_view text) {
    return Reply{std::string(text) + '\r', kEtx};
}
Reply LfLine(std::string_view text) {
    return Reply{std::string(text) + '\r', '\n'};
}

bool ValidSummary(char type, std::string_view letters) {
    const std::string_view allowed = type == 'L' ? kLoopLetters : kModuleLetters;
    return !letters.empty() && letters.size() <= allowed.size() &&
           std::ranges::all_of(letters, [&](char c) { return allowed.find(c) != allowed.npos; });
}

} // namespace

Protocol::Protocol(Instrument &instrument, ProtocolSettings settings)
    : instrument_(instrument), settings_(std::move(settings)) {}

std::optional<Reply> Protocol::Answer(std::string_view request) {
    if (request.empty())
        return std::nullopt;
    if (request != "Y" && request != "N")
        pending_.reset();
    return AnswerCommand(request);
}

std::optional<Reply> Protocol::AnswerCommand(std::string_view request) {
    if (request == "S?")
        return StatusReply();
    if (request == "SI") {
        initialised_ = true;
        return Acknowledge();
    }
    if (request == "SX") {
        instrument_.ClearAlerts();
        return Acknowledge();
    }
    if (request == "SB") {
        instrument_.Show("");
        return Acknowledge();
    }
    if (request.starts_with("SO")) {
        instrument_.Show(request.substr(2));
        return Acknowledge();
    }
    if (request == "DF") {
        loopSummary_ = "SV%X";
        moduleSummary_ = "VX";
        return Acknowledge();
    }
    if (request.starts_with("DL") || request.starts_with("DM"))
        return SummaryDefinition(request);
    if (request == "XC")
        return CountsReply();
    if (request == "SS")
        return EtxLine(std::to_string(instrument_.Alerts().size()));
    if (request == "XS0")
        return EtxLine(kFirmware);
    if (request == "SL?")
        return BlockReply('L');
    if (request == "SM?")
        return BlockReply('M');
    if (request == "SA?")
        return AlertsReply();
    if (request == "Y" || request == "N")
        return Confirm(request == "Y");
    if (request.size() >= 5 && request[4] == '=')
        return WriteItem(request);
    if (request.size() == 5 && request[4] == '?')
        return ReadItem(request);
    return Refuse(request);
}

Reply Protocol::Refuse(std::string_view request) {
    refused_ = true;
    pending_.reset();
    return Reply{"?\r", IsWrite(request) ? '\n' : kEtx};
}

Reply Protocol::Acknowledge() {
    return EtxLine(kAck);
}

Reply Protocol::StatusReply() {
    const bool ready = settings_.fastStart || initialised_ || refused_;
    refused_ = false;
    const bool error = std::ranges::any_of(instrument_.Alerts(), [](const std::string &alert) {
        return alert.find("ERROR") != std::string::npos;
    });
    return EtxLine(std::string(error ? "ERR " : "") + std::string(ready ? kAck : "NOT READY"));
}

Reply Protocol::CountsReply() const {
    return EtxLine(std::to_string(instrument_.Loops()) + ',' +
                   std::to_string(instrument_.Modules()) + ',' +
                   std::to_string(instrument_.Alerts().size()));
}

// One decimal at most, and whole numbers when that would not fit one reply.
Reply Protocol::BlockReply(char type) const {
    std::string body = BlockBody(type, 1);
    if (body.size() >= kLongestReply)
        body = BlockBody(type, 0);
    return Reply{body, kEtx};
}

std::string Protocol::BlockBody(char type, int decimals) const {
    const int count = type == 'L' ? instrument_.Loops() : instrument_.Modules();
    const std::string &letters = type == 'L' ? loopSummary_ : moduleSummary_;
    std::string body;
    for (int number = 1; number <= count; ++number) {
        body += std::to_string(number);
        for (const char letter : letters) {
            const Item item{type, number, letter};
            const auto value = instrument_.NumberOf(item);
            body += ',' + (value ? CompactNumberText(*value, decimals) : instrument_.TextOf(item));
        }
        body += "\r\n";
    }
    return body;
}

Reply Protocol::AlertsReply() const {
    std::string body = "ALERTS " + std::to_string(instrument_.Alerts().size()) + "\r\n";
    for (const auto &alert : instrument_.Alerts())
        body += alert + "\r\n";
    return Reply{body, kEtx};
}

Reply Protocol::SummaryDefinition(std::string_view request) {
    const char type = request[1] == 'L' ? 'L' : 'M';
    const std::string_view letters = request.substr(2);
    if (!ValidSummary(type, letters))
        return Refuse(request);
    (type == 'L' ? loopSummary_ : moduleSummary_) = letters;
    return LfLine(std::string(request) + ' ' + std::string(kAck));
}

std::optional<Reply> Protocol::Preview(std::string_view request) const {
    if (request == "SL?" || request == "SM?")
        return BlockReply(request[1]);
    if (request == "SA?")
        return AlertsReply();
    if (request == "XC")
        return CountsReply();
    if (request.size() == 5 && request[4] == '?')
        return ItemValue(request);
    return std::nullopt;
}

std::optional<Reply> Protocol::ItemValue(std::string_view request) const {
    const auto item = ParseItem(request.substr(0, 4));
    if (!item || instrument_.ParameterOf(*item) == nullptr)
        return std::nullopt;
    return EtxLine(ItemName(*item) + '=' + instrument_.TextOf(*item));
}

Reply Protocol::ReadItem(std::string_view request) {
    const auto value = ItemValue(request);
    return value ? *value : Refuse(request);
}

Reply Protocol::WriteItem(std::string_view request) {
    const auto item = ParseItem(request.substr(0, 4));
    const Parameter *parameter = item ? instrument_.ParameterOf(*item) : nullptr;
    if (parameter == nullptr || parameter->readOnly)
        return Refuse(request);
    const auto value = instrument_.Normalise(*item, request.substr(5));
    if (!value)
        return Refuse(request);
    if (settings_.confirmLetters.find(item->letter) != std::string::npos) {
        pending_ = PendingWrite{*item, *value};
        return LfLine(ItemName(*item) + "? " + *value + " Y/N");
    }
    instrument_.Assign(*item, *value);
    return LfLine(ItemName(*item) + '=' + instrument_.TextOf(*item) + ' ' + std::string(kAck));
}

Reply Protocol::Confirm(bool accepted) {
    if (!pending_)
        return Refuse(accepted ? "Y" : "N");
    const PendingWrite write = *pending_;
    pending_.reset();
    if (!accepted)
        return EtxLine("CANCELLED");
    instrument_.Assign(write.item, write.value);
    return EtxLine(ItemName(write.item) + '=' + instrument_.TextOf(write.item) + ' ' +
                   std::string(kAck));
}

} // namespace em1sim
