#include "platform/ui/scripted_frontend.h"

namespace quorvanti::platform {

void ScriptedFrontend::answerNextYesNo(MessageAnswer answer) { yesNoAnswers_.push_back(answer); }

void ScriptedFrontend::onDialog(const std::string& name, std::function<void(Dialog&)> actions) {
    dialogScripts_[name].push_back(std::move(actions));
}

MessageAnswer ScriptedFrontend::messageBox(const std::string& text, MessageStyle style, const std::string& title) {
    MessageAnswer answer = MessageAnswer::Ok;
    if (style == MessageStyle::YesNoQuestion) {
        answer = MessageAnswer::Yes;
        if (!yesNoAnswers_.empty()) {
            answer = yesNoAnswers_.front();
            yesNoAnswers_.pop_front();
        }
    }
    messages_.push_back({text, style, title, answer});
    return answer;
}

void ScriptedFrontend::showModal(Dialog& dialog) {
    const std::string name = dialog.name();
    dialogsShown_.push_back(name);
    dialog.load();
    auto scripts = dialogScripts_.find(name);
    if (!dialog.closed() && scripts != dialogScripts_.end() && !scripts->second.empty()) {
        auto actions = std::move(scripts->second.front());
        scripts->second.pop_front();
        actions(dialog);
    }
    if (!dialog.closed()) dialog.answerUnattended([](const std::string&) {});
}

void ScriptedFrontend::repaint(const std::string& window, const std::string& control, const std::string& text) {
    repaints_.push_back({window, control, text});
}

void ScriptedFrontend::windowShown(const std::string& window, bool visible) { visible_[window] = visible; }

std::vector<std::string> ScriptedFrontend::captionsOf(const std::string& control) const {
    std::vector<std::string> out;
    for (const auto& r : repaints_)
        if (r.control == control) out.push_back(r.text);
    return out;
}

bool ScriptedFrontend::windowVisible(const std::string& window) const {
    auto it = visible_.find(window);
    return it != visible_.end() && it->second;
}

}  // namespace quorvanti::platform
