#include "discovery_link.h"

DiscoveryLink::DiscoveryLink(const BrokerConfig &broker, std::string discoveryPrefix,
                             const std::string &topicPrefix)
    : prefix_(std::move(discoveryPrefix)) {
    const std::string status = prefix_ + "/status";
    // "--" never comes out of an instrument's name: the id is the link's alone.
    link_ = std::make_unique<MqttLink>(
        broker, ClientIdOf("em1-gateway-" + topicPrefix) + "--discovery", "", "discovery",
        std::vector<std::string>{status}, [this, status](const MqttCommand &message) {
            if (message.topic == status && message.payload == "online") {
                ++announcements_;
            }
        });
    link_->Start();
}

DiscoveryLink::~DiscoveryLink() {
    link_->Close("");
}

void DiscoveryLink::Publish(const DiscoveryMessage &message) {
    link_->PublishOnce(message.topic, message.payload);
}

void DiscoveryLink::Remove(const std::string &topic) {
    link_->Remove(topic);
}
