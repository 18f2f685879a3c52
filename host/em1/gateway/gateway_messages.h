// The payloads the gateway publishes: readings, alerts and write results as JSON objects
// with a UTC time stamp.
#pragma once

#include "alerts_message.h"
#include "item.h"
#include "round_output.h"
#include "set_request.h"
#include "verified_write.h"

#include <chrono>
#include <string>
#include <vector>

using WallTime = std::chrono::system_clock::time_point;

// {"item":"L01S1","value":42.5,"cell":425,"scale":10,"time":"..."}, with "text" for modes,
// statuses and tokens; {"item":...,"error":...,"time":...} for a failed read, with
// "foreign":"L02S=202.5\r\x03" when only replies to other requests came.
std::string ReadingMessage(const Item &item, const ItemResult &result, WallTime time);

// The result of a set that reached the driver:
// {"item":...,"request":"42.5","id":...,"outcome":"written","sent":...,"readBack":{...},
// "held":true,"time":...}. Every outcome but "written" carries a "reason".
std::string WriteResultMessage(const Item &item, const SetRequest &request,
                               const WriteReport &report, WallTime time);

// The outcome word of a write's result: written, inexact, unconfirmed, refused, rejected.
std::string WriteOutcomeWord(WriteOutcome outcome);

// The write's outcome in words, for the log.
std::string WriteResultWords(const WriteReport &report);

// Why nothing was sent for a set.
enum class TurnedDown {
    kRejected, // the gateway turned it down: not writable, not a value of the item, offline
    kIgnored,  // not a current command: retained, expired, or a request id already taken
};
std::string TurnedDownMessage(const std::string &item, const SetRequest &request,
                              TurnedDown outcome, const std::string &reason, WallTime time);

// The outcome word of a set turned down.
std::string OutcomeWord(TurnedDown outcome);
