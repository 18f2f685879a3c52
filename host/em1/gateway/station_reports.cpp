// What a station tells about its instrument besides its readings: Home Assistant's discovery
// configs (with the instrument's revision) and its metrics.
#include "station.h"

#include "discovery.h"
#include "gateway_log.h"
#include "item_reads.h"

#include <algorithm>

void Station::ReadRevision(Instance &instance) {
    DriverState scratch{};
    const Item word =
        DefineOrExplain(driver_, scratch, ItemArgument{"XS0", EM_TYPE_INT16}, "gateway");
    const ItemResult result = ReadItem(instance, word);
    if (result.problem) {
        GatewayLog(instrument_.name, "no revision for discovery: " + result.problem->message);
        return;
    }
    const auto reply = LastReply(instance);
    const std::string revision = reply ? RevisionText(*reply) : result.shown.text;
    {
        const std::lock_guard<std::mutex> hold(revisionLock_);
        if (revision == revision_) {
            return;
        }
        revision_ = revision;
    }
    PublishDiscovery(true);
}

void Station::PublishDiscovery(bool deviceOnly) {
    if (!discoveryPrefix_) {
        return;
    }
    DiscoverySource source{*discoveryPrefix_, topicPrefix_, &instrument_, {}};
    {
        const std::lock_guard<std::mutex> hold(revisionLock_);
        source.revision = revision_;
    }
    auto messages = DiscoveryMessages(source);
    if (deviceOnly) {
        messages.erase(messages.begin(), messages.end() - 1); // the one that describes it
    }
    for (const auto &message : messages) {
        link_->Publish(message.topic, message.payload, true);
    }
}

void Station::WithdrawDiscovery(const std::vector<std::string> &kept) {
    if (!discoveryPrefix_) {
        return;
    }
    for (const auto &topic :
         DiscoveryTopics(DiscoverySource{*discoveryPrefix_, topicPrefix_, &instrument_, {}})) {
        if (std::find(kept.begin(), kept.end(), topic) == kept.end()) {
            link_->Remove(topic);
        }
    }
}

void Station::PublishMetricsWhenDue() {
    const auto now = std::chrono::steady_clock::now();
    if (metricsInterval_ <= std::chrono::steady_clock::duration::zero() || now < nextMetrics_) {
        return;
    }
    nextMetrics_ = now + metricsInterval_;
    Publish("metrics", MetricsJson(metrics_->Take(), std::chrono::system_clock::now()));
}
