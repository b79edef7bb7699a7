// A queued sale through the poll and the emission routine, on a real database with the real component
// and the test certificate, up to the validated, signed document and its answer from the local SEFAZ.
// Then the routine's reading of the authority's answers, with a component that answers from a script:
// what the database and the files hold after an authorisation, the end of the retries, and contingency.
#include "authorisation/emission_routine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "authorisation/outcome_texts.h"
#include "context/shop_clock.h"
#include "database/failing_connection.h"
#include "fiscal_component/document/access_key.h"
#include "fiscal_component/real_component.h"
#include "monitor/main_window.h"
#include "monitor/poll_cycle.h"
#include "platform/durable_file.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"
#include "platform/text_encoding.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/shared_data.h"
#include "support/test_certificates.h"

namespace quorvanti::authorisation {
namespace {

using database::DbKind;
using testing::ProgramFolder;
using testing::TestMonitor;

class EmissionTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        QUORVANTI_SKIP_WITHOUT_SHARED();
        folder = std::make_unique<ProgramFolder>(GetParam());
        const std::string store = testing::installTestSigner(*folder);
        // The official schema package, placed where a shop would put it.
        const std::string schemas = folder->path() + "/nfe/schemas";
        std::filesystem::create_directories(schemas);
        std::filesystem::copy(testing::kOfficialSchemas, schemas);
        folder->execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES "
                        "(101, 'ARROZ', '5102', '102', '10063021'), (103, 'REFRIGERANTE', '5405', '500', '22021000'), "
                        "(105, 'CAVALO', '5102', '102', '01012011')");
        startAuthority();
        components = std::make_unique<fiscal::RealComponentFactory>(store, frontendForComponents);
        monitor = std::make_unique<TestMonitor>(*folder, *components);
        // The local SEFAZ checks dhEmi against its own real clock, as the authority does: documents carry
        // the real instant, while the routine's pauses still take no time.
        monitor->clock.followRealTime();
        startup::SubMain(monitor->ctx);
    }

    void startAuthority() {
        authority = testing::startShopAuthority(*folder, timeoutMs);
        ASSERT_GT(authority->port(), 0) << authority->log();
    }
    // The monitor started again on the same folder, as after a restart of the program.
    void restartMonitor() {
        monitor->ctx.instanceLock.reset();
        monitor = std::make_unique<TestMonitor>(*folder, *components);
        monitor->clock.followRealTime();
        startup::SubMain(monitor->ctx);
    }
    void scenario(const std::string& rules) { testing::replaceScenario(folder->path() + "/../cenario.txt", rules); }
    std::string value(const std::string& sql, const std::string& column) { return folder->value(sql, column); }
    std::string number() { return value("select NumeroNFCE from config", "NumeroNFCE"); }
    // A queued sale of `items` (one of rice, 20,00, by default).
    void sale(const std::string& code, std::vector<testing::SaleItemRow> items = {{.code = 101, .total = 20}}) {
        for (auto& item : items) {
            item.sale = code;
            folder->addItem(item);
        }
        folder->queueSale(code);
    }
    bool queued(const std::string& code) { return folder->queued(code); }
    std::optional<ExitStatus> tick() {
        return testing::exitStatusOf([&] { monitor::Timer1_Timer(monitor->ctx, EmiteNFCeVenda); });
    }
    bool shown(const std::string& text) { return monitor->shown(text); }
    bool captioned(const std::string& text) { return monitor->captioned(text); }

    platform::ScriptedFrontend frontendForComponents;
    std::string timeoutMs = "5000";
    std::unique_ptr<testing::AuthorityProcess> authority;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<fiscal::RealComponentFactory> components;
    std::unique_ptr<TestMonitor> monitor;
};

