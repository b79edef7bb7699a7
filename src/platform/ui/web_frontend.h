// The operator's panel: a frontend that shows the monitor in a web page served on this machine. The
// page sees a snapshot that the monitor thread publishes (captions, sections of state, pictures, the
// open message boxes and dialogs) and receives it live through server-sent events; what the operator
// does in the page comes back as events posted to the monitor's event loop, or, while a message box or
// dialog is open, as inputs that the waiting monitor thread applies itself. The HTTP threads never touch
// the monitor's state: they read the snapshot under its mutex and hand closures over.
//
// Requests must name this panel in their Host (and Origin, on POSTs): the listen address, the loopback, or
// a name the operator gave, so that a foreign name resolved to this machine (DNS rebinding) reaches
// nothing. The page itself is static and served to any such request; its data and changes need the
// access token (a random secret) in a header, and changes are POSTs.
//
// An unattended shop is never held up by the page: OK-only message boxes return at once and stay on the
// page until acknowledged, and the consumer document dialog, with no page open, takes its unattended
// answer after kUnattendedDialogAfter. Yes/No boxes and the other dialogs wait for their answer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/ui/dialog.h"
#include "platform/ui/event_loop.h"
#include "platform/ui/frontend.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace quorvanti::platform {

// Where the panel listens. A non-loopback host needs the TLS certificate and key.
struct PanelListen {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: a free port
    std::string tlsCertificate, tlsKey;
    // Other names (or addresses) the page is reached by; with TLS the first one names the page's address.
    std::vector<std::string> names;
};

// Raised by start() when another program (another monitor) already listens on the address.
struct PanelAddressInUse : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command the page may give outside dialogs (a main-window click, a dashboard button).
struct PanelCommand {
    // Called on an HTTP thread: must look only at `argument`. "" accepts it; otherwise the text is the
    // refusal shown to the operator (HTTP 400).
    std::function<std::string(const std::string& argument)> check;
    // Runs on the monitor thread, posted to the event loop.
    std::function<void(const std::string& argument)> run;
};

// The header that carries the token.
inline constexpr const char* kPanelTokenHeader = "X-Quorvanti-Token";
// The dialog whose answer the emission needs (the consumer's CPF/CNPJ), and how long it waits with no
// page open before taking its unattended answer (no document), on the monitor's clock.
inline constexpr const char* kConsumerDocumentDialog = "frm_cpfC";
inline constexpr std::chrono::seconds kUnattendedDialogAfter{60};
// The page command that acknowledges an OK box ("ack", argument its id), and how many the page keeps
// (the oldest goes first).
inline constexpr const char* kAcknowledgeCommand = "ack";
inline constexpr std::size_t kMostOkBoxes = 20;

// The largest request body the panel reads.
inline constexpr std::size_t kPanelMaxBody = 8 * 1024;

// 32 bytes from OpenSSL's random generator, as 64 hexadecimal digits. Raises std::runtime_error when the
// generator fails.
std::string newPanelToken();
// Compares in constant time.
bool panelTokenMatches(std::string_view expected, std::string_view given);
// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(const std::string& host);
// True for a name the panel may be reached by: an IPv4 or IPv6 address (brackets allowed) or a DNS name.
bool isPanelName(const std::string& name);
// `text` as a JSON string literal, quotes included.
std::string jsonQuote(std::string_view text);
// The members of the JSON object `json` (as this program writes them, well formed): each key, quoted, and
// its value's text; nullopt when `json` is not an object.
std::optional<std::vector<std::pair<std::string, std::string>>> jsonMembers(std::string_view json);
// An event that turns the page's state `before` into `now` (entries: a path of quoted names and a JSON
// value): {"version":V,"set":[[path,value],...],"unset":[path,...]}.
std::string stateChanges(std::uint64_t version, const std::map<std::vector<std::string>, std::string>& before,
                         const std::map<std::vector<std::string>, std::string>& now);

class WebFrontend final : public Frontend {
public:
    // `yesNoWhenStopping` answers the Yes/No boxes still open when a stop is asked for (`stopRequested`
    // true), as the headless frontend would; open dialogs then take their unattended answer.
    WebFrontend(EventLoop& loop, std::ostream& journal, MessageAnswer yesNoWhenStopping,
                std::function<bool()> stopRequested);
    ~WebFrontend() override;
    WebFrontend(const WebFrontend&) = delete;
    WebFrontend& operator=(const WebFrontend&) = delete;

