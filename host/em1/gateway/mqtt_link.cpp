#include "mqtt_link.h"

#include "failure.h"
#include "gateway_log.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cctype>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

constexpr int kQos = 1;
constexpr unsigned kFirstReconnectPause = 1; // seconds, doubling
constexpr unsigned kLongestReconnectPause = 30;
constexpr std::chrono::seconds kCloseWait{3};
constexpr std::chrono::milliseconds kCloseStep{20};
constexpr int kSessionPresent = 1;
// Commands: not the gateway's own messages, and each with its retain flag as published.
constexpr int kCommandOptions = MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED;
// How long the broker may be out of reach before it is told, and how often it is told again.
constexpr std::chrono::seconds kAwayGrace{10};
constexpr std::chrono::seconds kAwayRetell{60};

std::string Seconds(std::chrono::steady_clock::duration duration) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

MqttLink &Self(void *self) {
    return *static_cast<MqttLink *>(self);
}

std::string PropertyString(const mosquitto_property *properties, int identifier) {
    char *value = nullptr;
    if (mosquitto_property_read_string(properties, identifier, &value, false) == nullptr ||
        value == nullptr) {
        return {};
    }
    std::string text(value);
    std::free(value);
    return text;
}

std::string PropertyBinary(const mosquitto_property *properties, int identifier) {
    void *value = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, identifier, &value, &length, false) == nullptr ||
        value == nullptr) {
        return {};
    }
    std::string bytes(static_cast<const char *>(value), length);
    std::free(value);
    return bytes;
}

std::optional<std::chrono::steady_clock::time_point> Expiry(const mosquitto_property *properties) {
    std::uint32_t seconds = 0;
    if (mosquitto_property_read_int32(properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &seconds,
                                      false) == nullptr) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

} // namespace

std::string ClientIdOf(const std::string &text) {
    std::string id;
    for (const char c : text) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (plain) {
            id += c;
        } else if (!id.empty() && id.back() != '-') {
            id += '-';
        }
    }
    while (!id.empty() && id.back() == '-') {
        id.pop_back();
    }
    return id;
}

MqttLink::MqttLink(const BrokerConfig &broker, const std::string &clientId, std::string statusTopic,
                   std::string who, std::vector<std::string> subscriptions, OnCommand onCommand)
    : broker_(broker), statusTopic_(std::move(statusTopic)), who_(std::move(who)),
      subscriptions_(std::move(subscriptions)), onCommand_(std::move(onCommand)) {
    // A clean session: nothing published while the gateway is away waits for it.
    client_ = mosquitto_new(clientId.c_str(), true, this);
    if (client_ == nullptr) {
        throw UsageError("cannot make an MQTT client for " + who_);
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Each reading is a message of its own: sent at once, not held back to fill a segment.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    const std::string offline = "offline";
    if (!statusTopic_.empty()) {
        mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(offline.size()),
                           offline.data(), kQos, true);
    }
    if (!broker_.user.empty()) {
        mosquitto_username_pw_set(client_, broker_.user.c_str(),
                                  broker_.password.empty() ? nullptr : broker_.password.c_str());
    }
    if (!broker_.caFile.empty()) {
        const int code =
            mosquitto_tls_set(client_, broker_.caFile.c_str(), nullptr,
                              broker_.certFile.empty() ? nullptr : broker_.certFile.c_str(),
                              broker_.keyFile.empty() ? nullptr : broker_.keyFile.c_str(), nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(client_);
            throw UsageError("--ca-file, --cert-file, --key-file: libmosquitto refuses them (" +
                             std::string(mosquitto_strerror(code)) + ")");
        }
    }
    mosquitto_reconnect_delay_set(client_, kFirstReconnectPause, kLongestReconnectPause, true);
    mosquitto_connect_with_flags_callback_set(client_, OnConnect);
    mosquitto_disconnect_callback_set(client_, OnDisconnect);
    mosquitto_publish_callback_set(client_, OnPublish);
    mosquitto_log_callback_set(client_, OnLog);
    mosquitto_message_v5_callback_set(client_, OnMessageArrived);
}

MqttLink::~MqttLink() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

