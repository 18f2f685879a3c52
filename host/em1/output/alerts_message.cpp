#include "alerts_message.h"

#include "block_read.h"
#include "clock_text.h"
#include "round_output.h"
#include "vocabulary.h"

std::string AlertsMessage(const std::vector<std::size_t> &activeFlags,
                          std::chrono::system_clock::time_point time) {
    std::string json = "{\"active\":[";
    for (std::size_t i = 0; i < activeFlags.size(); ++i) {
        const std::size_t flag = activeFlags[i];
        json += (i == 0 ? "{\"item\":" : ",{\"item\":") + JsonString(AlertAddress(flag)) +
                ",\"name\":" + JsonString(std::string(kAlertTable[flag])) + "}";
    }
    return json + "],\"time\":" + JsonString(UtcStamp(time)) + "}";
}
