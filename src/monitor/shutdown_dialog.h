// The shutdown dialog `frm_encerrar`: closing the program, returning to the monitor, the web-service
// status check and the choice of the signing certificate.
#pragma once

#include "context/app_context.h"
#include "platform/ui/dialog.h"
#include "windows/dialogs.h"

namespace quorvanti::monitor {

class ShutdownDialog final : public platform::Dialog {
public:
    explicit ShutdownDialog(context::AppContext& ctx) : ctx_(ctx) {}

    std::string name() const override { return windows::frm_encerrar::kName; }
    std::string caption() const override { return "Encerrar"; }
    void load() override { closed_ = false; }
    bool closed() const override { return closed_; }
    void typeText(const std::string& control, const std::string& text) override;
    void click(const std::string& control) override;
    void keyPress(const std::string& control, int keyAscii) override;
    std::vector<std::pair<std::string, std::string>> controls() const override;
    // Unattended, the monitor carries on: the dialog closes as with "Command2".
    void answerUnattended(const std::function<void(const std::string&)>& say) override;

    // Command1: ends the program. Command2 and Esc: close the dialog. Command3: web-service status.
    void Command1_Click();
    void Command2_Click() { closed_ = true; }
    void Command3_Click();
    void btnCertificado_Click();

private:
    context::AppContext& ctx_;
    windows::frm_encerrar model_;
    bool closed_ = false;
};

// Shows the shutdown dialog modally.
void showShutdownDialog(context::AppContext& ctx);

// `seleciona_cert`: lets the operator choose the signing certificate through the component's selector;
// the chosen serial is used by every later set-up (until the program ends). Answers whether one was
// chosen.
bool seleciona_cert(context::AppContext& ctx);

}  // namespace quorvanti::monitor
