// The real fiscal component: builds the NFC-e from the group operations, computes the access key and
// the QR code, signs with the configured certificate of the store, writes the generated and signed
// files under the document folder ("arquivos/gerados/NFe<KEY>.xml",
// "arquivos/assinado/NFe<KEY>-assinado.xml"), validates against the schemas, reads QR texts back and
// talks to the authority's web services (web_services.h), whose failures are answers, not errors. It
// also signs and sends fiscal events and voidings of numbers (event_documents.h), keeping each signed
// request ("arquivos/eventos/<KEY>-<tpEvento>-<nSeq>-evento-assinado.xml",
// "arquivos/inutilizadas/<Id without ID>-inutNFe-assinado.xml") before it is sent. One instance
// belongs to one thread; the certificates and parsed schemas behind it are cached process-wide, so a
// fresh instance per sale costs almost nothing.
#pragma once

#include <memory>
#include <string>

#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/document/event_documents.h"
#include "fiscal_component/document/nfce_document.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "fiscal_component/sefaz/web_services.h"
#include "platform/ui/frontend.h"

namespace quorvanti::fiscal {

class RealFiscalComponent final : public FiscalComponent {
public:
    // `certificateFolder` is the certificate store ("certificados" of the program folder, or the
    // folder given at start).
    explicit RealFiscalComponent(std::string certificateFolder);

    bool numericCode(std::int32_t& code) override;
    bool finish() override;
    // Usable when the XML library initialises and the store folder is usable and, once configured with
    // a serial, that certificate loads and is valid. statusProblem() tells why not.
    bool statusQuery(bool& usable) override;
    // Keeps every value. Raises ComponentError for an unknown state, environment or a model other than
    // 65. The certificate is looked up by the status query and the generation, which report its problems.
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
    // The numeric code check, key, QR code, signature and both files. For emission type 9 the QR code
    // is added after signing, as it carries the signature's digest.
    bool generate(std::string& key, GenerationArgs& args, SharedTexts& shared) override;
    bool serviceStatus() override;
    bool send(const SendArgs& args) override;
    bool consultByKey(const std::string& accessKey) override;
    // Reads infNFeSupl/qrCode of a signed NFe or an authorised nfeProc file. Does not raise: answers
    // false with the reason in `resultText`.
    bool qrAddress(const std::string& xmlPath, std::string& qrText, std::string& resultText) override;
    bool validate(const ValidationArgs& args, std::string& message) override;
    ServiceStatusResult serviceStatusResult() const override;
    SendResult sendResult() const override;
    ConsultationResult consultationResult() const override;
    // Builds the evento from `args` and the configuration (state, environment, CNPJ; an empty dhEvento is
    // now in the machine's time zone, which is the shop's), signs it with the
    // configured certificate, writes the signed file and sends it. Raises ComponentError before anything
    // is sent for arguments the layout refuses (eventoRequest in event_documents.h: a key that is not 44
    // digits, a reason outside 15..255 characters ...), a missing configuration or certificate, or a
    // signed file that cannot be written. Answers true when the authority answered, whatever its status
    // (batch 128 with the event's 135, 573, 501 ..., or a batch rejection: see eventResult()); false when
    // it could not be reached or its answer not read: eventResult().cStat holds the failure's code above
    // 8999 (soap_transport.h) and xMotivo its text.
    bool sendEvent(const EventArgs& args) override;
    // The same for the voiding of a range of numbers of model 65 (inutNFeRequest: numbers 1..999999999,
    // at most 10 000 of them, first not above last, year 0 = the current one); voidingResult() holds
    // the answer (102, 241, 256, 563 ...) or the failure above 8999, with the same true/false rule.
    bool voidNumbers(const VoidingArgs& args) override;
    EventResult eventResult() const override;
    VoidingResult voidingResult() const override;

    // Why the last status query answered "not usable"; "" when it answered usable.
    const std::string& statusProblem() const { return statusProblem_; }
    // The values kept by the set-up operations.
    const ConfigurationArgs& configuration() const { return config_; }
    const MailSettingsArgs& mailConfiguration() const { return mail_; }
    const DanfeLogoArgs& danfeLogoConfiguration() const { return logo_; }

private:
    NfceDocument& document();
    WebServices& webServices();
    std::shared_ptr<const LoadedCertificate> signer() const;
    EventIssuer issuer() const;
    // Signs a request's text by its element `signedName`, writes it (with a declaration) at
    // `signedPath` and answers the signed text; raises ComponentError on failure.
    std::string signRequest(const std::string& unsignedXml, const char* rootName, const char* signedName,
                            const std::string& signedPath) const;

    CertificateStore store_;
    ConfigurationArgs config_;
    bool configured_ = false;
    MailSettingsArgs mail_;
    DanfeLogoArgs logo_;
    std::unique_ptr<NfceDocument> document_;
    std::string statusProblem_;
    std::unique_ptr<WebServices> webServices_;
    ServiceStatusResult serviceStatusResult_;
    SendResult sendResult_;
    ConsultationResult consultationResult_;
    EventResult eventResult_;
    VoidingResult voidingResult_;
    // The last signed document's text, its file and what identified that file when written.
    std::string lastSignedXml_;
    std::string lastSignedPath_;
    std::string lastSignedStamp_;
};

// Hands out real components, the store's certificate selector and the CPF/CNPJ validator.
class RealComponentFactory final : public ComponentFactory {
public:
    RealComponentFactory(std::string certificateFolder, platform::Frontend& frontend);

    std::unique_ptr<FiscalComponent> createComponent() override;
    std::unique_ptr<CertificateSelector> createCertificateSelector() override;
    std::unique_ptr<DocumentValidator> createDocumentValidator() override;

private:
    std::string certificateFolder_;
    platform::Frontend& frontend_;
};

}  // namespace quorvanti::fiscal
