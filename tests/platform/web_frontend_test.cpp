// The panel's HTTP side on a real socket: its names only, the token on data, POST-only changes from the
// page's origin, checked input; OK boxes and the consumer document dialog never halt an unattended shop;
// and the panel under clients that hold connections without the token.
// (Dialogs answered from the page are the browser journeys' in tests/panel.)
#include "platform/ui/web_frontend.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "platform/host_name.h"
#include "platform/ui/event_loop.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

// A frontend with its own clock and loop: the fixture's, and those of the tests that start more than one.
struct Frontend {
    VirtualClock clock;
    EventLoop loop{clock};
    std::ostringstream journal;
    WebFrontend web{loop, journal, MessageAnswer::Yes, [] { return false; }};
};

class WebFrontendTest : public ::testing::Test, protected Frontend {
protected:
    std::string startWeb() {
        web.addCommand("ping", {[](const std::string& arg) { return arg == "ok" ? "" : "argumento ruim"; },
                                [this](const std::string& arg) { ran += arg; }});
        web.useClock(clock);
        return web.start({.host = "127.0.0.1", .port = 0, .tlsCertificate = {}, .tlsKey = {}, .names = {"Caixa.Loja."}}, token);
    }

    httplib::Result post(const std::string& path, const std::string& body, bool withToken = true,
                         httplib::Headers headers = {}) {
        if (withToken) headers.emplace(kPanelTokenHeader, token);
        return client.Post(path.c_str(), headers, body, "application/x-www-form-urlencoded");
    }

    const std::string token = newPanelToken();
    std::string ran;
    std::string address = startWeb();
    httplib::Client client{"127.0.0.1", web.port()};
};

TEST_F(WebFrontendTest, EveryRequestNeedsTheTokenAndChangesArePostsWithItInTheHeader) {
    const std::string port = std::to_string(web.port());
    EXPECT_EQ(token.size(), 64u);
    EXPECT_NE(token, newPanelToken());
    const httplib::Headers good{{kPanelTokenHeader, token}};
    const httplib::Headers bad{{kPanelTokenHeader, std::string(token.rbegin(), token.rend())}};
    const auto named = [&](const std::string& host) { return httplib::Headers{{"Host", host}, {kPanelTokenHeader, token}}; };
    const auto from = [&](const std::string& origin) { return httplib::Headers{{"Origin", origin}}; };
    const struct {
        const char* what;
        httplib::Result result;
        int status;
    } cases[] = {
        // The name comes first: another one is refused even with the right token.
        {"a foreign name", client.Get("/api/state", named("rebind.example:" + port)), 421},
        {"a malformed name", client.Get("/api/state", named("127.0.0.1:" + port + "@x")), 421},
        {"a name the operator gave", client.Get("/api/state", named("CAIXA.loja:" + port)), 200},
        {"the IPv6 loopback", client.Get("/api/state", named("[::1]:" + port)), 200},
        {"a POST from another port", post("/api/command", "name=ping&arg=ok", true, from("http://127.0.0.1:1")), 403},
        {"a POST from an opaque origin", post("/api/command", "name=ping&arg=ok", true, from("null")), 403},
        {"page without token", client.Get("/"), 200},
        {"state without token", client.Get("/api/state"), 403},
        {"state with a wrong token", client.Get("/api/state", bad), 403},
        {"state with the token", client.Get("/api/state", good), 200},
        {"picture without token", client.Get("/api/picture/QR"), 403},
        {"command with the token in the query only", post("/api/command?token=" + token, "name=ping&arg=ok", false), 403},
        {"unknown command", post("/api/command", "name=nada"), 404},
        {"refused argument", post("/api/command", "name=ping&arg=x"), 400},
        {"control characters", post("/api/command", "name=ping&arg=o%0Ak"), 400},
        {"oversized body", post("/api/command", "name=ping&arg=" + std::string(kPanelMaxBody, 'a')), 413},
        {"no dialog open", post("/api/modal", "id=1&action=answer&answer=ok"), 409},
        {"bad action", post("/api/modal", "id=1&action=rm"), 400},
        {"accepted command", post("/api/command", "name=ping&arg=ok"), 202},
        {"the page's own origin", post("/api/command", "name=ping&arg=ok", true, from("http://127.0.0.1:" + port)), 202},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.result) << c.what;
        EXPECT_EQ(c.result->status, c.status) << c.what << ": " << c.result->body;
    }
    // Only the accepted commands ran, and only once the monitor thread took their events.
    EXPECT_EQ(ran, "");
    loop.doEvents();
    EXPECT_EQ(ran, "okok");

    // (A token of an earlier start is a wrong one; when a new one is made: PanelTokenTest.)
}

