// The journal's numbering and the claims, on both backends, with two monitors on one database.
#include "authorisation/attempt_journal.h"

#include <gtest/gtest.h>

#include "authorisation/sale_claims.h"
#include "database/schema_upgrade.h"
#include "fiscal_component/recording_component.h"
#include "support/program_folder.h"

namespace quorvanti::authorisation {
namespace {

using database::DbKind;
using namespace attempt_state;

// A key of series 1 carrying `number` (its check digit is not looked at here).
std::string keyOf(long long number) {
    const std::string digits = std::to_string(number);
    return "5126031122233300018165001" + std::string(9 - digits.size(), '0') + digits + "1123456789";
}

class JournalTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        folder = std::make_unique<testing::ProgramFolder>(GetParam());
        for (auto* m : {&first, &second}) {
            *m = std::make_unique<testing::TestMonitor>(*folder, components);
            (*m)->ctx.db = folder->connect();
            std::tie((*m)->ctx.settings.Environment, (*m)->ctx.settings.Series) = std::tuple("2", "1");
        }
        second->ctx.locations.programFolder += "-caixa2";  // another program folder on the same database
        for (int start = 0; start < 2; ++start) database::upgradeJournal(*first->ctx.db);  // twice: no change
    }

    fiscal::RecordingComponentFactory components;
    std::unique_ptr<testing::ProgramFolder> folder;
    std::unique_ptr<testing::TestMonitor> first, second;
    const SaleRef a{"1-01", "05/03/2026"}, b{"2-01", "05/03/2026"}, c{"3-01", "05/03/2026"};
};

TEST_P(JournalTest, NumbersAreNeverGivenToTwoSalesAndComeBackOnlyWhenTheAuthorityKeepsNothing) {
    AttemptJournal one(first->ctx), two(second->ctx);
    // Both monitors read 7 from config: the second sale gets the next number.
    EXPECT_EQ(one.reserveNumber(a, 7), 7);
    EXPECT_EQ(two.reserveNumber(b, 7), 8);
    EXPECT_EQ(one.reserveNumber(a, 7), 7) << "a sale's own reservation is kept, not doubled";
    one.recordKey(a, 7, keyOf(7), "1");
    two.recordKey(b, 8, keyOf(8), "1");
    EXPECT_TRUE(one.isOwnKey(a, keyOf(7)) && !one.isOwnKey(a, keyOf(8)));

    // Never received: the sale makes it again under its own number. (A denied number stays used: the
    // emission routine's AnErrorOrADenialKeepsTheSaleAndARejectionDropsItWithALogLine.)
    // A long reason is cut between characters: half a "ç" is refused by a strict MariaDB.
    one.setState(keyOf(7), kNotReceived, std::string(399, 'a') + "ção");
    EXPECT_EQ(one.attemptsOf(a).back().reason, std::string(399, 'a') + "ç");
    EXPECT_EQ(one.reserveNumber(a, 9), 7);
    // A rejected sale that is dropped gives its number back to the next sale.
    one.recordKey(a, 7, keyOf(7).substr(0, 43) + "9", "1");
    one.setState(keyOf(7).substr(0, 43) + "9", kRejected);
    EXPECT_EQ(two.reserveNumber(c, 7), 9) << "held while sale a may still make it again";
    one.releaseReservations(a);
    two.releaseReservations(c);
    EXPECT_EQ(two.reserveNumber(c, 7), 7);
    EXPECT_EQ(one.attemptsOf(a).back().state, kReleased);
}

TEST_P(JournalTest, ASaleIsOneMonitorsUntilItsLeaseRunsOut) {
    EXPECT_TRUE(claimSale(first->ctx, a));
    EXPECT_FALSE(claimSale(second->ctx, a));
    EXPECT_TRUE(claimSale(second->ctx, b));
    EXPECT_TRUE(claimSale(first->ctx, a)) << "the same monitor, started again, takes its own claim back";
    releaseSale(second->ctx, a);  // not its claim: nothing happens
    EXPECT_FALSE(claimSale(second->ctx, a));
    // The first monitor died holding it: after the lease, the sale may be taken over.
    second->clock.advance(kClaimLease + std::chrono::seconds(1));
    EXPECT_TRUE(claimSale(second->ctx, a));
    EXPECT_FALSE(claimSale(first->ctx, a));
    releaseSale(second->ctx, a);
    EXPECT_TRUE(claimSale(first->ctx, a));
}

INSTANTIATE_TEST_SUITE_P(Backends, JournalTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::authorisation
