// `EmiteNFCeVenda`: one queued sale becomes one NFC-e. It numbers the sale, reads it, applies the value
// limits, builds the document group by group in a fresh component, generates, signs and validates it
// (then sends, consults and completes it). Every failure goes through one common exit; the outcome tells
// the poll whether the queue row may go.
#pragma once

#include <string>

#include "context/app_context.h"
#include "database/db_connection.h"

namespace quorvanti::authorisation {

// One row of TabNCEAEnviar as the routine receives it; every column but dataV joined to "".
struct SaleQueueEntry {
    std::string NumVendaVem;   // codvenda
    std::string DataVenda;     // dataV, "dd/mm/yyyy"
    std::string CaminhoXML;    // caminhoXMLcontigencia
    std::string numeroNFCE;
    std::string dataCont;      // DataContigencia
    std::string corpoXML;
    std::string qrcode;
};

// What the routine tells the poll about the row. The row goes only when the sale ended: authorised and
// recorded, or dropped for a reason the routine names on purpose (sale not found, value limits, invalid
// NCM, a definitive rejection of its data). Everything else (no answer, a lost answer, an error of the
// machine, a rejection the shop must correct, a document handed to the contingency sender) keeps it.
struct EmissionOutcome {
    bool keepRow = true;       // the sale must be emitted again: the row stays
    std::string failure;       // why it stays ("" when nothing failed); the poll paces its next try
    std::string pendingError;  // a failure nothing handled: the poll shows it and the row stays
};

// Emits the sale of `entry` (whose fields the routine may rewrite, as the original's by-reference
// arguments). Stops of the program raise ProgramExit and leave the row.
EmissionOutcome EmiteNFCeVenda(context::AppContext& ctx, SaleQueueEntry& entry);

// The routine's reads of sale `code` on the day `dateLiteral` (a literal for the connection's kind): its
// summary row (the sale's totals, without non-item lines) and its item rows, each joined to its product.
std::string saleHeaderSql(database::DbKind kind, const std::string& code, const std::string& dateLiteral);
std::string saleItemsSql(database::DbKind kind, const std::string& code, const std::string& dateLiteral);

// `GravaArq`: writes a stored XML text to `path` with the fixes the original applies to documents of
// its older versions (XML declaration 1.0, a 1016 emission year, CSOSN 101 under CFOP 5102); answers
// `path`. Raises platform::FileWriteError, naming the file and the reason, when it cannot be written.
std::string GravaArq(std::string corpo, const std::string& path);

// A document stored by a contingency emission that can be sent as it is: the path names a signed file
// "assinado/NFe<44 digits>-assinado.xml" (either separator) and the text is that document. Answers the
// key, or "" when the row holds no such document.
std::string storedDocumentKey(const std::string& caminhoXml, const std::string& corpoXml);

}  // namespace quorvanti::authorisation
