// One instrument's connection to the broker (libmosquitto, MQTT 5): QoS 1, reconnection with
// growing pauses, credentials and TLS, and the instrument's status topic as the connection's
// last will. The latest message of each topic is kept, so that what was published while the
// broker was away goes out on reconnection: memory bounded by the number of topics, whatever
// the outage's length.
//
// Commands come in on a clean session: the broker keeps nothing for the gateway while it is
// away, so a set published meanwhile is never handed over later. The subscription asks for
// each message's retain flag as its publisher set it, and not for the gateway's own messages.
#pragma once

#include "gateway_config.h"
#include "metrics.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;

// A message on a command topic, with what MQTT 5 tells about it.
struct MqttCommand {
    std::string topic;
    std::string payload;
    bool retained = false;     // from the broker's store, or published with the retain flag
    std::string responseTopic; // where the publisher wants the result; empty: nowhere
    std::string correlation;   // the publisher's correlation data, echoed with the result
    std::optional<std::chrono::steady_clock::time_point> expires; // its message expiry
};

// A client id made of text: letters and digits as they are, any run of other characters as
// one "-" (what every broker takes).
std::string ClientIdOf(const std::string &text);

class MqttLink {
  public:
    using OnCommand = std::function<void(const MqttCommand &command)>;

    // who names the link in the log; subscriptions are the topic filters of the messages the
    // link takes (the set topics). Without a status topic the link has no last will and
    // publishes no final status. Throws UsageError when the broker settings cannot be used
    // (a CA or certificate file libmosquitto refuses).
    MqttLink(const BrokerConfig &broker, const std::string &clientId, std::string statusTopic,
             std::string who, std::vector<std::string> subscriptions, OnCommand onCommand);
    ~MqttLink();
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;

    // Connects in the background; reconnects by itself from then on.
    void Start();
    // Sends now when the broker is there, else keeps it as its topic's latest message.
    // correlation, when not empty, goes with it as MQTT 5 correlation data.
    void Publish(const std::string &topic, const std::string &payload, bool retain,
                 const std::string &correlation = {});
    // A retained message that is sent once: now when the broker is there, else at the next
    // connection; it is not kept for the connections after (the discovery configs, which are
    // published again when Home Assistant asks).
    void PublishOnce(const std::string &topic, const std::string &payload);
    // The result of a request to its MQTT 5 response topic, with its correlation data: sent
    // now when the broker is there, else dropped (the item's result topic keeps it).
    void Reply(const std::string &topic, const std::string &payload,
               const std::string &correlation);
    // Removes the retained message of topic from the broker's store, when it is there.
    void Remove(const std::string &topic);
    // Logs, at most once a minute, that the broker has been out of reach since the link
    // started or lost it, with the last reason libmosquitto gave. Called every few seconds.
    void WatchConnection();
    // Publishes the final status, waits (a few seconds at most) for the broker to take it (or,
    // without a status topic, the last message sent), and disconnects, so the last will is
    // not sent.
    void Close(const std::string &finalStatus);
    // What the link counts, for the metrics.
    std::shared_ptr<const LinkCounters> Counters() const { return counters_; }

  private:
    struct Kept {
        std::string payload;
        bool retain = false;
        std::string correlation;
        bool pending = false; // not handed to the broker yet
        bool once = false;    // forgotten once handed to the broker
    };
    static void OnConnect(mosquitto *client, void *self, int code, int flags);
    static void OnDisconnect(mosquitto *client, void *self, int code);
    static void OnPublish(mosquitto *client, void *self, int messageId);
    static void OnLog(mosquitto *client, void *self, int level, const char *text);
    static void OnMessageArrived(mosquitto *client, void *self, const struct mosquitto_message *,
                                 const struct mqtt5__property *properties);

    void Connected(int code, int flags);
    void Disconnected(int code);
    void Problem(const std::string &text);
    bool Send(const std::string &topic, const Kept &kept, int *messageId = nullptr);
    std::string Address() const;

    BrokerConfig broker_;
    std::string statusTopic_;
    std::string who_;
    std::vector<std::string> subscriptions_;
    OnCommand onCommand_;
    mosquitto *client_ = nullptr;
    std::mutex lock_; // kept_, connected_ changes, counters
    std::map<std::string, Kept> kept_;
    std::atomic<bool> connected_{false};
    bool everConnected_ = false;
    std::chrono::steady_clock::time_point lostAt_{};
    long long superseded_ = 0; // messages replaced by newer ones while the broker was away
    // libmosquitto tells its errors from within its own calls, some made under lock_.
    std::mutex problemLock_;
    std::string lastProblem_;
    bool brokerAnswered_ = false; // a CONNACK came for the connection attempt under way
    std::chrono::steady_clock::time_point awaySince_{};             // out of reach since
    std::optional<std::chrono::steady_clock::time_point> awayTold_; // last told so
    std::atomic<int> finalMessage_{-1};
    std::atomic<int> lastAcknowledged_{-1};
    std::atomic<int> lastSent_{-1};
    std::shared_ptr<LinkCounters> counters_ = std::make_shared<LinkCounters>();
};
