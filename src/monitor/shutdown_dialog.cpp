#include "monitor/shutdown_dialog.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

#include "context/program_end.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "document/component_setup.h"
#include "monitor/main_window.h"

namespace quorvanti::monitor {

using platform::MessageStyle;

namespace {

// When an answer came: shop time, or UTC when the shop's offset cannot be read (the answer is shown
// all the same).
std::string answerTime(const context::AppContext& ctx) {
    try {
        return context::shopNowText(ctx);
    } catch (const std::exception&) {
        const auto t = platform::dateTimeAt(ctx.services.clock.utcNow(), std::chrono::seconds(0));
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        return text;
    }
}

}  // namespace

void ShutdownDialog::typeText(const std::string& control, const std::string&) {
    throw std::invalid_argument("frm_encerrar has no text box " + control);
}

void ShutdownDialog::click(const std::string& control) {
    if (control == "Command1") return Command1_Click();
    if (control == "Command2") return Command2_Click();
    if (control == "Command3") return Command3_Click();
    if (control == "btnCertificado") return btnCertificado_Click();
    throw std::invalid_argument("frm_encerrar has no button " + control);
}

void ShutdownDialog::keyPress(const std::string&, int keyAscii) {
    if (keyAscii == 27) closed_ = true;
}

std::vector<std::pair<std::string, std::string>> ShutdownDialog::controls() const {
    return {{"Label1", model_.Label1.caption},
            {"Command1", model_.Command1.caption},
            {"Command2", model_.Command2.caption},
            {"Command3", model_.Command3.caption},
            {"btnCertificado", model_.btnCertificado.caption}};
}

void ShutdownDialog::answerUnattended(const std::function<void(const std::string&)>& say) {
    say("sem operador: o monitor continua (Voltar)");
    Command2_Click();
}

void ShutdownDialog::Command1_Click() { context::fecha_aplic(ctx_); }

void ShutdownDialog::Command3_Click() {
    try {
        std::unique_ptr<fiscal::FiscalComponent> component;
        if (!document::ConfigurarDLL(ctx_, 65, "1", component) || !component) return;
        if (!ctx_.settings.ComponentOk) return;
        ctx_.settings.ComponentOk = component->serviceStatus();
        if (ctx_.settings.ComponentOk) {
            const auto result = component->serviceStatusResult();
            ctx_.lastServiceStatus = std::to_string(result.cStat) + " - " + result.xMotivo;
            ctx_.lastServiceStatusAt = answerTime(ctx_);
            ctx_.frontend().messageBox(std::to_string(result.cStat) + " - " + result.xMotivo,
                                       MessageStyle::OkInformation, "STATUS WS");
        }
    } catch (const std::exception& error) {
        ctx_.frontend().messageBox(error.what(), MessageStyle::OkCritical, "ERRO status");
    }
}

void ShutdownDialog::btnCertificado_Click() { ctx_.settings.ComponentOk = seleciona_cert(ctx_); }

void showShutdownDialog(context::AppContext& ctx) {
    ShutdownDialog dialog(ctx);
    ctx.frontend().showModal(dialog);
}

bool seleciona_cert(context::AppContext& ctx) {
    auto& s = ctx.settings;
    try {
        auto selector = ctx.services.components.createCertificateSelector();
        s.ComponentOk = selector->select();
        if (s.ComponentOk) {
            const auto chosen = selector->chosen();
            s.ComponentCertificateSerial = chosen.serialNumber;
            ctx.frontend().messageBox(chosen.holderName + context::kLineBreak + chosen.serialNumber +
                                          context::kLineBreak + chosen.validUntil,
                                      MessageStyle::OkInformation);
            ctx.frontend().messageBox(chosen.holderName, MessageStyle::OkInformation);
        } else {
            ctx.frontend().messageBox("Operação cancelada!", MessageStyle::OkInformation);
        }
        return s.ComponentOk;
    } catch (const std::exception& error) {
        ctx.frontend().messageBox(std::string("Houve um erro ") + error.what() + context::kLineBreak +
                                      "Verifique se o arquivo registraDLL.bat foi executado" + context::kLineBreak +
                                      "O sistema tentara registrar a DLL",
                                  MessageStyle::Ok);
        ctx.services.shell.runRegistrationScript(ctx.locations.programFolder);
        return false;
    }
}

}  // namespace quorvanti::monitor