// A print switch the operator posts once the document is built applies to this very sale: the routine's
// pauses pass the message loop (Timer1 is off for the batch, so only they can run it), and so do those
// that EmissaoRapida=1 skips. A shop that never set its approximate-tax rate (null) emits as well.
TEST_P(EmissionTest, AQueuedSaleIsAuthorisedAndAPrintSwitchPostedMeanwhileAppliesToIt) {
    folder->execute("update config set ValAproxTrib = NULL");
    monitor->ctx.settings.FastEmission = true;
    std::function<void()> watcher = [&] {
        if (monitor->ctx.emission.CurrentAccessKey.empty()) return monitor->loop.post(watcher);
        monitor->loop.post([&] { monitor::Check1_Click(monitor->ctx); });
    };
    monitor->loop.post(watcher);
    // Weighed goods leave 4 decimals: each item is rounded to cents once, and the totals add those cents.
    sale("500-01", {{.code = 101, .description = "Arroz tipo 1", .quantity = 2, .total = 55.80, .discount = 0.80},
                    {.code = 103, .description = "Refrigerante", .total = 9.50},
                    {.code = 101, .quantity = 0.355, .total = 6.358, .discount = 0.7065},
                    {.code = 101, .quantity = 0.355, .total = 7.0645, .discount = 0.7065}});
    ASSERT_EQ(tick(), std::nullopt);

    const std::string key = monitor->ctx.emission.CurrentAccessKey;
    ASSERT_EQ(key.size(), 44u) << ::testing::PrintToString(monitor->frontend.captionsOf("Label1"));
    // Signed and validated here (the key's layout, the signature and both schemas are the component
    // suite's), then authorised by the local SEFAZ: stored, numbered, marked and cleared.
    EXPECT_TRUE(monitor->ctx.emission.ValidationStatus) << monitor->ctx.emission.OperationMessage;
    testing::expectEachSaleAuthorisedOnce(*folder, folder->path() + "/../estado", {"500-01"}, {folder.get()});
    EXPECT_EQ(platform::iniRead(folder->path() + "/NFCe.ini", "500-01-05/03/2026", "ChaveNFCe"), key);
    const std::string protocol = platform::iniRead(folder->path() + "/NFCe.ini", "500-01-05/03/2026", "Protocolo");
    EXPECT_EQ(protocol.size(), 15u);
    EXPECT_NE(value("select protocoloEdata from nfce_gerada", "protocoloEdata").find(protocol), std::string::npos);
    // The QR text recorded is the authorised document's own (infNFeSupl/qrCode, written as CDATA).
    const std::string authorised = testing::readFile(folder->path() + "/nfe/arquivos/procNFe/" + key + "-procNFe.xml");
    EXPECT_EQ("<![CDATA[" + value("select qrcode from nfce_gerada", "qrcode") + "]]>",
              testing::between(authorised, "<qrCode>", "</qrCode>"));
    EXPECT_EQ(monitor->clock.slept(), std::chrono::milliseconds(0));
    EXPECT_EQ(platform::iniRead(folder->settingsPath(), "Geral", "ImprimiNFCESistema"), "1");
    EXPECT_TRUE(captioned("ENVIADA COM SUCESSO - IMPRESSÃO DESATIVADA"));
    EXPECT_TRUE(monitor->frontend.messages().empty()) << monitor->frontend.messages()[0].text;
}

