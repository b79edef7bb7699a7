#include "platform/ui/panel_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quorvanti::platform {

namespace {

using Steady = std::chrono::steady_clock;
using Id = ConnectionLimits::Id;

// The library takes header lines up to 8 KB; a head beyond twice that is not a browser's.
constexpr std::size_t kLongestHead = 16 * 1024;
// Connections accepted in one turn of the loop, so that waiting clients are read between bursts.
constexpr int kAcceptsPerTurn = 64;
// The kernel takes a whole answer of this size (the page is 24 KB) for a client that does not read, so
// no worker waits on it; the kernel doubles it, and only bytes really queued use memory.
constexpr int kSendBuffer = 256 * 1024;
// A connection asking for more while this much of its earlier answers is unsent is not reading them:
// it is closed instead of answered again (pipelined requests would otherwise fill any buffer).
constexpr int kMostUnsent = 64 * 1024;
// Out of descriptors, accepting pauses this long instead of spinning on a listening socket it cannot empty.
constexpr std::chrono::milliseconds kAcceptPause{100};

void addressText(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &address, sizeof v4);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &address, sizeof v6);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

// Waits until `fd` is ready for `events` (or failed: the next call on it tells how); false at `deadline`.
bool waitFor(int fd, short events, Steady::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
        if (left <= 0) return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

struct Connection {
    Id id = 0;
    int fd = -1;
    SSL* ssl = nullptr;
    bool handshaken = false;
    std::string peer;
    int peerPort = 0;
    std::string buffer;   // read ahead of the request being gathered
    std::string request;  // the request a worker answers, whole
    bool wholeRequest = true;
    bool started = false;  // a byte of the next request has come
    Steady::time_point deadline;
    short wants = POLLIN;  // what the socket must become for the next step (TLS may want to write)
    std::size_t served = 0;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (ssl != nullptr) {
            if (handshaken) SSL_shutdown(ssl);  // one non-blocking try at a close_notify
            SSL_free(ssl);
            ERR_clear_error();
        }
        if (fd >= 0) ::close(fd);
    }
};

enum class Gathered { More, Whole, Unbounded, Oversized };

// How much of `bytes` is the next request. Unbounded: the head is whole but its body's extent is not
// known here (chunked, or declared over `longestBody`); the worker gets the head, the library answers
// it (413, 400) and the connection closes.
std::pair<Gathered, std::size_t> gather(const std::string& bytes, std::size_t longestBody) {
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return {bytes.size() > kLongestHead ? Gathered::Oversized : Gathered::More, 0};
    const std::size_t head = end + 4;
    if (head > kLongestHead) return {Gathered::Oversized, 0};
    std::optional<std::uint64_t> length;
    bool unbounded = false;
    for (std::size_t at = bytes.find("\r\n") + 2; at < end + 2;) {
        const std::size_t next = bytes.find("\r\n", at);
        const std::string_view line(bytes.data() + at, next - at);
        at = next + 2;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string name(line.substr(0, colon));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        if (name == "transfer-encoding") unbounded = true;
        if (name != "content-length") continue;
        if (length || value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string_view::npos) {
            unbounded = true;
            continue;
        }
        length = std::stoull(std::string(value));
    }
    if (unbounded || (length && *length > longestBody)) return {Gathered::Unbounded, head};
    const std::size_t whole = head + static_cast<std::size_t>(length.value_or(0));
    return bytes.size() >= whole ? std::pair{Gathered::Whole, whole} : std::pair{Gathered::More, std::size_t{0}};
}

// What the library reads and writes for one request: the gathered bytes, then the end; answers go to
// the socket, each write within the write limit.
class GatheredStream final : public httplib::Stream {
public:
    GatheredStream(Connection& connection, std::chrono::milliseconds writeLimit)
        : c_(connection), writeLimit_(writeLimit) {}

    bool is_readable() const override { return at_ < c_.request.size(); }

    bool is_writable() const override { return waitFor(c_.fd, POLLOUT, Steady::now() + writeLimit_) && alive(); }

