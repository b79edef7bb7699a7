// A modal dialog as the frontends see it: a window model with named controls that an operator can
// type into, click and press keys on. Each concrete dialog (shutdown, parameter editor, consumer
// document) implements the behaviour of its controls and says what an unattended run answers.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quorvanti::platform {

class Dialog {
public:
    virtual ~Dialog() = default;

    // The window's name, for example "frm_encerrar".
    virtual std::string name() const = 0;
    // The title bar's text, for frontends that draw the window.
    virtual std::string caption() const { return name(); }
    // The window's load handler; called by the frontend before the operator gets it.
    virtual void load() = 0;
    virtual bool closed() const = 0;

    // Operator input. Unknown controls raise std::invalid_argument.
    virtual void typeText(const std::string& control, const std::string& text) = 0;
    virtual void click(const std::string& control) = 0;
    virtual void keyPress(const std::string& control, int keyAscii) = 0;

    // Controls and their current texts, in display order, for frontends that draw or print the dialog.
    // Secret values are masked here.
    virtual std::vector<std::pair<std::string, std::string>> controls() const = 0;

    // What an unattended monitor does with this dialog (the headless frontend calls it): it must close
    // the dialog. It may print guidance through `say`.
    virtual void answerUnattended(const std::function<void(const std::string&)>& say) = 0;
};

}  // namespace quorvanti::platform