TEST_P(EmissionTest, SalesThatCannotBeEmittedAreDroppedKeptOrStopTheProgramAsTheShopExpects) {
    folder->setSetting("LimiteNfce", "5.000,00");  // read the Brazilian way
    folder->queueSale("600-01");                                                 // no sale at all
    sale("601-01", {{.code = 101, .total = 0.10}});                              // not above 0,10
    sale("602-01", {{.code = 105, .total = 50}});                                // placeholder NCM
    sale("603-01", {{.code = 101, .total = 5000.01}});                           // one cent above the limit
    sale("610-01", {{.code = 101, .total = 20}, {.code = 103, .quantity = -2}}); // a negative quantity in item 2
    sale("604-01", {{.code = 101, .total = 5000}});                              // exactly the limit: emitted
    ASSERT_EQ(tick(), std::nullopt);

    for (const char* dropped : {"600-01", "601-01", "602-01", "603-01"}) EXPECT_FALSE(queued(dropped)) << dropped;
    EXPECT_TRUE(captioned("Operação não encontrada"));
    EXPECT_TRUE(shown("NCM invalido: 01012011"));
    EXPECT_NE(platform::windows1252ToUtf8(testing::readFile(folder->logPath())).find("NCM invalido: 01012011 no item 1 (coditem 105) -  - Erro da operação: 602-01"),
              std::string::npos);
    EXPECT_TRUE(shown("Operação excede o valor, altere em configurações caso deseje. Será omitida esta operação"));
    // Nothing is generated from part of a sale: it stays, and the operator is told which item failed.
    EXPECT_TRUE(queued("610-01"));
    EXPECT_EQ(platform::iniRead(folder->path() + "/NFCe.ini", "610-01-05/03/2026", "ChaveNFCe"), "");
    EXPECT_TRUE(monitor->shownContaining("610-01, item 2")) << ::testing::PrintToString(monitor->messageTexts());
    EXPECT_EQ(value("select cod_venda from nfce_gerada", "cod_venda"), "604-01");

    // A limit that is not an amount keeps the sale and says why, instead of guessing.
    folder->setSetting("LimiteNfce", "cinco mil");
    sale("612-01");
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(queued("612-01"));
    EXPECT_TRUE(shown("Configuração \"LimiteNfce\" = \"cinco mil\" inválida: escreva um valor como 9.999,00"));

    // A sale of 10.000,00 or more (once rounded to cents) is set aside with its message; the queue goes
    // on past it to the sale one cent below.
    folder->setSetting("LimiteNfce", "99999,00");
    sale("701-01", {{.code = 101, .quantity = 1000, .total = 9999.995}});
    sale("700-01", {{.code = 101, .quantity = 1000, .total = 9999.99}});
    EXPECT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(monitor->shownContaining("701-01: O Valor é superior o permitido, R$ 10.000,00, sem dados do destinatário"));
    EXPECT_EQ(std::make_tuple(queued("701-01"), queued("700-01")), std::make_tuple(true, false));
}

// Answers the shop must act on stop the monitor with their own status and keep the sale, whether the
// authority writes them in the batch's answer or in the document's protocol.
TEST_P(EmissionTest, WhatTheShopMustActOnStopsWithItsStatusAndKeepsTheSale) {
    const std::pair<const char*, ExitStatus> rows[] = {
        {"protocol = 703", ExitStatus::EmissionTimeAhead},
        {"protocol = 704", ExitStatus::EmissionTimeLate},
        {"protocol = 203 Rejeição: Emissor não habilitado para emissão da NF-e", ExitStatus::EmitterNotEnabled},
        {"protocol = 252 Rejeição: Ambiente informado diverge do Ambiente de recebimento", ExitStatus::WrongEnvironment},
    };
    int sold = 530;
    for (const auto& [rule, status] : rows) {
        SCOPED_TRACE(rule);
        const std::string code = std::to_string(sold++) + "-01";
        scenario(std::string("[call send *]\n") + rule + "\n");
        sale(code);
        EXPECT_EQ(tick(), status);
        EXPECT_TRUE(queued(code));
        monitor->ctx.retries = context::RetrySchedule{};
        folder->execute("DELETE FROM TabNCEAEnviar");
    }
    // Without the shop's token (config.token) no QR code can be made: nothing is built, the sale stays.
    scenario("");
    folder->execute("UPDATE config SET token = ''");
    sale("539-01");
    EXPECT_EQ(tick(), ExitStatus::TokenMissing);
    EXPECT_TRUE(queued("539-01"));
    EXPECT_EQ(value("select count(*) as n from quorvanti_attempts where cod_venda = '539-01' and chave <> ''", "n"), "0");
}

