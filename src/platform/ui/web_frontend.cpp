#include "platform/ui/web_frontend.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <stdexcept>

#include "platform/ui/headless_frontend.h"

namespace quorvanti::platform {

namespace {

// How often a waiting monitor thread looks at the stop request.
constexpr std::chrono::milliseconds kStopLook{250};

std::string oneLine(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += (text[i] == '\r' || text[i] == '\n') ? std::string(" | ") : std::string(1, text[i]);
    }
    return out;
}

const char* answerName(MessageAnswer answer) {
    return answer == MessageAnswer::Yes ? "Yes" : answer == MessageAnswer::No ? "No" : "OK";
}

const char* styleKey(MessageStyle style) {
    switch (style) {
        case MessageStyle::Ok: return "ok";
        case MessageStyle::OkCritical: return "critical";
        case MessageStyle::OkInformation: return "information";
        case MessageStyle::OkExclamation: return "exclamation";
        case MessageStyle::YesNoQuestion: return "question";
    }
    return "ok";
}

}  // namespace

std::optional<std::vector<std::pair<std::string, std::string>>> jsonMembers(std::string_view json) {
    std::size_t i = 0;
    const auto blank = [&] {
        while (i < json.size() && std::isspace(static_cast<unsigned char>(json[i]))) ++i;
    };
    const auto skipString = [&] {  // from its opening quote to past its closing one
        for (++i; i < json.size() && json[i] != '"'; ++i)
            if (json[i] == '\\') ++i;
        ++i;
    };
    blank();
    if (i >= json.size() || json[i] != '{') return std::nullopt;
    ++i;
    std::vector<std::pair<std::string, std::string>> members;
    for (;;) {
        blank();
        if (i >= json.size()) return std::nullopt;
        if (json[i] == '}') return members;
        if (json[i] == ',') {
            ++i;
            continue;
        }
        if (json[i] != '"') return std::nullopt;
        const std::size_t key = i;
        skipString();
        if (i > json.size()) return std::nullopt;
        const std::size_t keyEnd = i;
        blank();
        if (i >= json.size() || json[i] != ':') return std::nullopt;
        ++i;
        blank();
        const std::size_t value = i;
        for (int depth = 0; i < json.size();) {
            const char c = json[i];
            if (c == '"') {
                skipString();
                continue;
            }
            if ((c == '}' || c == ']' || c == ',') && depth == 0) break;
            if (c == '{' || c == '[') ++depth;
            if (c == '}' || c == ']') --depth;
            ++i;
        }
        if (i >= json.size()) return std::nullopt;
        std::size_t valueEnd = i;
        while (valueEnd > value && std::isspace(static_cast<unsigned char>(json[valueEnd - 1]))) --valueEnd;
        if (valueEnd == value) return std::nullopt;
        members.emplace_back(json.substr(key, keyEnd - key), json.substr(value, valueEnd - value));
    }
}

std::string stateChanges(std::uint64_t version, const std::map<std::vector<std::string>, std::string>& before,
                         const std::map<std::vector<std::string>, std::string>& now) {
    const auto path = [](const std::vector<std::string>& names) {
        std::string out = "[";
        for (const auto& name : names) out += (out.size() > 1 ? "," : "") + name;
        return out + "]";
    };
    std::string set, unset;
    for (const auto& [names, value] : before)
        if (!now.contains(names)) unset += (unset.empty() ? "" : ",") + path(names);
    for (const auto& [names, value] : now)
        if (const auto was = before.find(names); was == before.end() || was->second != value)
            set += (set.empty() ? "[" : ",[") + path(names) + "," + value + "]";
    return "{\"version\":" + std::to_string(version) + ",\"set\":[" + set + "],\"unset\":[" + unset + "]}";
}

std::string newPanelToken() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("gerador de números aleatórios indisponível");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    OPENSSL_cleanse(bytes, sizeof bytes);
    return token;
}

bool panelTokenMatches(std::string_view expected, std::string_view given) {
    if (expected.empty() || given.size() != expected.size()) return false;
    return CRYPTO_memcmp(expected.data(), given.data(), expected.size()) == 0;
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

bool isPanelName(const std::string& name) {
    std::string text = name;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, text.c_str(), &v6) == 1) return true;
    if (text != name) return false;
    // A DNS name: dot-separated labels of letters, digits and inner hyphens, one trailing dot allowed.
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text.empty() || text.size() > 253) return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c == '.') {
            if (label == 0 || label > 63 || text[i - 1] == '-' || text[i - label] == '-') return false;
            label = 0;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return true;
}

