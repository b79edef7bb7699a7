#include "fiscal_component/unavailable_component.h"

namespace quorvanti::fiscal {

namespace {

constexpr const char* kNotInstalled = "Componente fiscal não instalado";

[[noreturn]] void fail() { throw ComponentError(kNotInstalled); }

class UnavailableComponent final : public FiscalComponent {
public:
    bool numericCode(std::int32_t&) override { fail(); }
    bool finish() override { fail(); }
    bool statusQuery(bool& usable) override {
        usable = false;
        return true;
    }
    bool configure(const ConfigurationArgs&) override { fail(); }
    bool mailSettings(const MailSettingsArgs&) override { fail(); }
    bool danfeLogo(const DanfeLogoArgs&) override { fail(); }
    bool prepare(SharedTexts&) override { fail(); }
    bool identification(const IdentificationArgs&, SharedTexts&) override { fail(); }
    bool emitter(const EmitterArgs&, SharedTexts&) override { fail(); }
    bool recipient(const RecipientArgs&, SharedTexts&) override { fail(); }
    bool itemProduct(const ItemProductArgs&, SharedTexts&) override { fail(); }
    bool itemIcms(const ItemIcmsArgs&, SharedTexts&) override { fail(); }
    bool itemOtherTaxes(const ItemOtherTaxesArgs&, SharedTexts&) override { fail(); }
    bool itemClose(SharedTexts&) override { fail(); }
    bool totals(const TotalsArgs&, SharedTexts&) override { fail(); }
    bool transport(const TransportArgs&, SharedTexts&) override { fail(); }
    bool payment(const PaymentArgs&, SharedTexts&) override { fail(); }
    bool generate(std::string&, GenerationArgs&, SharedTexts&) override { fail(); }
    bool serviceStatus() override { fail(); }
    bool send(const SendArgs&) override { fail(); }
    bool consultByKey(const std::string&) override { fail(); }
    bool qrAddress(const std::string&, std::string&, std::string&) override { fail(); }
    bool validate(const ValidationArgs&, std::string&) override { fail(); }
    ServiceStatusResult serviceStatusResult() const override { fail(); }
    SendResult sendResult() const override { fail(); }
    ConsultationResult consultationResult() const override { fail(); }
    bool sendEvent(const EventArgs&) override { fail(); }
    bool voidNumbers(const VoidingArgs&) override { fail(); }
    EventResult eventResult() const override { fail(); }
    VoidingResult voidingResult() const override { fail(); }
};

class UnavailableSelector final : public CertificateSelector {
public:
    bool select() override { fail(); }
    CertificateProperties chosen() const override { fail(); }
};

class UnavailableValidator final : public DocumentValidator {
public:
    bool validate(const std::string&) override { fail(); }
};

}  // namespace

std::unique_ptr<FiscalComponent> UnavailableComponentFactory::createComponent() {
    return std::make_unique<UnavailableComponent>();
}
std::unique_ptr<CertificateSelector> UnavailableComponentFactory::createCertificateSelector() {
    return std::make_unique<UnavailableSelector>();
}
std::unique_ptr<DocumentValidator> UnavailableComponentFactory::createDocumentValidator() {
    return std::make_unique<UnavailableValidator>();
}

}  // namespace quorvanti::fiscal
