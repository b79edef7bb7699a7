// The frontend of the tests: records every message box, repaint, visibility change and dialog shown,
// and answers from a script. Message boxes without a scripted answer get OK (or Yes); dialogs without a
// script take their unattended answer, so a test scripts only what it is about.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/frontend.h"

namespace quorvanti::platform {

class ScriptedFrontend final : public Frontend {
public:
    struct ShownMessage {
        std::string text;
        MessageStyle style;
        std::string title;
        MessageAnswer answer;
    };
    struct Repaint {
        std::string window, control, text;
    };

    // Answers the next Yes/No message box with `answer`, in order of scripting.
    void answerNextYesNo(MessageAnswer answer);
    // Runs `actions` on the next showing of dialog `name` (instead of its unattended answer). The actions
    // must close the dialog; if they leave it open, the unattended answer closes it.
    void onDialog(const std::string& name, std::function<void(Dialog&)> actions);

    MessageAnswer messageBox(const std::string& text, MessageStyle style, const std::string& title) override;
    void showModal(Dialog& dialog) override;
    void repaint(const std::string& window, const std::string& control, const std::string& text) override;
    void windowShown(const std::string& window, bool visible) override;

    const std::vector<ShownMessage>& messages() const { return messages_; }
    const std::vector<Repaint>& repaints() const { return repaints_; }
    const std::vector<std::string>& dialogsShown() const { return dialogsShown_; }
    // The captions written to one control, in order.
    std::vector<std::string> captionsOf(const std::string& control) const;
    bool windowVisible(const std::string& window) const;

private:
    std::deque<MessageAnswer> yesNoAnswers_;
    std::map<std::string, std::deque<std::function<void(Dialog&)>>> dialogScripts_;
    std::vector<ShownMessage> messages_;
    std::vector<Repaint> repaints_;
    std::vector<std::string> dialogsShown_;
    std::map<std::string, bool> visible_;
};

}  // namespace quorvanti::platform
