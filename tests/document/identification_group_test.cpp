#include "document/groups/identification_group.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "document/group_world.h"
#include "support/host_zone.h"

namespace quorvanti::document {
namespace {

using database::DbKind;
using fiscal::EmitterArgs;
using fiscal::IdentificationArgs;
using testing::BackendTest;
using testing::GroupWorld;

class IdentificationTest : public ::testing::Test {
protected:
    IdentificationArgs identify() {
        GeraIndetificacao(w.ctx, "000123-01", *w.component);
        const auto sent = w.sent<IdentificationArgs>("identification");
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? IdentificationArgs{} : sent.back();
    }
    GroupWorld w{DbKind::Sqlite};
};

// The group's fields reach the authority in every emission of the routine's tests; here, the rules
// those sales never reach.
TEST_F(IdentificationTest, OnlyContingencyOneIsOfflineAndTheNumericCodeComesFromAFreshInstance) {
    identify();
    const auto calls = w.components.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(std::tie(calls[0].operation, calls[0].instance, calls[1].instance), std::make_tuple("numericCode", 2, 1));
    // Later phases reuse exactly this text.
    EXPECT_EQ(w.ctx.emission.EmissionDateTime, "2026-03-05T14:07:09-04:00");

    for (const char* setting : {"0", "2", " 1"}) {
        w.ctx.settings.Contingency = setting;
        w.components.state().calls.clear();
        const auto normal = identify();
        EXPECT_EQ(std::tie(normal.tpEmis, normal.dhCont, normal.xJust), std::make_tuple(1, "", "")) << setting;
    }
}

// dhEmi is the real instant written in the FUSO offset: a host in UTC (a server) or in any other zone
// writes the same text, and the authority, which compares instants, finds it true.
TEST_F(IdentificationTest, TheEmissionTimeIsTheRealInstantInTheFusoOffsetWhateverTheHostsZone) {
    w.monitor.clock.set({2026, 12, 7, 1, 23, 3}, std::chrono::seconds{0});
    // Each host zone differs from its FUSO: a time written in the host's zone would show.
    const struct {
        const char* zone;
        const char* fuso;
        const char* dhEmi;
    } cases[] = {{"UTC0", " -03:00 ", "2026-12-06T22:23:03-03:00"}, {"JST-9", "+00:00", "2026-12-07T01:23:03+00:00"}};
    for (const auto& c : cases) {
        testing::HostZone host(c.zone);
        w.ctx.settings.TimeZone = c.fuso;
        w.components.state().calls.clear();
        const auto a = identify();
        EXPECT_EQ(std::tie(a.dhEmi, a.dhSaiEnt, w.ctx.emission.EmissionDateTime), std::make_tuple(c.dhEmi, c.dhEmi, c.dhEmi))
            << c.zone << " FUSO " << c.fuso;
    }
    EXPECT_EQ(w.ctx.emission.GroupFailure, "");
}

TEST_F(IdentificationTest, AFailedNumericCodeIsReportedTwiceRegistersTheComponentAndSendsZero) {
    w.components.script().failures["numericCode"] = "Certificado digital não encontrado";
    const auto a = identify();
    EXPECT_EQ(a.cNF, "0");
    ASSERT_EQ(w.messages().size(), 2u);
    EXPECT_NE(w.messages()[0].text.find("Certificado digital não encontrado"), std::string::npos);
    EXPECT_EQ(w.monitor.shell.runs, std::vector<std::string>{w.folder.path()});
}

// Contingency reads the queue row, so it runs on both databases.
class ContingencyTest : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (!world) return;
        world->ctx.settings.Contingency = "1";
    }
    void queueWithEntryTime(const std::string& sale, const std::string& entrySql) {
        world->folder.execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML, DataContigencia) VALUES (" +
                              testing::sqlQuoted(sale) + ", 'enviar', '2026-03-05', '<NFe/>', " + entrySql + ")");
    }
    IdentificationArgs identify(const std::string& sale) {
        world->components.state().calls.clear();
        GeraIndetificacao(world->ctx, sale, *world->component);
        return world->sent<IdentificationArgs>("identification").at(0);
    }
};

