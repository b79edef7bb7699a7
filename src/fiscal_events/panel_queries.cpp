#include "fiscal_events/panel_queries.h"

#include <string>

#include "database/sql_escape.h"

namespace quorvanti::fiscal_events {

namespace {

long long wholeNumber(const database::DbValue& value) {
    return value.isNull() ? 0 : static_cast<long long>(value.number());
}

}  // namespace

std::vector<VoidRecord> recentlySettledVoids(context::AppContext& ctx, std::size_t most) {
    auto& db = *ctx.db;
    // The stamps are UTC "yyyy-mm-dd hh:mm:ss": their text order is their time order, on both servers.
    auto rows = db.open("SELECT id, serie, numero_ini, numero_fim, ano, estado, motivo, protocolo, atualizado "
                        "FROM quorvanti_voids WHERE amb = '" +
                        database::sqlEscape(db.kind(), ctx.settings.Environment) + "' AND estado IN ('" +
                        request_state::kVoided + "', '" + request_state::kUsed + "', '" + request_state::kRefused +
                        "') ORDER BY atualizado DESC, id DESC LIMIT " + std::to_string(most));
    std::vector<VoidRecord> voids;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        VoidRecord record;
        record.id = wholeNumber(rows.field("id"));
        record.environment = ctx.settings.Environment;
        record.series = static_cast<int>(wholeNumber(rows.field("serie")));
        record.from = wholeNumber(rows.field("numero_ini"));
        record.to = wholeNumber(rows.field("numero_fim"));
        record.year = static_cast<int>(wholeNumber(rows.field("ano")));
        record.state = rows.field("estado").text();
        record.answer = rows.field("motivo").text();
        record.protocol = rows.field("protocolo").text();
        record.updated = rows.field("atualizado").text();
        voids.push_back(std::move(record));
    }
    return voids;
}

}  // namespace quorvanti::fiscal_events
