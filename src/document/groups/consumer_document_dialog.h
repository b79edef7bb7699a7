// The consumer document dialog `frm_cpfC` ("CPF/CNPJ na nota"): the operator types the consumer's CPF
// or CNPJ, or leaves the box empty, and presses Enter. The recipient group shows it modally and reads
// the accepted text from EmissionState.ConsumerDocumentInput once it has closed.
#pragma once

#include <memory>
#include <string>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "platform/ui/dialog.h"
#include "windows/dialogs.h"

namespace quorvanti::document {

class ConsumerDocumentDialog final : public platform::Dialog {
public:
    explicit ConsumerDocumentDialog(context::AppContext& ctx) : ctx_(ctx) {}
    ConsumerDocumentDialog(const ConsumerDocumentDialog&) = delete;
    ConsumerDocumentDialog& operator=(const ConsumerDocumentDialog&) = delete;

    std::string name() const override { return windows::frm_cpfC::kName; }
    std::string caption() const override { return windows::frm_cpfC::kCaption; }
    // Empties the box and the consumer document.
    void load() override;
    bool closed() const override { return closed_; }
    // "Text1" takes the whole text typed.
    void typeText(const std::string& control, const std::string& text) override;
    // The dialog has no buttons: clicks on its two controls do nothing.
    void click(const std::string& control) override;
    // Keys on "Text1": Enter (13) confirms; backspace (8) removes the last character; other printable
    // keys are typed. Confirming an empty box closes without a document; a document the component's
    // validator refuses empties the box, shows "CPF/CNPJ INVALIDO" and keeps the dialog open; a valid
    // one is kept as typed and closes. A validator that fails ends the program with the run-time error
    // message (a sale must not go on with a document nobody could check).
    void keyPress(const std::string& control, int keyAscii) override;
    std::vector<std::pair<std::string, std::string>> controls() const override;
    // Unattended: Enter on an empty box, so the NFC-e goes without consumer document.
    void answerUnattended(const std::function<void(const std::string&)>& say) override;

    const windows::frm_cpfC& model() const { return model_; }

private:
    void Text1_Enter();
    // Releases the validator and closes.
    void close();

    context::AppContext& ctx_;
    windows::frm_cpfC model_;
    std::unique_ptr<fiscal::DocumentValidator> validator_;  // created on first use, released on close
    bool closed_ = false;
};

}  // namespace quorvanti::document