// The forms the point-of-sale program stores are read in context_test; here, one in another offset is
// written in the FUSO offset, and one that cannot be read stops that sale (its queue row stays) rather
// than reach a document.
TEST_P(ContingencyTest, AStoredEntryTimeIsWrittenInTheFusoOffsetOrStopsTheSale) {
    queueWithEntryTime("000301-01", "'2026-03-05T00:30:00+01:00'");
    const auto a = identify("000301-01");
    EXPECT_EQ(std::tie(a.dhCont, a.tpEmis, a.xJust),
              std::make_tuple("2026-03-04T19:30:00-04:00", 9, "Sistema WEB inoperante apresentando lentidao"));

    queueWithEntryTime("000302-01", "'05/03/2026'");
    world->components.state().calls.clear();
    GeraIndetificacao(world->ctx, "000302-01", *world->component);
    EXPECT_TRUE(world->sent<IdentificationArgs>("identification").empty());
    const std::string& failure = world->ctx.emission.GroupFailure;
    for (const char* part : {"000302-01", "DataContigencia", "\"05/03/2026\""})
        EXPECT_NE(failure.find(part), std::string::npos) << failure;
    // The routine tells the operator; the group shows nothing of its own.
    EXPECT_TRUE(world->messages().empty());
}

TEST_P(ContingencyTest, WithoutAStoredTimeTheEntryIsMidnightOfFourHoursAgo) {
    queueWithEntryTime("000203-01", "NULL");
    // The shop's day, whatever the host's: the clock is set by what the shop's clock (-04:00) shows.
    testing::HostZone host("UTC0");
    const std::chrono::seconds shop = -std::chrono::hours(4);
    // Four hours before 03:59:59 on the first of March is still February; at 04:00 it is March.
    world->monitor.clock.set({2026, 3, 1, 3, 59, 59}, shop);
    EXPECT_EQ(identify("000203-01").dhCont, "2026-02-28T00:00:00-04:00");
    world->monitor.clock.set({2026, 3, 1, 4, 0, 0}, shop);
    EXPECT_EQ(identify("000203-01").dhCont, "2026-03-01T00:00:00-04:00");
}

INSTANTIATE_TEST_SUITE_P(Backends, ContingencyTest, testing::bothBackends(), testing::backendName);

using EmitterTest = IdentificationTest;

// The record's fields reach the authority in the routine's tests; names and address are cleaned again
// here, and start-up's default municipality code passes through.
TEST_F(EmitterTest, TheEmitterRecordIsCleanedAgain) {
    auto& m = w.ctx.emitter;
    m.TradeName = "Açaí & Cia 50% 😀";
    m.LegalName = "Œnologia\u200B Ltda";
    m.Street = "Rua São João, 4º andar";
    m.CityCode = "51";
    ASSERT_TRUE(GeraEmitente(w.ctx, *w.component));
    const auto b = w.sent<EmitterArgs>("emitter").at(0);
    EXPECT_EQ(std::tie(b.xFant, b.xNome, b.xLgr, b.cMun),
              std::make_tuple("ACAI E CIA 50", "OENOLOGIA LTDA", "RUA SAO JOAO, 4. ANDAR", 51));
}

// The first failure of the sale is the one the routine reports.
TEST_F(EmitterTest, ASecondFailureKeepsTheFirst) {
    w.components.script().failures["emitter"] = "CNPJ do emitente inválido";
    EXPECT_FALSE(GeraEmitente(w.ctx, *w.component));
    w.components.script().failures["emitter"] = "outra";
    EXPECT_FALSE(GeraEmitente(w.ctx, *w.component));
    ASSERT_EQ(w.messages().size(), 2u);
    EXPECT_EQ(w.ctx.emission.GroupFailure, w.messages()[0].text);
}

}  // namespace
}  // namespace quorvanti::document
