// The real executable against the local SEFAZ over HTTPS, stopped at each step of a sale (SIGKILL as a
// power cut, SIGTERM as a service stop) and started again with --once until nothing is due. Whatever
// the step, every queued sale must end authorised exactly once and recorded, no NFC-e number may serve
// two documents, and nothing the authority holds may stay unrecorded: the database, the program's
// files and the authority's state folder are compared at the end.
//
// The executable sleeps for real. QUORVANTI_TIME_SCALE (taken from the test's environment, else 0.02)
// is handed to it so that its pauses and timers run faster while dates stay real; without a scale, each
// case takes one to two minutes instead of a few seconds.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/temp_dir.h"

namespace quorvanti::startup {
namespace {

using database::DbKind;
using testing::lastLines;
using testing::MonitorRun;
using testing::ProgramFolder;

const std::vector<std::string> kSales = {"801-01", "802-01"};
constexpr const char* kSaleDate = "05/03/2026";

// Where a run is stopped: the monitor stops itself at the `occurrence`th caption that begins with
// `caption` (QUORVANTI_STOP_AT), right as it is shown and before the work that follows; or, with
// `authorised` set, the test kills it as soon as the authority's state folder holds that many
// authorised documents (the answer to the send still on its way).
// `secondSignal`, when set, follows `signal` at once (the process's second stop request).
// `rules`, when set, replaces the authority's scenario before the run.
struct Stop {
    std::string caption{};
    int occurrence = 1;
    int signal = SIGKILL;
    int secondSignal = 0;
    std::size_t authorised = 0;
    std::string rules{};
    // What happens to NFCe.ini after the stop: "" nothing, else "delete", "empty" or "garble".
    std::string nfceIniAfter{};
};

// One way of stopping the monitor: the stops of successive runs, the scenario the authority follows
// after them (empty: the normal answers), and the database.
struct StopCase {
    std::string name;
    std::vector<Stop> stops;
    std::string rulesAfterStops{};
    DbKind kind = DbKind::Sqlite;
};
void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }

class CrashRecoveryTest : public ::testing::TestWithParam<StopCase> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam().kind);
        folder = std::make_unique<ProgramFolder>(GetParam().kind);
        testing::installTestSigner(*folder);
        authorityFolder = folder->path() + "/..";
        authority = testing::startShopAuthority(*folder, "10000");
        ASSERT_GT(authority->port(), 0) << authority->log();
        ASSERT_EQ(testing::queueSalesWithItems(*folder, 2), kSales);
    }

    void scenario(const std::string& rules) { testing::replaceScenario(authorityFolder + "/cenario.txt", rules); }

    std::string authorisedFolder() const { return authorityFolder + "/estado/autorizadas"; }

    // Runs `quorvanti --once` on the folder, to be stopped as `stop` says.
    MonitorRun runMonitor(const Stop* stop = nullptr) {
        if (stop == nullptr) return testing::runMonitor(*folder);
        if (stop->authorised > 0)
            return testing::runMonitor(*folder, [&](MonitorRun& run, const std::string&) {
                if (!run.stopped && testing::filesIn(authorisedFolder()) >= stop->authorised) run.signal(stop->signal);
            });
        testing::MonitorOptions options;
        const auto name = [](int signal) { return signal == SIGKILL ? "KILL" : signal == SIGTERM ? "TERM" : "INT"; };
        options.environment.push_back("QUORVANTI_STOP_AT=" + std::string(name(stop->signal)) +
                                      (stop->secondSignal != 0 ? std::string("+") + name(stop->secondSignal) : "") +
                                      ":" + std::to_string(stop->occurrence) + ":" + stop->caption);
        MonitorRun run = testing::runMonitor(*folder, nullptr, options);
        int shown = 0;
        std::istringstream lines(run.output);
        for (std::string line; std::getline(lines, line);) shown += testing::isCaption(line, stop->caption);
        run.stopped = shown >= stop->occurrence;
        return run;
    }

    bool anyQueued() const { return folder->value("select count(*) as n from TabNCEAEnviar", "n") != "0"; }

    std::unique_ptr<ProgramFolder> folder;
    std::string authorityFolder;
    std::unique_ptr<testing::AuthorityProcess> authority;
};

