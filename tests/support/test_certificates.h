// The test certificates made by scripts/make-test-certificate.sh (a test authority, an A1-style signer
// carrying the CNPJ 11222333000181, expired and not-yet-valid variants, a TLS server certificate),
// generated once into the build folder and shared by every test program; and the real xmlsec1 verifier
// for signed documents.
#pragma once

#include <string>

namespace quorvanti::testing {

// The folder of the generated certificates, made on first use (raises std::runtime_error if the
// script fails). Files: ac-teste.pem, loja-teste.pfx(.senha), expired/loja-vencida.pfx(.senha),
// future/loja-futura.pfx(.senha), servidor.pem, servidor.key.
const std::string& testCertificateFolder();

// The test authority's certificate (PEM), the trust anchor of the signer and of servidor.pem.
std::string testAuthorityPem();

enum class TestCertificate { Valid, Expired, NotYetValid };

// Copies one signer (its .pfx and .senha, mode 600) into `storeFolder`, created mode 700 when missing,
// and answers the copied .pfx path.
std::string installTestCertificate(const std::string& storeFolder, TestCertificate which = TestCertificate::Valid);

// Runs `xmlsec1 --verify` on a signed NFC-e file, trusting the test authority (infNFe's Id as the ID
// attribute). True when the signature verifies; `output` receives what xmlsec1 printed.
bool xmlsecVerifies(const std::string& xmlPath, std::string* output = nullptr);

}  // namespace quorvanti::testing
