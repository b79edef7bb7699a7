// The routine's reading of the authority's answers, with a component that answers from a script: what
// the database and the files hold after an authorisation, the end of the retries, and contingency. The
// other answers (errors, denial, processing) run end to end in emission_routine_test.
#include <gtest/gtest.h>

#include "authorisation/emission_routine.h"
#include "authorisation/outcome_texts.h"
#include "fiscal_component/recording_component.h"
#include "monitor/poll_cycle.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"
#include "platform/text_encoding.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"

namespace quorvanti::authorisation {
namespace {

using testing::ProgramFolder;
using testing::TestMonitor;

constexpr const char* kKey = "51260311222333000181650010000000011123456785";

class AnswerTest : public ::testing::Test {
protected:
    AnswerTest() {
        folder.addProduct(101, "5102", "10063021");
        folder.addItem({.sale = "10-01", .code = 101, .description = "Arroz", .quantity = 2, .total = 20});
        folder.queueSale("10-01");
        components.script().generationKey = std::string("NFe") + kKey;
        startup::SubMain(monitor.ctx);
    }
    std::optional<ExitStatus> tick() {
        return testing::exitStatusOf([&] { monitor::Timer1_Timer(monitor.ctx, EmiteNFCeVenda); });
    }
    std::string value(const std::string& sql, const std::string& column) { return folder.value(sql, column); }
    bool queued() { return value("select count(*) as n from TabNCEAEnviar", "n") == "1"; }
    std::string number() { return value("select NumeroNFCE from config", "NumeroNFCE"); }
    std::string procNFePath() { return folder.path() + "/nfe/arquivos/procNFe/" + kKey + "-procNFe.xml"; }
    void authorise(fiscal::SendResult& send, fiscal::ConsultationResult& consultation) {
        send = {104, "Lote processado", "2026-03-05T14:07:30-04:00", 100, "Autorizado o uso da NF-e",
                "151260000000001", "2026-03-05T14:07:30-04:00"};
        consultation = {100, "Autorizado o uso da NF-e", 100, "Autorizado o uso da NF-e", "151260000000001",
                        "2026-03-05T14:07:30-04:00"};
    }

    ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::RecordingComponentFactory components;
    TestMonitor monitor{folder, components};
};

TEST_F(AnswerTest, AnAuthorisedSaleIsStoredNumberedMarkedAndCleared) {
    authorise(components.script().send, components.script().consultation);
    components.script().qrText = "http://qr?p=" + std::string(kKey);
    testing::writeFile(procNFePath(), "<nfeProc versao=\"4.00\">O'Brien</nfeProc>");
    folder.setSetting("ImprimiNFCESistema", "1");  // the stand-in document has no receipt to print
    ASSERT_EQ(tick(), std::nullopt);

    EXPECT_FALSE(queued());
    EXPECT_EQ(number(), "2");
    EXPECT_EQ(value("select fiscal from VendasConclu", "fiscal"), "Sim");
    auto row = folder.connect()->open("select * from nfce_gerada");
    ASSERT_EQ(row.recordCount(), 1u);
    std::string stored, noted;
    for (const char* column : {"chave", "corpo_nfce", "protocoloEdata", "qrcode", "amb", "cancelada", "dataG"})
        stored += row.field(column).text() + "|";
    EXPECT_EQ(stored, std::string(kKey) + "|<nfeProc versao=\"4.00\">O'Brien</nfeProc>|2026-03-05T14:07:30-04:00 "
                      "151260000000001|" + components.script().qrText + "|2|nao|05/03/2026|");
    for (const char* key : {"ChaveNFCe", "Protocolo", "ProtocoloDataHora"})
        noted += platform::iniRead(folder.path() + "/NFCe.ini", "10-01-05/03/2026", key) + "|";
    EXPECT_EQ(noted, std::string(kKey) + "|151260000000001|2026-03-05T14:07:30-04:00|");
    EXPECT_TRUE(monitor.captioned("Sucesso. Aguardando próximo processo"));
    EXPECT_TRUE(monitor.frontend.messages().empty());
}

// Received for later processing (103), then rejected by the consultation.
TEST_F(AnswerTest, ARejectionOfTheProcessedBatchDropsTheSaleWithALogLine) {
    components.script().send = {103, "Lote recebido com sucesso", "", 0, "", "", ""};
    components.script().consultation = {104, "Lote processado", 778, "Rejeicao: Informado NCM inexistente [nItem:1]",
                                        "", ""};
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_FALSE(queued());
    EXPECT_EQ(number(), "1");
    const std::string log = platform::windows1252ToUtf8(testing::readFile(folder.logPath()));
    EXPECT_NE(log.find("10-01 -  Posição:  - 778 - Rejeicao: Informado NCM inexistente [nItem:1]\r\n"), std::string::npos)
        << log;
}

TEST_F(AnswerTest, FiftyUnansweredSendsEndTheProgramWithTheSaleQueued) {
    components.script().send = {9001, "Erro de comunicação: tempo limite da operação excedido", "", 0, "", "", ""};
    EXPECT_EQ(tick(), ExitStatus::SendExhausted);
    EXPECT_TRUE(queued());
    EXPECT_EQ(number(), "1");
    EXPECT_EQ(components.state().callsOf("send").size(), 51u);
    EXPECT_TRUE(monitor.captioned("O tempo limite de operação esta sendo excedido, verifique melhorias para sua internet"));
    EXPECT_EQ(monitor.frontend.messages().back().text.substr(0, 33), "Verifique um dos seguintes erros:");
}

TEST_F(AnswerTest, InContingencyTheSignedDocumentIsStoredInItsRowWithoutAnyExchange) {
    folder.setSetting("Contigencia", "1");
    monitor.ctx.settings.Contingency = "1";
    const std::string signedPath = folder.path() + "/nfe/arquivos/assinado/NFe" + kKey + "-assinado.xml";
    testing::writeFile(signedPath, "<NFe>\r\n<infNFe Id=\"NFe" + std::string(kKey) + "\"/>\r\n</NFe>\r\n");
    components.script().qrText = "http://qr?p=offline";
    ASSERT_EQ(tick(), std::nullopt);
    EXPECT_TRUE(components.state().callsOf("send").empty());
    EXPECT_EQ(value("select corpoXML from TabNCEAEnviar", "corpoXML"),
              "<NFe><infNFe Id=\"NFe" + std::string(kKey) + "\"/></NFe>");
    EXPECT_EQ(value("select caminhoXMLcontigencia from TabNCEAEnviar", "caminhoXMLcontigencia"), signedPath);
    // The document was handed to the customer: its number is used at once, and its row says which.
    EXPECT_EQ(value("select numeroNFCE from TabNCEAEnviar", "numeroNFCE"), "1");
    EXPECT_EQ(number(), "2");
    EXPECT_EQ(value("select count(*) as n from nfce_gerada", "n"), "0");
    EXPECT_EQ(value("select fiscal from VendasConclu", "fiscal"), "Sim");
    EXPECT_EQ(components.state().callsOf("qrAddress").size(), 1u);
}

TEST(OutcomeTextsTest, WordsMatchWithOrWithoutAccentsAndKeysAreFoundInBrackets) {
    EXPECT_TRUE(answerHas("Rejeição: Falha no Schema XML", "Rejeicao"));
    EXPECT_TRUE(answerHas("Rejeicao: Falha", "Rejeicao"));
    EXPECT_TRUE(answerHas("Erro: tempo limite da operacao", "tempo limite da operação"));
    EXPECT_FALSE(answerHas("Autorizado o uso da NF-e", "Rejeicao"));
    EXPECT_FALSE(answerHas("rejeicao", "Rejeicao"));  // case is compared as given
    const std::string text = std::string("Rejeição: Código numérico difere [chNFe: ") + kKey + "]";
    EXPECT_EQ(keyInBrackets(text), kKey);
    EXPECT_EQ(keyInBrackets("sem chave [nRec: 123]"), "");
    EXPECT_EQ(receiptInAnswer("Duplicidade de NF-e [nRec:512000000000123]"), "512000000000123");
    EXPECT_EQ(elementText("<dest><CPFx>1</CPFx><CPF>123</CPF></dest>", "CPF"), "123");
    EXPECT_EQ(elementText("<dest/>", "CPF"), "");
}

TEST(OutcomeTextsTest, OnlyARejectionOfTheDocumentIsFinalAgainstTheSale) {
    // Uncertain: nothing final was said, whatever the text.
    for (int cStat : {0, 108, 109, 999, 9001, 9002, 9500, 9098, 9099})
        EXPECT_TRUE(uncertainAnswer(cStat, "Falha de comunicação")) << cStat;
    // The consultation's own waits and every real answer are not.
    EXPECT_FALSE(uncertainAnswer(9404, "HTTP 404 - serviço não encontrado"));
    EXPECT_FALSE(uncertainAnswer(9096, "xmlThere is no valid XML in the answer"));
    EXPECT_FALSE(uncertainAnswer(9093, "ERRO 93 - conexão encerrada"));
    for (int cStat : {100, 104, 105, 150, 217, 539}) EXPECT_FALSE(uncertainAnswer(cStat, "")) << cStat;
    for (int status : {225, 778, 703, 610}) EXPECT_TRUE(rejectsTheDocument(status)) << status;
    for (int status : {0, 100, 105, 110, 150, 204, 217, 301, 302, 303, 539, 999, 9001})
        EXPECT_FALSE(rejectsTheDocument(status)) << status;
    // Numbers from a queue row or config: the layout's range, never an integer conversion out of range.
    EXPECT_EQ(nfceNumber(""), 0);
    EXPECT_EQ(nfceNumber("000000042"), 42);
    EXPECT_THROW(nfceNumber("99999999999999999999"), std::runtime_error);
    EXPECT_THROW(nfceNumber("-1"), std::runtime_error);
}

}  // namespace
}  // namespace quorvanti::authorisation
