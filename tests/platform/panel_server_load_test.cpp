// The panel under clients that hold connections without the token: idle sockets, requests that trickle
// in a byte at a time, TLS handshakes that never finish and clients that never read their answers, all
// from the operator's own address. The operator's requests are answered and an open page keeps its event
// stream meanwhile; the server closes every such socket by its own deadlines.
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
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/web_frontend.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What the operator may wait for an answer: a few seconds, on a 2-core machine under sanitizers.
constexpr auto kAnswerBound = 2s;
// Every held socket is closed by then: the server's idle deadline (5 s) and a margin.
constexpr auto kAllClosedBy = 9s;

// From the loopback address `from`; `receiveBuffer` > 0: as small a window as the kernel allows, for a
// client that never reads.
int connectTo(int port, const char* from, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in source{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {}, .sin_zero = {}}, address = source;
    ::inet_pton(AF_INET, from, &source.sin_addr);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0) ::close(fd);
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

// One panel, the sockets that hold it, and what its open page has seen.
struct Panel {
    const char* what;
    std::string authority;  // the folder of the certificate authority, for TLS
    VirtualClock clock;
    EventLoop loop{clock};
    std::ostringstream journal;
    WebFrontend web{loop, journal, MessageAnswer::Yes, [] { return false; }};
    std::vector<int> held, slow;
    std::mutex seenMutex;
    std::string seen;

    Panel(const char* what_, std::string authority_) : what(what_), authority(std::move(authority_)) {}
    std::unique_ptr<httplib::ClientImpl> client() const {
        std::unique_ptr<httplib::ClientImpl> c = std::make_unique<httplib::ClientImpl>("127.0.0.1", web.port());
        if (!authority.empty()) {
            auto secure = std::make_unique<httplib::SSLClient>("127.0.0.1", web.port());
            secure->set_ca_cert_path((authority + "/caixa-ac.crt").c_str());
            secure->enable_server_certificate_verification(true);
            c = std::move(secure);
        }
        c->set_connection_timeout(kAnswerBound);
        c->set_read_timeout(kAnswerBound);
        return c;
    }
    // Whether the open page gets `text` within the operator's bound.
    bool pageSees(const std::string& text) {
        for (const auto until = Steady::now() + kAnswerBound;; std::this_thread::sleep_for(20ms)) {
            if (std::lock_guard lock(seenMutex); seen.find(text) != std::string::npos) return true;
            if (Steady::now() >= until) return false;
        }
    }
};

TEST(PanelServerLoadTest, TheOperatorIsAnsweredWhileIdleSlowAndHalfOpenClientsHoldConnectionsAndTheyAreClosed) {
    testing::TempDir folder;
    ASSERT_EQ(std::system(("cd " + folder.path() + " && " QUORVANTI_SOURCE_DIR "/scripts/make-panel-certificate.sh caixa "
                           "127.0.0.1 >/dev/null").c_str()),
              0);
    const std::string token = newPanelToken();
    Panel plain("http", ""), secure("https", folder.path());
    Panel* panels[] = {&plain, &secure};
    plain.web.start({}, token);
    secure.web.start({.tlsCertificate = folder.file("caixa.crt"), .tlsKey = folder.file("caixa.key"), .names = {}}, token);

    std::vector<std::thread> pages;
    std::atomic<bool> trickling{true};
    std::thread trickle;
    // Whatever the outcome: the trickle stops, the held sockets close (a failing server is not left to
    // wait them out), the panels end their streams and the pages return.
    const std::shared_ptr<void> atExit(nullptr, [&](void*) {
        trickling = false;
        if (trickle.joinable()) trickle.join();
        for (Panel* panel : panels) {
            for (const int fd : panel->held) ::close(fd);
            panel->web.stop();
        }
        for (auto& page : pages) page.join();
    });

    for (Panel* panel : panels) {  // an open page on each panel, following the state
        pages.emplace_back([panel, &token] {
            auto page = panel->client();
            page->set_read_timeout(30s);
            page->Get("/api/events", {{kPanelTokenHeader, token}}, [panel](const char* data, std::size_t size) {
                std::lock_guard lock(panel->seenMutex);
                panel->seen.append(data, size);
                return true;
            });
        });
    }
    for (Panel* panel : panels) ASSERT_TRUE(panel->pageSees("data: ")) << panel->what << ": no page opened";

    // Idle sockets, ones that trickle a request (or a TLS ClientHello whose record never fills), and idle
    // ones of another address, under every cap: only the server's deadline can close those. The operator's
    // address holds 300 idle sockets on the TLS panel alone: the caps that make room for the operator are
    // the same for both panels, and the plain panel's idle deadline is its other address's.
    const auto opened = Steady::now();
    for (Panel* panel : panels) {
        const int idle = panel == &secure ? 300 : 0;
        for (const auto& [count, from, slow] : {std::tuple{idle, "127.0.0.1", false}, {20, "127.0.0.1", true},
                                                {8, "127.0.0.2", false}}) {
            for (int i = 0; i < count; ++i) {
                const int fd = connectTo(panel->web.port(), from);
                ASSERT_GE(fd, 0) << panel->what << ": connection " << i << " from " << from << " refused by the backlog";
                panel->held.push_back(fd);
                if (slow) panel->slow.push_back(fd);
            }
        }
    }
    // Clients that ask for the page forty times at once and never read an answer.
    std::string pages40;
    for (int i = 0; i < 40; ++i) pages40 += "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < 20; ++i) {
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
                for (const int fd : panel->slow) ::send(fd, &(panel == &secure ? hello : request)[at], 1, MSG_NOSIGNAL);
            for (int wait = 0; trickling && wait < 5; ++wait) std::this_thread::sleep_for(100ms);
        }
    });

    // The operator, every half second for three seconds: the state, and a change the open page sees.
    for (int round = 0; round < 6; ++round, std::this_thread::sleep_for(500ms)) {
        for (Panel* panel : panels) {
            const auto result = panel->client()->Get("/api/state", {{kPanelTokenHeader, token}});
            ASSERT_TRUE(result) << panel->what << ", round " << round << ": " << httplib::to_string(result.error());
            EXPECT_EQ(result->status, 200) << panel->what << ", round " << round;
            panel->web.notice("carga-" + std::to_string(round));
            EXPECT_TRUE(panel->pageSees("carga-" + std::to_string(round))) << panel->what << ", round " << round;
        }
    }
    for (const Panel* panel : panels) {
        int open = 0;
        for (const int fd : panel->held) open += closedByServer(fd, opened + kAllClosedBy) ? 0 : 1;
        EXPECT_EQ(open, 0) << panel->what << ": sockets the server left open";
    }
}

}  // namespace
}  // namespace quorvanti::platform