TEST_P(EmissionTest, AnErrorOrADenialKeepsTheSaleAndARejectionDropsItWithALogLine) {
    scenario("[call send 1]\nprotocol = 225 Rejeição: Falha no Schema XML\n"
             "[call send 2-3]\nstatus = 108\n"
             "[call consult 4]\nstatus = 104 Lote processado\nprotocol = 778 Rejeicao: Informado NCM inexistente [nItem:1]\n");
    sale("520-01");
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(queued("520-01"));
    EXPECT_TRUE(shown("Erro - E1 Rejeição: Falha no Schema XML"));
    EXPECT_EQ(number(), "1");
    ASSERT_EQ(tick(), std::nullopt);  // kept: not tried again before its delay
    EXPECT_EQ(monitor->frontend.messages().size(), 1u);

    // Tried again after 3 s: the earlier key is unknown to the authority (217), so the sale is built
    // again under the same number, sent (108: paused) and consulted: the consultation rejects it.
    monitor->clock.advance(std::chrono::seconds(3));
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(queued("520-01")) << "108 then 217: not received, kept";
    monitor->clock.advance(std::chrono::seconds(6));
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_FALSE(queued("520-01"));
    EXPECT_EQ(number() + "|" + value("select count(*) as n from nfce_gerada", "n"), "1|0");
    const std::string log = platform::windows1252ToUtf8(testing::readFile(folder->logPath()));
    EXPECT_NE(log.find("520-01 -  Posição:  - 778 - Rejeicao: Informado NCM inexistente [nItem:1]\r\n"), std::string::npos)
        << log;

    // A denial keeps the sale; the authority keeps the denied document, so its number is used for good
    // and the sale is made again under the next one (after the pause a denial of the emitter asks for).
    scenario("[call send 1]\nprotocol = 301\n");
    sale("530-01");
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(queued("530-01"));
    EXPECT_EQ(number() + "|" + value("select count(*) as n from nfce_gerada", "n"), "2|0");
    EXPECT_TRUE(monitor->shownContaining("530-01: 301"));
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(queued("530-01"));
    // The pause is over (the document dates stay real, so the clock is not moved).
    monitor->ctx.newDocumentsPausedUntil = {};
    monitor->ctx.retries = context::RetrySchedule{};
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_FALSE(queued("530-01")) << ::testing::PrintToString(monitor->messageTexts());
    EXPECT_EQ(value("select numeronfce from nfce_gerada", "numeronfce") + "|" + number(), "2|3");
}

// A denial whose answer was lost is read at the next try from the consultation: its number is used for
// good and the sale is made again under the next one.
TEST_P(EmissionTest, ADenialFoundAtTheNextTryUsesItsNumberForGood) {
    scenario("[call send *]\nprotocol = 302\ndrop = after\n[call consult *]\nhttp = 503\n");
    sale("531-01");
    ASSERT_EQ(tick(), std::nullopt);
    scenario("");
    for (int attempt = 0; attempt < 2; ++attempt) {
        monitor->ctx.retries = context::RetrySchedule{};
        ASSERT_EQ(tick(), std::nullopt);
    }
    EXPECT_TRUE(monitor->shownContaining("531-01: 302")) << ::testing::PrintToString(monitor->messageTexts());
    EXPECT_FALSE(queued("531-01"));
    EXPECT_EQ(value("select numeronfce from nfce_gerada", "numeronfce") + "|" + number(), "2|3");
}

TEST_P(EmissionTest, TheOperatorIsAskedWhileTheAnswerStaysInProcessing) {
    scenario("[call consult *]\nstatus = 105\n");
    sale("550-01");
    // Yes: the sale stays queued and the monitor goes on; it is consulted again later.
    monitor->frontend.answerNextYesNo(platform::MessageAnswer::Yes);
    EXPECT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(queued("550-01"));
    EXPECT_EQ(monitor->frontend.messages().back().title, "ATENÇÃO - ENV1");
    // At its next try the document is still in processing: the wait goes on, and No ends the program
    // with the sale still queued.
    monitor->clock.advance(std::chrono::seconds(3));
    monitor->frontend.answerNextYesNo(platform::MessageAnswer::No);
    EXPECT_EQ(tick(), ExitStatus::OperatorStoppedWait);
    EXPECT_TRUE(queued("550-01"));
    EXPECT_EQ(monitor->frontend.messages().end()[-2].title, "ATENÇÃO - ENV2");
    EXPECT_EQ(monitor->frontend.messages().back().text,
              "O sistema de NFCe será fechado, aguarde o serviço ser restabelecido");
}

