#include "fiscal_component/recording_component.h"

namespace quorvanti::fiscal {

namespace {

class ScriptedSelector final : public CertificateSelector {
public:
    explicit ScriptedSelector(std::shared_ptr<CertificateProperties> chosen) : chosen_(std::move(chosen)) {}
    bool select() override { return chosen_ != nullptr; }
    CertificateProperties chosen() const override { return chosen_ ? *chosen_ : CertificateProperties{}; }

private:
    std::shared_ptr<CertificateProperties> chosen_;
};

class ScriptedValidator final : public DocumentValidator {
public:
    explicit ScriptedValidator(bool valid) : valid_(valid) {}
    bool validate(const std::string&) override { return valid_; }

private:
    bool valid_;
};

}  // namespace

std::vector<std::string> RecordingState::operations() const {
    std::vector<std::string> names;
    for (const RecordedCall& call : calls) names.push_back(call.operation);
    return names;
}

std::vector<RecordedCall> RecordingState::callsOf(const std::string& operation) const {
    std::vector<RecordedCall> found;
    for (const RecordedCall& call : calls) {
        if (call.operation == operation) found.push_back(call);
    }
    return found;
}

RecordingComponent::RecordingComponent(std::shared_ptr<RecordingState> state)
    : state_(std::move(state)), instance_(++state_->instances) {}

bool RecordingComponent::record(const char* operation, RecordedArgs args) const {
    state_->calls.push_back(RecordedCall{operation, instance_, std::move(args)});
    const auto& script = state_->script;
    if (auto failure = script.failures.find(operation); failure != script.failures.end()) {
        throw ComponentError(failure->second);
    }
    const auto status = script.statuses.find(operation);
    return status == script.statuses.end() || status->second;
}

bool RecordingComponent::numericCode(std::int32_t& code) {
    const bool status = record("numericCode", {});
    code = state_->script.numericCode;
    return status;
}

bool RecordingComponent::finish() { return record("finish", {}); }

bool RecordingComponent::statusQuery(bool& usable) {
    const bool status = record("statusQuery", {});
    usable = state_->script.usable;
    return status;
}

bool RecordingComponent::configure(const ConfigurationArgs& args) { return record("configure", args); }
bool RecordingComponent::mailSettings(const MailSettingsArgs& args) { return record("mailSettings", args); }
bool RecordingComponent::danfeLogo(const DanfeLogoArgs& args) { return record("danfeLogo", args); }
bool RecordingComponent::prepare(SharedTexts&) { return record("prepare", {}); }
bool RecordingComponent::identification(const IdentificationArgs& args, SharedTexts&) {
    return record("identification", args);
}
bool RecordingComponent::emitter(const EmitterArgs& args, SharedTexts&) { return record("emitter", args); }
bool RecordingComponent::recipient(const RecipientArgs& args, SharedTexts&) { return record("recipient", args); }
bool RecordingComponent::itemProduct(const ItemProductArgs& args, SharedTexts&) {
    return record("itemProduct", args);
}
bool RecordingComponent::itemIcms(const ItemIcmsArgs& args, SharedTexts&) { return record("itemIcms", args); }
bool RecordingComponent::itemOtherTaxes(const ItemOtherTaxesArgs& args, SharedTexts&) {
    return record("itemOtherTaxes", args);
}
bool RecordingComponent::itemClose(SharedTexts&) { return record("itemClose", {}); }
bool RecordingComponent::totals(const TotalsArgs& args, SharedTexts&) { return record("totals", args); }
bool RecordingComponent::transport(const TransportArgs& args, SharedTexts&) { return record("transport", args); }
bool RecordingComponent::payment(const PaymentArgs& args, SharedTexts&) { return record("payment", args); }

bool RecordingComponent::generate(std::string& key, GenerationArgs& args, SharedTexts&) {
    const bool status = record("generate", args);
    const auto& script = state_->script;
    key = script.generationKey;
    if (!script.generatedXmlPath.empty()) args.generatedXmlPath = script.generatedXmlPath;
    if (!script.signedXmlPath.empty()) args.signedXmlPath = script.signedXmlPath;
    return status;
}

bool RecordingComponent::serviceStatus() { return record("serviceStatus", {}); }
bool RecordingComponent::send(const SendArgs& args) { return record("send", args); }
bool RecordingComponent::consultByKey(const std::string& accessKey) { return record("consultByKey", accessKey); }

bool RecordingComponent::qrAddress(const std::string& xmlPath, std::string& qrText, std::string& resultText) {
    const bool status = record("qrAddress", xmlPath);
    qrText = state_->script.qrText;
    resultText.clear();
    return status;
}

bool RecordingComponent::validate(const ValidationArgs& args, std::string& message) {
    record("validate", args);
    message = state_->script.validationMessage;
    return state_->script.validationResult;
}

ServiceStatusResult RecordingComponent::serviceStatusResult() const {
    record("serviceStatusResult", {});
    return state_->script.serviceStatus;
}

SendResult RecordingComponent::sendResult() const {
    record("sendResult", {});
    return state_->script.send;
}

ConsultationResult RecordingComponent::consultationResult() const {
    record("consultationResult", {});
    return state_->script.consultation;
}

bool RecordingComponent::sendEvent(const EventArgs& args) { return record("sendEvent", args); }
bool RecordingComponent::voidNumbers(const VoidingArgs& args) {
    const bool status = record("voidNumbers", args);
    if (state_->script.voidingFor) state_->script.voiding = state_->script.voidingFor(args);
    return status;
}

EventResult RecordingComponent::eventResult() const {
    record("eventResult", {});
    return state_->script.event;
}

VoidingResult RecordingComponent::voidingResult() const {
    record("voidingResult", {});
    return state_->script.voiding;
}

RecordingComponentFactory::RecordingComponentFactory() : state_(std::make_shared<RecordingState>()) {}

std::unique_ptr<FiscalComponent> RecordingComponentFactory::createComponent() {
    return std::make_unique<RecordingComponent>(state_);
}

std::unique_ptr<CertificateSelector> RecordingComponentFactory::createCertificateSelector() {
    return std::make_unique<ScriptedSelector>(chosen_);
}

std::unique_ptr<DocumentValidator> RecordingComponentFactory::createDocumentValidator() {
    return std::make_unique<ScriptedValidator>(documentsValid_);
}

void RecordingComponentFactory::setChosenCertificate(CertificateProperties properties) {
    chosen_ = std::make_shared<CertificateProperties>(std::move(properties));
}

}  // namespace quorvanti::fiscal