    ssize_t read(char* data, size_t size) override {
        if (at_ >= c_.request.size()) {
            ranDry_ = true;
            return 0;
        }
        const std::size_t n = std::min(size, c_.request.size() - at_);
        std::memcpy(data, c_.request.data() + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* data, size_t size) override {
        const auto deadline = Steady::now() + writeLimit_;
        std::size_t done = 0;
        while (done < size) {
            short wait = POLLOUT;
            if (c_.ssl != nullptr) {
                ERR_clear_error();
                const int n = SSL_write(c_.ssl, data + done, static_cast<int>(std::min<std::size_t>(size - done, INT_MAX)));
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                const int error = SSL_get_error(c_.ssl, n);
                if (error == SSL_ERROR_WANT_READ) wait = POLLIN;
                else if (error != SSL_ERROR_WANT_WRITE) return fail();
            } else {
                const ssize_t n = ::send(c_.fd, data + done, size - done, MSG_NOSIGNAL);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return fail();
            }
            if (!waitFor(c_.fd, wait, deadline)) return fail();
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.peer;
        port = c_.peerPort;
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(c_.fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) addressText(address, ip, port);
    }

    socket_t socket() const override { return c_.fd; }

    // The library wanted more than was gathered, or a write failed: the connection cannot carry another request.
    bool spent() const { return ranDry_ || failed_; }

private:
    ssize_t fail() {
        failed_ = true;
        return -1;
    }
    // A client that closed its end is not written to (an event stream would otherwise wait for its next
    // write to find out).
    bool alive() const {
        pollfd entry{c_.fd, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0) return true;
        if (entry.revents & (POLLERR | POLLHUP)) return false;
        char byte = 0;
        return ::recv(c_.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
    }

    Connection& c_;
    std::chrono::milliseconds writeLimit_;
    std::size_t at_ = 0;
    bool ranDry_ = false, failed_ = false;
};

}  // namespace

struct PanelServer::Loop {
    SSL_CTX* tls = nullptr;
    bool tlsWanted = false;
    int wake = -1;  // an eventfd: halt() and the workers' answers end the loop's wait
    std::atomic<bool> halting{false};

    std::mutex mutex;
    std::condition_variable work;
    std::deque<std::unique_ptr<Connection>> ready;                    // gathered, for the workers
    std::deque<std::pair<std::unique_ptr<Connection>, bool>> answered;  // back from them; true: kept open
    bool workersEnd = false;

    ~Loop() {
        if (tls != nullptr) SSL_CTX_free(tls);
        if (wake >= 0) ::close(wake);
    }
    void nudge() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
    }
};

PanelServer::PanelServer(PanelServerLimits limits, const std::string& certificate, const std::string& key)
    : limits_(limits), loop_(std::make_unique<Loop>()) {
    // A client gone mid-answer must fail the write, not end the monitor: TLS writes cannot pass MSG_NOSIGNAL.
    std::signal(SIGPIPE, SIG_IGN);
    loop_->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (certificate.empty()) return;
    loop_->tlsWanted = true;
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context != nullptr && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
        SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(context) == 1) {
        SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
        // Idle connections keep no TLS buffers.
        SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
        loop_->tls = context;
    } else if (context != nullptr) {
        SSL_CTX_free(context);
    }
    ERR_clear_error();
}

PanelServer::~PanelServer() {
    const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET) ::close(listening);
}

bool PanelServer::is_valid() const { return loop_->wake >= 0 && (!loop_->tlsWanted || loop_->tls != nullptr); }

bool PanelServer::process_and_close_socket(socket_t sock) {
    ::close(sock);
    return false;
}

int PanelServer::bind(const std::string& host, int port) {
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    if (bound <= 0) return -1;
    // The library listens with a backlog of 5: a burst beyond it would wait for the clients' SYN retries.
    ::listen(svr_sock_, limits_.backlog);
    ::fcntl(svr_sock_, F_SETFL, ::fcntl(svr_sock_, F_GETFL) | O_NONBLOCK);
    return bound;
}

void PanelServer::halt() {
    loop_->halting = true;
    loop_->nudge();
}

