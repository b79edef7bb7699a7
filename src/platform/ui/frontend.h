// The frontend: how the monitor meets its operator. Message boxes, modal dialogs and repaints of window
// controls all go through it, so that the same procedures run unattended (headless), under test
// (scripted) or behind a panel. Called only on the monitor thread.
#pragma once

#include <string>

namespace quorvanti::platform {

enum class MessageStyle {
    Ok,                 // OK button, no icon
    OkCritical,         // OK button, critical icon
    OkInformation,      // OK button, information icon
    OkExclamation,      // OK button, exclamation icon
    YesNoQuestion,      // Yes and No buttons, question icon
};

enum class MessageAnswer { Ok, Yes, No };

// The default title of a message box for which the program gives none.
inline constexpr const char* kDefaultMessageTitle = "Quorvanti";

class Dialog;

class Frontend {
public:
    virtual ~Frontend() = default;

    // Shows a message box and blocks until it is answered.
    virtual MessageAnswer messageBox(const std::string& text, MessageStyle style,
                                     const std::string& title = kDefaultMessageTitle) = 0;

    // Shows a dialog modally: loads it, lets the operator work on it and returns once it has closed.
    virtual void showModal(Dialog& dialog) = 0;

    // A control's caption (or another visible property) changed and is repainted. `window` and
    // `control` are the model names, for example "frmEmitirNFCe" and "Label1".
    virtual void repaint(const std::string& window, const std::string& control, const std::string& text) = 0;

    // The main window became visible or hidden.
    virtual void windowShown(const std::string& window, bool visible) = 0;
};

}  // namespace quorvanti::platform