// The point-of-sale program hands the customer a number of its own in contingency: the document is
// stored for the sender under that number, which is used at once. (The sender's part follows a switch
// to contingency below.)
TEST_P(EmissionTest, ContingencyStoresTheDocumentUnderTheNumberTheCustomerWasGiven) {
    folder->setSetting("Contigencia", "1");
    monitor->ctx.settings.Contingency = "1";
    folder->addItem({.sale = "570-01", .code = 101, .total = 20});
    folder->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML, caminhoXMLcontigencia, "
                    "numeroNFCE, DataContigencia, Serv_ImpresNFCE) VALUES ('570-01', 'enviar', '2026-03-05', 'x', "
                    "'1', '7', '2026-03-05T14:00:00-04:00', '1')");
    monitor->ctx.settings.QueueSql = "Select * from TabNCEAEnviar where enviada = 'enviar'";
    ASSERT_EQ(tick(), std::nullopt);
    const std::string key = monitor->ctx.emission.CurrentAccessKey;
    ASSERT_EQ(key.size(), 44u);
    EXPECT_EQ(key.substr(25, 9) + "|" + key.substr(34, 1), "000000007|9");
    EXPECT_TRUE(queued("570-01"));
    EXPECT_EQ(value("select count(*) as n from nfce_gerada", "n") + "|" + number() + "|" +
                  value("select fiscal from VendasConclu", "fiscal"),
              "0|8|Sim");
}

// The authority (or the machine) fails in each way it can while a sale is emitted. Each row states how
// the first try ends; then the fault goes away and the monitor tries again until the queue is empty.
// Whatever the fault, every sale ends authorised exactly once and recorded, and nothing the authority
// authorised is left unrecorded.
TEST_P(EmissionTest, EveryFaultEndsWithEachSaleAuthorisedOnceAndRecorded) {
    timeoutMs = "1000";
    startAuthority();
    enum class First { Authorised, Kept };
    struct Fault {
        const char* name;
        std::string rules;
        First first;
        std::optional<ExitStatus> exit = std::nullopt;
        const char* failingStatement = nullptr;  // a database statement that fails on the first try
        bool withoutPassword = false;             // the certificate's password file is away on the first try
        const char* fullDiskAt = nullptr;         // writes of this file or folder find the disk full on the first try
        std::string secondTry = "";               // the rules of a second try that is kept too ("" = none)
    };
    const std::string otherKey = "51260311222333000181650010000000091000000099";
    const Fault faults[] = {
        {"send answer lost after authorisation (204 on the next send)", "[call send 1]\ndrop = after\n", First::Authorised},
        {"send never arrives twice", "[call send 1-2]\ndrop\n", First::Authorised},
        {"HTTP 503 to the send", "[call send 1-3]\nhttp = 503\n", First::Kept},
        {"HTTP 500 to every consultation after authorisation", "[call consult *]\nhttp = 500\n", First::Kept},
        {"service paused (108) to the send: not received", "[call send 1]\nstatus = 108\n", First::Kept},
        {"service paused (109) to the consultation", "[call consult *]\nstatus = 109\n", First::Kept},
        {"in processing for a long time", "[call consult *]\nstatus = 105\n", First::Kept},
        {"539 naming the sale's own key (its first send was authorised)",
         "[call send 1]\ndrop = after\n[call send 2]\nprotocol = 539\n", First::Authorised},
        {"539 naming another document: the next number",
         "[call send 1]\nprotocol = 539 Rejeição: Duplicidade de NF-e, com diferença na Chave de Acesso [chNFe: " +
             otherKey + "][nRec:512000000000001]\n",
         First::Authorised},
        {"the database fails in the middle of completion", "", First::Kept, std::nullopt, "Insert into nfce_gerada"},
        {"the certificate's password file is missing", "", First::Kept, std::nullopt, nullptr, true},
        {"disk full at the signed document", "", First::Kept, std::nullopt, nullptr, false, "nfe/arquivos/assinado"},
        // The point-of-sale program's mirror of the key is written before the send, or nothing is sent.
        {"disk full at the key's mirror in NFCe.ini", "", First::Kept, std::nullopt, nullptr, false, "NFCe.ini"},
        // Full only once the authority has authorised: the next try must adopt that document, not make another.
        {"disk full at the authorised document", "", First::Kept, std::nullopt, nullptr, false, "nfe/arquivos/procNFe"},
        // Two earlier keys: the first never received (217 at the second try, which makes another under the
        // same number), the second authorised with its answer lost; the third try must adopt the second.
        {"never received, then a second document's answer lost", "[call send *]\ndrop\n", First::Kept,
         std::nullopt, nullptr, false, nullptr, "[call send 1]\ndrop = after\n[call send *]\ndrop\n"},
    };
    int code = 0;
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.name);
        const std::string sale = std::to_string(900 + ++code) + "-01";
        this->sale(sale);
        scenario(fault.rules);
        if (fault.failingStatement) {
            auto failing = std::make_unique<database::FailingConnection>(std::move(monitor->ctx.db));
            failing->failOnText(fault.failingStatement);
            monitor->ctx.db = std::move(failing);
        }
        const std::string password = folder->path() + "/certificados/loja-teste.pfx.senha";
        if (fault.withoutPassword) std::filesystem::rename(password, password + ".fora");
        if (fault.fullDiskAt) platform::test_seam::failWritesUnder(folder->path() + "/" + fault.fullDiskAt, ENOSPC);
        EXPECT_EQ(tick(), fault.exit);
        platform::test_seam::stopFailingWrites();
        EXPECT_EQ(queued(sale), fault.first == First::Kept);
        // The operator is told which file could not be written, and why.
        if (fault.fullDiskAt) {
            EXPECT_TRUE(monitor->shownContaining("disco cheio")) << ::testing::PrintToString(monitor->messageTexts());
        }
        if (fault.failingStatement) static_cast<database::FailingConnection&>(*monitor->ctx.db).clearFailures();
        if (fault.withoutPassword) std::filesystem::rename(password + ".fora", password);
        if (!fault.secondTry.empty()) {
            scenario(fault.secondTry);
            monitor->ctx.retries = context::RetrySchedule{};
            EXPECT_EQ(tick(), std::nullopt);
            EXPECT_TRUE(queued(sale));
            EXPECT_EQ(value("select count(*) as n from quorvanti_attempts where chave <> '' and cod_venda = '" + sale +
                                "'", "n"), "2");
        }

        scenario("");
        for (int retry = 0; retry < 4 && queued(sale); ++retry) {
            monitor->ctx.retries = context::RetrySchedule{};  // its delay is over (the dates stay real)
            EXPECT_EQ(tick(), std::nullopt);
        }
        EXPECT_FALSE(queued(sale));
        EXPECT_EQ(value("select count(*) as n from nfce_gerada where cod_venda = '" + sale + "'", "n"), "1");
    }
    // Nothing the authority authorised is unrecorded, and no number serves two documents.
    std::set<std::string> authorised;
    for (const auto& file : std::filesystem::directory_iterator(folder->path() + "/../estado/autorizadas"))
        authorised.insert(file.path().stem().string());
    auto records = folder->connect()->open("select chave, numeronfce from nfce_gerada");
    std::set<std::string> recorded, numbers;
    for (; !records.eof(); records.moveNext()) {
        recorded.insert(records.field("chave").text());
        numbers.insert(records.field("numeronfce").text());
    }
    EXPECT_EQ(recorded, authorised);
    EXPECT_EQ(numbers.size(), recorded.size());
    EXPECT_EQ(number(), std::to_string(recorded.size() + 2));  // one number went to the other document of 539
    EXPECT_EQ(value("select count(*) as n from VendasConclu where fiscal = 'Sim'", "n"), std::to_string(code));
}