// An idle page gets only what changed, and only once it has settled: the whole state at every caption
// cost a shop 12 MB an hour.
TEST_F(WebFrontendTest, AfterTheWholeStateAnEventCarriesOnlyWhatChanged) {
    web.publish("dashboard", R"({"note":"a}\",b","queue":[{"sale":"1"}],"pending":0})");
    web.repaint("frmEmitirNFCe", "Label1", "Aguardando");
    web.settle(true);
    std::vector<std::string> events;
    std::atomic<std::size_t> got{0};
    std::thread page([&] {
        httplib::Client stream("127.0.0.1", web.port());
        std::string seen;
        stream.Get("/api/events", {{kPanelTokenHeader, token}}, [&](const char* data, std::size_t size) {
            for (seen.append(data, size); seen.find("\n\n") != std::string::npos; seen.erase(0, seen.find("\n\n") + 2))
                if (seen.starts_with("data: ")) events.push_back(seen.substr(6, seen.find("\n\n") - 6));
            got = events.size();
            return events.size() < 2;
        });
    });
    while (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    web.publish("dashboard", R"({"note":"a}\",b","queue":[],"pending":1})");
    web.notice("Venda 1001-01 recolocada na fila");
    page.join();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].find(R"("captions":{"frmEmitirNFCe.Label1":"Aguardando"})"), std::string::npos) << events[0];
    EXPECT_TRUE(std::regex_match(events[1], std::regex(R"(\{"version":\d+,"set":\[\[\["notice"\],"Venda 1001-01 recolocada na fila"\],)"
                                                       R"(\[\["noticeCount"\],1\],\[\["sections","dashboard","pending"\],1\],)"
                                                       R"(\[\["sections","dashboard","queue"\],\[\]\]\],"unset":\[\]\})")))
        << events[1];
}

TEST_F(WebFrontendTest, OnlyASettledChangeMakesANewVersionForThePages) {
    web.useClock(clock);
    const auto version = [this] {
        const std::string state = web.stateJson();
        return std::stoull(state.substr(11, state.find(',') - 11));
    };
    web.repaint("frmEmitirNFCe", "Label1", "Path da string");
    clock.advance(WebFrontend::kSettleTime);
    web.settle();
    const auto rest = version();
    // Step by step: what the pages get after each write and settle, in versions past the resting one.
    const std::tuple<const char*, std::chrono::milliseconds, unsigned> steps[] = {
        {"Iniciando", std::chrono::milliseconds(0), 0},        // not yet still
        {"Path da string", WebFrontend::kSettleTime, 0},       // back as it was: nothing to send
        {"Gerando XML", std::chrono::milliseconds(50), 0},
        {"Assinando", WebFrontend::kSettleTime, 1},            // still at last: one version, the latest text
    };
    for (const auto& [caption, still, newer] : steps) {
        web.repaint("frmEmitirNFCe", "Label1", caption);
        clock.advance(still);
        web.settle();
        EXPECT_EQ(version() - rest, newer) << caption;
    }
    web.notice("Venda 1-01 recolocada na fila");  // a notice goes at once
    EXPECT_EQ(version() - rest, 2u);
}

// The monitor's end reaches an open page: a stopped frontend ends its streams as whole responses, as a
// browser drops the last events of a stream cut off mid-chunking instead of handing them to the page.
TEST_F(WebFrontendTest, AStoppedFrontendEndsItsStreamsWhole) {
    std::atomic<bool> opened{false};
    std::string seen;
    httplib::Error ended = httplib::Error::Unknown;
    std::thread page([&] {
        httplib::Client stream("127.0.0.1", web.port());
        ended = stream.Get("/api/events", {{kPanelTokenHeader, token}}, [&](const char* data, std::size_t size) {
            seen.append(data, size);
            opened = true;
            return true;
        }).error();
    });
    while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    web.notice("Monitor encerrado");
    web.flush(std::chrono::seconds(3));
    web.stop();
    page.join();
    EXPECT_EQ(ended, httplib::Error::Success);
    EXPECT_NE(seen.find("Monitor encerrado"), std::string::npos);
}

// The OK boxes of the page's state as "count:text" items.
std::vector<std::string> okBoxes(const std::string& state) {
    const std::regex box(R"re(\{"id":\d+,"title":"[^"]*","text":"([^"]*)","style":"[^"]*","count":(\d+)\})re");
    const std::string list = state.substr(0, state.find("],\"modals\""));
    std::vector<std::string> boxes;
    for (std::sregex_iterator it(list.begin() + list.find("\"okBoxes\":["), list.end(), box), end; it != end; ++it)
        boxes.push_back((*it)[2].str() + ":" + (*it)[1].str());
    return boxes;
}

// (Acknowledged from the page at once, while a dialog holds the monitor thread: the CPF journey in
// tests/panel.)
TEST_F(WebFrontendTest, AnOkBoxReturnsAtOnceAndStaysOnThePageUntilAcknowledged) {
    for (const char* text : {"Falha na impressão", "Falha na impressão", "Gravado"})
        EXPECT_EQ(web.messageBox(text, MessageStyle::OkCritical, "ERRO"), MessageAnswer::Ok);
    // The same box again is counted.
    EXPECT_EQ(okBoxes(web.stateJson()), (std::vector<std::string>{"2:Falha na impressão", "1:Gravado"})) << web.stateJson();
    EXPECT_EQ(post("/api/command", "name=ack&arg=1x")->status, 400);

    // A page never read keeps the latest boxes only.
    for (std::size_t i = 0; i < kMostOkBoxes + 3; ++i) web.messageBox("aviso " + std::to_string(i), MessageStyle::Ok, "T");
    EXPECT_EQ(okBoxes(web.stateJson()).size(), kMostOkBoxes);
}

