// The panel's HTTP(S) server: cpp-httplib's request handling (routes, handlers, responses) behind an
// accepting thread of its own that never waits on one client. That thread (one poll loop) accepts,
// completes TLS handshakes and gathers each request whole (head and declared body) under deadlines, keeps
// to ConnectionLimits, and only then hands the connection to one of a fixed set of workers, which answer
// it through the library. Idle, slow and half-open clients thus cost a socket each, never a worker, and
// the operator is answered while they are open.
//
// A request body must declare its length (no chunked uploads): the workers never read from a socket.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/ui/connection_limits.h"

namespace quorvanti::platform {

struct PanelServerLimits {
    ConnectionCaps caps;
    // Answering threads. Each open event stream holds one for its life, so this must exceed the streams
    // allowed by the routes.
    std::size_t workers = 10;
    std::chrono::milliseconds handshake{3000};  // from the connection to the end of the TLS handshake
    std::chrono::milliseconds idle{5000};       // waiting for the first byte of a request
    std::chrono::milliseconds request{3000};    // from that byte to the end of the head and body
    std::chrono::milliseconds write{5000};      // for each write of an answer (an event, a page)
    int backlog = 512;                          // the library's 5 dropped connections under a burst
    std::size_t requestsPerConnection = 100;
};

class PanelServer final : public httplib::Server {
public:
    // Plain HTTP; with a certificate (chain) file and its key file, HTTPS. is_valid() is false when they
    // cannot be loaded.
    explicit PanelServer(PanelServerLimits limits, const std::string& certificate = {}, const std::string& key = {});
    ~PanelServer() override;
    PanelServer(const PanelServer&) = delete;
    PanelServer& operator=(const PanelServer&) = delete;

    bool is_valid() const override;
    // Binds and listens (port 0: a free one). Answers the port, or -1 with errno as the failure left it.
    int bind(const std::string& host, int port);
    // Serves until halt(); returns at once when halt() came first. The requests being answered end first:
    // whoever owns long answers (event streams) must end them.
    void serve();
    // Any thread.
    void halt();

private:
    // Not used: serve() replaces the library's accepting loop. Closes the socket.
    bool process_and_close_socket(socket_t sock) override;
    // A worker: answers the gathered requests until serve() ends.
    void answer();

    struct Loop;
    PanelServerLimits limits_;
    std::unique_ptr<Loop> loop_;
};

}  // namespace quorvanti::platform