std::string jsonQuote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    std::size_t plain = 0;  // start of the run of characters copied as they are
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != 0x7f && byte != '"' && byte != '\\') continue;
        out.append(text, plain, i - plain);
        plain = i + 1;
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[byte >> 4];
                out += kHex[byte & 15];
            }
        }
    }
    out.append(text, plain, text.size() - plain);
    out += '"';
    return out;
}

void WebFrontend::changed() {
    ++version_;
    dirty_ = false;
    committed_ = bodyText();
    stateChanged_.notify_all();
}

void WebFrontend::touched() {
    if (dirty_) return;
    dirty_ = true;
    dirtySince_ = steadyNow();
}

void WebFrontend::settle(bool now) {
    std::lock_guard lock(mutex_);
    if (!dirty_ || (!now && steadyNow() - dirtySince_ < kSettleTime)) return;
    dirty_ = false;
    // Captions that went and came back in the meantime (an idle poll's "Iniciando") are no change.
    if (std::string body = bodyText(); body != committed_) {
        committed_ = std::move(body);
        ++version_;
        stateChanged_.notify_all();
    }
}

long WebFrontend::pushModal(Modal modal) {
    std::lock_guard lock(mutex_);
    modal.id = nextModalId_++;
    modals_.push_back(std::move(modal));
    lastOkBox_ = 0;
    changed();
    return modals_.back().id;
}

void WebFrontend::popModal(long id) {
    std::lock_guard lock(mutex_);
    std::erase_if(modals_, [id](const Modal& m) { return m.id == id; });
    std::erase_if(inputs_, [id](const ModalInput& in) { return in.id == id; });
    changed();
}

void WebFrontend::setModalControls(long id, const Dialog& dialog) {
    std::vector<ModalControl> controls;
    for (auto& [name, text] : dialog.controls()) controls.push_back({name, text});
    std::lock_guard lock(mutex_);
    for (auto& m : modals_)
        if (m.id == id) m.controls = std::move(controls);
    changed();
}