// Every sale authorised once, recorded once, numbered 1..n without a gap or a second document, and
// every document the authority holds recorded.
void expectEverySaleAuthorisedOnceAndRecorded(const ProgramFolder& folder, const std::string& stateFolder) {
    testing::expectEachSaleAuthorisedOnce(folder, stateFolder, kSales, {&folder});
    // The mirror for the point-of-sale program names each sale's NFC-e, however it was lost on the way.
    for (const std::string& sale : kSales)
        EXPECT_EQ(platform::iniRead(folder.path() + "/NFCe.ini", sale + "-" + kSaleDate, "ChaveNFCe"),
                  folder.value("select chave from nfce_gerada where cod_venda = '" + sale + "'", "chave"))
            << sale;
}

// At any stop, each sale is either wholly recorded (its NFC-e row, the fiscal mark, its queue row gone)
// or not at all (still queued, unmarked): the completion is one transaction.
void expectNoSaleHalfRecorded(const ProgramFolder& folder) {
    for (const std::string& sale : kSales) {
        const auto count = [&](const std::string& table, const std::string& where) {
            return folder.value("select count(*) as n from " + table + " where " + where, "n");
        };
        const bool recorded = count("nfce_gerada", "cod_venda = '" + sale + "'") != "0";
        const bool queued = count("TabNCEAEnviar", "codvenda = '" + sale + "'") != "0";
        const std::string unmarked =
            count("VendasConclu", "CodigoVenda = '" + sale + "' and (fiscal is null or fiscal <> 'Sim')");
        EXPECT_NE(recorded, queued) << sale;
        EXPECT_EQ(unmarked, recorded ? "0" : "1") << sale;
    }
}

TEST_P(CrashRecoveryTest, EverySaleEndsAuthorisedOnceWhereverTheMonitorWasStopped) {
    for (const Stop& stop : GetParam().stops) {
        if (!stop.rules.empty()) scenario(stop.rules);
        const MonitorRun run = runMonitor(&stop);
        ASSERT_TRUE(run.stopped) << "never reached \"" << stop.caption << "\":\n" << lastLines(run.output);
        if (stop.signal == SIGKILL) {
            EXPECT_FALSE(run.exited) << lastLines(run.output);
            EXPECT_EQ(run.status, SIGKILL);
        } else if (stop.secondSignal == 0) {
            // A service stop ends normally, at a safe point of the current sale, and the next sale is
            // not begun.
            EXPECT_TRUE(run.exited && run.status == 0) << run.status << "\n" << lastLines(run.output);
            EXPECT_EQ(run.output.find("COD.OP: " + kSales[1]), std::string::npos) << lastLines(run.output);
            // Once the document is sent, the sale is finished (authorised and recorded) before the end.
            if (stop.caption == "Verificando autorização") {
                EXPECT_FALSE(folder->queued(kSales[0])) << lastLines(run.output);
            }
        } else {
            // A second signal ends the process at once, with the status of the signal that ended it.
            EXPECT_TRUE(run.exited && (run.status == 128 + stop.signal || run.status == 128 + stop.secondSignal))
                << run.status << "\n" << lastLines(run.output);
        }
        expectNoSaleHalfRecorded(*folder);
        // The local mirror of the keys is lost or damaged: the shared journal is the record.
        const std::string nfceIni = folder->path() + "/NFCe.ini";
        if (stop.nfceIniAfter == "delete") std::filesystem::remove(nfceIni);
        if (stop.nfceIniAfter == "empty") testing::writeFile(nfceIni, "");
        if (stop.nfceIniAfter == "garble") {
            const char garbled[] = "[801-01-05/03\0\xff=\r\nChaveNFCe=51\r\n[";
            testing::writeFile(nfceIni, std::string(garbled, sizeof garbled - 1));
        }
    }
    scenario(GetParam().rulesAfterStops);
    for (int restart = 0; restart < 4 && anyQueued(); ++restart) {
        const MonitorRun run = runMonitor();
        EXPECT_TRUE(run.exited && run.status == 0) << run.status << "\n" << lastLines(run.output);
    }
    expectEverySaleAuthorisedOnceAndRecorded(*folder, authorityFolder + "/estado");
}

