// The instrument's side of the conversation: one request text (without its "\r") in, one reply
// out. Replies to reads and commands end with ETX; replies to writes and to the summary
// definitions DL.. and DM.. end with "\n".
#pragma once

#include "instrument.h"

#include <optional>
#include <string>
#include <string_view>

namespace em1sim {

inline constexpr char kEtx = '\x03';

struct Reply {
    std::string body; // everything before the terminator
    char terminator;

    std::string bytes() const { return body + terminator; }
};

struct ProtocolSettings {
    bool fast_start = true;              // "S?" answers "***" before the adapter is initialised
    std::string confirm_letters = "PID"; // writes to these letters ask "Y" before they apply
};

class Protocol {
  public:
    Protocol(Instrument &instrument, ProtocolSettings settings);

    ProtocolSettings &settings() { return settings_; }
    // Forgets the adapter's initialisation, as a power cycle would.
    void reset_adapter() { initialised_ = false; }

    // nullopt for a blank request, which the instrument ignores.
    std::optional<Reply> answer(std::string_view request);
    // The refusal "?", ended as the request's reply would be; the next "S?" answers "***".
    Reply refuse(std::string_view request);

  private:
    struct PendingWrite {
        Item item;
        std::string value;
    };

    std::optional<Reply> answer_command(std::string_view request);
    Reply status_reply();
    Reply acknowledge();
    Reply counts_reply() const;
    Reply block_reply(char type) const;
    std::string block_body(char type, int decimals) const;
    Reply alerts_reply() const;
    Reply summary_definition(std::string_view request);
    Reply read_item(std::string_view request);
    Reply write_item(std::string_view request);
    Reply confirm(bool accepted);

    Instrument &instrument_;
    ProtocolSettings settings_;
    std::string loop_summary_ = "SV%X";
    std::string module_summary_ = "VX";
    std::optional<PendingWrite> pending_;
    bool initialised_ = false;
    bool refused_ = false;
};

} // namespace em1sim