// A normal document never arrives and the authority goes away; the shop switches to contingency. The
// customer gets a contingency document at once, under a new number; once the authority is back and the
// sender has it authorised, the earlier document's number is voided. (An earlier document that had been
// authorised is cancelled by substitution: the end-to-end contingency test.) Never two valid NFC-e.
// Contingency began and its try ended before the contingency document was made; contingency ends: the
// normal document left without an answer is asked about again, as the authority may hold it.
TEST_P(EmissionTest, ADocumentThatContingencyWasToReplaceIsTheSalesWhenContingencyEndsFirst) {
    scenario("[call send *]\ndrop = after\n[call consult *]\nhttp = 503\n");
    sale("582-01");
    ASSERT_EQ(tick(), std::nullopt);
    const std::string first = value("select chave from quorvanti_attempts where chave <> ''", "chave");
    folder->execute("UPDATE TabNCEAEnviar SET DataContigencia = '2026-03-05T14:00:00-04:00', caminhoXMLcontigencia = '1'");
    folder->setSetting("Contigencia", "1");
    restartMonitor();
    monitor->ctx.settings.QueueSql = "Select * from TabNCEAEnviar where enviada = 'enviar'";
    monitor->ctx.stopRequested = [&] { return monitor->captioned("Dados Identificador:"); };
    ASSERT_EQ(tick(), std::nullopt);
    ASSERT_EQ(value("select estado from quorvanti_attempts where chave = '" + first + "'", "estado"), "superseded");

    scenario("");
    folder->setSetting("Contigencia", "0");
    restartMonitor();
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_EQ(value("select chave from nfce_gerada", "chave") + "|" + value("select count(*) as n from nfce_gerada", "n"),
              first + "|1");
}

