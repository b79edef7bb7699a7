#include "authorisation/sale_claims.h"

#include "database/db_error.h"
#include "database/sql_escape.h"
#include "database/transaction.h"

namespace quorvanti::authorisation {

namespace {

std::string esc(const context::AppContext& ctx, const std::string& value) {
    return database::sqlEscape(ctx.db->kind(), value);
}

std::string where(const context::AppContext& ctx, const SaleRef& sale) {
    return " WHERE cod_venda = '" + esc(ctx, sale.code) + "' AND data_venda = '" + esc(ctx, sale.date) + "'";
}

long long secondsNow(const context::AppContext& ctx) {
    return ctx.services.clock.utcNow().time_since_epoch().count();
}

}  // namespace

bool claimSale(context::AppContext& ctx, const SaleRef& sale) {
    const std::string me = monitorName(ctx);
    const long long now = secondsNow(ctx);
    const std::string until = std::to_string(now + kClaimLease.count());
    database::Transaction transaction(*ctx.db);
    const bool maria = ctx.db->kind() == database::DbKind::MariaDb;
    const auto held =
        ctx.db->open("SELECT monitor, lease_until FROM quorvanti_claims" + where(ctx, sale) + (maria ? " FOR UPDATE" : ""));
    if (held.recordCount() > 0) {
        if (held.field("monitor").text() != me && held.field("lease_until").number() >= static_cast<double>(now))
            return false;
        ctx.db->execute("UPDATE quorvanti_claims SET monitor = '" + esc(ctx, me) + "', lease_until = " + until +
                        where(ctx, sale));
        transaction.commit();
        return true;
    }
    try {
        ctx.db->execute("INSERT INTO quorvanti_claims (cod_venda, data_venda, monitor, lease_until) VALUES ('" +
                        esc(ctx, sale.code) + "', '" + esc(ctx, sale.date) + "', '" + esc(ctx, me) + "', " + until + ")");
        transaction.commit();
    } catch (const database::DbError&) {
        // Another monitor inserted the same claim at the same moment: it was refused here (a duplicate
        // key, or a deadlock on MariaDB), so this monitor does not hold the sale now.
        return false;
    }
    return true;
}

void renewClaim(context::AppContext& ctx, const SaleRef& sale) {
    ctx.db->execute("UPDATE quorvanti_claims SET lease_until = " +
                    std::to_string(secondsNow(ctx) + kClaimLease.count()) + where(ctx, sale) + " AND monitor = '" +
                    esc(ctx, monitorName(ctx)) + "'");
}

void releaseSale(context::AppContext& ctx, const SaleRef& sale) {
    ctx.db->execute("DELETE FROM quorvanti_claims" + where(ctx, sale) + " AND monitor = '" + esc(ctx, monitorName(ctx)) +
                    "'");
}

}  // namespace quorvanti::authorisation
