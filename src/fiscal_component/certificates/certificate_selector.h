// The certificate selector of the component's library: shows the operator every certificate of the
// store (holder, issuer, serial, validity) in the dialog "frm_certificados" and lets them pick one by
// its line number. Unattended runs cancel the choice. Belongs to the monitor thread.
#pragma once

#include <optional>
#include <string>

#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "platform/ui/frontend.h"

namespace quorvanti::fiscal {

class StoreCertificateSelector final : public CertificateSelector {
public:
    StoreCertificateSelector(platform::Frontend& frontend, std::string storeFolder);

    // Shows the dialog; true when the operator chose a valid certificate. Raises CertificateError with a
    // description when the store is unusable or holds no readable certificate.
    bool select() override;
    // The chosen certificate (holder, issuer, serial, valid from, valid until); empty texts before a
    // successful select().
    CertificateProperties chosen() const override;

private:
    platform::Frontend& frontend_;
    CertificateStore store_;
    std::optional<CertificateProperties> chosen_;
};

}  // namespace quorvanti::fiscal
