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

    std::string Bytes() const { return body + terminator; }
};

struct ProtocolSettings {
    bool fastStart = true;              // "S?" answers "***" before the adapter is initialised
    std::string confirmLetters = "PID"; // writes to these letters ask "Y" before they apply
};

class Protocol {
  public:
    Protocol(Instrument &instrument, ProtocolSettings settings);

    ProtocolSettings &Settings() { return settings_; }
    // Forgets the adapter's initialisation, as a power cycle would.
    void ResetAdapter() { initialised_ = false; }

    // nullopt for a blank request, which the instrument ignores.
    std::optional<Reply> Answer(std::string_view request);
    // The refusal "?", ended as the request's reply would be; the next "S?" answers "***".
    Reply Refuse(std::string_view request);
    // The reply to a request that changes nothing (an item's read, a block, the alert list,
    // the counts), as the instrument would give it now, without carrying the request out;
    // nullopt for any other request.
    std::optional<Reply> Preview(std::string_view request) const;

  private:
    struct PendingWrite {
        Item item;
        std::string value;
    };

    std::optional<Reply> AnswerCommand(std::string_view request);
    Reply StatusReply();
    Reply Acknowledge();
    Reply CountsReply() const;
    Reply BlockReply(char type) const;
    std::string BlockBody(char type, int decimals) const;
    Reply AlertsReply() const;
    Reply SummaryDefinition(std::string_view request);
    Reply ReadItem(std::string_view request);
    std::optional<Reply> ItemValue(std::string_view request) const;
    Reply WriteItem(std::string_view request);
    Reply Confirm(bool accepted);

    Instrument &instrument_;
    ProtocolSettings settings_;
    std::string loopSummary_ = "SV%X";
    std::string moduleSummary_ = "VX";
    std::optional<PendingWrite> pending_;
    bool initialised_ = false;
    bool refused_ = false;
};

} // namespace em1sim
