// gateway: instruments served to an MQTT broker until SIGTERM or SIGINT; SIGHUP reads the
// configuration again.
#include "commands.h"
#include "discovery.h"
#include "driver_log.h"
#include "gateway_config.h"
#include "gateway_log.h"
#include "metrics_http.h"
#include "station.h"

#include <mosquitto.h>

#include <csignal>
#include <memory>
#include <vector>

#include <pthread.h>

namespace {

using Stations = std::vector<std::unique_ptr<Station>>;

// The gateway's own reading of its arguments; em1's options come before the word "gateway".
GatewayConfig ReadConfig(const Context &context) {
    return ParseGatewayArguments(context.line.operands);
}

// What the stations share: their metrics, and the discovery connection when it is on.
struct Shared {
    MetricsRegistry registry;
    std::unique_ptr<DiscoveryLink> discovery;
};

std::unique_ptr<DiscoveryLink> DiscoveryOf(const GatewayConfig &config) {
    if (!config.discoveryPrefix) {
        return nullptr;
    }
    return std::make_unique<DiscoveryLink>(config.broker, *config.discoveryPrefix,
                                           config.topicPrefix);
}

std::unique_ptr<Station> MakeStation(const Context &context, const LineTrace &trace,
                                     const GatewayConfig &config,
                                     const InstrumentConfig &instrument, Shared &shared) {
    StartOptions base = StartOptionsOf(context);
    base.showProgress = false;
    auto station =
        std::make_unique<Station>(context.driver, trace, config, instrument, base, context.echo);
    shared.registry.Add(station->Metrics());
    station->UseDiscovery(shared.discovery.get());
    return station;
}

// The discovery configs that the instrument named name has in next.
std::vector<std::string> NextDiscoveryTopics(const GatewayConfig &next, const std::string &name) {
    const auto instrument =
        std::find_if(next.instruments.begin(), next.instruments.end(),
                     [&](const auto &candidate) { return candidate.name == name; });
    if (!next.discoveryPrefix || instrument == next.instruments.end()) {
        return {};
    }
    return DiscoveryTopics(
        DiscoverySource{*next.discoveryPrefix, next.topicPrefix, &*instrument, {}});
}

// Stops every station; those that next still names restart for new settings. With next,
// the discovery configs that it does not have again are removed.
void StopAll(Stations &stations, const GatewayConfig *next = nullptr) {
    for (auto &station : stations) {
        station->RequestStop();
    }
    for (auto &station : stations) {
        const auto &name = station->Config().name;
        if (next != nullptr &&
            std::any_of(next->instruments.begin(), next->instruments.end(),
                        [&](const auto &instrument) { return instrument.name == name; })) {
            station->Stop("restarting for new settings");
        } else {
            station->Stop();
        }
        // Once its thread has ended, so that no config of its follows the removal.
        if (next != nullptr) {
            station->WithdrawDiscovery(NextDiscoveryTopics(*next, name));
        }
    }
    stations.clear();
}

// Keeps the stations whose instrument and broker did not change, stops the others and
// starts the new ones.
void Reload(const Context &context, const LineTrace &trace, GatewayConfig &running,
            Stations &stations, Shared &shared) {
    GatewayConfig fresh;
    try {
        fresh = ReadConfig(context);
    } catch (const Failure &failure) {
        GatewayLog("reload", std::string(failure.what()) + "; the running configuration stays");
        return;
    }
    const bool sameBroker = fresh.broker == running.broker &&
                            fresh.topicPrefix == running.topicPrefix &&
                            fresh.discoveryPrefix == running.discoveryPrefix &&
                            fresh.metricsIntervalSeconds == running.metricsIntervalSeconds;
    if (fresh.metricsListen != running.metricsListen) {
        GatewayLog("reload", "metrics-listen changes when the gateway starts again; it stays " +
                                 (running.metricsListen.empty() ? "off" : running.metricsListen));
        fresh.metricsListen = running.metricsListen;
    }
    Stations kept;
    Stations stopping;
    for (auto &station : stations) {
        const bool unchanged =
            sameBroker && std::find(fresh.instruments.begin(), fresh.instruments.end(),
                                    station->Config()) != fresh.instruments.end();
        (unchanged ? kept : stopping).push_back(std::move(station));
    }
    const std::size_t stopped = stopping.size();
    StopAll(stopping, &fresh);
    if (!sameBroker) {
        // Every station stopped: the discovery connection follows the new settings.
        shared.discovery = DiscoveryOf(fresh);
    }
    std::size_t started = 0;
    for (const auto &instrument : fresh.instruments) {
        const bool alreadyRunning = std::any_of(kept.begin(), kept.end(), [&](const auto &station) {
            return station->Config() == instrument;
        });
        if (alreadyRunning) {
            continue;
        }
        try {
            kept.push_back(MakeStation(context, trace, fresh, instrument, shared));
            kept.back()->Start();
            ++started;
        } catch (const Failure &failure) {
            GatewayLog("reload", instrument.name + ": " + failure.what());
        }
    }
    GatewayLog("reload", std::to_string(kept.size() - started) + " instrument(s) kept, " +
                             std::to_string(stopped) + " stopped, " + std::to_string(started) +
                             " started");
    stations = std::move(kept);
    running = std::move(fresh);
}

} // namespace

ExitStatus RunGateway(Context &context) {
    GatewayConfig config = ReadConfig(context);
    // The trace is named before any port opens; each instrument follows it on its thread.
    LineTrace trace(context.line.traceFile);
    std::signal(SIGPIPE, SIG_IGN);
    // Signals are taken by this thread alone, with sigwait: every thread started from here
    // on inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    mosquitto_lib_init();
    Shared shared;
    Stations stations;
    std::unique_ptr<MetricsServer> server;
    try {
        shared.discovery = DiscoveryOf(config);
        for (const auto &instrument : config.instruments) {
            stations.push_back(MakeStation(context, trace, config, instrument, shared));
        }
        if (!config.metricsListen.empty()) {
            server = std::make_unique<MetricsServer>(config.metricsListen, shared.registry);
            GatewayLog("gateway", "metrics on http://" + config.metricsListen + "/metrics");
        }
    } catch (...) {
        stations.clear();
        shared.discovery.reset();
        mosquitto_lib_cleanup();
        throw;
    }
    for (auto &station : stations) {
        station->Start();
    }
    int signal = 0;
    while (sigwait(&signals, &signal) == 0 && signal == SIGHUP) {
        GatewayLog("reload", "SIGHUP: reading the configuration again");
        Reload(context, trace, config, stations, shared);
    }
    GatewayLog("gateway", std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    StopAll(stations);
    server.reset();
    shared.discovery.reset();
    mosquitto_lib_cleanup();
    GatewayLog("gateway", "stopped");
    return ExitStatus::kOk;
}
