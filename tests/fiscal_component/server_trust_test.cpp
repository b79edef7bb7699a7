// The message of a tax authority's server that is not trusted: what the handshake's verification notes
// of the server's chain, and the text of failure 9003 built from it, which the emission routine must
// still read as "no answer, keep the sale". The real handshake is exercised by --check-sefaz's tests.
#include "fiscal_component/sefaz/server_trust.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

#include "authorisation/outcome_texts.h"
#include "fiscal_component/sefaz/soap_transport.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// A server certificate issued by `issuerCn` (an authority nobody holds), verified against an empty
// store with the transport's callback: the notes it leaves.
ServerChainNote verifyIssuedBy(const std::string& issuerCn) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), X509_free);
    X509_set_version(certificate.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("sefaz.example"), -1, -1, 0);
    X509_NAME* issuer = X509_get_issuer_name(certificate.get());
    X509_NAME_add_entry_by_txt(issuer, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("ICP-Brasil"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(issuerCn.c_str()),
                               -1, -1, 0);
    X509_set_pubkey(certificate.get(), key.get());
    X509_sign(certificate.get(), key.get(), EVP_sha256());

    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), X509_STORE_CTX_free);
    X509_STORE_CTX_init(context.get(), store.get(), certificate.get(), nullptr);
    X509_STORE_CTX_set_verify_cb(context.get(), noteServerChain);
    forgetServerChain();
    EXPECT_NE(X509_verify_cert(context.get()), 1);
    return lastServerChain();
}

TEST(ServerTrustTest, AnUntrustedServerIsNamedWithItsIssuerAndTheSettingToChange) {
    const ServerChainNote note = verifyIssuedBy("AC SEFAZ SSL");
    EXPECT_TRUE(note.chainFailed);
    EXPECT_EQ(note.issuer, "CN=AC\u00A0SEFAZ\u00A0SSL, O=ICP-Brasil");

    const std::string text = untrustedServerText("https://nfce.sefaz.mt.gov.br/nfcews/services/NFeAutorizacao4",
                                                 "SSL certificate problem: unable to get local issuer certificate", "",
                                                 note);
    EXPECT_THAT(text, AllOf(HasSubstr("o certificado do servidor nfce.sefaz.mt.gov.br:443 não é confiável"),
                            HasSubstr("emitido por " + note.issuer), HasSubstr("autoridades aceitas: as do sistema"),
                            HasSubstr("chave CA da seção [TLS] de nfe/webservices.ini"), HasSubstr("AC Raiz v5/v10")));
    EXPECT_TRUE(authorisation::uncertainAnswer(kFailureServerCertificate, text)) << text;

    // A chain that verified, on a server whose name it does not carry: the address is what to check.
    const std::string misnamed = untrustedServerText("https://[::1]:8443/s", "no alternative certificate subject name",
                                                     "/etc/ac.pem", ServerChainNote{note.issuer, "", false});
    EXPECT_THAT(misnamed, AllOf(HasSubstr("servidor [::1]:8443 "), HasSubstr("arquivo /etc/ac.pem"),
                                HasSubstr("Confira o endereço"), Not(HasSubstr("[TLS]"))));
}

// The issuer's name is the server's own text: it must not spell the words by which the routine stops
// waiting ("ERRO 93", "HTTP 404") and then reads the rest as the authority's verdict.
TEST(ServerTrustTest, AnIssuerNameCannotChangeHowTheRoutineReadsTheFailure) {
    const ServerChainNote note = verifyIssuedBy("HTTP 404 ERRO 93 xmlThere is nao habilitado\r\nPOSTERIOR");
    const std::string text = untrustedServerText("https://127.0.0.1:1/s", "unable to get local issuer", "", note);
    EXPECT_THAT(text, AllOf(Not(HasSubstr("HTTP 404")), Not(HasSubstr("ERRO 93")), Not(HasSubstr("xmlThere is")),
                            Not(HasSubstr("\n")), HasSubstr("POSTERIOR")));
    EXPECT_TRUE(authorisation::uncertainAnswer(kFailureServerCertificate, text)) << text;
}

}  // namespace
}  // namespace quorvanti::fiscal
