#include "platform/registry_store.h"

#include "env_guard.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace quorvanti::platform {
namespace {

using quorvanti::testing::readFile;
using quorvanti::testing::TempDir;

TEST(RegistryStoreTest, WriteCreatesTheFoldersAndTheValueReadsBackWholeAndExact) {
    TempDir dir;
    RegistryStore store(dir.file("config/quorvanti/registry.ini"));
    EXPECT_EQ(store.read("nfe", "NoSerieCertificado"), "");

    const std::string serial(250, '7');
    ASSERT_TRUE(store.write("nfe", "NoSerieCertificado", serial));
    ASSERT_TRUE(store.write("Velantrimexo", "NoSerieCertificado", "Certificação €"));

    EXPECT_EQ(store.read("NFE", "noseriecertificado"), serial);  // not cut to 199
    EXPECT_EQ(store.read("Velantrimexo", "NoSerieCertificado"), "Certificação €");
    EXPECT_EQ(store.read("Velantrimexo", "Outro"), "");
    EXPECT_NE(readFile(store.path()).find("[Velantrimexo]\r\nNoSerieCertificado=Certifica\xE7\xE3o \x80\r\n"),
              std::string::npos);
    // Values with edge blanks or quotes come back exactly.
    for (const std::string value : {" 12 ", "\"entre aspas\"", "'x'", "\t", "a\"b"}) {
        ASSERT_TRUE(store.write("nfe", "Valor", value));
        EXPECT_EQ(store.read("nfe", "Valor"), value);
    }
    // A folder that cannot be made answers false.
    quorvanti::testing::writeFile(dir.file("arquivo"), "x");
    RegistryStore unusable(dir.file("arquivo/registry.ini"));
    EXPECT_FALSE(unusable.write("nfe", "NoSerieCertificado", "1"));
    EXPECT_EQ(unusable.read("nfe", "NoSerieCertificado"), "");
}

TEST(RegistryStoreTest, DefaultPathFollowsTheEnvironment) {
    quorvanti::testing::EnvGuard env;
    env.set("QUORVANTI_REGISTRY", "/srv/reg.ini");
    env.set("XDG_CONFIG_HOME", "/cfg");
    env.set("HOME", "/home/caixa");
    EXPECT_EQ(RegistryStore::defaultPath(), "/srv/reg.ini");
    env.set("QUORVANTI_REGISTRY", std::nullopt);
    EXPECT_EQ(RegistryStore::defaultPath(), "/cfg/quorvanti/registry.ini");
    env.set("XDG_CONFIG_HOME", "relativo");
    EXPECT_EQ(RegistryStore::defaultPath(), "/home/caixa/.config/quorvanti/registry.ini");
}

}  // namespace
}  // namespace quorvanti::platform
