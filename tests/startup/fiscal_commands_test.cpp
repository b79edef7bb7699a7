// `quorvanti --cancel`, `--void` and `--gaps` with the real executables: three sales authorised by the local
// SEFAZ, then cancelled, cancelled again, cancelled elsewhere, cancelled past the window, cancelled with
// the answer lost or the process killed; numbers voided by hand, one of them in use.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::startup {
namespace {

using namespace ::testing;
using namespace quorvanti::testing;
namespace fs = std::filesystem;

class FiscalCommandsTest : public ::testing::Test {
protected:
    FiscalCommandsTest() : folder(database::DbKind::Sqlite) { installTestSigner(folder); }

    void scenario(const std::string& rules) { replaceScenario(folder.path() + "/../cenario.txt", rules); }
    MonitorRun run(const std::vector<std::string>& arguments) {
        return runMonitor(folder, {}, {.arguments = arguments, .timeScale = "0.02", .limit = std::chrono::seconds(60)});
    }
    std::string value(const std::string& sql, const std::string& column) { return folder.value(sql, column); }
    std::string cancelled(const std::string& key) {
        return value("select cancelada from nfce_gerada where chave = '" + key + "'", "cancelada");
    }
    std::size_t eventsAtTheAuthority() { return filesIn(folder.path() + "/../estado/eventos"); }

    ProgramFolder folder;
    std::unique_ptr<AuthorityProcess> authority;
};

TEST_F(FiscalCommandsTest, CancellationIsRegisteredOnceWhateverHappensToItsAnswers) {
    authority = startShopAuthority(folder, "");
    ASSERT_GT(authority->port(), 0) << authority->log();
    queueSalesWithItems(folder, 3);
    const MonitorRun sold = run({"--once"});
    ASSERT_EQ(sold.status, 0) << lastLines(sold.output);
    const std::string first = value("select chave from nfce_gerada where numeronfce = '1'", "chave");
    const std::string second = value("select chave from nfce_gerada where numeronfce = '2'", "chave");
    const std::string third = value("select chave from nfce_gerada where numeronfce = '3'", "chave");
    ASSERT_EQ(first.size(), 44u);
    const std::string reason = "Cliente desistiu da compra no caixa";

    // A justification the authority would refuse is refused before anything is sent.
    const MonitorRun tooShort = run({"--cancel", first, "--reason", "curta demais"});
    EXPECT_EQ(tooShort.status, 64) << tooShort.output;
    EXPECT_THAT(tooShort.output, HasSubstr("15 a 255"));
    EXPECT_EQ(value("select count(*) as n from quorvanti_events", "n"), "0");

    const MonitorRun cancel = run({"--cancel", first, "--reason", reason});
    EXPECT_EQ(cancel.status, 0) << cancel.output;
    EXPECT_THAT(cancel.output, HasSubstr("cancelada: 135"));
    EXPECT_EQ(cancelled(first), "sim");
    EXPECT_TRUE(fs::exists(folder.path() + "/nfe/arquivos/eventos/" + first + "-110111-1-procEventoNFe.xml"));
    // Again: the journal knows it; cancelled elsewhere (the journal does not): 573, then recorded.
    EXPECT_EQ(run({"--cancel", first, "--reason", reason}).status, 0);
    folder.execute("delete from quorvanti_events");
    folder.execute("update nfce_gerada set cancelada = 'nao'");
    const MonitorRun elsewhere = run({"--cancel", first, "--reason", reason});
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.output;
    EXPECT_THAT(elsewhere.output, HasSubstr("já estava cancelada"));
    EXPECT_EQ(cancelled(first), "sim");
    EXPECT_EQ(eventsAtTheAuthority(), 1u);

    // The answer is lost: nothing is recorded, and the next run asks before sending again.
    scenario("[call evento *]\ndrop = after\n");
    const MonitorRun lost = run({"--cancel", second, "--reason", reason});
    EXPECT_EQ(lost.status, 35) << lost.output;
    EXPECT_EQ(cancelled(second), "nao");
    scenario("");
    const MonitorRun asked = run({"--cancel", second, "--reason", reason});
    EXPECT_EQ(asked.status, 0) << asked.output;
    EXPECT_EQ(cancelled(second), "sim");
    EXPECT_EQ(eventsAtTheAuthority(), 2u);

    // Killed (a power cut) once the authority has registered the event and before its answer arrives.
    scenario("[call evento *]\ndelay = 3000\n");
    const MonitorRun killed = runMonitor(
        folder,
        [&](MonitorRun& r, const std::string&) {
            if (!r.stopped && eventsAtTheAuthority() == 3) r.signal(SIGKILL);
        },
        {.arguments = {"--cancel", third, "--reason", reason}, .timeScale = "0.02", .limit = std::chrono::seconds(60)});
    EXPECT_TRUE(killed.stopped) << killed.output;
    EXPECT_EQ(cancelled(third), "nao");
    scenario("");
    EXPECT_EQ(run({"--cancel", third, "--reason", reason}).status, 0);
    EXPECT_EQ(cancelled(third), "sim");
    EXPECT_EQ(eventsAtTheAuthority(), 3u);
    EXPECT_EQ(value("select count(*) as n from quorvanti_events where estado = 'registered'", "n"), "3");
}

TEST_F(FiscalCommandsTest, PastTheWindowTheShopIsToldWhatToDoAndNumbersAreVoidedByHand) {
    authority = startShopAuthority(folder, "", {"--cancel-window", "0"});
    ASSERT_GT(authority->port(), 0) << authority->log();
    queueSalesWithItems(folder, 1);
    ASSERT_EQ(run({"--once"}).status, 0);
    const std::string key = value("select chave from nfce_gerada", "chave");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past a window of 0 minutes
    const MonitorRun late = run({"--cancel", key, "--reason", "Cliente desistiu da compra no caixa"});
    EXPECT_EQ(late.status, 34) << late.output;
    EXPECT_THAT(late.output, AllOf(HasSubstr("501"), HasSubstr("fora de prazo no portal")));
    EXPECT_EQ(cancelled(key), "nao");
    EXPECT_EQ(run({"--cancel", std::string(44, '5'), "--reason", "Cliente desistiu da compra"}).status, 36);

    const std::string reason = "Numeracao pulada por falha no sistema";
    const MonitorRun voided = run({"--void", "5", "7", "--reason", reason});
    EXPECT_EQ(voided.status, 0) << voided.output;
    EXPECT_TRUE(fs::exists(folder.path() + "/nfe/arquivos/inutilizadas/51" + key.substr(2, 2) + key.substr(6, 14) +
                           "65001000000005000000007-procInutNFe.xml"));
    // Number 1 carries the shop's NFC-e: refused here, before the authority is asked.
    EXPECT_EQ(run({"--void", "1", "1", "--reason", reason}).status, 64);
    // Voided again (answered 563 or known here): nothing new, still success.
    EXPECT_EQ(run({"--void", "5", "7", "--reason", reason}).status, 0);
    EXPECT_EQ(run({"--void", "1", "10001", "--reason", reason}).status, 64);
    const MonitorRun gaps = run({"--gaps"});
    EXPECT_EQ(gaps.status, 0) << gaps.output;
    EXPECT_THAT(gaps.output, HasSubstr("nenhum número"));
}

}  // namespace
}  // namespace quorvanti::startup
