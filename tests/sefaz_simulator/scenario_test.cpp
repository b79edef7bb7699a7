// The scenario format: what a file selects and answers, how rules are used up, what mistakes it names,
// and how a changed file takes effect.
#include "sefaz_simulator/scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/error_text.h"
#include "support/temp_dir.h"

namespace quorvanti::sefaz {
namespace {

using ::testing::HasSubstr;
using testing::writeFile;

const std::string kKeyA = "51260311222333000181650010000012341837461527";
const std::string kKeyB = "51260311222333000181650010000012351837461520";

TEST(ScenarioTest, NamesTheLineOfEachMistake) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"drop\n", "linha 1: instrução fora de seção"},
        {"[call NFeAutorizacao4]\ndrop\n", "linha 1: use [call"},
        {"[call NFeCancelamento4 1]\ndrop\n", "linha 1: serviço desconhecido"},
        {"[call send 0]\ndrop\n", "linha 1: número de chamada inválido"},
        {"[call send 4-2]\ndrop\n", "linha 1: número de chamada inválido"},
        {"[key 123]\ndrop\n", "linha 1: a chave de acesso deve ter 44 dígitos"},
        {"[key " + kKeyA + " status]\ndrop\n", "linha 1: a consulta de status não traz chave"},
        {"[number 1]\ndrop\n", "linha 1: seção desconhecida"},
        {"[call send 1\ndrop\n", "linha 1: seção sem \"]\""},
        {"\n[call send 1]\nanswer = 100\n", "linha 3: instrução desconhecida"},
        {"[call send 1]\nstatus = 1000\n", "linha 2: cStat inválido"},
        {"[call send 1]\nstatus =\n", "linha 2: \"status\" precisa de um valor"},
        {"[call send 1]\ndelay = 10\ndelay = 20\n", "linha 3: instrução repetida"},
        {"[call send 1]\ndrop = sometimes\n", "linha 2: drop aceita before ou after"},
        {"[call send 1]\nhttp = 404\ndrop\n", "linha 1: http e drop não combinam"},
        {"[call send 1]\ndrop\nprotocol = 100\n", "linha 1: status ou protocol não têm efeito"},
        {"[call send 1]\nprocessing = 2\ntimes = 3\n", "linha 1: processing já define"},
        {"[call status 1]\nprotocol = 100\n", "linha 1: a consulta de status não tem protocolo"},
        {"[call send 1]\n[call send 2]\ndrop\n", "linha 1: seção sem instruções"},
    };
    for (const auto& [text, message] : cases)
        EXPECT_THAT(testing::errorText<ScenarioError>([&] { Scenario::parse(text); }), HasSubstr(message)) << text;
}

TEST(ScenarioTest, TheFirstMatchingRuleThatIsNotUsedUpDecidesEachCallOfItsRange) {
    Scenario scenario = Scenario::parse("[call send 2]\nhttp = 404\n"
                                        "[call send 4+]\ndelay = 7\n"
                                        "[key " + kKeyA + " consulta]\nprocessing = 2\n"
                                        "[key " + kKeyA + "]\nprotocol = 217\n");
    // Sends carrying key A: call 1 falls to the key rule for any service, call 2 to its call rule.
    EXPECT_EQ(scenario.decide(Service::Authorisation, {kKeyA}).action.protocol->cStat, 217);
    const ScenarioDecision second = scenario.decide(Service::Authorisation, {kKeyA});
    EXPECT_EQ(second.callNumber, 2);
    EXPECT_EQ(second.action.httpStatus, 404);
    EXPECT_EQ(second.line, 1);
    EXPECT_EQ(scenario.decide(Service::Authorisation, {kKeyB}).line, 0);
    EXPECT_EQ(scenario.decide(Service::Authorisation, {kKeyB}).action.delayMs, 7);
    EXPECT_EQ(scenario.decide(Service::Authorisation, {}).action.delayMs, 7);

    // Consultations count on their own: the processing rule answers twice, then the general key rule.
    for (int i = 0; i < 2; ++i) {
        const ScenarioDecision waiting = scenario.decide(Service::ProtocolConsultation, {kKeyA});
        EXPECT_EQ(waiting.callNumber, i + 1);
        EXPECT_EQ(waiting.action.status->cStat, 105);
        EXPECT_EQ(waiting.key, kKeyA);
    }
    const ScenarioDecision after = scenario.decide(Service::ProtocolConsultation, {kKeyA});
    EXPECT_FALSE(after.action.status);
    EXPECT_EQ(after.action.protocol->cStat, 217);
    EXPECT_EQ(scenario.decide(Service::ProtocolConsultation, {kKeyB}).line, 0);

    // Ranges, every call, and short service names in any case.
    scenario = Scenario::parse("[Call RECIBO 2-3]\n  status = 105  Lote em processamento  \n"
                                        "[call NFeRetAutorizacao4 *]\ndrop = after\ndelay = 250\n");
    const ScenarioDecision first = scenario.decide(Service::ReceiptConsultation, {});
    EXPECT_EQ(first.action.drop, Drop::AfterProcessing);
    EXPECT_EQ(first.action.delayMs, 250);
    for (int call = 2; call <= 3; ++call) {
        const ScenarioDecision waiting = scenario.decide(Service::ReceiptConsultation, {});
        EXPECT_EQ(waiting.action.status->cStat, 105);
        EXPECT_EQ(waiting.action.status->xMotivo, "Lote em processamento");
        EXPECT_EQ(waiting.action.drop, Drop::No);
    }
    EXPECT_EQ(scenario.decide(Service::ReceiptConsultation, {}).line, 3);
}

TEST(ScenarioTest, AChangedFileIsReadAgainWithItsCountsStartedAfresh) {
    testing::TempDir dir;
    const std::string path = dir.file("cenario.txt");
    const auto replace = [&](const std::string& text) {
        writeFile(path + ".novo", text);
        std::filesystem::rename(path + ".novo", path);
    };
    ScenarioFile file(path);  // not there yet: no rules
    EXPECT_EQ(file.decide(Service::ServiceStatus, {}).line, 0);

    replace("[call status 1]\nstatus = 109\n");
    const ScenarioDecision first = file.decide(Service::ServiceStatus, {});
    EXPECT_TRUE(file.reloaded());
    EXPECT_EQ(first.callNumber, 1);
    EXPECT_EQ(first.action.status->cStat, 109);
    EXPECT_EQ(file.decide(Service::ServiceStatus, {}).line, 0);
    EXPECT_FALSE(file.reloaded());

    replace("[call status 1]\nstatus = 108\n");
    EXPECT_EQ(file.decide(Service::ServiceStatus, {}).action.status->cStat, 108);

    replace("[call status 1]\nstatus = x\n");
    for (int i = 0; i < 2; ++i) EXPECT_THROW(file.decide(Service::ServiceStatus, {}), ScenarioError);

    std::filesystem::remove(path);
    EXPECT_EQ(file.decide(Service::ServiceStatus, {}).line, 0);

    writeFile(path, "[bad]\n");
    EXPECT_THROW(ScenarioFile{path}, ScenarioError);
}

}  // namespace
}  // namespace quorvanti::sefaz