std::string MqttLink::Address() const {
    return broker_.host + ":" + std::to_string(broker_.port);
}

void MqttLink::Start() {
    {
        const std::lock_guard<std::mutex> hold(problemLock_);
        awaySince_ = std::chrono::steady_clock::now();
    }
    const int code = mosquitto_connect_async(client_, broker_.host.c_str(), broker_.port,
                                             broker_.keepAliveSeconds);
    if (code != MOSQ_ERR_SUCCESS) {
        Problem("cannot reach the broker at " + Address() + " (" + mosquitto_strerror(code) +
                "); trying again");
    }
    mosquitto_loop_start(client_);
}

bool MqttLink::Send(const std::string &topic, const Kept &kept, int *messageId) {
    mosquitto_property *properties = nullptr;
    if (!kept.correlation.empty()) {
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                      kept.correlation.data(),
                                      static_cast<std::uint16_t>(kept.correlation.size()));
    }
    int sent = 0;
    const int code =
        mosquitto_publish_v5(client_, &sent, topic.c_str(), static_cast<int>(kept.payload.size()),
                             kept.payload.data(), kQos, kept.retain, properties);
    mosquitto_property_free_all(&properties);
    lastSent_ = sent;
    if (messageId != nullptr) {
        *messageId = sent;
    }
    return code == MOSQ_ERR_SUCCESS;
}

void MqttLink::Publish(const std::string &topic, const std::string &payload, bool retain,
                       const std::string &correlation) {
    const std::lock_guard<std::mutex> hold(lock_);
    Kept &kept = kept_[topic];
    // Messages held before the first connection are the start's, not an outage's.
    if (kept.pending) {
        ++superseded_;
        counters_->superseded += everConnected_ ? 1 : 0;
    }
    kept.payload = payload;
    kept.retain = retain;
    kept.correlation = correlation;
    kept.pending = !(connected_ && Send(topic, kept));
    if (kept.pending && everConnected_) {
        ++counters_->kept;
    }
}

void MqttLink::PublishOnce(const std::string &topic, const std::string &payload) {
    const std::lock_guard<std::mutex> hold(lock_);
    const Kept message{payload, true, {}, true, true};
    if (connected_ && Send(topic, message)) {
        kept_.erase(topic);
    } else {
        kept_[topic] = message;
    }
}

void MqttLink::Reply(const std::string &topic, const std::string &payload,
                     const std::string &correlation) {
    if (connected_) {
        Send(topic, Kept{payload, false, correlation, false});
    }
}

void MqttLink::Remove(const std::string &topic) {
    if (connected_) {
        Send(topic, Kept{{}, true, {}, false});
    }
}

