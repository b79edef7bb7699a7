#include "fiscal_component/certificates/certificate_selector.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/ui/dialog.h"

namespace quorvanti::fiscal {

namespace {

// "frm_certificados": one numbered line per certificate, the files that could not be read, the text box
// "txtEscolha" for the line number, and the buttons "cmdOk" and "cmdCancelar". Enter in the box is OK,
// Esc is Cancel.
class CertificateChoiceDialog final : public platform::Dialog {
public:
    CertificateChoiceDialog(std::string folder, StoreListing listing)
        : folder_(std::move(folder)), listing_(std::move(listing)) {}

    std::string name() const override { return "frm_certificados"; }
    std::string caption() const override { return "Certificados digitais"; }

    void load() override {
        closed_ = false;
        choice_.reset();
        text_.clear();
        warning_.clear();
    }

    bool closed() const override { return closed_; }

    void typeText(const std::string& control, const std::string& text) override {
        if (control != "txtEscolha") throw std::invalid_argument("frm_certificados has no text box " + control);
        text_ = text;
    }

    void click(const std::string& control) override {
        if (control == "cmdOk") {
            confirm();
        } else if (control == "cmdCancelar") {
            closed_ = true;
        } else {
            throw std::invalid_argument("frm_certificados has no button " + control);
        }
    }

    void keyPress(const std::string& control, int keyAscii) override {
        if (control != "txtEscolha") throw std::invalid_argument("frm_certificados has no text box " + control);
        if (keyAscii == 13) {
            confirm();
        } else if (keyAscii == 27) {
            closed_ = true;
        } else if (keyAscii == 8) {
            if (!text_.empty()) text_.pop_back();
        } else if (keyAscii >= 32 && keyAscii < 127) {
            text_.push_back(static_cast<char>(keyAscii));
        }
    }

    std::vector<std::pair<std::string, std::string>> controls() const override {
        std::vector<std::pair<std::string, std::string>> out;
        out.emplace_back("lblTitulo", "Certificados digitais em " + folder_);
        for (std::size_t i = 0; i < listing_.certificates.size(); ++i) {
            const CertificateInfo& c = listing_.certificates[i];
            out.emplace_back("lblCertificado" + std::to_string(i + 1),
                             std::to_string(i + 1) + " - " + c.holderName + " | Emissor: " + c.issuerName +
                                 " | Série: " + c.serialNumber + " | Validade: " + c.validFrom + " a " +
                                 c.validUntil + (c.expired ? " | FORA DA VALIDADE" : ""));
        }
        for (std::size_t i = 0; i < listing_.problems.size(); ++i)
            out.emplace_back("lblProblema" + std::to_string(i + 1), listing_.problems[i]);
        out.emplace_back("lblInstrucao", "Digite o número do certificado e clique em OK");
        out.emplace_back("txtEscolha", text_);
        out.emplace_back("lblAviso", warning_);
        out.emplace_back("cmdOk", "OK");
        out.emplace_back("cmdCancelar", "Cancelar");
        return out;
    }

    void answerUnattended(const std::function<void(const std::string&)>& say) override {
        say("frm_certificados: sem operador para escolher o certificado; escolha cancelada. Grave o número "
            "de série do certificado na chave CertificadoSerie da seção [Geral].");
        closed_ = true;
    }

    // The index of the chosen certificate in the listing, once confirmed.
    const std::optional<std::size_t>& choice() const { return choice_; }

private:
    void confirm() {
        const std::size_t count = listing_.certificates.size();
        std::size_t line = 0;
        bool number = !text_.empty() && text_.size() <= 4;
        for (const char c : text_) {
            if (c < '0' || c > '9') number = false;
            if (number) line = line * 10 + static_cast<std::size_t>(c - '0');
        }
        text_.clear();
        if (!number || line < 1 || line > count) {
            warning_ = "Digite um número de 1 a " + std::to_string(count);
            return;
        }
        const CertificateInfo& c = listing_.certificates[line - 1];
        if (c.expired) {
            warning_ = "O certificado " + std::to_string(line) + " está fora da validade (" + c.validFrom + " a " +
                       c.validUntil + "); escolha outro";
            return;
        }
        choice_ = line - 1;
        closed_ = true;
    }

    std::string folder_;
    StoreListing listing_;
    std::string text_;
    std::string warning_;
    std::optional<std::size_t> choice_;
    bool closed_ = false;
};

}  // namespace

StoreCertificateSelector::StoreCertificateSelector(platform::Frontend& frontend, std::string storeFolder)
    : frontend_(frontend), store_(std::move(storeFolder)) {}

bool StoreCertificateSelector::select() {
    chosen_.reset();
    StoreListing listing = store_.scan();
    if (listing.certificates.empty()) {
        std::string text = "Nenhum certificado utilizável no repositório " + store_.folder();
        for (const auto& problem : listing.problems) text += "\n" + problem;
        throw CertificateError(text);
    }
    CertificateChoiceDialog dialog(store_.folder(), listing);
    frontend_.showModal(dialog);
    if (!dialog.choice()) return false;
    const CertificateInfo& c = listing.certificates[*dialog.choice()];
    chosen_ = CertificateProperties{c.holderName, c.issuerName, c.serialNumber, c.validFrom, c.validUntil};
    return true;
}

CertificateProperties StoreCertificateSelector::chosen() const { return chosen_.value_or(CertificateProperties{}); }

}  // namespace quorvanti::fiscal
