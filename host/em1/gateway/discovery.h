// Home Assistant's MQTT discovery: one device per instrument and one entity per item, each a
// retained config message on PREFIX/COMPONENT/NODE/OBJECT/config.
//
// A value that can only be read is a sensor (an alert flag a binary sensor); a writable
// number is a number with the range its cell and scale allow; a mode, a status and a
// tabulated value that can be written are selects with the instrument's tokens; the alerts are
// one sensor that names the active ones. The state comes from the item's retained topic
// through a value template (a failed read shows as unknown), commands go to its set topic
// without the retain flag, and availability follows the instrument's status topic, so no
// value stands when the line or the gateway is gone; expire_after does the same for a
// value no longer published. The keys take Home Assistant's abbreviations, and the topics
// its base topic "~" (PREFIX/NAME), which keeps each config short.
#pragma once

#include "gateway_config.h"

#include <cstddef>
#include <string>
#include <vector>

struct DiscoveryMessage {
    std::string topic;
    std::string payload; // the entity's config, JSON
};

struct DiscoverySource {
    std::string discoveryPrefix;
    std::string topicPrefix; // the gateway's: PREFIX of PREFIX/NAME/ITEM
    const InstrumentConfig *instrument = nullptr;
    std::string revision; // the instrument's revision as XS0 gave it; empty when unknown
};

// The config messages of every entity of the instrument: its items, then its writable items
// that are not read, then its alerts, whose config describes the device.
std::vector<DiscoveryMessage> DiscoveryMessages(const DiscoverySource &source);

// How many configs the instrument has, and the one at index (the last, index
// DiscoveryCount - 1, describes the device).
std::size_t DiscoveryCount(const DiscoverySource &source);
DiscoveryMessage DiscoveryMessageAt(const DiscoverySource &source, std::size_t index);

// The config topics of the same entities.
std::vector<std::string> DiscoveryTopics(const DiscoverySource &source);

// What the instrument's line carried for XS0, as a revision: the reply without its
// terminators.
std::string RevisionText(const std::string &reply);
