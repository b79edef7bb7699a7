// The fiscal document component: builds the NFC-e group by group, signs, validates and talks to the
// tax authority's web services. The monitor sees only this interface. Every operation answers its
// status (true = done) and raises ComponentError, with a description the operator can act on, when it
// cannot do its work; the calling procedure's handler shows that description.
// An instance belongs to one thread; instances are cheap (shared caches live behind them).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "fiscal_component/interface/component_arguments.h"

namespace quorvanti::fiscal {

class ComponentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FiscalComponent {
public:
    virtual ~FiscalComponent() = default;

    // 1. A random numeric code for the access key (8 digits).
    virtual bool numericCode(std::int32_t& code) = 0;
    // 2. Finishing a set-up; also the batch operation before each send.
    virtual bool finish() = 0;
    // 3. Whether the component can work on this machine (libraries and certificate store usable).
    virtual bool statusQuery(bool& usable) = 0;
    // 4-6. Set-up.
    virtual bool configure(const ConfigurationArgs& args) = 0;
    virtual bool mailSettings(const MailSettingsArgs& args) = 0;
    virtual bool danfeLogo(const DanfeLogoArgs& args) = 0;
    // 7. Starts a new document.
    virtual bool prepare(SharedTexts& shared) = 0;
    // 8-19. Document groups, in document order.
    virtual bool identification(const IdentificationArgs& args, SharedTexts& shared) = 0;
    virtual bool emitter(const EmitterArgs& args, SharedTexts& shared) = 0;
    virtual bool recipient(const RecipientArgs& args, SharedTexts& shared) = 0;
    virtual bool itemProduct(const ItemProductArgs& args, SharedTexts& shared) = 0;
    virtual bool itemIcms(const ItemIcmsArgs& args, SharedTexts& shared) = 0;
    virtual bool itemOtherTaxes(const ItemOtherTaxesArgs& args, SharedTexts& shared) = 0;
    virtual bool itemClose(SharedTexts& shared) = 0;
    virtual bool totals(const TotalsArgs& args, SharedTexts& shared) = 0;
    virtual bool transport(const TransportArgs& args, SharedTexts& shared) = 0;
    virtual bool payment(const PaymentArgs& args, SharedTexts& shared) = 0;
    // 20. Writes the unsigned and the signed file; `key` receives "NFe" + the 44-digit access key.
    virtual bool generate(std::string& key, GenerationArgs& args, SharedTexts& shared) = 0;
    // 21. Asks the authority's service status.
    virtual bool serviceStatus() = 0;
    // 22. Sends the last generated document.
    virtual bool send(const SendArgs& args) = 0;
    // 23. Consults the authority by access key (44 digits).
    virtual bool consultByKey(const std::string& accessKey) = 0;
    // 24. The QR code text of a signed or authorised file; `resultText` tells what went wrong.
    virtual bool qrAddress(const std::string& xmlPath, std::string& qrText, std::string& resultText) = 0;
    // 25. Schema validation of a signed file; `message` tells the element and reason of a failure.
    virtual bool validate(const ValidationArgs& args, std::string& message) = 0;
    // 26-28. The answers of the last web-service calls.
    virtual ServiceStatusResult serviceStatusResult() const = 0;
    virtual SendResult sendResult() const = 0;
    virtual ConsultationResult consultationResult() const = 0;
    // 29. Builds, signs and sends a fiscal event; the answer in eventResult(). A registered event
    // (135, 136, 155) is stored as "<documentFolder>arquivos/eventos/<KEY>-<tpEvento>-<nSeq>-procEventoNFe.xml".
    virtual bool sendEvent(const EventArgs& args) = 0;
    // 30. Builds, signs and sends the voiding of a range of numbers; the answer in voidingResult(). A
    // voided range (102, 563) is stored as "<documentFolder>arquivos/inutilizadas/<Id without ID>-procInutNFe.xml".
    virtual bool voidNumbers(const VoidingArgs& args) = 0;
    virtual EventResult eventResult() const = 0;
    virtual VoidingResult voidingResult() const = 0;
};

// The certificate selector of the component's library.
class CertificateSelector {
public:
    virtual ~CertificateSelector() = default;
    // Lets the operator choose a certificate; answers whether one was chosen.
    virtual bool select() = 0;
    // The chosen certificate's properties (valid after select() answered true).
    virtual CertificateProperties chosen() const = 0;
};

// The document validator of the component's library.
class DocumentValidator {
public:
    virtual ~DocumentValidator() = default;
    // True when `document` is a CPF or CNPJ whose check digits are right.
    virtual bool validate(const std::string& document) = 0;
};

// Makes instances; the program holds one factory and asks it for a fresh instance wherever the
// original created a new object.
class ComponentFactory {
public:
    virtual ~ComponentFactory() = default;
    virtual std::unique_ptr<FiscalComponent> createComponent() = 0;
    virtual std::unique_ptr<CertificateSelector> createCertificateSelector() = 0;
    virtual std::unique_ptr<DocumentValidator> createDocumentValidator() = 0;
};

}  // namespace quorvanti::fiscal
