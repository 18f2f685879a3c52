// The payloads the gateway publishes: readings, alerts and write results as JSON objects
// with a UTC time stamp.
#pragma once

#include "item.h"
#include "round_output.h"
#include "verified_write.h"

#include <chrono>
#include <string>
#include <vector>

using WallTime = std::chrono::system_clock::time_point;

// {"item":"L01S1","value":42.5,"cell":425,"scale":10,"time":"..."}, with "text" for modes,
// statuses and tokens; {"item":...,"error":...,"time":...} for a failed read, with
// "foreign":"L02S=202.5\r\x03" when only replies to other requests came.
std::string ReadingMessage(const Item &item, const ItemResult &result, WallTime time);

// {"active":[{"item":"A19","name":"HIGH ALARM"}],"time":"..."}
std::string AlertsMessage(const std::vector<std::size_t> &activeFlags, WallTime time);

// {"item":...,"request":"42.5","outcome":"written","value":...,"held":true,"sent":...,"time":...}
// "unconfirmed" and "refused" carry a "reason".
std::string WriteResultMessage(const Item &item, const std::string &request,
                               const WriteReport &report, WallTime time);

// The write's outcome in words, for the log.
std::string WriteResultWords(const WriteReport &report);

// A write turned down before anything was sent.
std::string RefusedMessage(const std::string &item, const std::string &request,
                           const std::string &reason, WallTime time);
