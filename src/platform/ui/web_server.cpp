// The panel's HTTP side: the names it answers to, the page, its state (whole and as server-sent events),
// its pictures, and the two kinds of input (commands, and inputs to the open message box or dialog). Runs
// on the server's threads: it reads the snapshot under the frontend's mutex and hands closures to the
// monitor thread.
#include <httplib.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/host_name.h"
#include "platform/ui/panel_server.h"
#include "platform/ui/web_frontend.h"

namespace quorvanti::platform {

namespace {

constexpr const char* kPage =
#include "platform/ui/web_page.inc"
    ;

// Streams of events open at once; each holds a server worker for its life.
constexpr int kMostStreams = 6;
// Workers left for the other requests however many streams are open.
constexpr std::size_t kRequestWorkers = 4;
constexpr std::size_t kLongestName = 64;
constexpr std::size_t kLongestText = 512;
// Inputs waiting for the monitor thread (it takes them as fast as an operator types).
constexpr std::size_t kMostWaitingInputs = 64;
// A comment line keeps an idle event stream open through proxies and shows a dead client.
constexpr std::chrono::seconds kKeepAlive{15};
// How long a stop waits for the event streams to end themselves (a client that stopped reading holds its
// stream up to the server's write limit).
constexpr std::chrono::seconds kStreamsEndWait{3};

void refuse(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An application/x-www-form-urlencoded body; nullopt when it is malformed or repeats a field.
std::optional<std::map<std::string, std::string>> formFields(const std::string& body) {
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) continue;
        const std::size_t equals = pair.find('=');
        const std::string parts[2] = {pair.substr(0, equals), equals == std::string::npos ? "" : pair.substr(equals + 1)};
        std::string decoded[2];
        for (int p = 0; p < 2; ++p) {
            const std::string& part = parts[p];
            for (std::size_t i = 0; i < part.size(); ++i) {
                if (part[i] == '+') {
                    decoded[p] += ' ';
                } else if (part[i] == '%') {
                    if (i + 2 >= part.size()) return std::nullopt;
                    const int high = hexValue(part[i + 1]), low = hexValue(part[i + 2]);
                    if (high < 0 || low < 0) return std::nullopt;
                    decoded[p] += static_cast<char>(high * 16 + low);
                    i += 2;
                } else {
                    decoded[p] += part[i];
                }
            }
        }
        if (!fields.emplace(decoded[0], decoded[1]).second) return std::nullopt;
    }
    return fields;
}

// Well-formed UTF-8 without control characters: what a text box can hold.
bool plainText(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        if (length == 1 && (b < 0x20 || b == 0x7f)) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

std::string field(const std::map<std::string, std::string>& fields, const std::string& name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

// `host` as requests are compared with it: an address as inet_ntop writes it (brackets off), a name in
// lower case without its trailing dot.
std::string hostKey(std::string host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1 && ::inet_ntop(AF_INET, &v4, text, sizeof text)) return text;
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && ::inet_ntop(AF_INET6, &v6, text, sizeof text)) return text;
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!host.empty() && host.back() == '.') host.pop_back();
    return host;
}

bool isAddress(const std::string& key) {
    in6_addr address{};
    return ::inet_pton(AF_INET, key.c_str(), &address) == 1 || ::inet_pton(AF_INET6, key.c_str(), &address) == 1;
}

struct Authority {
    std::string host;  // as hostKey writes it
    int port = 0;      // 0: none given
};

// A Host header or an origin's "host[:port]" / "[v6][:port]"; nullopt when malformed.
std::optional<Authority> parseAuthority(const std::string& text) {
    const std::size_t close = text.rfind(']');
    const std::size_t colon = text.find(':', close == std::string::npos ? 0 : close);
    const std::string host = text.substr(0, colon), port = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (host.empty() || !isPanelName(host) || (host.front() == '[') != (close != std::string::npos)) return std::nullopt;
    Authority authority{hostKey(host), 0};
    if (colon == std::string::npos) return authority;
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    authority.port = std::stoi(port);
    if (authority.port == 0 || authority.port > 65535) return std::nullopt;
    return authority;
}