std::chrono::milliseconds WebFrontend::steadyNow() const {
    if (clock_) return clock_->steadyNow();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

WebFrontend::Waited WebFrontend::waitInput(long id, ModalInput& input, bool limited) {
    auto lastWatched = steadyNow();
    for (;;) {
        // Asked outside the lock: the predicate is the caller's.
        if (stopRequested_ && stopRequested_()) return Waited::Stop;
        std::unique_lock lock(mutex_);
        for (int pass = 0; pass < 2; ++pass) {
            while (!inputs_.empty()) {
                ModalInput next = std::move(inputs_.front());
                inputs_.pop_front();
                if (next.id == id) {
                    input = std::move(next);
                    return Waited::Input;
                }
            }
            if (stopping_) return Waited::Stop;
            if (pass == 1) break;
            if (limited && streams_ == 0) {
                if (steadyNow() - lastWatched >= kUnattendedDialogAfter) return Waited::Unattended;
                if (clock_) {
                    // The monitor's clock measures the limit (a virtual one in tests); a page that opens
                    // meanwhile is seen at the next look.
                    lock.unlock();
                    clock_->sleep(kStopLook);
                    lock.lock();
                    continue;
                }
            } else {
                lastWatched = steadyNow();
            }
            inputArrived_.wait_for(lock, kStopLook, [this] { return stopping_ || !inputs_.empty(); });
        }
    }
}

MessageAnswer WebFrontend::messageBox(const std::string& text, MessageStyle style, const std::string& title) {
    journal_ << "[message] " << title << " (" << styleName(style) << "): " << oneLine(text) << std::endl;
    if (style != MessageStyle::YesNoQuestion) {
        // Nothing waits on an OK: the routine goes on, and the box stays on the page until read.
        {
            std::lock_guard lock(mutex_);
            const auto same = std::ranges::find_if(okBoxes_, [&](const OkBox& box) {
                return box.title == title && box.text == text && box.style == style;
            });
            if (same != okBoxes_.end()) {
                ++same->count;
                lastOkBox_ = same->id;
            } else {
                okBoxes_.push_back({nextModalId_++, title, text, style});
                if (okBoxes_.size() > kMostOkBoxes) okBoxes_.pop_front();
                lastOkBox_ = okBoxes_.back().id;
            }
            lastOkBoxAt_ = steadyNow();
            changed();
        }
        journal_ << "[message] -> OK (no painel até ser lido)" << std::endl;
        return MessageAnswer::Ok;
    }
    Modal modal;
    modal.message = true;
    modal.title = title;
    modal.text = text;
    modal.style = style;
    const long id = pushModal(std::move(modal));
    MessageAnswer answer = yesNoWhenStopping_;
    ModalInput input;
    for (;;) {
        if (waitInput(id, input) != Waited::Input) {
            journal_ << "[message] sem operador (parada solicitada)" << std::endl;
            break;
        }
        if (input.answer != MessageAnswer::Ok) {
            answer = input.answer;
            break;
        }
    }
    popModal(id);
    journal_ << "[message] -> " << answerName(answer) << std::endl;
    return answer;
}

void WebFrontend::showModal(Dialog& dialog) {
    const std::string name = dialog.name();
    journal_ << "[dialog] " << name << " opened" << std::endl;
    dialog.load();
    Modal modal;
    modal.name = name;
    modal.title = dialog.caption();
    const long id = pushModal(std::move(modal));
    // The modal leaves the page however the dialog ends (a command that ends the program included).
    struct Pop {
        WebFrontend& self;
        long id;
        ~Pop() { self.popModal(id); }
    } pop{*this, id};
    setModalControls(id, dialog);
    // The sale waits on this answer: with no page open it may not wait for ever.
    const bool limited = name == kConsumerDocumentDialog;
    while (!dialog.closed()) {
        ModalInput input;
        if (const Waited waited = waitInput(id, input, limited); waited != Waited::Input) {
            if (waited == Waited::Unattended)
                journal_ << "[dialog] " << name << ": nenhum painel aberto há " << kUnattendedDialogAfter.count()
                         << " s" << std::endl;
            dialog.answerUnattended(
                [&](const std::string& line) { journal_ << "[dialog] " << name << ": " << line << std::endl; });
            break;
        }
        try {
            if (input.action == "type") {
                dialog.typeText(input.control, input.text);
            } else if (input.action == "click") {
                dialog.click(input.control);
            } else if (input.action == "key") {
                dialog.keyPress(input.control, input.key);
            }
        } catch (const std::invalid_argument& error) {
            journal_ << "[dialog] " << name << ": " << error.what() << std::endl;
        }
        setModalControls(id, dialog);
    }
    journal_ << "[dialog] " << name << " closed" << std::endl;
}

void WebFrontend::markEnding() {
    std::lock_guard lock(mutex_);
    if (lastOkBox_ == 0 || steadyNow() - lastOkBoxAt_ > kEndingBoxWithin) return;
    for (auto& box : okBoxes_)
        if (box.id == lastOkBox_ && !box.ends) {
            box.ends = true;
            changed();
        }
}

void WebFrontend::acknowledge(long id) {
    std::lock_guard lock(mutex_);
    if (std::erase_if(okBoxes_, [id](const OkBox& box) { return box.id == id; })) changed();
}

void WebFrontend::repaint(const std::string& window, const std::string& control, const std::string& text) {
    journal_ << "[" << window << "." << control << "] " << text << std::endl;
    {
        std::lock_guard lock(mutex_);
        captions_[window + "." + control] = text;
        touched();
    }
    if (refresh_) refresh_();
}

void WebFrontend::windowShown(const std::string& window, bool visible) {
    journal_ << "[" << window << "] " << (visible ? "shown" : "hidden") << std::endl;
    {
        std::lock_guard lock(mutex_);
        // A batch starting or ending goes at once (the page's headline follows it); the idle poll hides
        // the hidden window again every second, which is no change.
        const auto [slot, added] = windows_.try_emplace(window, visible);
        if (added || slot->second != visible) {
            slot->second = visible;
            changed();
        }
    }
    if (refresh_) refresh_();
}

void WebFrontend::addCommand(const std::string& name, PanelCommand command) { commands_[name] = std::move(command); }

void WebFrontend::publish(const std::string& section, std::string json) {
    std::lock_guard lock(mutex_);
    auto& slot = sections_[section];
    if (slot == json) return;
    slot = std::move(json);
    touched();
}

void WebFrontend::publishPicture(const std::string& name, std::string bytes) {
    std::lock_guard lock(mutex_);
    auto& picture = pictures_[name];
    if (picture.bytes == bytes && picture.version != 0) return;
    picture.bytes = std::move(bytes);
    picture.version = ++pictureVersion_;
    touched();
}

void WebFrontend::notice(const std::string& text) {
    journal_ << "[painel] " << text << std::endl;
    std::lock_guard lock(mutex_);
    notice_ = text;
    ++noticeCount_;
    changed();
}

void WebFrontend::flush(std::chrono::milliseconds most) {
    std::unique_lock lock(mutex_);
    sent_.wait_for(lock, most, [this] {
        return stopping_ || (sentVersion_ == version_ && sentCount_ >= std::max(streams_, 1));
    });
}

std::string WebFrontend::stateJson() const {
    std::lock_guard lock(mutex_);
    return stateText();
}

void WebFrontend::carried(std::uint64_t version) const {
    std::lock_guard lock(mutex_);
    if (version < sentVersion_) return;
    if (version > sentVersion_) {
        sentVersion_ = version;
        sentCount_ = 0;
    }
    ++sentCount_;
    sent_.notify_all();
}

std::string WebFrontend::eventJsonLocked(std::shared_ptr<const StateEntries>& sent) const {
    auto now = entriesLocked();
    std::string out = sent ? stateChanges(version_, *sent, *now) : stateText();
    sent = std::move(now);
    return out;
}

std::shared_ptr<const WebFrontend::StateEntries> WebFrontend::entriesLocked() const {
    if (entries_ && entriesVersion_ == version_) return entries_;
    auto made = std::make_shared<StateEntries>();
    auto& e = *made;
    for (const auto& [key, text] : captions_) e[{"\"captions\"", jsonQuote(key)}] = jsonQuote(text);
    for (const auto& [key, visible] : windows_) e[{"\"windows\"", jsonQuote(key)}] = visible ? "true" : "false";
    for (const auto& [key, json] : sections_) {
        const std::string name = jsonQuote(key);
        if (auto members = jsonMembers(json)) {
            e[{"\"sections\"", name}] = "{}";  // set before its members when the section is new
            for (auto& [member, value] : *members) e[{"\"sections\"", name, std::move(member)}] = std::move(value);
        } else {
            e[{"\"sections\"", name}] = json;
        }
    }
    for (const auto& [key, picture] : pictures_)
        if (!picture.bytes.empty()) e[{"\"pictures\"", jsonQuote(key)}] = std::to_string(picture.version);
    e[{"\"notice\""}] = jsonQuote(notice_);
    e[{"\"noticeCount\""}] = std::to_string(noticeCount_);
    e[{"\"okBoxes\""}] = okBoxesJson();
    e[{"\"modals\""}] = modalsJson();
    entries_ = std::move(made);
    entriesVersion_ = version_;
    return entries_;
}

std::string WebFrontend::stateText() const { return "{\"version\":" + std::to_string(version_) + "," + bodyText(); }

std::string WebFrontend::okBoxesJson() const {
    std::string out = "[";
    for (const auto& box : okBoxes_)
        out += (out.size() > 1 ? ",{" : "{") + std::string("\"id\":") + std::to_string(box.id) + ",\"title\":" +
               jsonQuote(box.title) + ",\"text\":" + jsonQuote(box.text) + ",\"style\":" + jsonQuote(styleKey(box.style)) +
               ",\"count\":" + std::to_string(box.count) + (box.ends ? ",\"ends\":true}" : "}");
    return out + "]";
}

std::string WebFrontend::modalsJson() const {
    std::string out = "[";
    for (const auto& m : modals_) {
        out += out.size() > 1 ? ",{" : "{";
        out += "\"id\":" + std::to_string(m.id) + ",\"kind\":" + (m.message ? "\"message\"" : "\"dialog\"") +
               ",\"name\":" + jsonQuote(m.name) + ",\"title\":" + jsonQuote(m.title) + ",\"text\":" + jsonQuote(m.text) +
               ",\"style\":" + jsonQuote(styleKey(m.style)) + ",\"controls\":[";
        for (std::size_t i = 0; i < m.controls.size(); ++i)
            out += (i ? ",[" : "[") + jsonQuote(m.controls[i].name) + "," + jsonQuote(m.controls[i].text) + "]";
        out += "]}";
    }
    return out + "]";
}

std::string WebFrontend::bodyText() const {
    std::string out = "\"captions\":{";
    bool first = true;
    for (const auto& [key, text] : captions_) {
        out += (first ? "" : ",") + jsonQuote(key) + ":" + jsonQuote(text);
        first = false;
    }
    out += "},\"windows\":{";
    first = true;
    for (const auto& [key, visible] : windows_) {
        out += (first ? "" : ",") + jsonQuote(key) + ":" + (visible ? "true" : "false");
        first = false;
    }
    out += "},\"sections\":{";
    first = true;
    for (const auto& [key, json] : sections_) {
        out += (first ? "" : ",") + jsonQuote(key) + ":" + json;
        first = false;
    }
    out += "},\"pictures\":{";
    first = true;
    for (const auto& [key, picture] : pictures_) {
        if (picture.bytes.empty()) continue;
        out += (first ? "" : ",") + jsonQuote(key) + ":" + std::to_string(picture.version);
        first = false;
    }
    return out + "},\"notice\":" + jsonQuote(notice_) + ",\"noticeCount\":" + std::to_string(noticeCount_) +
           ",\"okBoxes\":" + okBoxesJson() + ",\"modals\":" + modalsJson() + "}";
}

}  // namespace quorvanti::platform
