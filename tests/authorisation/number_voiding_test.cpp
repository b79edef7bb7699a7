// Numbers given up by the journal, voided in ranges, split where the authority holds a document, and the
// gap report, on both backends.
#include "fiscal_events/number_voiding.h"

#include <gtest/gtest.h>

#include "authorisation/attempt_journal.h"
#include "database/schema_upgrade.h"
#include "fiscal_component/recording_component.h"
#include "fiscal_events/event_journal.h"
#include "support/program_folder.h"

namespace quorvanti::fiscal_events {
namespace {

using database::DbKind;

class VoidingTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        folder = std::make_unique<testing::ProgramFolder>(GetParam());
        monitor = std::make_unique<testing::TestMonitor>(*folder, components);
        monitor->ctx.db = folder->connect();
        std::tie(monitor->ctx.settings.Environment, monitor->ctx.settings.Series) = std::tuple("2", "1");
        monitor->ctx.settings.TimeZone = "-04:00";
        database::upgradeJournal(*monitor->ctx.db);
    }
    // An attempt on `number` in `state`, last touched `minutesAgo` before the monitor's clock.
    void attempt(long long number, const std::string& state, int minutesAgo = 60, const std::string& sale = "1-01") {
        const std::string when =
            utcStamp(monitor->ctx.services.clock.utcNow() - std::chrono::minutes(minutesAgo));
        folder->execute("INSERT INTO quorvanti_attempts (cod_venda, data_venda, amb, serie, numero, chave, estado, "
                        "criado, atualizado) VALUES ('" + sale + "', '05/03/2026', '2', 1, " + std::to_string(number) +
                        ", '', '" + state + "', '" + when + "', '" + when + "')");
    }
    std::vector<std::string> ranges(const char* state) {
        std::vector<std::string> out;
        for (const auto& r : EventJournal(monitor->ctx).voidsIn(state))
            out.push_back(std::to_string(r.from) + "-" + std::to_string(r.to));
        return out;
    }

    fiscal::RecordingComponentFactory components;
    std::unique_ptr<testing::ProgramFolder> folder;
    std::unique_ptr<testing::TestMonitor> monitor;
};

TEST_P(VoidingTest, GivenUpNumbersAreVoidedInRangesSplitWhereTheAuthorityHoldsADocument) {
    // New Year's Eve at the shop, already the new year in the journal's UTC stamps: the shop's year goes.
    monitor->clock.set({.year = 2026, .month = 12, .day = 31, .hour = 23, .minute = 30}, -std::chrono::hours(4));
    attempt(1, "recorded");
    attempt(2, "released");
    attempt(3, "abandoned");
    attempt(4, "rejected");
    attempt(4, "recorded", 60, "2-01");  // another document carries 4
    attempt(5, "rejected");
    attempt(6, "released", 5);            // too fresh: a monitor may still decide about it
    attempt(7, "recorded");
    attempt(9, "rejected");               // past the last number in use
    auto component = components.createComponent();
    // The authority holds a document under 3 (another program's): 241 for any range holding it.
    components.script().voidingFor = [](const fiscal::VoidingArgs& a) {
        fiscal::VoidingResult r;
        r.cStat = a.fromNumber <= 3 && a.toNumber >= 3 ? 241 : 102;
        r.nProt = "151260000000001";
        return r;
    };
    std::vector<std::string> told;
    EXPECT_TRUE(voidGivenUpNumbers(monitor->ctx, *component, [&](const std::string& l) { told.push_back(l); }));
    EXPECT_EQ(ranges(request_state::kVoided), (std::vector<std::string>{"2-2", "5-5"}));
    EXPECT_EQ(ranges(request_state::kUsed), (std::vector<std::string>{"3-3"}));
    std::vector<std::string> sent;
    for (const auto& call : components.state().callsOf("voidNumbers")) {
        const auto& a = std::get<fiscal::VoidingArgs>(call.args);
        sent.push_back(std::to_string(a.fromNumber) + "-" + std::to_string(a.toNumber) + "/" + std::to_string(a.year));
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"2-3/26", "2-2/26", "3-3/26", "5-5/26"}));

    // The gap report: 6 waits (fresh), 8 has no attempt at all, 9 is given up but not yet voidable.
    std::vector<std::string> gaps;
    for (const Gap& g : gapReport(monitor->ctx)) gaps.push_back(std::to_string(g.from) + "-" + std::to_string(g.to) + " " + g.state);
    EXPECT_EQ(gaps, (std::vector<std::string>{"6-6 a inutilizar", "8-8 sem registro", "9-9 a inutilizar"}));
}

TEST_P(VoidingTest, ARequestWhoseAnswerWasLostGoesAgainAsItWas) {
    attempt(1, "rejected");
    attempt(2, "rejected");
    attempt(3, "recorded");
    auto component = components.createComponent();
    components.script().voiding = fiscal::VoidingResult{.cStat = 9002, .xMotivo = "sem conexão", .nProt = "",
                                                        .dhRecbto = "", .storedPath = "", .storeFailure = ""};
    EXPECT_FALSE(voidGivenUpNumbers(monitor->ctx, *component, [](const std::string&) {}));
    EXPECT_EQ(ranges(request_state::kRequested), (std::vector<std::string>{"1-2"}));
    // A number given up meanwhile does not change the request that may have arrived.
    attempt(4, "recorded");
    attempt(3, "recorded");
    components.script().voiding.cStat = 563;
    EXPECT_TRUE(voidGivenUpNumbers(monitor->ctx, *component, [](const std::string&) {}));
    EXPECT_EQ(ranges(request_state::kVoided), (std::vector<std::string>{"1-2"}));
    EXPECT_FALSE(voidingWaits(monitor->ctx));
    // The sale that gave 1 up asks for it again: a voided number is never carried by a document.
    EXPECT_EQ(authorisation::AttemptJournal(monitor->ctx).reserveNumber({"1-01", "05/03/2026"}, 1), 5);
}

INSTANTIATE_TEST_SUITE_P(Backends, VoidingTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::fiscal_events