// As soon as the authority holds the document, while its answer is held back.
constexpr const char* kAnswerDelayed = "[call send 1]\ndelay = 3000\n";
constexpr const char* kRecoveryUnanswered = "[call consulta 1]\nstatus = 108\n";
constexpr const char* kInProcessing = "[call consulta *]\nprocessing = 3\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, CrashRecoveryTest,
    ::testing::Values(
        // Power cuts (SIGKILL) at each step of the first sale, and once in the second.
        StopCase{"KeyWrittenNotSent", {{.caption = "Gerando lote"}}},
        StopCase{"AuthorisedAnswerInFlight", {{.authorised = 1, .rules = kAnswerDelayed}}},
        StopCase{"AfterTheSend", {{.caption = "Metodo enviar: 989"}}},
        StopCase{"AfterTheConsultation", {{.caption = "Recepção realizada"}}},
        StopCase{"BeforeTheRecord", {{.caption = "Salvando NFCe"}}},
        StopCase{"InsideTheRecord", {{.caption = "Incrementando NFC-e na base/Salvando"}}},
        StopCase{"InsideTheRecordMariaDb", {{.caption = "Incrementando NFC-e na base/Salvando"}}, "", DbKind::MariaDb},
        StopCase{"SecondSaleAfterTheSend", {{.caption = "Metodo enviar: 989", .occurrence = 2}}},
        // The authority answers "in processing" to the first consultations, before and after the kill.
        StopCase{"WhileInProcessing", {{.caption = "Realizando consulta: Tentativas 1/", .rules = kInProcessing}},
                 kInProcessing},
        // Killed again while completing the earlier attempt it took up.
        StopCase{"AgainDuringRecovery",
                 {{.caption = "Recepção realizada"}, {.caption = "Incrementando NFC-e na base/Salvando"}}},
        // The recovery's first consultation gets no final answer: the other sale goes first and must
        // not take the number the authority already holds for the first.
        StopCase{"RecoveryUnanswered", {{.caption = "Recepção realizada"}}, kRecoveryUnanswered},
        // The earlier key of a sale is answered 562 (the authority holds its number under another sale's
        // key): the first sale is killed after its key is written, its recovery is unanswered once, and
        // the second sale takes number 1; the first must then take a free number, not wait for ever.
        StopCase{"KeyWrittenThenNumberTaken", {{.caption = "Gerando lote"}}, kRecoveryUnanswered},
        // Around the journal: the claim taken, the number reserved with nothing built, the document
        // built before its key is committed, the key committed around its mirror in NFCe.ini.
        StopCase{"AroundTheClaim", {{.caption = "Executando CodVenda: "}}},
        StopCase{"NumberReservedNotBuilt", {{.caption = "Dados Identificador:"}}},
        StopCase{"BuiltNotJournaled", {{.caption = "Retorno do GeraXML"}}},
        StopCase{"AroundTheJournalCommit", {{.caption = "ID chave"}}},
        // NFCe.ini lost, emptied or garbled after a kill mid-send: the journal still knows the key.
        StopCase{"MirrorDeletedAfterTheSend", {{.caption = "Metodo enviar: 989", .nfceIniAfter = "delete"}}},
        StopCase{"MirrorEmptiedAfterTheAnswer", {{.authorised = 1, .rules = kAnswerDelayed, .nfceIniAfter = "empty"}}},
        StopCase{"MirrorGarbledAfterTheConsultation", {{.caption = "Recepção realizada", .nfceIniAfter = "garble"}}},
        // Service stops (SIGTERM), and a second signal that ends the process at once.
        StopCase{"TermWhileBuilding", {{.caption = "Dados destinatário", .signal = SIGTERM}}},
        StopCase{"TermAfterTheSend", {{.caption = "Verificando autorização", .signal = SIGTERM}}},
        StopCase{"TermTwice", {{.caption = "Metodo enviar: 989", .signal = SIGTERM, .secondSignal = SIGINT}}}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvanti::startup
