// The local authority on the network: HTTP, or HTTPS that demands a client certificate issued by the
// configured authority (a client without one is refused during the TLS handshake). A POST to any path
// ending with a service's name is answered by the authority's rules; the server carries out what the
// answer asks of the transport: wait, drop the connection without an answer, or send an HTTP status.
// Other paths answer 404, other methods 405, a body that is not SOAP 1.2 (Content-Type) 415.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace quorvanti::sefaz {

class Authority;

struct ServerSettings {
    std::string host = "127.0.0.1";
    int port = 0;                 // 0 = a free port, chosen at bind()
    std::string tlsCertificate;   // PEM; with tlsKey and clientCa: HTTPS
    std::string tlsKey;
    std::string clientCa;         // PEM of the authorities whose client certificates are accepted
    std::function<void(const std::string&)> log;  // one line per request; empty = silent
};

class HttpServer {
public:
    // Raises std::runtime_error when the TLS files cannot be used.
    HttpServer(ServerSettings settings, Authority& authority);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds the listening socket and answers its port. Raises std::runtime_error when it cannot.
    int bind();
    // Serves until stop(); answers false when serving failed.
    bool run();
    // Makes run() return; callable from any thread.
    void stop();

private:
    ServerSettings settings_;
    Authority& authority_;
    std::unique_ptr<httplib::Server> server_;
};

}  // namespace quorvanti::sefaz