void PanelServer::answer() {
    Loop& loop = *loop_;
    for (;;) {
        std::unique_ptr<Connection> connection;
        {
            std::unique_lock lock(loop.mutex);
            loop.work.wait(lock, [&] { return loop.workersEnd || !loop.ready.empty(); });
            if (loop.workersEnd) return;
            connection = std::move(loop.ready.front());
            loop.ready.pop_front();
        }
        GatheredStream stream(*connection, limits_.write);
        const bool last =
            ++connection->served >= limits_.requestsPerConnection || !connection->wholeRequest || loop.halting;
        bool closedByClient = false;
        bool answered = false;
        try {
            answered = process_request(stream, last, closedByClient, nullptr);
        } catch (...) {
            answered = false;
        }
        const bool keep = answered && !last && !closedByClient && !stream.spent();
        connection->request.clear();
        {
            std::lock_guard lock(loop.mutex);
            loop.answered.emplace_back(std::move(connection), keep);
        }
        loop.nudge();
    }
}

namespace {

enum class Step { Wait, Close };

// Reads what the client has sent (after completing the TLS handshake), without waiting.
Step readAvailable(Connection& c, std::size_t most, Steady::time_point now, std::chrono::milliseconds idle) {
    if (c.ssl != nullptr && !c.handshaken) {
        ERR_clear_error();
        const int done = SSL_accept(c.ssl);
        if (done != 1) {
            const int error = SSL_get_error(c.ssl, done);
            if (error == SSL_ERROR_WANT_READ) c.wants = POLLIN;
            else if (error == SSL_ERROR_WANT_WRITE) c.wants = POLLOUT;
            else return Step::Close;
            return Step::Wait;
        }
        c.handshaken = true;
        c.wants = POLLIN;
        c.deadline = now + idle;
    }
    char chunk[4096];
    while (c.buffer.size() < most) {
        ssize_t n = 0;
        if (c.ssl != nullptr) {
            ERR_clear_error();
            const int got = SSL_read(c.ssl, chunk, sizeof chunk);
            if (got <= 0) {
                const int error = SSL_get_error(c.ssl, got);
                if (error == SSL_ERROR_WANT_READ) c.wants = POLLIN;
                else if (error == SSL_ERROR_WANT_WRITE) c.wants = POLLOUT;
                else return Step::Close;
                return Step::Wait;
            }
            n = got;
        } else {
            n = ::recv(c.fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Step::Wait;
            if (n <= 0) return Step::Close;
        }
        c.buffer.append(chunk, static_cast<std::size_t>(n));
    }
    return Step::Wait;
}

}  // namespace

void PanelServer::serve() {
    Loop& loop = *loop_;
    ConnectionLimits limits(limits_.caps);
    std::map<Id, std::unique_ptr<Connection>> waiting;
    Id nextId = 1;
    const socket_t listening = svr_sock_;
    const std::size_t longestBody = std::min(payload_max_length_, std::size_t{1} << 20);
    const std::size_t most = kLongestHead + longestBody + 1;
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < std::max<std::size_t>(limits_.workers, 1); ++i) workers.emplace_back([this] { answer(); });

    // After bytes came: the request goes to a worker when whole; the connection stays (true) or closes.
    const auto settle = [&](std::unique_ptr<Connection>& c, Steady::time_point now) {
        if (!c->started && !c->buffer.empty()) {
            c->started = true;
            c->deadline = now + limits_.request;
        }
        const auto [gathered, length] = gather(c->buffer, longestBody);
        if (gathered == Gathered::Oversized || (gathered == Gathered::More && c->buffer.size() >= most)) return false;
        if (gathered == Gathered::More) return true;
        int unsent = 0;
        if (c->served > 0 && ::ioctl(c->fd, SIOCOUTQ, &unsent) == 0 && unsent > kMostUnsent) return false;
        c->request = c->buffer.substr(0, length);
        c->buffer.erase(0, length);
        c->wholeRequest = gathered == Gathered::Whole;
        limits.answering(c->id);
        {
            std::lock_guard lock(loop.mutex);
            loop.ready.push_back(std::move(c));
        }
        loop.work.notify_one();
        return true;
    };
    const auto progress = [&](std::unique_ptr<Connection>& c, Steady::time_point now) {
        return readAvailable(*c, most, now, limits_.idle) == Step::Wait && settle(c, now);
    };

