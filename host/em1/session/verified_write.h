// A write and what became of it: acknowledged, acknowledged but holding another value,
// refused by the instrument, never sent, or sent without an acknowledgement (it may have been
// applied). Unless told not to, the item is read back, so that the value the instrument holds
// is reported rather than the one asked for. Judged from the driver's result and what the
// line trace shows.
#pragma once

#include "item.h"
#include "loaded_driver.h"
#include "round.h"
#include "write_value.h"

#include <optional>
#include <string>

enum class WriteOutcome {
    kWritten,     // acknowledged, and read back as the value given unless not read back
    kInexact,     // acknowledged, but the instrument holds another value than the one given
    kRefused,     // the instrument answered "?"
    kNotSent,     // nothing reached the line
    kUnconfirmed, // sent, but no acknowledgement came: it may have been applied
};

struct WriteReport {
    WriteOutcome outcome = WriteOutcome::kWritten;
    std::int32_t result = 0;
    std::optional<std::string> sent;  // the request as the line carried it, without its "\r"
    std::optional<std::string> reply; // the reply to it, when one came
    // Replies to other requests that came in its place and were thrown away.
    std::optional<std::string> foreign;
    bool lineFailed = false; // the port itself failed (hang-up, vanished device)
    std::optional<ItemResult> readBack;
    bool held = false; // the read-back shows the value asked for
};

WriteReport WriteVerified(Instance &instance, const Item &item, const WriteValue &value,
                          bool verify);

// Whether a read-back holds the value asked for: a number exactly as the line carried it (in
// the precision of its cell when the line's number is not known), a token by its text.
bool HoldsValue(const WriteValue &value, const ItemResult &read);

// Why a write was not acknowledged, in words.
std::string WhyUnconfirmed(const WriteReport &report);