// This machine's addresses now (they change with DHCP), as hostKey writes them.
std::vector<std::string> interfaceAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (entry->ifa_addr->sa_family == AF_INET) {
            sockaddr_in address{};
            std::memcpy(&address, entry->ifa_addr, sizeof address);
            if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) addresses.emplace_back(text);
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            sockaddr_in6 address{};
            std::memcpy(&address, entry->ifa_addr, sizeof address);
            if (::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text)) addresses.emplace_back(text);
        }
    }
    ::freeifaddrs(list);
    return addresses;
}

std::string pictureType(const std::string& bytes) {
    if (bytes.rfind("\x89PNG", 0) == 0) return "image/png";
    if (bytes.rfind("BM", 0) == 0) return "image/bmp";
    return "application/octet-stream";
}

}  // namespace

WebFrontend::WebFrontend(EventLoop& loop, std::ostream& journal, MessageAnswer yesNoWhenStopping,
                         std::function<bool()> stopRequested)
    : loop_(loop), journal_(journal), yesNoWhenStopping_(yesNoWhenStopping), stopRequested_(std::move(stopRequested)) {}

WebFrontend::~WebFrontend() { stop(); }

bool WebFrontend::authorised(const httplib::Request& request, httplib::Response& response) const {
    if (panelTokenMatches(token_, request.get_header_value(kPanelTokenHeader))) return true;
    refuse(response, 403, "acesso negado: falta o token do painel ou ele está errado");
    return false;
}

bool WebFrontend::acceptedHost(const std::string& host) const {
    if (isLoopbackHost(host) || std::ranges::find(acceptedHosts_, host) != acceptedHosts_.end()) return true;
    if (!anyAddress_ || !isAddress(host)) return false;
    const auto here = interfaceAddresses();
    return std::ranges::find(here, host) != here.end();
}

// The page's own POSTs carry its origin: scheme, host and port the same as this request's.
bool WebFrontend::sameOrigin(const httplib::Request& request) const {
    const std::string origin = request.get_header_value("Origin");
    const std::string scheme = tls_ ? "https://" : "http://";
    if (origin.rfind(scheme, 0) != 0) return false;
    const auto from = parseAuthority(origin.substr(scheme.size()));
    const auto to = parseAuthority(request.get_header_value("Host"));
    const int defaultPort = tls_ ? 443 : 80;
    return from && to && from->host == to->host &&
           (from->port ? from->port : defaultPort) == (to->port ? to->port : defaultPort);
}

void WebFrontend::postCommand(const httplib::Request& request, httplib::Response& response) {
    const auto fields = formFields(request.body);
    if (!fields) return refuse(response, 400, "pedido mal formado");
    const std::string name = field(*fields, "name"), argument = field(*fields, "arg");
    const auto command = commands_.find(name);
    if (command == commands_.end()) return refuse(response, 404, "comando desconhecido: " + name.substr(0, kLongestName));
    if (argument.size() > kLongestText || !plainText(argument)) return refuse(response, 400, "argumento inválido");
    if (command->second.check) {
        if (const std::string problem = command->second.check(argument); !problem.empty())
            return refuse(response, 400, problem);
    }
    auto run = command->second.run;
    loop_.post([run, argument] { run(argument); });
    response.status = 202;
    response.set_content("{}", "application/json");
}