TEST_P(EmissionTest, AfterASwitchToContingencyTheSaleGoesOnAndItsEarlierNumberIsVoided) {
    scenario("[call send *]\ndrop\n[call consult *]\nhttp = 503\n");
    sale("581-01");
    ASSERT_EQ(tick(), std::nullopt);
    ASSERT_TRUE(queued("581-01"));
    const std::string first = value("select chave from quorvanti_attempts where chave <> ''", "chave");
    const auto state = [&] { return value("select estado from quorvanti_attempts where chave = '" + first + "'", "estado"); };

    // The point-of-sale program marks its queue rows for contingency.
    folder->execute("UPDATE TabNCEAEnviar SET DataContigencia = '2026-03-05T14:00:00-04:00', caminhoXMLcontigencia = '1'");
    folder->setSetting("Contigencia", "1");
    monitor->ctx.settings.Contingency = "1";
    monitor->ctx.settings.QueueSql = "Select * from TabNCEAEnviar where enviada = 'enviar'";
    monitor->ctx.retries = context::RetrySchedule{};
    ASSERT_EQ(tick(), std::nullopt);
    const std::string second = monitor->ctx.emission.CurrentAccessKey;
    ASSERT_EQ(second.size(), 44u);
    EXPECT_EQ(second[34], '9');
    EXPECT_NE(second.substr(25, 9), first.substr(25, 9)) << "a new number";
    EXPECT_EQ(state(), "superseded");

    // The authority is back; the contingency sender has the stored document authorised as it was
    // signed, then settles the earlier one in its idle round. It runs on another machine (no signed file
    // there) with a full disk: the document cannot be written out, so it is not sent until there is room.
    scenario("");
    folder->setSetting("Contigencia", "0");
    folder->setSetting("EnviadorDeContigencia", "1");
    restartMonitor();
    const std::string signedFile = folder->path() + "/nfe/arquivos/assinado/NFe" + second + "-assinado.xml";
    std::filesystem::remove(signedFile);
    platform::test_seam::failWritesUnder(signedFile, ENOSPC);
    const std::optional<ExitStatus> full = tick();
    platform::test_seam::stopFailingWrites();
    ASSERT_EQ(full, std::nullopt);
    EXPECT_TRUE(queued("581-01"));
    EXPECT_TRUE(monitor->shownContaining("disco cheio"));
    monitor->ctx.retries = context::RetrySchedule{};
    ASSERT_EQ(tick(), std::nullopt);
    ASSERT_FALSE(queued("581-01")) << ::testing::PrintToString(monitor->messageTexts());
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_EQ(state(), "abandoned");
    EXPECT_EQ(value("select estado from quorvanti_voids where numero_ini = " + std::to_string(std::stoll(first.substr(25, 9))),
                    "estado"),
              "voided");
    // Recorded once under its own number; the counter is not moved again.
    EXPECT_EQ(value("select chave from nfce_gerada", "chave") + "|" + value("select count(*) as n from nfce_gerada", "n") +
                  "|" + number(),
              second + "|1|3");
}

