#include "sefaz_simulator/http_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "sefaz_simulator/authority.h"
#include "sefaz_simulator/messages/service.h"

namespace quorvanti::sefaz {

namespace {

bool sameEndpoint(const sockaddr_storage& address, const std::string& host, int port) {
    char text[INET6_ADDRSTRLEN] = {};
    int found = -1;
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        found = ntohs(in->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        found = ntohs(in6->sin6_port);
    }
    return found == port && host == text;
}

// The socket of this request. cpp-httplib does not hand it to handlers: under TLS it is the SSL's
// descriptor; in plain HTTP it is the one socket of this process connected to the client's address
// and port.
int requestSocket(const httplib::Request& request, int localPort) {
    if (request.ssl != nullptr) return SSL_get_fd(request.ssl);
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return -1;
    int found = -1;
    while (const dirent* entry = readdir(descriptors)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        sockaddr_storage peer{}, local{};
        socklen_t peerLength = sizeof peer, localLength = sizeof local;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLength) != 0) continue;
        const int port = local.ss_family == AF_INET ? ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port)
                         : local.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port)
                                                       : -1;
        if (port == localPort && sameEndpoint(peer, request.remote_addr, request.remote_port)) {
            found = static_cast<int>(fd);
            break;
        }
    }
    closedir(descriptors);
    return found;
}

bool soapContentType(const std::string& contentType) {
    std::string lower = contentType;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.rfind("application/soap+xml", 0) == 0;
}

}  // namespace

HttpServer::HttpServer(ServerSettings settings, Authority& authority)
    : settings_(std::move(settings)), authority_(authority) {
    const bool tls = !settings_.tlsCertificate.empty();
    if (tls) {
        if (settings_.tlsKey.empty() || settings_.clientCa.empty())
            throw std::runtime_error("HTTPS precisa de certificado, chave e autoridade dos clientes");
        auto secure = std::make_unique<httplib::SSLServer>(settings_.tlsCertificate.c_str(), settings_.tlsKey.c_str(),
                                                           settings_.clientCa.c_str());
        if (!secure->is_valid())
            throw std::runtime_error("não foi possível usar o certificado " + settings_.tlsCertificate + ", a chave " +
                                     settings_.tlsKey + " ou a autoridade " + settings_.clientCa);
        server_ = std::move(secure);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    // The library's default also sets SO_REUSEPORT, which would let a second simulator share the port
    // and take half of the calls; an address in use must be an error.
    server_->set_socket_options([](int socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Headers and body leave in separate writes; with Nagle's algorithm the body would wait for the
    // client's delayed acknowledgement, some 40 ms per answer.
    server_->set_tcp_nodelay(true);
    // Enough workers for a few delayed answers without holding up the others.
    server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
    server_->set_keep_alive_max_count(1000);
    server_->set_keep_alive_timeout(30);
    server_->set_read_timeout(30);
    server_->set_payload_max_length(16 * 1024 * 1024);

    const auto log = [this](const std::string& line) {
        if (settings_.log) settings_.log(line);
    };
    server_->Post(".*", [this, log](const httplib::Request& request, httplib::Response& response) {
        const auto service = serviceFromPath(request.path);
        if (!service) {
            response.status = 404;
            response.set_content("Serviço não encontrado: " + request.path + "\n", "text/plain; charset=utf-8");
            log("POST " + request.path + ": 404");
            return;
        }
        if (!soapContentType(request.get_header_value("Content-Type"))) {
            response.status = 415;
            response.set_content("Use Content-Type application/soap+xml (SOAP 1.2)\n", "text/plain; charset=utf-8");
            log("POST " + request.path + ": 415, Content-Type \"" + request.get_header_value("Content-Type") + "\"");
            return;
        }
        const Reply reply = authority_.answer(*service, request.body);
        log(reply.summary);
        if (reply.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
        if (reply.drop) {
            // Shut down, not closed: the library closes the descriptor itself after its write fails,
            // so the number cannot be reused under it meanwhile.
            const int socket = requestSocket(request, settings_.port);
            if (socket >= 0) {
                ::shutdown(socket, SHUT_RDWR);
                return;
            }
            log("não foi possível derrubar a conexão; respondendo HTTP 500");
            response.status = 500;
            return;
        }
        response.status = reply.httpStatus;
        response.set_content(reply.body, reply.contentType.c_str());
    });
    const auto notAllowed = [log](const httplib::Request& request, httplib::Response& response) {
        response.status = 405;
        response.set_header("Allow", "POST");
        response.set_content("Use POST\n", "text/plain; charset=utf-8");
        log(request.method + " " + request.path + ": 405");
    };
    server_->Get(".*", notAllowed);
    server_->Put(".*", notAllowed);
    server_->Delete(".*", notAllowed);
}

HttpServer::~HttpServer() = default;

int HttpServer::bind() {
    int port = settings_.port;
    if (port == 0) {
        port = server_->bind_to_any_port(settings_.host);
        if (port < 0) throw std::runtime_error("não foi possível escutar em " + settings_.host);
    } else if (!server_->bind_to_port(settings_.host, port)) {
        throw std::runtime_error("não foi possível escutar em " + settings_.host + ":" + std::to_string(port));
    }
    settings_.port = port;
    return port;
}

bool HttpServer::run() { return server_->listen_after_bind(); }

void HttpServer::stop() { server_->stop(); }

}  // namespace quorvanti::sefaz
