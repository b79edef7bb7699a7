// The operator's panel on the monitor's side: what the web frontend shows of the main window (every
// label, the check boxes, the tray icon and its animation, the protocol XML `rtfb`, the QR picture
// `ImgNFCE`) and the shop's dashboard, published from the monitor thread on timers; and the page's
// commands (the window's clicks, the close command, the tray double-click, the configuration button,
// queuing a dropped sale again, printing an NFC-e again, looking one up by number or key, cancelling
// it), which run as events of the monitor's loop.
#pragma once

#include <chrono>
#include <string>

#include "context/app_context.h"
#include "monitor/shop_dashboard.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/web_frontend.h"

namespace quorvanti::monitor {

// The panel's access token, kept in <program folder>/painel/token (0600, folder 0700) until someone
// removes it, so that a restart leaves an open page working. `created`: it is new (the first start, or
// the file was missing, malformed or open to other users), and only then is its address journalled.
struct PanelToken {
    std::string value;
    bool created = false;
};
// The kept token, or a new one not yet kept.
PanelToken panelToken(const std::string& programFolder);
// Once the panel listens: keeps a new token, and the address it serves (without the token) for
// keptPanelUrl. Raises std::runtime_error naming the file it cannot write.
void keepPanel(const std::string& programFolder, const PanelToken& token, const std::string& address);
// `address` with the token, as the operator opens it: "http(s)://host:port/?token=...".
std::string panelUrlWithToken(const std::string& address, const std::string& token);
// The address of the panel last started on `programFolder`, with its kept token; "" with `problem` set
// (in words for the operator) when either file is missing or unreadable.
std::string keptPanelUrl(const std::string& programFolder, std::string& problem);

// The main window's state as the page reads it (JSON), without the protocol XML `rtfb`, which the page
// fetches as the blob kProtocolXml when it changes, and without the tray icon's animation frame (the page
// animates it while connected: a frame a second would be an event a second). Carries no secret.
std::string mainWindowJson(const windows::frmEmitirNFCe& window);
inline constexpr const char* kProtocolXml = "rtfb";

// "" when `argument` of the page's cancel command is an access key, a blank and a justification the
// authority takes; else the refusal for the operator.
std::string cancelCommandProblem(const std::string& argument);
// The page's "ended" section: the exit status, its meaning for the operator and when (shop time).
std::string endedJson(int status, const std::string& at);

class OperatorPanel {
public:
    static constexpr std::chrono::milliseconds kWindowEvery{250};
    static constexpr std::chrono::milliseconds kDashboardEvery{2000};
    // How long the end of the monitor waits for open pages to receive it.
    // Long enough for a page that is reconnecting (it tries each second) to get the whole state.
    static constexpr std::chrono::milliseconds kEndedFlush{3000};

    // Registers the page's commands on `web` (before it starts) and attaches the publishing timers to
    // the loop; the panel must outlive the loop.
    OperatorPanel(context::AppContext& ctx, platform::WebFrontend& web, std::string certificateFolder);
    OperatorPanel(const OperatorPanel&) = delete;
    OperatorPanel& operator=(const OperatorPanel&) = delete;

    // Publishes the main window now.
    void publishWindow();
    // Gathers and publishes the dashboard now.
    void publishDashboard();
    // The monitor ends with `status`: open pages are told, with its meaning, before the panel stops.
    void ended(int status);

private:
    context::AppContext& ctx_;
    platform::WebFrontend& web_;
    ShopDashboard dashboard_;
    platform::Timer windowTimer_{"PanelWindow", kWindowEvery, true};
    platform::Timer dashboardTimer_{"PanelDashboard", kDashboardEvery, true};
    bool dashboardPublished_ = false;
    std::string noticed_;
};

}  // namespace quorvanti::monitor
