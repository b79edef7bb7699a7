// The certificate's password from a service credential ($CREDENTIALS_DIRECTORY) before the .senha file:
// which one wins, and that a wrong one is told without the password itself.
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

using namespace ::testing;
using namespace quorvanti::testing;

TEST(PasswordCredentialTest, TheCertificatesOwnCredentialBeforeTheSharedOneBeforeTheFile) {
    TempDir dir;
    const std::string store = dir.file("certificados"), credentials = dir.file("credenciais");
    const std::string pfx = installTestCertificate(store);
    const std::string password = readFile(pfx + ".senha");
    const std::string serial = CertificateStore(store).list().at(0).serialNumber;
    ASSERT_EQ(::mkdir(credentials.c_str(), 0700), 0);
    EnvGuard env;
    env.set(platform::kCredentialsDirectoryVariable, credentials);
    const auto failure = [&] { return errorText<CertificateError>([&] { CertificateStore(store).find(serial); }); };

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
