// The active alerts as one JSON object, the same for em1 alerts --format json and the
// gateway's alerts topic.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// {"active":[{"item":"A19","name":"HIGH ALARM"}],"time":"2024-05-01T12:00:00.123Z"}, the
// list in flag order and empty when no alert is active.
std::string AlertsMessage(const std::vector<std::size_t> &activeFlags,
                          std::chrono::system_clock::time_point time);