// A sale an older version tried twice: its first document authorised with the answer lost, then a second
// under the next number that never arrived; both keys are in NFCe.ini when the journal starts. Each
// earlier key the authority may hold is asked about before a new document is made, so the sale ends with
// its first NFC-e and no second one.
TEST_P(EmissionTest, EachEarlierKeyOfASaleIsAskedAboutBeforeANewDocumentIsMade) {
    scenario("[call send *]\ndrop = after\n");
    sale("960-01");
    ASSERT_EQ(tick(), std::nullopt);
    ASSERT_TRUE(queued("960-01"));
    const std::string first = value("select chave from quorvanti_attempts where chave <> ''", "chave");
    ASSERT_TRUE(std::filesystem::exists(folder->path() + "/../estado/autorizadas/" + first + ".xml"));
    std::string second = first.substr(0, 25) + "000000002" + first.substr(34, 9);
    second += std::to_string(fiscal::accessKeyCheckDigit(second));
    folder->execute("DELETE FROM quorvanti_attempts");
    testing::writeFile(folder->path() + "/NFCe.ini",
                       "[960-01-05/03/2026]\r\nChavesAnteriores=" + first + "\r\nChaveNFCe=" + second + "\r\n");
    restartMonitor();
    scenario("");
    for (int retry = 0; retry < 3 && queued("960-01"); ++retry) {
        monitor->ctx.retries = context::RetrySchedule{};
        EXPECT_EQ(tick(), std::nullopt);
    }
    EXPECT_EQ(value("select chave from nfce_gerada", "chave"), first) << "the first key, authorised, was not asked about";
    testing::expectEachSaleAuthorisedOnce(*folder, folder->path() + "/../estado", {"960-01"}, {folder.get()});
}

INSTANTIATE_TEST_SUITE_P(Backends, EmissionTest, testing::bothBackends(), testing::backendName);

// A contingency document stored by a shop on Windows is recognised; a path and text that do not name
// the same key are not. (The sender recognising its own stored document is the contingency test's.)
TEST(StoredDocumentTest, RecognisesAContingencyDocumentByItsSignedPathAndText) {
    const std::string key = "51260311222333000181650010000000011123456785";
    EXPECT_EQ(storedDocumentKey("C:\\loja\\nfe\\arquivos\\assinado\\NFe" + key + "-assinado.xml",
                                "<NFe><infNFe Id=\"NFe" + key + "\"/></NFe>"),
              key);
    EXPECT_EQ(storedDocumentKey("/loja/nfe/arquivos/assinado/NFe" + key + "-assinado.xml", "x"), "");
    EXPECT_EQ(storedDocumentKey("/loja/assinado/NFe123-assinado.xml", "<NFe Id=\"NFe123\"/>"), "");
}

TEST(GravaArqTest, FixesOldDocumentsOnlyWhereTheirCfopAllows) {
    testing::TempDir dir;
    const std::string quote = "\"";
    GravaArq("<?xml version=" + quote + "2.0" + quote + "?><dhEmi>1016-01-01</dhEmi><CFOP>5102</CFOP>"
             "<ICMSSN101><CSOSN>101</CSOSN></ICMSSN101>",
             dir.file("a.xml"));
    EXPECT_EQ(testing::readFile(dir.file("a.xml")),
              "<?xml version=\"1.0\"?><dhEmi>2016-01-01</dhEmi><CFOP>5102</CFOP><ICMSSN102><CSOSN>102</CSOSN>"
              "</ICMSSN102>\r\n");
    GravaArq("<CFOP>5405</CFOP><ICMSSN101><CSOSN>101</CSOSN></ICMSSN101>", dir.file("b.xml"));
    EXPECT_EQ(testing::readFile(dir.file("b.xml")), "<CFOP>5405</CFOP><ICMSSN101><CSOSN>101</CSOSN></ICMSSN101>\r\n");
}

// Accents fold either way, case is compared as given; a run of digits shorter than a key is no key;
// a number from a queue row or config must be in the layout's range, never an integer out of range.
TEST(OutcomeTextsTest, AnswerTextsAndNumbersAreReadAsTheRoutineExpects) {
    EXPECT_TRUE(answerHas("Rejeição: Falha no Schema XML", "Rejeicao"));
    EXPECT_TRUE(answerHas("Erro: tempo limite da operacao", "tempo limite da operação"));
    EXPECT_FALSE(answerHas("rejeicao", "Rejeicao"));
    EXPECT_EQ(keyInBrackets("sem chave [nRec: 123]"), "");
    EXPECT_EQ(receiptInAnswer("Duplicidade de NF-e [nRec:512000000000123]"), "512000000000123");
    EXPECT_EQ(elementText("<dest><CPFx>1</CPFx><CPF>123</CPF></dest>", "CPF"), "123");
    EXPECT_EQ(nfceNumber("000000042"), 42);
    EXPECT_THROW(nfceNumber("99999999999999999999"), std::runtime_error);
    EXPECT_THROW(nfceNumber("-1"), std::runtime_error);
}

}  // namespace
}  // namespace quorvanti::authorisation