void WebFrontend::postModal(const httplib::Request& request, httplib::Response& response) {
    const auto fields = formFields(request.body);
    if (!fields) return refuse(response, 400, "pedido mal formado");
    ModalInput input;
    try {
        input.id = std::stol(field(*fields, "id"));
    } catch (const std::exception&) {
        return refuse(response, 400, "falta o número da janela (id)");
    }
    input.action = field(*fields, "action");
    input.control = field(*fields, "control");
    input.text = field(*fields, "text");
    if (input.control.size() > kLongestName || input.text.size() > kLongestText || !plainText(input.control) ||
        !plainText(input.text))
        return refuse(response, 400, "controle ou texto inválido");
    const std::string answer = field(*fields, "answer");
    if (input.action == "answer") {
        if (answer == "ok") input.answer = MessageAnswer::Ok;
        else if (answer == "yes") input.answer = MessageAnswer::Yes;
        else if (answer == "no") input.answer = MessageAnswer::No;
        else return refuse(response, 400, "resposta inválida: " + answer.substr(0, kLongestName));
    } else if (input.action == "key") {
        const std::string key = field(*fields, "key");
        if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != std::string::npos)
            return refuse(response, 400, "tecla inválida");
        input.key = std::stoi(key);
        if (input.key != 8 && input.key != 13 && input.key != 27 && (input.key < 32 || input.key > 126))
            return refuse(response, 400, "tecla inválida");
    } else if (input.action != "type" && input.action != "click") {
        return refuse(response, 400, "ação inválida: " + input.action.substr(0, kLongestName));
    }
    std::lock_guard lock(mutex_);
    if (modals_.empty() || modals_.back().id != input.id)
        return refuse(response, 409, "esta janela não está mais aberta ou não é a de cima");
    const Modal& top = modals_.back();
    if (top.message != (input.action == "answer")) return refuse(response, 400, "ação inválida para esta janela");
    if (top.message) {
        const bool yesNo = top.style == MessageStyle::YesNoQuestion;
        if (yesNo == (input.answer == MessageAnswer::Ok)) return refuse(response, 400, "resposta inválida para esta caixa");
    } else if (!(input.control.empty() && input.action == "key")) {
        bool known = false;
        for (const auto& c : top.controls) known = known || c.name == input.control;
        if (!known) return refuse(response, 400, "controle desconhecido: " + input.control);
    }
    if (inputs_.size() >= kMostWaitingInputs) return refuse(response, 503, "o monitor ainda não tratou as entradas anteriores");
    inputs_.push_back(std::move(input));
    inputArrived_.notify_all();
    response.status = 202;
    response.set_content("{}", "application/json");
}

bool WebFrontend::watched() const {
    std::lock_guard lock(mutex_);
    return streams_ > 0;
}

void WebFrontend::streamEvents(const httplib::Request&, httplib::Response& response) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return refuse(response, 503, "painel encerrando");
        if (streams_ >= kMostStreams) return refuse(response, 503, "muitas conexões abertas ao painel");
        ++streams_;
    }
    auto last = std::make_shared<std::uint64_t>(0);
    auto sent = std::make_shared<std::shared_ptr<const StateEntries>>();
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, last, sent](std::size_t, httplib::DataSink& sink) {
            std::unique_lock lock(mutex_);
            stateChanged_.wait_for(lock, kKeepAlive, [&] { return stopping_ || version_ != *last; });
            if (stopping_) {
                // The response is ended whole: a browser drops the last events of a stream cut off
                // mid-chunking (the monitor's end among them) instead of handing them to the page.
                lock.unlock();
                sink.done();
                return true;
            }
            std::string chunk;
            const bool keepAlive = version_ == *last;
            if (keepAlive) {
                chunk = ": keep-alive\n\n";
            } else {
                *last = version_;
                chunk = "data: " + eventJsonLocked(*sent) + "\n\n";
            }
            lock.unlock();
            const bool written = sink.write(chunk.data(), chunk.size());
            // Counted once written: a monitor that ends right after flush() must not cut the event off.
            if (!keepAlive) carried(*last);
            return written;
        },
        [this](bool) {
            std::lock_guard lock(mutex_);
            --streams_;
            streamsEnded_.notify_all();
            sent_.notify_all();  // a flush waiting for this stream waits for one fewer
        });
}

void WebFrontend::installRoutes() {
    auto& server = *server_;
    server.set_payload_max_length(kPanelMaxBody);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"}});
    // Before the token is looked at: a page of another name (DNS rebinding) learns nothing, not even
    // whether a token it guessed is right.
    server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        const auto host = request.get_header_value_count("Host") == 1 ? parseAuthority(request.get_header_value("Host"))
                                                                       : std::nullopt;
        if (!host || !acceptedHost(host->host)) {
            refuse(response, 421, "o painel não atende por este nome: use o endereço do diário ou --panel-name");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.method == "POST" && request.has_header("Origin") && !sameOrigin(request)) {
            refuse(response, 403, "pedido de outra origem recusado pelo painel");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // The page holds no data and no secret (a reload has no token in its address): served to any request
    // that named this panel; what it then asks for needs the token.
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                            "img-src blob:; connect-src 'self'");
        response.set_content(kPage, "text/html; charset=utf-8");
    });
    server.Get("/api/state", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response)) return;
        response.set_header("Cache-Control", "no-store");
        response.set_content(stateJson(), "application/json");
    });
    server.Get("/api/events", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response)) return;
        streamEvents(request, response);
    });
    server.Get(R"(/api/picture/([A-Za-z0-9_]{1,32}))", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response)) return;
        std::string bytes;
        {
            std::lock_guard lock(mutex_);
            const auto it = pictures_.find(request.matches[1].str());
            if (it != pictures_.end()) bytes = it->second.bytes;
        }
        if (bytes.empty()) return refuse(response, 404, "sem imagem");
        response.set_header("Cache-Control", "no-store");
        response.set_content(bytes, pictureType(bytes));
    });
    server.Post("/api/command", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response)) return;
        postCommand(request, response);
    });
    server.Post("/api/modal", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response)) return;
        postModal(request, response);
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            if (response.status == 404) refuse(response, 404, "não encontrado");
            if (response.status == 413) refuse(response, 413, "pedido grande demais");
        }
    });
}

