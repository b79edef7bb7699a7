#include "fiscal_component/certificates/certificate_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "fiscal_component/certificates/certificate_selector.h"
#include "platform/credentials.h"
#include "platform/ui/scripted_frontend.h"
#include "support/env_guard.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using quorvanti::testing::installTestCertificate;
using quorvanti::testing::readFile;
using quorvanti::testing::TempDir;
using quorvanti::testing::TestCertificate;
using quorvanti::testing::writeFile;

template <typename Action>
std::string certificateErrorOf(Action action) {
    return quorvanti::testing::errorText<CertificateError>(action);
}

// The serial as the openssl command line reads it from the PKCS#12 file, independent of the store.
std::string serialByOpenSsl(const std::string& pfx) {
    std::string text = quorvanti::testing::commandOutput("openssl pkcs12 -in '" + pfx + "' -passin 'file:" + pfx +
                                                         ".senha' -nokeys -clcerts 2>/dev/null | openssl x509 -noout -serial");
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.rfind("serial=", 0) == 0 ? text.substr(7) : "";
}

class CertificateStoreTest : public ::testing::Test {
protected:
    // The valid test signer in the store, and its serial as openssl reads it.
    void install() {
        pfx = installTestCertificate(folder);
        serial = serialByOpenSsl(pfx);
    }
    TempDir dir;
    std::string folder = dir.file("certificados");
    std::string pfx, serial;
};

TEST_F(CertificateStoreTest, ListsAndFindsTheTestCertificateBySerialWrittenAnyWay) {
    install();
    const CertificateStore store(folder);
    const auto certificates = store.list();
    ASSERT_EQ(certificates.size(), 1u);
    const CertificateInfo& info = certificates[0];
    EXPECT_EQ(std::tie(info.file, info.holderName, info.issuerName, info.serialNumber, info.cnpj, info.expired),
              std::make_tuple(pfx, "QUORVANTI LOJA TESTE LTDA:11222333000181", "AC QUORVANTI TESTE", serial,
                              "11222333000181", false));
    // (The validity's dates, as the operator reads them, are the expired certificates' test's.)

    // In any case, with separators and leading zeros.
    const auto found = store.find(serial);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->info().serialNumber, serial);
    std::string withColons;
    for (std::size_t i = 0; i < serial.size(); ++i)
        withColons += (i > 0 && i % 2 == 0 ? ":" : "") + std::string(1, static_cast<char>(std::tolower(serial[i])));
    for (const std::string& written : {withColons, "00" + serial, " " + withColons + " "})
        EXPECT_EQ(store.find(written), found) << written;
    EXPECT_THAT(certificateErrorOf([&] { store.find("ABCDEF0123"); }),
                AllOf(HasSubstr("ABCDEF0123"), HasSubstr("não encontrado"), HasSubstr(folder)));
    EXPECT_THAT(certificateErrorOf([&] { store.find(""); }), HasSubstr("série"));
}

TEST_F(CertificateStoreTest, RefusesAPasswordFileOtherUsersCanReadAndAStoreFolderTheyCanEnter) {
    install();
    const CertificateStore store(folder);
    ASSERT_TRUE(store.find(serial));  // cached now: the permission is checked at every access all the same

    ASSERT_EQ(::chmod((pfx + ".senha").c_str(), 0640), 0);

    EXPECT_THAT(certificateErrorOf([&] { store.find(serial); }),
                AllOf(HasSubstr(pfx + ".senha"), HasSubstr("0640"), HasSubstr("chmod 600")));
    const StoreListing listing = store.scan();
    EXPECT_TRUE(listing.certificates.empty());
    ASSERT_EQ(listing.problems.size(), 1u);
    EXPECT_THAT(listing.problems[0], HasSubstr(pfx + ".senha"));

    // Nor a store folder other users can enter.
    ASSERT_EQ(::chmod(folder.c_str(), 0750), 0);
    EXPECT_THAT(certificateErrorOf([&] { store.checkUsable(); }),
                AllOf(HasSubstr(folder), HasSubstr("0750"), HasSubstr("chmod 700")));
}

