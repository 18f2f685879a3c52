// One instrument's connection to the broker (libmosquitto): QoS 1, a persistent session,
// reconnection with growing pauses, credentials and TLS, and the instrument's status topic as
// the connection's last will. The latest message of each topic is kept, so that what was
// published while the broker was away goes out on reconnection: memory bounded by the number
// of topics, whatever the outage's length.
#pragma once

#include "gateway_config.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

struct mosquitto;

class MqttLink {
  public:
    using OnMessage = std::function<void(const std::string &topic, const std::string &payload)>;

    // who names the link in the log; subscription is the topic filter of the messages the
    // link takes (the set topics). Throws UsageError when the broker settings cannot be used
    // (a CA or certificate file libmosquitto refuses).
    MqttLink(const BrokerConfig &broker, const std::string &clientId, std::string statusTopic,
             std::string who, std::string subscription, OnMessage onMessage);
    ~MqttLink();
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;

    // Connects in the background; reconnects by itself from then on.
    void Start();
    // Sends now when the broker is there, else keeps it as its topic's latest message.
    void Publish(const std::string &topic, const std::string &payload, bool retain);
    // Publishes the final status, waits (a few seconds at most) for the broker to take it,
    // and disconnects, so the last will is not sent.
    void Close(const std::string &finalStatus);

  private:
    struct Kept {
        std::string payload;
        bool retain = false;
        bool pending = false; // not handed to the broker yet
    };
    static void OnConnect(mosquitto *client, void *self, int code, int flags);
    static void OnDisconnect(mosquitto *client, void *self, int code);
    static void OnPublish(mosquitto *client, void *self, int messageId);
    static void OnLog(mosquitto *client, void *self, int level, const char *text);
    static void OnMessageArrived(mosquitto *client, void *self, const struct mosquitto_message *);

    void Connected(int code, int flags);
    void Disconnected(int code);
    void Problem(const std::string &text);
    bool Send(const std::string &topic, const Kept &kept, int *messageId = nullptr);

    BrokerConfig broker_;
    std::string statusTopic_;
    std::string who_;
    std::string subscription_;
    OnMessage onMessage_;
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
    std::atomic<int> finalMessage_{-1};
    std::atomic<int> lastAcknowledged_{-1};
};
