#include "metrics_http.h"

#include "failure.h"

#include <microhttpd.h>

#include <cerrno>
#include <cstring>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned kOk = 200;
constexpr unsigned kNotFound = 404;
constexpr unsigned kMethodNotAllowed = 405;
constexpr unsigned kUnavailable = 503;
constexpr int kBacklog = 16;
constexpr unsigned kConnectionLimit = 16;
constexpr unsigned kConnectionTimeoutSeconds = 10;
constexpr const char *kTextFormat = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char *kPlainText = "text/plain; charset=utf-8";

[[noreturn]] void Refuse(const std::string &address, const std::string &why) {
    throw UsageError("--metrics-listen: cannot listen on " + address + ": " + why);
}

// A listening socket on ADDR:PORT or [ADDR]:PORT.
int Listen(const std::string &address) {
    const auto colon = address.rfind(':');
    std::string host = address.substr(0, colon);
    const std::string port = address.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (const int code = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); code != 0) {
        Refuse(address, gai_strerror(code));
    }
    const int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    int error = fd < 0 ? errno : 0;
    const int on = 1;
    if (fd >= 0 &&
        (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
         bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, kBacklog) != 0)) {
        error = errno;
        close(fd);
    }
    freeaddrinfo(found);
    if (error != 0) {
        Refuse(address, std::strerror(error));
    }
    return fd;
}

void FreeBody(void *body) {
    delete static_cast<std::string *>(body);
}

MHD_Result Send(MHD_Connection *connection, MetricsServer::Reply reply) {
    // The body is handed over as it is, not copied: a scrape of many instruments is large.
    auto *body = new std::string(std::move(reply.body));
    MHD_Response *response = MHD_create_response_from_buffer_with_free_callback_cls(
        body->size(), body->data(), &FreeBody, body);
    if (response == nullptr) {
        delete body;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
    if (reply.status == kMethodNotAllowed) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    const MHD_Result queued = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result OnRequest(void *self, MHD_Connection *connection, const char *url, const char *method,
                     const char * /*version*/, const char * /*upload*/, size_t * /*uploadSize*/,
                     void ** /*state*/) {
    return Send(connection, static_cast<const MetricsServer *>(self)->Answer(method, url));
}

std::string Health(const std::vector<MetricsSnapshot> &snapshots, bool &up) {
    std::string down;
    for (const auto &snapshot : snapshots) {
        if (!snapshot.online) {
            down += snapshot.instrument + ": offline\n";
        }
        if (!snapshot.brokerUp) {
            down += snapshot.instrument + ": not connected to the broker\n";
        }
    }
    if (snapshots.empty()) {
        down = "no instrument is served\n";
    }
    up = down.empty();
    return up ? "ok: " + std::to_string(snapshots.size()) +
                    " instrument(s) online and connected to the broker\n"
              : down;
}

} // namespace

MetricsServer::MetricsServer(const std::string &address, const MetricsRegistry &registry)
    : registry_(registry), socket_(Listen(address)) {
    daemon_ = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ITC, 0, nullptr, nullptr,
        &OnRequest, this, MHD_OPTION_LISTEN_SOCKET, socket_, MHD_OPTION_CONNECTION_LIMIT,
        kConnectionLimit, MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        close(socket_);
        Refuse(address, "libmicrohttpd cannot start its server");
    }
}

MetricsServer::~MetricsServer() {
    // The socket is handed back before the server stops, so that it is closed once, here.
    const MHD_socket listening = MHD_quiesce_daemon(daemon_);
    MHD_stop_daemon(daemon_);
    if (listening != MHD_INVALID_SOCKET) {
        close(listening);
    }
}

MetricsServer::Reply MetricsServer::Answer(const std::string &method,
                                           const std::string &path) const {
    if (method != "GET" && method != "HEAD") {
        return {kMethodNotAllowed, kPlainText, "only GET and HEAD\n"};
    }
    if (path == "/metrics") {
        return {kOk, kTextFormat, PrometheusText(registry_.Snapshots())};
    }
    if (path == "/health") {
        bool up = false;
        std::string body = Health(registry_.Snapshots(), up);
        return {up ? kOk : kUnavailable, kPlainText, std::move(body)};
    }
    return {kNotFound, kPlainText, "not found: the paths are /metrics and /health\n"};
}
