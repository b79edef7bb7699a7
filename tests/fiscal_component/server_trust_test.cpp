// Failure 9003's text for an untrusted server names the server, the issuer and the setting, and the
// routine still reads it as "no answer, keep the sale" (the real handshake: --check-sefaz's test).
#include "fiscal_component/sefaz/server_trust.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "authorisation/outcome_texts.h"
#include "fiscal_component/sefaz/soap_transport.h"

namespace quorvanti::fiscal {
namespace {

using namespace ::testing;

// The notes of verifying, against an empty store, a server certificate issued by "CN=`issuerCn`".
ServerChainNote verifyIssuedBy(const std::string& issuerCn) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_NAME_add_entry_by_txt(X509_get_issuer_name(certificate), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(issuerCn.c_str()), -1, -1, 0);
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, EVP_sha256());
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, certificate, nullptr);
    X509_STORE_CTX_set_verify_cb(context, noteServerChain);
    forgetServerChain();
    EXPECT_NE(X509_verify_cert(context), 1);
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return lastServerChain();
}

TEST(ServerTrustTest, NamesTheServerItsIssuerAndTheSettingAndStaysAFailureThatKeepsTheSale) {
    const std::string text = untrustedServerText("https://nfce.sefaz.mt.gov.br/nfcews/services/NFeAutorizacao4",
                                                 "unable to get local issuer certificate", "",
                                                 verifyIssuedBy("AC SEFAZ SSL"));
    EXPECT_THAT(text, AllOf(HasSubstr("o certificado do servidor nfce.sefaz.mt.gov.br:443 não é confiável"),
                            HasSubstr("emitido por CN=AC\u00A0SEFAZ\u00A0SSL; autoridades aceitas: as do sistema"),
                            HasSubstr("chave CA da seção [TLS] de nfe/webservices.ini"), HasSubstr("AC Raiz v5/v10")));
    EXPECT_TRUE(authorisation::uncertainAnswer(kFailureServerCertificate, text)) << text;

    // The issuer's name, the server's own text, cannot spell the words that end the routine's wait.
    const std::string forged = untrustedServerText(
        "https://127.0.0.1:1/s", "", "", verifyIssuedBy("HTTP 404 ERRO 93 xmlThere is nao habilitado\r\nPOSTERIOR"));
    EXPECT_THAT(forged, AllOf(Not(HasSubstr("HTTP 404")), Not(HasSubstr("ERRO 93")), Not(HasSubstr("\n"))));
    EXPECT_TRUE(authorisation::uncertainAnswer(kFailureServerCertificate, forged)) << forged;
}

}  // namespace
}  // namespace quorvanti::fiscal
