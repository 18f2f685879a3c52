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
    revisionChanged_ = revision != revision_;
    revision_ = revision;
}

// Each instrument announces its configs from its own thread once its line has started (or
// failed to), one between two exchanges, so that the configs of many instruments never wait
// for the broker all at once. A revision learnt after its config went out goes out again in
// the config that describes the device.
void Station::AnnounceOnce() {
    const bool changed = std::exchange(revisionChanged_, false);
    if (discovery_ == nullptr) {
        return;
    }
    if (!std::exchange(announced_, true)) {
        announcementsSeen_ = discovery_->Announcements();
        nextConfig_ = 0;
    } else if (changed && nextConfig_ < 0) {
        const DiscoverySource source = CurrentDiscovery();
        discovery_->Publish(DiscoveryMessageAt(source, DiscoveryCount(source) - 1));
    }
}

void Station::AnnounceStep() {
    if (discovery_ == nullptr || !announced_) {
        return;
    }
    // Home Assistant has started since: it learns the entities again.
    if (const long seen = discovery_->Announcements(); seen != announcementsSeen_) {
        announcementsSeen_ = seen;
        nextConfig_ = 0;
    }
    const int next = nextConfig_;
    if (next < 0) {
        return;
    }
    const DiscoverySource source = CurrentDiscovery();
    discovery_->Publish(DiscoveryMessageAt(source, static_cast<std::size_t>(next)));
    nextConfig_ = static_cast<std::size_t>(next) + 1 < DiscoveryCount(source) ? next + 1 : -1;
}

DiscoverySource Station::CurrentDiscovery() const {
    return DiscoverySource{discovery_->Prefix(), topicPrefix_, &instrument_, revision_};
}

void Station::WithdrawDiscovery(const std::vector<std::string> &kept) {
    if (discovery_ == nullptr) {
        return;
    }
    const DiscoverySource source{discovery_->Prefix(), topicPrefix_, &instrument_, {}};
    for (const auto &topic : DiscoveryTopics(source)) {
        if (std::find(kept.begin(), kept.end(), topic) == kept.end()) {
            discovery_->Remove(topic);
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
