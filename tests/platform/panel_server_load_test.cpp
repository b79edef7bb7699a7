// The panel under clients that hold connections without the token: idle sockets, requests that trickle
// in a byte at a time, TLS handshakes that never finish and clients that never read their answers, all
// from the operator's own address. The
// operator's requests are answered and an open page keeps its event stream meanwhile; the server closes
// every such socket by its own deadlines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/web_frontend.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kIdle = 300, kSlow = 20, kNotReading = 20;
// Idle sockets of another address, under every cap: only the server's deadline can close them.
constexpr int kIdleNeighbours = 8;
// What the operator may wait for an answer: a few seconds, on a 2-core machine under sanitizers.
constexpr auto kAnswerBound = 2s;
// Every held socket is closed by then: the server's idle deadline (5 s) and a margin.
constexpr auto kAllClosedBy = 9s;

// From the loopback address `from` (the operator's is 127.0.0.1); `receiveBuffer` > 0: as small a window
// as the kernel allows, for a client that never reads.
int connectTo(int port, const char* from = "127.0.0.1", int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &source.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

// True once the server has closed `fd` (end of stream or reset); false if it is still open at `deadline`.
bool closedByServer(int fd, Steady::time_point deadline) {
    char bytes[512];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        pollfd entry{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) return false;
        const ssize_t n = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
}

// One panel and what holds its connections.
struct Panel {
    const char* what;
    bool tls;
    VirtualClock clock;
    EventLoop loop{clock};
    std::ostringstream journal;
    WebFrontend web{loop, journal, MessageAnswer::Yes, [] { return false; }};
    std::vector<int> held;  // idle and slow sockets
    std::vector<int> slow;

    Panel(const char* what_, bool tls_) : what(what_), tls(tls_) {}
    ~Panel() {
        for (const int fd : held) ::close(fd);
    }
    std::unique_ptr<httplib::ClientImpl> client(const std::string& authority) const {
        std::unique_ptr<httplib::ClientImpl> c;
        if (tls) {
            auto secure = std::make_unique<httplib::SSLClient>("127.0.0.1", web.port());
            secure->set_ca_cert_path((authority + "/caixa-ac.crt").c_str());
            secure->enable_server_certificate_verification(true);
            c = std::move(secure);
        } else {
            c = std::make_unique<httplib::ClientImpl>("127.0.0.1", web.port());
        }
        c->set_connection_timeout(kAnswerBound);
        c->set_read_timeout(kAnswerBound);
        return c;
    }
};

TEST(PanelServerLoadTest, TheOperatorIsAnsweredWhileIdleSlowAndHalfOpenClientsHoldConnectionsAndTheyAreClosed) {
    testing::TempDir folder;
    ASSERT_EQ(std::system(("cd " + folder.path() + " && " QUORVANTI_SOURCE_DIR "/scripts/make-panel-certificate.sh caixa "
                           "127.0.0.1 >/dev/null").c_str()),
              0);
    const std::string token = newPanelToken();
    Panel plain("http", false), secure("https", true);
    Panel* panels[] = {&plain, &secure};
    plain.web.start({}, token);
    secure.web.start({.tlsCertificate = folder.file("caixa.crt"), .tlsKey = folder.file("caixa.key"), .names = {}}, token);

    std::mutex seenMutex;
    std::string seen[2];
    std::vector<std::thread> pages;
    std::atomic<bool> trickling{true};
    std::thread trickle;
    // Whatever the outcome: the trickle stops, the held sockets close (a failing server is not left to
    // wait them out), the panels end their streams and the pages return.
    struct AtExit {
        std::function<void()> run;
        ~AtExit() { run(); }
    } atExit{[&] {
        trickling = false;
        if (trickle.joinable()) trickle.join();
        for (Panel* panel : panels) {
            for (const int fd : panel->held) ::close(fd);
            panel->held.clear();
            panel->web.stop();
        }
        for (auto& page : pages) page.join();
    }};

    // An open page on each panel, following the state.
    for (int p = 0; p < 2; ++p) {
        pages.emplace_back([&, p] {
            auto page = panels[p]->client(folder.path());
            page->set_read_timeout(30s);
            page->Get("/api/events", {{kPanelTokenHeader, token}}, [&](const char* data, std::size_t size) {
                std::lock_guard lock(seenMutex);
                seen[p].append(data, size);
                return true;
            });
        });
    }

    const auto following = [&](int p, const std::string& text) {
        const auto until = Steady::now() + kAnswerBound;
        for (;; std::this_thread::sleep_for(20ms)) {
            {
                std::lock_guard lock(seenMutex);
                if (seen[p].find(text) != std::string::npos) return true;
            }
            if (Steady::now() >= until) return false;
        }
    };
    for (int p = 0; p < 2; ++p) ASSERT_TRUE(following(p, "data: ")) << panels[p]->what << ": no page opened";

    // Idle sockets, then ones that trickle a request (or a TLS ClientHello whose record never fills).
    const auto opened = Steady::now();
    for (Panel* panel : panels) {
        for (int i = 0; i < kIdle + kSlow; ++i) {
            const int fd = connectTo(panel->web.port());
            ASSERT_GE(fd, 0) << panel->what << ": connection " << i << " refused by the backlog";
            panel->held.push_back(fd);
            if (i >= kIdle) panel->slow.push_back(fd);
        }
    }
    for (Panel* panel : panels) {
        for (int i = 0; i < kIdleNeighbours; ++i) {
            const int fd = connectTo(panel->web.port(), "127.0.0.2");
            ASSERT_GE(fd, 0) << panel->what << ": a neighbour's connection " << i;
            panel->held.push_back(fd);
        }
    }
    // Clients that ask for the page forty times at once and never read an answer.
    std::string pages40;
    for (int i = 0; i < 40; ++i) pages40 += "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < kNotReading; ++i) {
        const int fd = connectTo(plain.web.port(), "127.0.0.1", 1);
        ASSERT_GE(fd, 0) << "a client that does not read: refused by the backlog";
        plain.held.push_back(fd);
        ASSERT_EQ(::send(fd, pages40.data(), pages40.size(), MSG_NOSIGNAL), static_cast<ssize_t>(pages40.size()));
    }
    trickle = std::thread([&] {
        const std::string request = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + std::string(64, 'a');
        const std::string hello = std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + std::string(64, 'b');
        for (std::size_t at = 0; trickling && at < request.size(); ++at) {
            for (const Panel* panel : panels)
                for (const int fd : panel->slow) ::send(fd, &(panel->tls ? hello : request)[at], 1, MSG_NOSIGNAL);
            for (int wait = 0; trickling && wait < 5; ++wait) std::this_thread::sleep_for(100ms);
        }
    });

    // The operator, every half second for three seconds: the state, and a change the open page sees.
    for (int round = 0; round < 6; ++round) {
        for (int p = 0; p < 2; ++p) {
            const Panel& panel = *panels[p];
            const auto result = panel.client(folder.path())->Get("/api/state", {{kPanelTokenHeader, token}});
            ASSERT_TRUE(result) << panel.what << ", round " << round << ": " << httplib::to_string(result.error());
            EXPECT_EQ(result->status, 200) << panel.what << ", round " << round;
            const std::string mark = "carga-" + std::to_string(round);
            panels[p]->web.notice(mark);
            EXPECT_TRUE(following(p, mark)) << panel.what << ": the open page did not get " << mark;
        }
        std::this_thread::sleep_for(500ms);
    }

    for (const Panel* panel : panels) {
        int open = 0;
        for (const int fd : panel->held) open += closedByServer(fd, opened + kAllClosedBy) ? 0 : 1;
        EXPECT_EQ(open, 0) << panel->what << ": sockets the server left open";
    }
}

}  // namespace
}  // namespace quorvanti::platform
