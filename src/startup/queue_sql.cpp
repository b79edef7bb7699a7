#include "startup/queue_sql.h"

#include "context/program_files.h"
#include "database/sql_escape.h"
#include "document/text/vb_conversions.h"

namespace quorvanti::startup {

void chooseQueueSql(context::AppContext& ctx) {
    auto& s = ctx.settings;
    using document::Val;
    if (s.ContingencySender != "1") {
        context::writeGeral(ctx, "EnviandoNFCEVenda", "");
        if (s.PrintServer != 0) {
            s.QueueSql = "Select * from TabNCEAEnviar where enviada = 'enviar'";
        } else if (s.Contingency != "0") {
            s.QueueSql = "Select * from TabNCEAEnviar where Serv_ImpresNFCE = '" + document::integerText(Val("0" + s.Terminal)) +
                         "' and enviada = 'enviar' and datacontigencia <> '' and caminhoXMLcontigencia = '1'";
        } else {
            // The pattern is built from a number, so it cannot carry a quote; it still goes through the
            // escaping helper like every value.
            s.QueueSql = "Select * from TabNCEAEnviar where enviada = 'enviar' and codvenda like '%" +
                         database::sqlEscape(ctx.db->kind(), "-" + document::zeroPadded(Val(s.Terminal), 2)) + "'";
        }
    } else {
        s.QueueSql = "Select * from TabNCEAEnviar where enviada like 'enviar' and datacontigencia <> '' and "
                     "caminhoXMLcontigencia <> '' and corpoxml <> ''";
        (void)ctx.db->open(s.QueueSql).recordCount();
    }
}

}  // namespace quorvanti::startup
