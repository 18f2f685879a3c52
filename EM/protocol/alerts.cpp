#include "protocol/alerts.h"
#include "interface/log.h"
#include "protocol/cells.h"
#include "protocol/reply_lines.h"
#include "serial/exchange.h"

#include <cstring>

namespace {

bool LineMatches(const char *line, std::size_t entry) {
    const std::string_view alert = kAlertTable[entry];
    if (entry < kAlertCodes) {
        return line[0] == alert[0] && line[1] == alert[1];
    }
    return std::strstr(line, alert.data()) != nullptr;
}

// The first entry of the table that the line matches sets its flag.
void MarkAlert(const char *line, AlertFlags &flags) {
    for (std::size_t entry = 0; entry < kAlertCount; ++entry) {
        if (LineMatches(line, entry)) {
            flags[entry] = 1;
            return;
        }
    }
}

std::uint16_t FlagNumber(const AlertFlags &flags, std::int64_t number) {
    if (number < 0 || number >= static_cast<std::int64_t>(kAlertCount)) {
        return 0;
    }
    return flags[static_cast<std::size_t>(number)];
}

} // namespace

bool ParseAlerts(char *reply, AlertFlags &flags) {
    char *header = std::strchr(reply, '\r');
    if (header == nullptr) {
        return false;
    }
    char *line = NextLine(header);
    while (static_cast<unsigned char>(*line) != kEtx) {
        char *cr = std::strchr(line, '\r');
        if (cr == nullptr) {
            break;
        }
        char *next = NextLine(cr);
        *cr = '\0';
        MarkAlert(line, flags);
        line = next;
    }
    return true;
}

int StoreAlertData(const ItemRequest &request, char *reply) {
    AlertFlags flags{};
    if (!ParseAlerts(reply, flags)) {
        err(kLogDetail, "EM: StoreAlertData(): Failed rc = %d", EM_REFUSED);
        return EM_REFUSED;
    }
    if (request.count <= 1) {
        StoreCellWord(request.values, FlagNumber(flags, request.index));
        return EM_OK;
    }
    for (std::int32_t i = 0; i < request.count; ++i) {
        const std::int64_t number = static_cast<std::int64_t>(request.index) + i;
        StoreSlotWord(request.values, static_cast<std::size_t>(i), FlagNumber(flags, number));
    }
    return EM_OK;
}
