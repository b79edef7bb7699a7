// A fiscal component for tests of the program's procedures: it records every call with its argument
// record in a log shared by every instance of its factory, and answers from a script (status, numeric
// code, generation key, validation verdict, web-service results; a ComponentError on chosen
// operations). It builds no XML.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

// The arguments of one call: the operation's record, a text (consultation key, QR file path), or none.
using RecordedArgs =
    std::variant<std::monostate, ConfigurationArgs, MailSettingsArgs, DanfeLogoArgs, IdentificationArgs,
                 EmitterArgs, RecipientArgs, ItemProductArgs, ItemIcmsArgs, ItemOtherTaxesArgs, TotalsArgs,
                 TransportArgs, PaymentArgs, GenerationArgs, SendArgs, ValidationArgs, EventArgs, VoidingArgs,
                 std::string>;

struct RecordedCall {
    std::string operation;  // the FiscalComponent method's name: "configure", "itemProduct", ...
    int instance = 0;       // which instance of the factory made the call, from 1
    RecordedArgs args;
};

// What the components answer. Tests change it between calls as they need.
struct RecordingScript {
    bool usable = true;                                  // statusQuery
    std::int32_t numericCode = 12345678;                 // numericCode
    std::string generationKey = "NFe51260311222333000181650010000000011123456785";  // generate
    std::string generatedXmlPath;                        // generate: when set, replaces the caller's path
    std::string signedXmlPath;                           // generate: when set, replaces the caller's path
    bool validationResult = true;                        // validate
    std::string validationMessage;                       // validate
    std::string qrText;                                  // qrAddress
    ServiceStatusResult serviceStatus;
    SendResult send;
    ConsultationResult consultation;
    EventResult event;
    VoidingResult voiding;
    // When set, answers each voiding by its range instead of `voiding` (a range refused for one number).
    std::function<VoidingResult(const VoidingArgs&)> voidingFor;
    std::map<std::string, std::string> failures;         // operation -> ComponentError description
    std::map<std::string, bool> statuses;                // operation -> status answered (default true)
};

// The call log and the script, shared by a factory and its components.
struct RecordingState {
    RecordingScript script;
    std::vector<RecordedCall> calls;
    int instances = 0;

    // Operation names in call order.
    std::vector<std::string> operations() const;
    // The calls of one operation.
    std::vector<RecordedCall> callsOf(const std::string& operation) const;
};

class RecordingComponent final : public FiscalComponent {
public:
    explicit RecordingComponent(std::shared_ptr<RecordingState> state);

    bool numericCode(std::int32_t& code) override;
    bool finish() override;
    bool statusQuery(bool& usable) override;
    bool configure(const ConfigurationArgs& args) override;
    bool mailSettings(const MailSettingsArgs& args) override;
    bool danfeLogo(const DanfeLogoArgs& args) override;
    bool prepare(SharedTexts& shared) override;
    bool identification(const IdentificationArgs& args, SharedTexts& shared) override;
    bool emitter(const EmitterArgs& args, SharedTexts& shared) override;
    bool recipient(const RecipientArgs& args, SharedTexts& shared) override;
    bool itemProduct(const ItemProductArgs& args, SharedTexts& shared) override;
    bool itemIcms(const ItemIcmsArgs& args, SharedTexts& shared) override;
    bool itemOtherTaxes(const ItemOtherTaxesArgs& args, SharedTexts& shared) override;
    bool itemClose(SharedTexts& shared) override;
    bool totals(const TotalsArgs& args, SharedTexts& shared) override;
    bool transport(const TransportArgs& args, SharedTexts& shared) override;
    bool payment(const PaymentArgs& args, SharedTexts& shared) override;
    bool generate(std::string& key, GenerationArgs& args, SharedTexts& shared) override;
    bool serviceStatus() override;
    bool send(const SendArgs& args) override;
    bool consultByKey(const std::string& accessKey) override;
    bool qrAddress(const std::string& xmlPath, std::string& qrText, std::string& resultText) override;
    bool validate(const ValidationArgs& args, std::string& message) override;
    ServiceStatusResult serviceStatusResult() const override;
    SendResult sendResult() const override;
    ConsultationResult consultationResult() const override;
    bool sendEvent(const EventArgs& args) override;
    bool voidNumbers(const VoidingArgs& args) override;
    EventResult eventResult() const override;
    VoidingResult voidingResult() const override;

private:
    // Logs the call, raises the scripted failure if any, and answers the scripted status.
    bool record(const char* operation, RecordedArgs args) const;

    std::shared_ptr<RecordingState> state_;
    int instance_;
};

// Hands out recording components sharing one state; the selector and validator it makes answer
// "nothing chosen" and "valid" unless the test supplies its own.
class RecordingComponentFactory final : public ComponentFactory {
public:
    RecordingComponentFactory();

    RecordingState& state() { return *state_; }
    RecordingScript& script() { return state_->script; }
    const std::vector<RecordedCall>& calls() const { return state_->calls; }

    std::unique_ptr<FiscalComponent> createComponent() override;
    std::unique_ptr<CertificateSelector> createCertificateSelector() override;
    std::unique_ptr<DocumentValidator> createDocumentValidator() override;

    // Chosen certificate the selector answers (select() answers true when set).
    void setChosenCertificate(CertificateProperties properties);
    // Verdict of the document validator.
    void setDocumentsValid(bool valid) { documentsValid_ = valid; }

private:
    std::shared_ptr<RecordingState> state_;
    std::shared_ptr<CertificateProperties> chosen_;
    bool documentsValid_ = true;
};

}  // namespace quorvanti::fiscal
