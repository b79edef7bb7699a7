#include "monitor/poll_cycle.h"

#include <chrono>
#include <optional>
#include <stdexcept>

#include "authorisation/sale_claims.h"
#include "context/program_files.h"
#include "database/sql_escape.h"
#include "fiscal_events/fiscal_upkeep.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "monitor/main_window.h"
#include "monitor/shutdown_dialog.h"
#include "platform/program_exit.h"

namespace quorvanti::monitor {

namespace {

// The development settings folder counts as having work, as on the developers' machines.
constexpr const char* kDevFolder = "E:\\Proj_tavu\\Tavu";

// A row the point-of-sale program left without its sale date cannot name its sale (nor its section of
// NFCe.ini): it is skipped with a message, and the rest of the queue goes on.
std::optional<SaleQueueEntry> entryOf(const database::Recordset& row) {
    const auto& dataV = row.field("dataV");
    if (dataV.isNull() || document::trimBlanks(dataV.text()).empty()) return std::nullopt;
    return SaleQueueEntry{
        .NumVendaVem = row.field("codvenda").text(),
        .DataVenda = dataV.text(),
        .CaminhoXML = row.field("caminhoXMLcontigencia").text(),
        .numeroNFCE = row.field("numeroNFCE").text(),
        .dataCont = row.field("DataContigencia").text(),
        .corpoXML = row.field("corpoXML").text(),
        .qrcode = row.field("qrcode").text(),
    };
}

std::string remainingText(int remaining) { return std::to_string(remaining); }

}  // namespace

void Timer1_Timer(context::AppContext& ctx, const EmissionRoutine& emiteNFCeVenda) {
    auto& w = ctx.mainWindow;
    auto& s = ctx.settings;
    auto& db = *ctx.db;
    auto& retries = ctx.retries;
    const auto esc = [&](const std::string& value) { return database::sqlEscape(db.kind(), value); };
    const auto now = [&] { return ctx.services.clock.steadyNow(); };
    // A stop asked for while idle ends the program before any new sale is taken.
    if (ctx.stopRequested()) {
        ctx.services.loop.quit(static_cast<int>(ExitStatus::Normal));
        return;
    }

    ctx.status("Iniciando");
    if (s.Contingency == "1") {
        w.Label14.foreColor = windows::kRed;
        ctx.caption(w.Label14, "CONTIGENCIA");
    } else {
        ctx.caption(w.Label14, "NORMAL");
    }
    ctx.caption(w.Label12, document::integerText(document::Val("0" + s.Terminal)));
    ctx.status("Path da string");

    std::string workFlag = context::readGeral(ctx, "TemNFCE_PraGerar");
    if (s.SettingsFolder.find(kDevFolder) != std::string::npos) workFlag = "sim";

    bool foundWork = false;
    if (workFlag.empty() || workFlag == "sim") {
        auto queue = db.open(s.QueueSql);
        if (queue.recordCount() == 0) {
            fiscal_events::fiscalUpkeep(ctx);
            hideMainWindow(ctx);
            if (ctx.endWhenIdle) ctx.services.loop.quit(static_cast<int>(ExitStatus::Normal));
            return;
        }
        queue.moveFirst();
        int remaining = static_cast<int>(queue.recordCount());
        ctx.caption(w.Label11, remainingText(remaining));
        w.Timer1.enabled = false;
        bringMainWindowToFront(ctx);
        ctx.doEvents();

        while (!queue.eof()) {
            std::string saleCode;
            EmissionOutcome outcome;
            bool deletedByItsId = false;  // such a row has no sale code to delete by afterwards
            bool withoutXml = false;
            bool claimedElsewhere = false;
            std::optional<authorisation::SaleRef> claimed;
            const std::string codvenda = queue.field("codvenda").text();
            // A sale kept by an earlier try waits for its turn; the stop of the service waits for no one.
            if (ctx.stopRequested()) break;
            if (!codvenda.empty() && !retries.isDue(codvenda, now())) {
                --remaining;
                queue.moveNext();
                continue;
            }
            foundWork = true;
            if (codvenda.empty()) {
                db.execute("Delete from tabnceaenviar where ID = '" +
                           document::integerText(queue.field("ID").number()) + "'");
                deletedByItsId = true;
            } else {
                saleCode = codvenda;
                ctx.status("Executando CodVenda: " + codvenda);
                if (document::trimBlanks(queue.field("corpoXML").text()).empty()) {
                    withoutXml = true;
                    db.execute("delete from TabNCEAEnviar where Codvenda = '" + esc(codvenda) + "'");
                    ctx.status("Deletou sem xml Codvenda: " + codvenda);
                    // The point-of-sale program queued it without its XML: the shop hears of it and the
                    // panel lists it among the dropped sales, from which it can be queued again.
                    const std::string dropped = "Venda " + codvenda + " retirada da fila: sem XML (corpoXML vazio)";
                    context::GravaLog(ctx, queue.field("dataV").text() + " - " + codvenda + " - " + dropped);
                    ctx.frontend().messageBox(dropped, platform::MessageStyle::Ok);
                    ctx.services.clock.sleep(std::chrono::milliseconds(3000));
                    queue.moveNext();
                } else if (auto entry = entryOf(queue)) {
                    // Another monitor on this database has the sale: it is left to it.
                    const authorisation::SaleRef sale{entry->NumVendaVem, entry->DataVenda};
                    if (!authorisation::claimSale(ctx, sale)) {
                        claimedElsewhere = true;
                    } else {
                        ctx.doEvents();
                        outcome = emiteNFCeVenda(ctx, *entry);
                        ctx.doEvents();
                        claimed = sale;
                    }
                } else {
                    outcome.failure = "Venda " + codvenda + " na fila sem data (dataV): ignorada até ser corrigida";
                    if (outcome.failure != retries.lastFailure(codvenda))
                        ctx.frontend().messageBox(outcome.failure, platform::MessageStyle::Ok);
                }
            }
            // A row without XML is not counted down: it never was a sale to send.
            if (!withoutXml) {
                --remaining;
                ctx.caption(w.Label11, remainingText(remaining));
                ctx.status("Excluindo ja enviado");
                ctx.doEvents();
                queue.moveNext();
                ctx.doEvents();
            }
            if (claimedElsewhere) {
                // Not this monitor's turn: nothing to delete, nothing to postpone.
            } else if (!outcome.pendingError.empty()) {
                if (outcome.pendingError != retries.lastFailure(saleCode))
                    ctx.frontend().messageBox(outcome.pendingError + context::kLineBreak +
                                                  "Erro de consulta, ou interrompido o envio 894567",
                                              platform::MessageStyle::Ok);
                retries.postpone(saleCode, outcome.pendingError, now());
            } else if (!outcome.keepRow) {
                if (!deletedByItsId) db.execute("delete from TabNCEAEnviar where codvenda = '" + esc(saleCode) + "'");
                retries.forget(saleCode);
            } else if (!withoutXml) {
                // Kept: tried again after a growing delay, so that one sale that cannot go now neither
                // holds up the others nor makes the monitor ask the authority at every poll.
                retries.postpone(saleCode, outcome.failure, now());
            }
            if (claimed) authorisation::releaseSale(ctx, *claimed);
            if (w.CloseRequested) showShutdownDialog(ctx);
            ctx.doEvents();
        }
        w.Timer1.enabled = true;
        if (ctx.stopRequested()) {
            hideMainWindow(ctx);
            ctx.services.loop.quit(static_cast<int>(ExitStatus::Normal));
            return;
        }
    }

    if (context::readGeral(ctx, "EnviandoNFCEVenda") == "sim") {
        context::writeGeral(ctx, "EnviandoNFCEVenda", "");
        context::writeGeral(ctx, "Contigencia", "1");
        endProgram(ExitStatus::ContingencyRequested, "EnviandoNFCEVenda = sim: modo de contingência gravado");
    }
    hideMainWindow(ctx);
    if (!foundWork && ctx.endWhenIdle) ctx.services.loop.quit(static_cast<int>(ExitStatus::Normal));
}

}  // namespace quorvanti::monitor
