#include "protocol.h"

#include "number_text.h"

#include <algorithm>

namespace em1sim {
namespace {

constexpr std::string_view kAck = "***";
constexpr std::string_view kFirmware = "REV 2.14";
// The longest reply a peer is expected to take in, terminator included.
constexpr std::size_t kLongestReply = 591;

bool is_write(std::string_view request) {
    return request.find('=') != std::string_view::npos || request.starts_with("DL") ||
           request.starts_with("DM");
}

std::string item_name(const Item &item) {
    return {item.type, static_cast<char>('0' + item.number / 10),
            static_cast<char>('0' + item.number % 10), item.letter};
}

Reply etx_line(std::string_view text) {
    return Reply{std::string(text) + '\r', kEtx};
}
Reply lf_line(std::string_view text) {
    return Reply{std::string(text) + '\r', '\n'};
}

bool valid_summary(char type, std::string_view letters) {
    const std::string_view allowed = type == 'L' ? kLoopLetters : kModuleLetters;
    return !letters.empty() && letters.size() <= allowed.size() &&
           std::ranges::all_of(letters, [&](char c) { return allowed.find(c) != allowed.npos; });
}

} // namespace

Protocol::Protocol(Instrument &instrument, ProtocolSettings settings)
    : instrument_(instrument), settings_(std::move(settings)) {}

std::optional<Reply> Protocol::answer(std::string_view request) {
    if (request.empty())
        return std::nullopt;
    if (request != "Y" && request != "N")
        pending_.reset();
    return answer_command(request);
}

std::optional<Reply> Protocol::answer_command(std::string_view request) {
    if (request == "S?")
        return status_reply();
    if (request == "SI") {
        initialised_ = true;
        return acknowledge();
    }
    if (request == "SX") {
        instrument_.clear_alerts();
        return acknowledge();
    }
    if (request == "SB") {
        instrument_.show("");
        return acknowledge();
    }
    if (request.starts_with("SO")) {
        instrument_.show(request.substr(2));
        return acknowledge();
    }
    if (request == "DF") {
        loop_summary_ = "SV%X";
        module_summary_ = "VX";
        return acknowledge();
    }
    if (request.starts_with("DL") || request.starts_with("DM"))
        return summary_definition(request);
    if (request == "XC")
        return counts_reply();
    if (request == "SS")
        return etx_line(std::to_string(instrument_.alerts().size()));
    if (request == "XS0")
        return etx_line(kFirmware);
    if (request == "SL?")
        return block_reply('L');
    if (request == "SM?")
        return block_reply('M');
    if (request == "SA?")
        return alerts_reply();
    if (request == "Y" || request == "N")
        return confirm(request == "Y");
    if (request.size() >= 5 && request[4] == '=')
        return write_item(request);
    if (request.size() == 5 && request[4] == '?')
        return read_item(request);
    return refuse(request);
}

Reply Protocol::refuse(std::string_view request) {
    refused_ = true;
    pending_.reset();
    return Reply{"?\r", is_write(request) ? '\n' : kEtx};
}

Reply Protocol::acknowledge() {
    return etx_line(kAck);
}

Reply Protocol::status_reply() {
    const bool ready = settings_.fast_start || initialised_ || refused_;
    refused_ = false;
    const bool error = std::ranges::any_of(instrument_.alerts(), [](const std::string &alert) {
        return alert.find("ERROR") != std::string::npos;
    });
    return etx_line(std::string(error ? "ERR " : "") + std::string(ready ? kAck : "NOT READY"));
}

Reply Protocol::counts_reply() const {
    return etx_line(std::to_string(instrument_.loops()) + ',' +
                    std::to_string(instrument_.modules()) + ',' +
                    std::to_string(instrument_.alerts().size()));
}

// One decimal at most, and whole numbers when that would not fit one reply.
Reply Protocol::block_reply(char type) const {
    std::string body = block_body(type, 1);
    if (body.size() >= kLongestReply)
        body = block_body(type, 0);
    return Reply{body, kEtx};
}

std::string Protocol::block_body(char type, int decimals) const {
    const int count = type == 'L' ? instrument_.loops() : instrument_.modules();
    const std::string &letters = type == 'L' ? loop_summary_ : module_summary_;
    std::string body;
    for (int number = 1; number <= count; ++number) {
        body += std::to_string(number);
        for (const char letter : letters) {
            const Item item{type, number, letter};
            const auto value = instrument_.number_of(item);
            body +=
                ',' + (value ? compact_number_text(*value, decimals) : instrument_.text_of(item));
        }
        body += "\r\n";
    }
    return body;
}

Reply Protocol::alerts_reply() const {
    std::string body = "ALERTS " + std::to_string(instrument_.alerts().size()) + "\r\n";
    for (const auto &alert : instrument_.alerts())
        body += alert + "\r\n";
    return Reply{body, kEtx};
}

Reply Protocol::summary_definition(std::string_view request) {
    const char type = request[1] == 'L' ? 'L' : 'M';
    const std::string_view letters = request.substr(2);
    if (!valid_summary(type, letters))
        return refuse(request);
    (type == 'L' ? loop_summary_ : module_summary_) = letters;
    return lf_line(std::string(request) + ' ' + std::string(kAck));
}

Reply Protocol::read_item(std::string_view request) {
    const auto item = parse_item(request.substr(0, 4));
    if (!item || instrument_.parameter_of(*item) == nullptr)
        return refuse(request);
    return etx_line(item_name(*item) + '=' + instrument_.text_of(*item));
}

Reply Protocol::write_item(std::string_view request) {
    const auto item = parse_item(request.substr(0, 4));
    const Parameter *parameter = item ? instrument_.parameter_of(*item) : nullptr;
    if (parameter == nullptr || parameter->read_only)
        return refuse(request);
    const auto value = instrument_.normalise(*item, request.substr(5));
    if (!value)
        return refuse(request);
    if (settings_.confirm_letters.find(item->letter) != std::string::npos) {
        pending_ = PendingWrite{*item, *value};
        return lf_line(item_name(*item) + "? " + *value + " Y/N");
    }
    instrument_.assign(*item, *value);
    return lf_line(item_name(*item) + '=' + instrument_.text_of(*item) + ' ' + std::string(kAck));
}

Reply Protocol::confirm(bool accepted) {
    if (!pending_)
        return refuse(accepted ? "Y" : "N");
    const PendingWrite write = *pending_;
    pending_.reset();
    if (!accepted)
        return etx_line("CANCELLED");
    instrument_.assign(write.item, write.value);
    return etx_line(item_name(write.item) + '=' + instrument_.text_of(write.item) + ' ' +
                    std::string(kAck));
}

} // namespace em1sim
