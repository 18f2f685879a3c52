// What a station tells about its instrument besides its readings: Home Assistant's discovery
// configs (with the instrument's revision) and its metrics.
#include "station.h"

#include "discovery.h"
#include "gateway_log.h"
#include "item_reads.h"

#include <algorithm>
#include <utility>

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
    const std::lock_guard<std::mutex> hold(revisionLock_);
    revisionChanged_ = revision != revision_;
    revision_ = revision;
}

// Each instrument announces its configs from its own thread once its line has started (or
// failed to), one between two exchanges, so that the configs of many instruments never wait
// for the broker all at once. A revision learnt after its config went out goes out again in
// the config that describes the device.
void Station::AnnounceOnce() {
    bool changed = false;
    {
        const std::lock_guard<std::mutex> hold(revisionLock_);
        changed = std::exchange(revisionChanged_, false);
    }
    if (!discoveryPrefix_) {
        return;
    }
    if (!announced_.exchange(true)) {
        nextConfig_ = 0;
    } else if (changed && nextConfig_ < 0) {
        const DiscoverySource source = CurrentDiscovery();
        const DiscoveryMessage device = DiscoveryMessageAt(source, DiscoveryCount(source) - 1);
        link_->PublishOnce(device.topic, device.payload);
    }
}

void Station::AnnounceAgain() {
    if (discoveryPrefix_) {
        nextConfig_ = 0;
    }
}

void Station::AnnounceStep() {
    int next = nextConfig_;
    if (next < 0) {
        return;
    }
    const DiscoverySource source = CurrentDiscovery();
    const std::size_t count = DiscoveryCount(source);
    const DiscoveryMessage message = DiscoveryMessageAt(source, static_cast<std::size_t>(next));
    link_->PublishOnce(message.topic, message.payload);
    const int after = static_cast<std::size_t>(next) + 1 < count ? next + 1 : -1;
    nextConfig_.compare_exchange_strong(next, after); // unless asked to start again meanwhile
}

DiscoverySource Station::CurrentDiscovery() {
    const std::lock_guard<std::mutex> hold(revisionLock_);
    return DiscoverySource{*discoveryPrefix_, topicPrefix_, &instrument_, revision_};
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