    Steady::time_point acceptAgain{};
    std::vector<pollfd> polled;
    std::vector<Id> polledIds, dropped;
    while (!loop.halting) {
        auto now = Steady::now();
        const bool accepting = now >= acceptAgain;
        auto next = accepting ? now + std::chrono::minutes(1) : acceptAgain;
        polled.assign({pollfd{loop.wake, POLLIN, 0}, pollfd{accepting ? listening : -1, POLLIN, 0}});
        polledIds.clear();
        for (const auto& [id, c] : waiting) {
            polled.push_back({c->fd, c->wants, 0});
            polledIds.push_back(id);
            next = std::min(next, c->deadline);
        }
        const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        if (::poll(polled.data(), polled.size(), static_cast<int>(std::clamp<long long>(timeout, 0, 60'000))) < 0) {
            if (errno != EINTR) std::this_thread::sleep_for(kAcceptPause);  // out of memory: try again shortly
            continue;
        }
        now = Steady::now();
        if (polled[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(loop.wake, &count, sizeof count);
        }
        if (loop.halting) break;

        // Connections back from the workers wait for their next request, or close.
        std::deque<std::pair<std::unique_ptr<Connection>, bool>> answered;
        {
            std::lock_guard lock(loop.mutex);
            answered.swap(loop.answered);
        }
        for (auto& [c, keep] : answered) {
            const Id id = c->id;
            if (!keep) {
                limits.closed(id);
                continue;
            }
            limits.waiting(id);
            c->started = false;
            c->deadline = now + limits_.idle;
            // Bytes may be in the TLS layer already, where poll cannot see them.
            if (!progress(c, now)) {
                limits.closed(id);
                continue;
            }
            if (c) waiting.emplace(id, std::move(c));
        }

        if (accepting && (polled[1].revents & POLLIN)) {
            for (int i = 0; i < kAcceptsPerTurn; ++i) {
                sockaddr_storage address{};
                socklen_t length = sizeof address;
                const int fd = ::accept4(listening, reinterpret_cast<sockaddr*>(&address), &length,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EINTR || errno == ECONNABORTED) continue;
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                        acceptAgain = now + kAcceptPause;
                    break;
                }
                auto c = std::make_unique<Connection>();
                c->fd = fd;
                c->id = nextId++;
                ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
                addressText(address, c->peer, c->peerPort);
                if (!limits.admit(c->id, c->peer, dropped)) continue;  // every connection over the caps is busy
                for (const Id id : dropped) waiting.erase(id);
                if (loop.tls != nullptr) {
                    c->ssl = SSL_new(loop.tls);
                    if (c->ssl == nullptr || SSL_set_fd(c->ssl, fd) != 1) {
                        limits.closed(c->id);
                        continue;
                    }
                    c->deadline = now + limits_.handshake;
                } else {
                    c->deadline = now + limits_.idle;
                }
                waiting.emplace(c->id, std::move(c));
            }
        }

        for (std::size_t i = 2; i < polled.size(); ++i) {
            if (polled[i].revents == 0) continue;
            const auto it = waiting.find(polledIds[i - 2]);
            if (it == waiting.end()) continue;  // dropped for a newer one meanwhile
            if (!progress(it->second, now)) {
                limits.closed(it->first);
                waiting.erase(it);
            } else if (!it->second) {
                waiting.erase(it);  // handed to a worker
            }
        }

        // Deadlines: a handshake, an idle wait or a request that did not finish in time closes.
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (it->second->deadline > now) {
                ++it;
                continue;
            }
            limits.closed(it->first);
            it = waiting.erase(it);
        }
    }

    // Event streams see the closed listening socket as the server shutting down.
    svr_sock_ = INVALID_SOCKET;
    ::close(listening);
    waiting.clear();
    {
        std::lock_guard lock(loop.mutex);
        loop.workersEnd = true;
        loop.ready.clear();
    }
    loop.work.notify_all();
    for (auto& worker : workers) worker.join();
    loop.answered.clear();
}

}  // namespace quorvanti::platform
