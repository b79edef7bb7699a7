// The stand-in where no fiscal component can work: its status query answers "not usable" and every other
// operation raises ComponentError, so the program takes its documented path for a missing component.
#pragma once

#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

class UnavailableComponentFactory final : public ComponentFactory {
public:
    std::unique_ptr<FiscalComponent> createComponent() override;
    std::unique_ptr<CertificateSelector> createCertificateSelector() override;
    std::unique_ptr<DocumentValidator> createDocumentValidator() override;
};

}  // namespace quorvanti::fiscal
