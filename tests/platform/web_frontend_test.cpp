// The panel's HTTP side on a real socket: the token on every request, POST-only changes with the token
// in the header, bounded and checked input; and a message box answered from another thread (as the
// page does) while the monitor thread waits.
#include "platform/ui/web_frontend.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "platform/ui/event_loop.h"

namespace quorvanti::platform {
namespace {

class WebFrontendTest : public ::testing::Test {
protected:
    std::string startWeb() {
        web.addCommand("ping", {[](const std::string& arg) { return arg == "ok" ? "" : "argumento ruim"; },
                                [this](const std::string& arg) { ran += arg; }});
        return web.start({}, token);
    }

    httplib::Result post(const std::string& path, const std::string& body, bool withToken = true) {
        httplib::Headers headers;
        if (withToken) headers.emplace(kPanelTokenHeader, token);
        return client.Post(path.c_str(), headers, body, "application/x-www-form-urlencoded");
    }

    VirtualClock clock;
    EventLoop loop{clock};
    std::ostringstream journal;
    WebFrontend web{loop, journal, MessageAnswer::Yes, [] { return false; }};
    const std::string token = newPanelToken();
    std::string ran;
    std::string address = startWeb();
    httplib::Client client{"127.0.0.1", web.port()};
};

TEST_F(WebFrontendTest, EveryRequestNeedsTheTokenAndChangesArePostsWithItInTheHeader) {
    EXPECT_EQ(address, "http://127.0.0.1:" + std::to_string(web.port()) + "/?token=" + token);
    EXPECT_EQ(token.size(), 64u);
    EXPECT_NE(token, newPanelToken());
    const httplib::Headers good{{kPanelTokenHeader, token}};
    const httplib::Headers bad{{kPanelTokenHeader, std::string(token.rbegin(), token.rend())}};
    const struct {
        const char* what;
        httplib::Result result;
        int status;
    } cases[] = {
        {"page without token", client.Get("/"), 403},
        {"page with token", client.Get(("/?token=" + token).c_str()), 200},
        {"state without token", client.Get("/api/state"), 403},
        {"state with a wrong token", client.Get("/api/state", bad), 403},
        {"state with the token", client.Get("/api/state", good), 200},
        {"missing picture", client.Get("/api/picture/ImgNFCE", good), 404},
        {"picture without token", client.Get("/api/picture/QR"), 403},
        {"state as a POST", post("/api/state", ""), 404},
        {"command with the token in the query only", post("/api/command?token=" + token, "name=ping&arg=ok", false), 403},
        {"unknown command", post("/api/command", "name=nada"), 404},
        {"refused argument", post("/api/command", "name=ping&arg=x"), 400},
        {"malformed form", post("/api/command", "name=ping&arg=%zz"), 400},
        {"control characters", post("/api/command", "name=ping&arg=o%0Ak"), 400},
        {"oversized body", post("/api/command", "name=ping&arg=" + std::string(kPanelMaxBody, 'a')), 413},
        {"no dialog open", post("/api/modal", "id=1&action=answer&answer=ok"), 409},
        {"bad action", post("/api/modal", "id=1&action=rm"), 400},
        {"accepted command", post("/api/command", "name=ping&arg=ok"), 202},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.result) << c.what;
        EXPECT_EQ(c.result->status, c.status) << c.what << ": " << c.result->body;
    }
    // A picture is served as the image it is.
    web.publishPicture("QR", std::string("\x89PNG\r\n\x1a\n", 8) + "dados");
    const auto picture = client.Get("/api/picture/QR", good);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(picture->body.size(), 13u);
    // Only the accepted command ran, and only once the monitor thread took its events.
    EXPECT_EQ(ran, "");
    loop.doEvents();
    EXPECT_EQ(ran, "ok");
}

TEST_F(WebFrontendTest, AMessageBoxWaitsForTheAnswerThePageGives) {
    // The page's side: wait on the event stream for the box, then answer "No" (an OK is refused first).
    std::thread page([this] {
        httplib::Client events("127.0.0.1", web.port());
        std::string seen;
        events.Get("/api/events", {{kPanelTokenHeader, token}}, [&](const char* data, std::size_t size) {
            seen.append(data, size);
            const auto at = seen.find("\"kind\":\"message\"");
            if (at == std::string::npos) return true;
            const auto id = seen.rfind("\"id\":", at);
            const std::string number = seen.substr(id + 5, seen.find(',', id) - id - 5);
            EXPECT_EQ(post("/api/modal", "id=" + number + "&action=answer&answer=ok")->status, 400);
            EXPECT_EQ(post("/api/modal", "id=" + number + "&action=answer&answer=no")->status, 202);
            return false;
        });
    });
    EXPECT_EQ(web.messageBox("Deseja tentar buscar o resultado novamente?", MessageStyle::YesNoQuestion, "ATENÇÃO"),
              MessageAnswer::No);
    page.join();
    EXPECT_NE(web.stateJson().find("\"modals\":[]"), std::string::npos);
    EXPECT_NE(journal.str().find("[message] -> No"), std::string::npos);
}

TEST(WebFrontendListenTest, OffTheLoopbackOnlyWithTls) {
    for (const char* host : {"127.0.0.1", "127.8.9.10", "::1", "localhost"}) EXPECT_TRUE(isLoopbackHost(host)) << host;
    for (const char* host : {"0.0.0.0", "192.168.0.10", "::", "example.com", ""}) EXPECT_FALSE(isLoopbackHost(host)) << host;
    VirtualClock clock;
    EventLoop loop(clock);
    std::ostringstream journal;
    WebFrontend web(loop, journal, MessageAnswer::Yes, [] { return false; });
    PanelListen everywhere;
    everywhere.host = "0.0.0.0";
    EXPECT_THROW(web.start(everywhere, newPanelToken()), std::runtime_error);
}

}  // namespace
}  // namespace quorvanti::platform
