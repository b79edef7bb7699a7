// The real monitor under packaging/quorvanti.service's seccomp restrictions, applied by
// quorvanti-service-sandbox as systemd applies them: a queued sale (SQLite; MariaDB through its socket)
// is still authorised by the local SEFAZ and printed. A filter denying a call the monitor needs fails here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"

namespace quorvanti::startup {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

// What `command` writes under the unit's restrictions, then "status N".
std::string sandboxed(const std::string& command) {
    return testing::commandOutput("(timeout 120 " QUORVANTI_BINARY_DIR "/quorvanti-service-sandbox "
                                  QUORVANTI_SOURCE_DIR "/packaging/quorvanti.service -- " + command +
                                  " 2>&1; echo \"status $?\")");
}

class ServiceSandboxTest : public ::testing::TestWithParam<database::DbKind> {};

TEST_P(ServiceSandboxTest, ASaleIsAuthorisedAndPrintedUnderTheUnitsRestrictions) {
    QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
    // In force: /bin/sh (as for registraDLL.sh) runs, and a privileged call root could make fails.
    EXPECT_THAT(sandboxed("/bin/sh -c 'chroot / true'"), HasSubstr("Operation not permitted"));

    testing::ProgramFolder folder(GetParam());
    testing::installTestSigner(folder);
    folder.setSetting("EmissaoRapida", "1");
    const auto authority = testing::startShopAuthority(folder, "10000");
    ASSERT_GT(authority->port(), 0) << authority->log();
    const auto sales = testing::queueSalesWithItems(folder, 1);
    // With the panel (its thread and socket). LeakSanitizer needs ptrace, which the filter denies.
    const std::string output =
        sandboxed("env QUORVANTI_TIME_SCALE=0.01 ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                  QUORVANTI_BINARY_DIR "/quorvanti --once --frontend web --app-dir " + folder.path() +
                  " --desktop-dir " + folder.desktop() + " --registry " + folder.registryFile());
    EXPECT_THAT(output, EndsWith("status 0\n")) << testing::lastLines(output);
    testing::expectEachSaleAuthorisedOnce(folder, folder.path() + "/../estado", sales, {&folder});
    EXPECT_FALSE(testing::readFile(folder.path() + "/receipts.bin").empty()) << testing::lastLines(output);
}

INSTANTIATE_TEST_SUITE_P(Backends, ServiceSandboxTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::startup