    // Yes/No boxes wait for the page's answer; OK boxes are published and return OK at once.
    MessageAnswer messageBox(const std::string& text, MessageStyle style, const std::string& title) override;
    void showModal(Dialog& dialog) override;
    void repaint(const std::string& window, const std::string& control, const std::string& text) override;
    void windowShown(const std::string& window, bool visible) override;

    // Called on the monitor thread after each repaint and visibility change (the monitor publishes the
    // window's state there).
    void onRepaint(std::function<void()> refresh) { refresh_ = std::move(refresh); }
    // The clock the consumer document dialog's time limit runs on (the monitor's); until given, the
    // machine's steady time.
    void useClock(Clock& clock) { clock_ = &clock; }
    // Any thread: the page acknowledged OK box `id`; it leaves the state. Unknown ids are ignored.
    void acknowledge(long id);
    // Before start(): the commands of the page (besides kAcknowledgeCommand, always there).
    void addCommand(const std::string& name, PanelCommand command);
    // Listens (raises PanelAddressInUse when the address is taken, std::runtime_error for any other
    // failure) and answers the page's address without the
    // token, "http(s)://host:port/". With TLS the host is the first of `listen.names`, else the machine's
    // host name when the panel listens beyond the loopback (a phone cannot open 0.0.0.0).
    std::string start(const PanelListen& listen, const std::string& token);
    // Stops serving; open event streams end. Also done by the destructor.
    void stop();
    int port() const { return port_; }
    // True while a page follows the state (an event stream is open).
    bool watched() const;

    // Monitor thread: one section of the page's state, as a JSON value; unchanged values publish nothing.
    void publish(const std::string& section, std::string json);
    // Monitor thread: a picture (file bytes, BMP or PNG) the page shows; empty removes it.
    void publishPicture(const std::string& name, std::string bytes);
    // Monitor thread: the window's captions, sections and pictures reach the pages once they have been
    // still for kSettleTime (or at once with `now`), and only when they differ from what the pages
    // have: an idle poll that writes a caption and writes back the old one sends nothing. Message boxes,
    // dialogs and notices go at once. Call it from a timer and after publishing.
    void settle(bool now = false);
    static constexpr std::chrono::milliseconds kSettleTime{200};
    // A short note for the operator ("Venda 12-01 recolocada na fila"), shown until the next one.
    void notice(const std::string& text);
    // Monitor thread, at the program's end: the newest OK box, shown just before with nothing after it,
    // is the one the end follows (its OK ends nothing: the monitor is already ending); the page says so.
    void markEnding();
    static constexpr std::chrono::seconds kEndingBoxWithin{2};
    // Monitor thread, before stop(): waits (at most `most`, real time) until every open event stream, and
    // at least one, has carried the latest state, so that the last thing published (the monitor's end)
    // reaches the pages, also a page that is reconnecting at that moment.
    void flush(std::chrono::milliseconds most);

    // The whole state as the page reads it.
    std::string stateJson() const;

private:
    struct ModalControl {
        std::string name, text;
    };
    struct Modal {
        long id = 0;
        bool message = false;
        std::string name, title, text;
        MessageStyle style = MessageStyle::Ok;
        std::vector<ModalControl> controls;
    };
    // An OK box published to the page; `count` identical ones shown while it was pending.
    struct OkBox {
        long id = 0;
        std::string title, text;
        MessageStyle style = MessageStyle::Ok;
        int count = 1;
        bool ends = false;
    };
    struct ModalInput {
        long id = 0;
        std::string action;  // "type", "click", "key", "answer"
        std::string control, text;
        int key = 0;
        MessageAnswer answer = MessageAnswer::Ok;
    };

    long pushModal(Modal modal);
    void popModal(long id);
    void setModalControls(long id, const Dialog& dialog);
    enum class Waited { Input, Stop, Unattended };
    // Waits for the next input of modal `id`: Stop when a stop was asked for instead; with `limited`,
    // Unattended once no page has been open for kUnattendedDialogAfter.
    Waited waitInput(long id, ModalInput& input, bool limited = false);
    std::chrono::milliseconds steadyNow() const;
    void changed();  // under mutex_: a new version of the state, sent at once
    void touched();  // under mutex_: a change that settle() sends

