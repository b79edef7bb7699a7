#include "document/groups/consumer_document_dialog.h"

#include <exception>
#include <stdexcept>

#include "platform/program_exit.h"

namespace quorvanti::document {

namespace {

constexpr int kEnter = 13;
constexpr int kBackspace = 8;

void requireText1(const std::string& control) {
    if (control != "Text1") throw std::invalid_argument("frm_cpfC has no text box " + control);
}

// Drops the last UTF-8 character of `text`.
void removeLastCharacter(std::string& text) {
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.back());
        text.pop_back();
        if ((byte & 0xC0) != 0x80) break;
    }
}

}  // namespace

void ConsumerDocumentDialog::load() {
    closed_ = false;
    model_.Text1.text.clear();
    ctx_.emission.ConsumerDocumentInput.clear();
}

void ConsumerDocumentDialog::typeText(const std::string& control, const std::string& text) {
    requireText1(control);
    model_.Text1.text = text;
}

void ConsumerDocumentDialog::click(const std::string& control) {
    if (control != "Text1" && control != "Label1") throw std::invalid_argument("frm_cpfC has no control " + control);
}

void ConsumerDocumentDialog::keyPress(const std::string& control, int keyAscii) {
    requireText1(control);
    if (keyAscii == kEnter) {
        Text1_Enter();
    } else if (keyAscii == kBackspace) {
        removeLastCharacter(model_.Text1.text);
    } else if (keyAscii >= 32 && keyAscii < 127) {
        model_.Text1.text += static_cast<char>(keyAscii);
    }
}

void ConsumerDocumentDialog::Text1_Enter() {
    const std::string typed = model_.Text1.text;
    if (typed.empty()) {
        ctx_.emission.ConsumerDocumentInput.clear();
        close();
        return;
    }
    bool valid = false;
    try {
        if (!validator_) validator_ = ctx_.services.components.createDocumentValidator();
        valid = validator_->validate(typed);
    } catch (const std::exception& error) {
        // Nothing in the dialog handles this: the program ends as on any run-time error nobody caught.
        ctx_.frontend().messageBox(std::string("Erro em tempo de execução: ") + error.what(),
                                   platform::MessageStyle::OkCritical);
        endProgram(ExitStatus::UnhandledError, std::string("validação do CPF/CNPJ: ") + error.what());
    }
    if (!valid) {
        model_.Text1.text.clear();
        ctx_.frontend().messageBox("CPF/CNPJ INVALIDO", platform::MessageStyle::Ok);
        return;
    }
    ctx_.emission.ConsumerDocumentInput = typed;
    close();
}

void ConsumerDocumentDialog::close() {
    validator_.reset();
    closed_ = true;
}

std::vector<std::pair<std::string, std::string>> ConsumerDocumentDialog::controls() const {
    return {{model_.Label1.name, model_.Label1.caption}, {model_.Text1.name, model_.Text1.text}};
}

void ConsumerDocumentDialog::answerUnattended(const std::function<void(const std::string&)>& say) {
    say(std::string(windows::frm_cpfC::kCaption) + ": sem operador, a NFC-e segue sem CPF/CNPJ do consumidor.");
    typeText("Text1", "");
    keyPress("Text1", kEnter);
}

}  // namespace quorvanti::document
