// Signed NFC-e made by the real fiscal component with the test signer (CNPJ 11222333000181, state MT),
// for the tests that send documents to the local authority.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "../fiscal_component/sale_builder.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/real_component.h"
#include "support/shared_data.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::testing {

struct SignedNfce {
    std::string key;   // 44 digits
    std::string path;  // the signed file under <folder>/nfe/
    std::string xml;   // the signed NFe, without the XML declaration
};

class SignedNfceMaker {
public:
    // The signer goes to <folder>/certificados, the documents to <folder>/nfe/.
    explicit SignedNfceMaker(const std::string& folder) : folder_(folder) {
        installTestCertificate(storeFolder());
        serial_ = fiscal::CertificateStore(storeFolder()).list().at(0).serialNumber;
    }

    std::string storeFolder() const { return folder_ + "/certificados"; }
    const std::string& serial() const { return serial_; }

    // The settings the program gives the component for the test signer, documents under <folder>/nfe/.
    fiscal::ConfigurationArgs configuration(int tpAmb = 2, const std::string& schemaFolder = kOfficialSchemas) const {
        return fiscal::ConfigurationArgs{
            .certificateSerial = serial_, .documentFolder = folder_ + "/nfe/", .schemaFolder = schemaFolder,
            .uf = "MT", .model = 65, .layoutUse = "1", .timeoutMs = "30000", .tpAmb = tpAmb, .tpEmis = "1",
            .tpImp = 4, .cnpj = fiscal::testsales::kEmitterCnpj, .cscId = "000001",
            .csc = "0123456789ABCDEF0123456789ABCDEF", .softwareHouseCnpj = "11.222.333/0001-81",
            .softwareHouseName = "QUORVANTI"};
    }

    // In homologation every item carries the homologation description, as the program's item group
    // writes it.
    SignedNfce make(fiscal::testsales::Sale sale, int tpAmb = 2) const {
        if (tpAmb == 2)
            for (auto& item : sale.items) item.description = kHomologationItem;
        fiscal::RealFiscalComponent component(storeFolder());
        component.configure(configuration(tpAmb));
        fiscal::testsales::sendSale(component, sale);
        std::string key;
        fiscal::GenerationArgs args;
        fiscal::SharedTexts shared;
        if (!component.generate(key, args, shared)) throw std::runtime_error("generation failed");
        return SignedNfce{key.substr(3), args.signedXmlPath, withoutDeclaration(readFile(args.signedXmlPath))};
    }

    std::shared_ptr<const fiscal::LoadedCertificate> signer() const {
        return fiscal::CertificateStore(storeFolder()).find(serial_);
    }

private:
    std::string folder_;
    std::string serial_;
};

}  // namespace quorvanti::testing