// The consumer document dialog, closed only when answered unattended.
struct UnansweredDialog final : Dialog {
    std::string name() const override { return kConsumerDocumentDialog; }
    void load() override {}
    bool closed() const override { return unattended_ > 0; }
    void typeText(const std::string&, const std::string&) override {}
    void click(const std::string&) override {}
    void keyPress(const std::string&, int) override {}
    std::vector<std::pair<std::string, std::string>> controls() const override { return {{"Text1", ""}}; }
    void answerUnattended(const std::function<void(const std::string&)>&) override { ++unattended_; }
    int unattended_ = 0;
};

TEST_F(WebFrontendTest, WithNoPageOpenTheConsumerDocumentDialogTakesItsUnattendedAnswerAfterAMinute) {
    UnansweredDialog cpf;
    const auto opened = clock.steadyNow();
    web.showModal(cpf);
    const auto waited = clock.steadyNow() - opened;
    EXPECT_EQ(cpf.unattended_, 1);
    EXPECT_TRUE(waited >= kUnattendedDialogAfter && waited < kUnattendedDialogAfter + std::chrono::seconds(1));
    EXPECT_NE(journal.str().find("[dialog] frm_cpfC: nenhum painel aberto há 60 s"), std::string::npos) << journal.str();
    EXPECT_NE(web.stateJson().find("\"modals\":[]"), std::string::npos);
}

TEST(WebFrontendListenTest, OffTheLoopbackOnlyWithTlsAndThenTheAddressNamesTheMachine) {
    for (const char* host : {"127.0.0.1", "127.8.9.10", "::1", "localhost"}) EXPECT_TRUE(isLoopbackHost(host)) << host;
    for (const char* host : {"0.0.0.0", "192.168.0.10", "::", "example.com", ""}) EXPECT_FALSE(isLoopbackHost(host)) << host;
    PanelListen listen{.host = "0.0.0.0", .port = 0, .tlsCertificate = {}, .tlsKey = {}, .names = {}};
    EXPECT_THROW(Frontend().web.start(listen, newPanelToken()), std::runtime_error);

    // With TLS everywhere, the address names the machine and its names are answered.
    // The certificate an operator makes for the phones.
    testing::TempDir folder;
    ASSERT_EQ(std::system(("cd " + folder.path() + " && " QUORVANTI_SOURCE_DIR "/scripts/make-panel-certificate.sh caixa "
                           "127.0.0.1 >/dev/null").c_str()),
              0);
    listen.tlsCertificate = folder.file("caixa.crt");
    listen.tlsKey = folder.file("caixa.key");
    std::string lan = testing::commandOutput("hostname -I");
    lan = std::isdigit(static_cast<unsigned char>(lan[0])) ? lan.substr(0, lan.find_first_of(" \n")) : "";
    for (const std::string named : {"", "caixa"}) {
        Frontend frontend;
        WebFrontend& web = frontend.web;
        if (!named.empty()) listen.names = {named};
        const std::string address = web.start(listen, newPanelToken());
        EXPECT_EQ(address, "https://" + (named.empty() ? hostName() : named) + ":" + std::to_string(web.port()) + "/");
        httplib::SSLClient client("127.0.0.1", web.port());
        client.set_ca_cert_path(folder.file("caixa-ac.crt").c_str());
        client.enable_server_certificate_verification(true);
        // 403: the name passed and the token is missing. A LAN address of this machine passes too.
        for (const auto& [host, status] : std::vector<std::pair<std::string, int>>{
                 {hostName(), 403}, {"127.0.0.1", 403}, {lan, lan.empty() ? 421 : 403}, {"caixa", named.empty() ? 421 : 403}}) {
            const auto result = client.Get("/api/state", {{"Host", host}});
            ASSERT_TRUE(result) << host << ": " << httplib::to_string(result.error());
            EXPECT_EQ(result->status, status) << host;
        }
    }
}

// The panel under clients that hold connections without the token: idle sockets, requests that trickle
// in a byte at a time, TLS handshakes that never finish and clients that never read their answers, all
// from the operator's own address. The operator's requests are answered and an open page keeps its event
// stream meanwhile; the server closes every such socket by its own deadlines.
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
struct Panel : Frontend {
    const char* what;
    std::string authority;  // the folder of the certificate authority, for TLS
    std::vector<int> held, slow;
    std::mutex seenMutex;
    std::string seen;

    Panel(const char* what_, std::string authority_) : what(what_), authority(std::move(authority_)) {}
    std::unique_ptr<httplib::Client> client() const {
        auto c = std::make_unique<httplib::Client>(std::string(what) + "://127.0.0.1:" + std::to_string(web.port()));
        c->set_ca_cert_path((authority + "/caixa-ac.crt").c_str());
        c->enable_server_certificate_verification(true);
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
