// The frontend for unattended runs (services, CI): captions and message boxes become lines on standard
// error (which the journal collects), OK boxes are answered at once, Yes/No boxes by a configured
// policy, and modal dialogs take their unattended answer.
#pragma once

#include <ostream>

#include "platform/ui/frontend.h"

namespace quorvanti::platform {

class HeadlessFrontend final : public Frontend {
public:
    explicit HeadlessFrontend(std::ostream& out, MessageAnswer yesNoAnswer = MessageAnswer::Yes);

    MessageAnswer messageBox(const std::string& text, MessageStyle style, const std::string& title) override;
    void showModal(Dialog& dialog) override;
    void repaint(const std::string& window, const std::string& control, const std::string& text) override;
    void windowShown(const std::string& window, bool visible) override;

private:
    std::ostream& out_;
    MessageAnswer yesNoAnswer_;
};

// The style's name as the journal shows it ("OK", "OK critical", "Yes/No question" ...).
const char* styleName(MessageStyle style);

}  // namespace quorvanti::platform
