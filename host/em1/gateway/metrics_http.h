// The gateway's metrics over HTTP (libmicrohttpd, on a thread of its own): GET /metrics in
// the Prometheus text format, and GET /health, which answers 200 only while every instrument
// is online (its line up and answering) and connected to the broker, and 503 with what is
// down otherwise.
#pragma once

#include "metrics.h"

#include <string>

struct MHD_Daemon;
struct MHD_Connection;

class MetricsServer {
  public:
    // Listens on ADDR:PORT ([ADDR]:PORT for IPv6); throws UsageError naming --metrics-listen
    // and the reason when it cannot.
    MetricsServer(const std::string &address, const MetricsRegistry &registry);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    struct Reply {
        unsigned status = 0;
        std::string contentType;
        std::string body;
    };
    // The reply to a request of method for path.
    Reply Answer(const std::string &method, const std::string &path) const;

  private:
    const MetricsRegistry &registry_;
    int socket_ = -1; // the server's from its start
    MHD_Daemon *daemon_ = nullptr;
};