    // HTTP side (web_server.cpp).
    void installRoutes();
    bool authorised(const httplib::Request& request, httplib::Response& response) const;
    // True when `host` (canonical, as hostKey makes it) names this panel.
    bool acceptedHost(const std::string& host) const;
    bool sameOrigin(const httplib::Request& request) const;
    void postCommand(const httplib::Request& request, httplib::Response& response);
    void postModal(const httplib::Request& request, httplib::Response& response);
    void streamEvents(const httplib::Request& request, httplib::Response& response);
    // The state as flat entries: a path of quoted names (group, key, and a section's member) and its
    // JSON value, so that an event carries only the entries that changed.
    using StateEntries = std::map<std::vector<std::string>, std::string>;
    // For an event stream, under mutex_: the whole state when `sent` is empty, else the entries that
    // differ from it ({"version","set":[[path,value]...],"unset":[path...]}); `sent` becomes the latest.
    std::string eventJsonLocked(std::shared_ptr<const StateEntries>& sent) const;
    // An event stream wrote (or failed to write) `version`; flush() waits on these.
    void carried(std::uint64_t version) const;
    std::shared_ptr<const StateEntries> entriesLocked() const;  // under mutex_, made once a version
    std::string stateText() const;                              // under mutex_
    std::string bodyText() const;                               // under mutex_: the state without its version
    std::string okBoxesJson() const;                            // under mutex_
    std::string modalsJson() const;                             // under mutex_

    EventLoop& loop_;
    std::ostream& journal_;
    MessageAnswer yesNoWhenStopping_;
    std::function<bool()> stopRequested_;
    Clock* clock_ = nullptr;
    // The acknowledgement is built in, whoever registers the other commands. It touches only this
    // panel's state, under its mutex, so it is done at once on the HTTP thread: posted, it would wait
    // for any dialog open on the monitor thread to close.
    std::map<std::string, PanelCommand> commands_{
        {kAcknowledgeCommand,
         PanelCommand{[this](const std::string& id) {
                          if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos)
                              return std::string("aviso inválido");
                          acknowledge(std::stol(id));
                          return std::string();
                      },
                      [](const std::string&) {}}}};
    std::function<void()> refresh_;

    mutable std::mutex mutex_;
    std::condition_variable stateChanged_;
    std::condition_variable inputArrived_;
    std::uint64_t version_ = 1;
    std::uint64_t pictureVersion_ = 0;
    bool dirty_ = false;
    std::chrono::milliseconds dirtySince_{0};
    std::string committed_;  // the body of the latest version
    bool stopping_ = false;
    std::map<std::string, std::string> captions_;
    std::map<std::string, bool> windows_;
    std::map<std::string, std::string> sections_;
    struct Picture {
        std::string bytes;
        std::uint64_t version = 0;
    };
    std::map<std::string, Picture> pictures_;
    std::string notice_;
    long noticeCount_ = 0;  // the same text told again is a new notice
    // Event streams that carried version sentVersion_ (counted once written to them).
    mutable std::uint64_t sentVersion_ = 0;
    mutable int sentCount_ = 0;
    mutable std::shared_ptr<const StateEntries> entries_;
    mutable std::uint64_t entriesVersion_ = 0;
    mutable std::condition_variable sent_;
    std::vector<Modal> modals_;
    std::deque<OkBox> okBoxes_;
    long lastOkBox_ = 0;  // the newest OK box while nothing else was shown after it
    std::chrono::milliseconds lastOkBoxAt_{0};
    long nextModalId_ = 1;
    std::deque<ModalInput> inputs_;
    int streams_ = 0;
    std::condition_variable streamsEnded_;  // streams_ went down

    std::string token_;
    std::vector<std::string> acceptedHosts_;  // canonical; the loopback is always accepted besides
    bool anyAddress_ = false;                 // listening on 0.0.0.0 or ::: this machine's addresses too
    bool tls_ = false;
    int port_ = 0;
    std::unique_ptr<httplib::Server> server_;
    std::thread serverThread_;
    std::atomic<bool> listenEnded_{false};
};

}  // namespace quorvanti::platform
