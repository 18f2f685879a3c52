// The gateway's one connection for Home Assistant's discovery: every instrument's configs go
// out through it, and it listens for Home Assistant's announcement (PREFIX/status = online),
// after which the instruments announce their configs again. One connection rather than one
// per instrument: one subscription, and the configs' buffers pass through one client.
#pragma once

#include "discovery.h"
#include "mqtt_link.h"

#include <atomic>
#include <memory>
#include <string>

class DiscoveryLink {
  public:
    DiscoveryLink(const BrokerConfig &broker, std::string discoveryPrefix,
                  const std::string &topicPrefix);
    ~DiscoveryLink();
    DiscoveryLink(const DiscoveryLink &) = delete;
    DiscoveryLink &operator=(const DiscoveryLink &) = delete;

    const std::string &Prefix() const { return prefix_; }
    // Sends a config, retained: now when the broker is there, else at the next connection.
    void Publish(const DiscoveryMessage &message);
    // Removes a config from the broker (an empty retained message).
    void Remove(const std::string &topic);
    // Counts Home Assistant's announcements: each asks for every config again.
    long Announcements() const { return announcements_; }

  private:
    std::string prefix_;
    std::atomic<long> announcements_{0};
    std::unique_ptr<MqttLink> link_;
};