std::string WebFrontend::start(const PanelListen& listen, const std::string& token) {
    if (server_) throw std::logic_error("painel já iniciado");
    tls_ = !listen.tlsCertificate.empty();
    if (!tls_ && !isLoopbackHost(listen.host))
        throw std::runtime_error("o painel só escuta fora do loopback com --tls CERT KEY");
    token_ = token;
    const std::string listenKey = hostKey(listen.host);
    anyAddress_ = listenKey == "0.0.0.0" || listenKey == "::";
    // The address a phone opens names the host the certificate names, never 0.0.0.0.
    std::string urlHost = listen.host;
    if (tls_ && !listen.names.empty()) urlHost = listen.names.front();
    else if (tls_ && !isLoopbackHost(listenKey)) urlHost = hostName();
    acceptedHosts_ = {hostKey(urlHost), anyAddress_ ? hostKey(hostName()) : listenKey};
    for (const auto& name : listen.names) acceptedHosts_.push_back(hostKey(name));
    PanelServerLimits limits;
    limits.workers = kMostStreams + kRequestWorkers;
    auto server = tls_ ? std::make_unique<PanelServer>(limits, listen.tlsCertificate, listen.tlsKey)
                       : std::make_unique<PanelServer>(limits);
    if (!server->is_valid()) {
        if (tls_) throw std::runtime_error("certificado ou chave TLS do painel ilegível: " + listen.tlsCertificate);
        throw std::runtime_error("o painel não pode esperar conexões: sem descritores livres");
    }
    PanelServer& panel = *server;
    server_ = std::move(server);
    installRoutes();
    // The library's default adds SO_REUSEPORT, which lets a second monitor listen on the same port and
    // take half of the page's requests; SO_REUSEADDR alone still allows a quick restart, never a sharer.
    server_->set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    errno = 0;
    port_ = panel.bind(listen.host, listen.port);
    if (port_ <= 0) {
        const int cause = errno;
        server_.reset();
        const std::string address = listen.host + ":" + std::to_string(listen.port);
        if (cause == EADDRINUSE)
            throw PanelAddressInUse("o painel não pode escutar em " + address +
                                    ": o endereço já está em uso (outro monitor ou outro programa escuta nele)");
        throw std::runtime_error("o painel não pode escutar em " + address);
    }
    // Listening already: connections made before the loop runs wait in the backlog, and a stop that comes
    // first makes serve() return at once.
    serverThread_ = std::thread([&panel, this] {
        panel.serve();
        listenEnded_ = true;
    });
    const std::string key = hostKey(urlHost);
    const std::string host = key.find(':') != std::string::npos ? "[" + key + "]" : key;
    return std::string(tls_ ? "https" : "http") + "://" + host + ":" + std::to_string(port_) + "/";
}

void WebFrontend::stop() {
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        stateChanged_.notify_all();
        inputArrived_.notify_all();
        // Streams end themselves on stopping_ with their last chunk. The server is halted only after:
        // halted first, it ends a stream between two chunks (its shutting-down check), and the browser
        // then drops the last event.
        streamsEnded_.wait_for(lock, kStreamsEndWait, [this] { return streams_ == 0; });
    }
    if (server_) static_cast<PanelServer&>(*server_).halt();
    if (serverThread_.joinable()) serverThread_.join();
    server_.reset();
}

}  // namespace quorvanti::platform