void MqttLink::WatchConnection() {
    if (connected_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> hold(problemLock_);
    if (now - awaySince_ < kAwayGrace || (awayTold_ && now - *awayTold_ < kAwayRetell)) {
        return;
    }
    awayTold_ = now;
    GatewayLog(who_, "the broker at " + Address() + " has been out of reach for " +
                         Seconds(now - awaySince_) + " s; trying again" +
                         (lastProblem_.empty() ? "" : " (last: " + lastProblem_ + ")"));
}

void MqttLink::Close(const std::string &finalStatus) {
    if (statusTopic_.empty()) {
        finalMessage_ = connected_ ? lastSent_.load() : -1; // what went last, acknowledged
    } else {
        const std::lock_guard<std::mutex> hold(lock_);
        Kept &kept = kept_[statusTopic_];
        kept.payload = finalStatus;
        kept.retain = true;
        int messageId = 0;
        if (connected_ && Send(statusTopic_, kept, &messageId)) {
            finalMessage_ = messageId;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
    while (finalMessage_ >= 0 && lastAcknowledged_ != finalMessage_ &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kCloseStep);
    }
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
}

void MqttLink::Connected(int code, int flags) {
    if (code != 0) {
        {
            const std::lock_guard<std::mutex> hold(problemLock_);
            brokerAnswered_ = true;
        }
        Problem(std::string("the broker refused the connection: ") + mosquitto_reason_string(code));
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(problemLock_);
        lastProblem_.clear();
        awayTold_.reset();
    }
    const std::lock_guard<std::mutex> hold(lock_);
    for (const auto &subscription : subscriptions_) {
        mosquitto_subscribe_v5(client_, nullptr, subscription.c_str(), kQos, kCommandOptions,
                               nullptr);
    }
    // A broker that kept the session kept the retained messages too; one that lost it (a
    // restart without persistence) gets every latest message again. The status goes out
    // every time: the broker may have sent the last will meanwhile.
    const bool sessionKept = (flags & kSessionPresent) != 0;
    long long sent = 0;
    for (auto &[topic, kept] : kept_) {
        const bool again =
            kept.retain && (!sessionKept || (!statusTopic_.empty() && topic == statusTopic_));
        if ((kept.pending || again) && Send(topic, kept)) {
            kept.pending = false;
            ++sent;
        }
    }
    std::erase_if(kept_,
                  [](const auto &entry) { return entry.second.once && !entry.second.pending; });
    std::string message = "connected to the broker at " + Address();
    if (everConnected_) {
        message += " after " + Seconds(std::chrono::steady_clock::now() - lostAt_) + " s away; " +
                   std::to_string(sent) + " latest message" + (sent == 1 ? "" : "s") +
                   " published, " + std::to_string(superseded_) + " superseded while away";
    }
    superseded_ = 0;
    if (everConnected_) {
        ++counters_->reconnections;
    }
    everConnected_ = true;
    connected_ = true;
    counters_->connected = true;
    GatewayLog(who_, message);
}

void MqttLink::Disconnected(int code) {
    const std::lock_guard<std::mutex> hold(lock_);
    const bool was = connected_.exchange(false);
    counters_->connected = false;
    if (was) {
        lostAt_ = std::chrono::steady_clock::now();
        const std::lock_guard<std::mutex> away(problemLock_);
        awaySince_ = lostAt_;
    }
    if (was && code != 0) {
        GatewayLog(who_, std::string("lost the broker (") + mosquitto_strerror(code) +
                             "); the latest values are kept until it is back");
    }
    bool answered = false;
    {
        const std::lock_guard<std::mutex> away(problemLock_);
        answered = std::exchange(brokerAnswered_, false);
    }
    if (!was && code != 0 && !answered) {
        // The connection closed before the broker answered: a TLS listener met without TLS
        // does this, as does a broker that refuses the protocol.
        Problem("the broker at " + Address() + " closed the connection before answering (" +
                mosquitto_strerror(code) + ")" +
                (broker_.caFile.empty() ? "; is it a TLS listener? give --ca-file" : ""));
    }
}

void MqttLink::Problem(const std::string &text) {
    const std::lock_guard<std::mutex> hold(problemLock_);
    // Every reconnection meets the same trouble: it is told once, until it changes.
    if (text != lastProblem_) {
        lastProblem_ = text;
        GatewayLog(who_, text);
    }
}

void MqttLink::OnConnect(mosquitto *, void *self, int code, int flags) {
    Self(self).Connected(code, flags);
}

void MqttLink::OnDisconnect(mosquitto *, void *self, int code) {
    Self(self).Disconnected(code);
}

void MqttLink::OnPublish(mosquitto *, void *self, int messageId) {
    Self(self).lastAcknowledged_ = messageId;
}

void MqttLink::OnLog(mosquitto *, void *self, int level, const char *text) {
    // libmosquitto's own errors say why a connection failed (a certificate not trusted).
    if (level == MOSQ_LOG_ERR) {
        Self(self).Problem(std::string("broker connection: ") + text);
    }
}

void MqttLink::OnMessageArrived(mosquitto *, void *self, const mosquitto_message *message,
                                const mosquitto_property *properties) {
    MqttCommand command;
    command.topic = message->topic;
    command.payload.assign(static_cast<const char *>(message->payload),
                           static_cast<std::size_t>(message->payloadlen));
    command.retained = message->retain;
    command.responseTopic = PropertyString(properties, MQTT_PROP_RESPONSE_TOPIC);
    command.correlation = PropertyBinary(properties, MQTT_PROP_CORRELATION_DATA);
    command.expires = Expiry(properties);
    Self(self).onCommand_(command);
}