TEST_F(CertificateStoreTest, WrongPasswordNamesTheFileNeverShowsAPasswordAndUnusableFilesAreSkipped) {
    install();
    const std::string rightPassword = readFile(pfx + ".senha").substr(0, 32);
    writeFile(pfx + ".senha", "senha-errada-123\r\n");

    const std::string message = certificateErrorOf([&] { CertificateStore(folder).find(serial); });
    EXPECT_THAT(message, AllOf(HasSubstr("Senha incorreta"), HasSubstr(pfx)));
    EXPECT_THAT(message, Not(HasSubstr("senha-errada-123")));
    EXPECT_THAT(message, Not(HasSubstr(rightPassword)));
    EXPECT_TRUE(CertificateStore(folder).list().empty());

    // Put right again (with a Windows line end, which is not part of the password): usable again.
    writeFile(pfx + ".senha", rightPassword + "\r\n");
    EXPECT_TRUE(CertificateStore(folder).find(serial));

    // A file without its password file and a damaged one are skipped with a reason; other files quietly.
    writeFile(folder + "/sem-senha.p12", readFile(pfx));
    writeFile(folder + "/danificado.pfx", "not a PKCS#12 file");
    writeFile(folder + "/danificado.pfx.senha", "x\n");
    ::chmod((folder + "/danificado.pfx.senha").c_str(), 0600);
    writeFile(folder + "/leia-me.txt", "ignored");
    const StoreListing listing = CertificateStore(folder).scan();
    EXPECT_EQ(listing.certificates.size(), 1u);
    EXPECT_THAT(listing.problems, ::testing::UnorderedElementsAre(HasSubstr("danificado.pfx"),
                                                                   HasSubstr("sem-senha.p12.senha")));
}

TEST_F(CertificateStoreTest, ExpiredAndNotYetValidCertificatesAreListedButRefusedWithTheirDates) {
    pfx = installTestCertificate(folder, TestCertificate::Expired);
    installTestCertificate(folder, TestCertificate::NotYetValid);
    const CertificateStore store(folder);
    const auto certificates = store.list();  // loja-futura.pfx sorts first
    ASSERT_EQ(certificates.size(), 2u);
    EXPECT_TRUE(certificates[0].expired && certificates[1].expired);
    EXPECT_EQ(certificates[1].validUntil, "01/01/2021 12:00:00");
    EXPECT_THAT(certificateErrorOf([&] { store.find(certificates[1].serialNumber); }),
                AllOf(HasSubstr("Certificado vencido em 01/01/2021 12:00:00"), HasSubstr(pfx)));
    EXPECT_THAT(certificateErrorOf([&] { store.find(certificates[0].serialNumber); }),
                HasSubstr("a partir de 01/01/2090 00:00:00"));
}

std::string control(const platform::Dialog& dialog, const std::string& name) {
    for (const auto& [controlName, text] : dialog.controls())
        if (controlName == name) return text;
    return "<missing " + name + ">";
}

// The selector's dialog as the operator meets it: an expired line is refused with the dialog left open,
// a valid one gives its five properties.
TEST_F(CertificateStoreTest, TheOperatorChoosesAValidLineOfTheSelectorsDialog) {
    installTestCertificate(folder, TestCertificate::Expired);
    installTestCertificate(folder);  // "loja-teste.pfx" sorts before "loja-vencida.pfx": line 1 is valid
    const auto info = CertificateStore(folder).list().at(0);
    platform::ScriptedFrontend frontend;
    std::string warning;
    frontend.onDialog("frm_certificados", [&](platform::Dialog& dialog) {
        dialog.typeText("txtEscolha", "2");
        dialog.click("cmdOk");
        EXPECT_FALSE(dialog.closed());
        warning = control(dialog, "lblAviso");
        dialog.typeText("txtEscolha", "1");
        dialog.click("cmdOk");
    });
    StoreCertificateSelector selector(frontend, folder);
    ASSERT_TRUE(selector.select());
    EXPECT_THAT(warning, HasSubstr("fora da validade"));
    const CertificateProperties chosen = selector.chosen();
    EXPECT_EQ(std::tie(chosen.holderName, chosen.issuerName, chosen.serialNumber, chosen.validFrom, chosen.validUntil),
              std::tie(info.holderName, info.issuerName, info.serialNumber, info.validFrom, info.validUntil));
}

// The certificate's password from a service credential ($CREDENTIALS_DIRECTORY) before the .senha file:
// which one wins, and that a wrong one is told without the password itself.
TEST_F(CertificateStoreTest, TheCertificatesOwnCredentialBeforeTheSharedOneBeforeTheFile) {
    install();
    const std::string password = readFile(pfx + ".senha"), credentials = dir.file("credenciais");
    ASSERT_EQ(::mkdir(credentials.c_str(), 0700), 0);
    quorvanti::testing::EnvGuard env;
    env.set(platform::kCredentialsDirectoryVariable, credentials);
    const auto failure = [&] { return certificateErrorOf([&] { CertificateStore(folder).find(serial); }); };

    writeFile(pfx + ".senha", "outra-senha");
    writeFile(credentials + "/" + kPasswordCredential, password);
    EXPECT_EQ(failure(), "");
    writeFile(credentials + "/loja-teste.pfx.senha", "senha-errada-123");
    EXPECT_THAT(failure(), AllOf(HasSubstr("Senha incorreta"), HasSubstr("a credencial " + credentials + "/loja-teste"),
                                 Not(HasSubstr("senha-errada"))));
    // No name reaches outside the credentials' folder.
    EXPECT_EQ(platform::credentialPath("../certificados/loja-teste.pfx.senha"), "");
}

}  // namespace
}  // namespace quorvanti::fiscal
