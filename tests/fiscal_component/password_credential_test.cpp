// The certificate's password from a credential of the service manager ($CREDENTIALS_DIRECTORY) instead
// of the .senha file beside the certificate: which one wins, and that a wrong one is told without the
// password itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fiscal_component/certificates/certificate_store.h"
#include "platform/credentials.h"
#include "support/env_guard.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using quorvanti::testing::readFile;
using quorvanti::testing::writeFile;

TEST(PasswordCredentialTest, TheCertificatesOwnCredentialThenTheSharedOneThenTheFile) {
    quorvanti::testing::TempDir dir;
    const std::string store = dir.file("certificados");
    const std::string pfx = quorvanti::testing::installTestCertificate(store);
    const std::string passwordLine = readFile(pfx + ".senha");
    const std::string password = passwordLine.substr(0, passwordLine.find('\n'));
    const std::string serial = CertificateStore(store).list().at(0).serialNumber;
    const std::string credentials = dir.file("credenciais");
    ASSERT_EQ(::mkdir(credentials.c_str(), 0700), 0);
    quorvanti::testing::EnvGuard env;
    env.set(platform::kCredentialsDirectoryVariable, credentials);
    const auto failure = [&] {
        return quorvanti::testing::errorText<CertificateError>([&] { CertificateStore(store).find(serial); });
    };

    // Off the disk: the file beside the certificate goes, the shared credential opens it.
    ASSERT_EQ(std::remove((pfx + ".senha").c_str()), 0);
    writeFile(credentials + "/" + kPasswordCredential, password);
    EXPECT_TRUE(CertificateStore(store).find(serial));

    // The certificate's own credential comes first; a wrong one is told by its path, never by its text.
    const std::string own = credentials + "/loja-teste.pfx.senha";
    writeFile(own, "senha-errada-123");
    EXPECT_THAT(failure(), AllOf(HasSubstr("Senha incorreta"), HasSubstr("a credencial " + own),
                                 Not(HasSubstr("senha-errada-123")), Not(HasSubstr(password))));

    // Without credentials the file beside the certificate is read again, and a name leaving the folder
    // is no credential.
    env.set(platform::kCredentialsDirectoryVariable, std::nullopt);
    EXPECT_THAT(failure(), HasSubstr("Falta o arquivo de senha " + pfx + ".senha"));
    writeFile(pfx + ".senha", password);
    ASSERT_EQ(::chmod((pfx + ".senha").c_str(), 0600), 0);
    EXPECT_TRUE(CertificateStore(store).find(serial));
    env.set(platform::kCredentialsDirectoryVariable, credentials);
    EXPECT_EQ(platform::credentialPath("../certificados/loja-teste.pfx.senha"), "");
}

}  // namespace
}  // namespace quorvanti::fiscal
