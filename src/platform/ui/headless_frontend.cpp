#include "platform/ui/headless_frontend.h"

#include "platform/ui/dialog.h"

namespace quorvanti::platform {

const char* styleName(MessageStyle style) {
    switch (style) {
        case MessageStyle::Ok: return "OK";
        case MessageStyle::OkCritical: return "OK critical";
        case MessageStyle::OkInformation: return "OK information";
        case MessageStyle::OkExclamation: return "OK exclamation";
        case MessageStyle::YesNoQuestion: return "Yes/No question";
    }
    return "OK";
}

HeadlessFrontend::HeadlessFrontend(std::ostream& out, MessageAnswer yesNoAnswer) : out_(out), yesNoAnswer_(yesNoAnswer) {}

MessageAnswer HeadlessFrontend::messageBox(const std::string& text, MessageStyle style, const std::string& title) {
    const MessageAnswer answer = style == MessageStyle::YesNoQuestion ? yesNoAnswer_ : MessageAnswer::Ok;
    const char* answerName = answer == MessageAnswer::Yes ? "Yes" : answer == MessageAnswer::No ? "No" : "OK";
    // One line per box: line breaks inside the text are shown as " | ".
    std::string oneLine;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        if (text[i] == '\r' || text[i] == '\n')
            oneLine += " | ";
        else
            oneLine += text[i];
    }
    out_ << "[message] " << title << " (" << styleName(style) << "): " << oneLine << " -> " << answerName << std::endl;
    return answer;
}

void HeadlessFrontend::showModal(Dialog& dialog) {
    out_ << "[dialog] " << dialog.name() << " opened" << std::endl;
    dialog.load();
    if (!dialog.closed()) dialog.answerUnattended([this, &dialog](const std::string& line) {
        out_ << "[dialog] " << dialog.name() << ": " << line << std::endl;
    });
    out_ << "[dialog] " << dialog.name() << " closed" << std::endl;
}

void HeadlessFrontend::repaint(const std::string& window, const std::string& control, const std::string& text) {
    out_ << "[" << window << "." << control << "] " << text << std::endl;
}

void HeadlessFrontend::windowShown(const std::string& window, bool visible) {
    out_ << "[" << window << "] " << (visible ? "shown" : "hidden") << std::endl;
}

}  // namespace quorvanti::platform
