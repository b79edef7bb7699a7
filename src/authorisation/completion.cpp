// Completion of an authorised NFC-e (protocol kept, QR text, nfce_gerada, numbering, fiscal mark,
// receipt, queue row), the storing of a contingency document, and the exits without authorisation.
#include <fstream>
#include <sstream>

#include "authorisation/emission.h"
#include "authorisation/outcome_texts.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "database/date_literal.h"
#include "database/transaction.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "printing/print_dispatch.h"

namespace quorvanti::authorisation {

namespace {

using context::kLineBreak;
using platform::MessageStyle;

// The label colour the status line returns to after the success caption.
constexpr std::uint32_t kStatusColour = 8454143;

// The lines of a text file joined without separators, as the contingency document is stored.
std::string joinedLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Arquivo não encontrado: " + path);
    std::string text, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += line;
    }
    return text;
}

std::string twoDigits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

std::string wholeText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Arquivo não encontrado: " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Step Emission::complete() {
    auto& component = *component_;
    if (!authorises(protocolStatus_)) return Step::Done;
    ctx_.status(e_.CurrentAccessKey);
    e_.OperationMessage = "Chave NF-e.: " + e_.CurrentAccessKey + kLineBreak + "Protocolo.: " + e_.ProtocolNumber +
                          kLineBreak + "Data e Hora.: " + e_.ProtocolDateTime + kLineBreak +
                          "Resposta da Fazenda.: " + std::to_string(protocolStatus_) + " - " + reasonText_;
    method("Método: ConsultarProtocolo 2");
    s_.ComponentOk = component.consultByKey(e_.CurrentAccessKey);
    if (platform::fileExists(procNFePath())) e_.ResponseText = procNFePath();
    // The authority's word is in the journal before anything local is written.
    journal(attempt_state::kAuthorised);
    if (const std::string failure = component.consultationResult().storeFailure; !failure.empty())
        throw std::runtime_error(failure);
    // The mirror names the document completed (recovery may have followed another of the sale's keys,
    // or the file may have been lost since the send).
    platform::iniWriteAppending(nfceIni(), section(), "ChaveNFCe", e_.CurrentAccessKey);
    platform::iniWriteAppending(nfceIni(), section(), "Protocolo", e_.ProtocolNumber);
    platform::iniWriteAppending(nfceIni(), section(), "ProtocoloDataHora", e_.ProtocolDateTime);
    completionTail(fromStoredDocument_);
    return Step::Done;
}

// From step 6 of the completion on; also the tail of a contingency emission. Everything the database
// learns of the sale (the NFC-e record, the numbering, the fiscal mark, the queue row, or the stored
// contingency document) is written in one transaction, so that a stop in between leaves either all or
// nothing, and the next try completes it the same way. Printing follows the commit: a receipt is never
// printed for a sale the database does not hold as emitted.
void Emission::completionTail(bool fromStoredDocument) {
    auto& component = *component_;
    const std::string& code = in_.NumVendaVem;
    // In contingency mode the new document is stored for the sender; one found authorised is recorded.
    const bool storing = s_.Contingency == "1" && !fromStoredDocument && !completingFoundDocument_;
    if (fromStoredDocument) printMarker_ = "1";
    if (!fromStoredDocument || in_.qrcode.empty()) {
        ctx_.status("Versão QRCODE");
        // A contingency document has no protocol file yet: its QR text comes from the signed file.
        const std::string qrSource = storing ? signedPath() : procNFePath();
        if (storing) e_.ResponseText = signedPath();
        e_.QrText.clear();
        ctx_.status("Gerando URL");
        method("Método: GerarUrlNFCe");
        std::string resultText;
        s_.ComponentOk = component.qrAddress(qrSource, e_.QrText, resultText);
        e_.ResponseText = procNFePath();
        ctx_.status("Preparando para Salvar NFCe");
    } else {
        e_.QrText = in_.qrcode;
    }
    ctx_.status("Salvando NFCe");
    if (s_.Contingency.empty()) s_.Contingency = "0";
    const std::string protocoloEdata = e_.ProtocolDateTime + " " + e_.ProtocolNumber;
    const std::string deleteRow = "delete from TabNCEAEnviar where codvenda = '" + esc(code) + "'";
    std::string storedXml;
    if (storing) {
        storedXml = joinedLines(signedPath());
    } else if (!platform::fileExists(procNFePath())) {
        method("Método: ConsultarProtocolo 3");
        s_.ComponentOk = component.consultByKey(e_.CurrentAccessKey);
    }
    {
        database::Transaction transaction(*ctx_.db);
        if (storing) {
            // The signed document goes into the sale's queue row for the contingency sender, with the
            // number it carries; that number is used from now on, whatever happens to the row.
            ctx_.db->execute("UPDATE TabNCEAEnviar SET caminhoXMLcontigencia = '" + esc(signedPath()) +
                             "', corpoXML = '" + esc(storedXml) + "' WHERE CodVenda = '" + esc(code) + "'");
            ctx_.db->execute("UPDATE TabNCEAEnviar SET numeroNFCE = '" + esc(in_.numeroNFCE) + "' WHERE CodVenda = '" +
                             esc(code) + "'");
        } else {
            // Every authorised NFC-e is recorded, whichever installation sent it.
            GravaNFCeGerada(protocoloEdata);
            ctx_.status("Incrementando NFC-e na base/Salvando");
            ctx_.db->execute(deleteRow);
        }
        advanceNumberPast(numberSent_);
        ctx_.db->execute("Update vendasconclu set fiscal = 'Sim' where codigovenda = '" + esc(code) + "'");
        ctx_.db->execute(journal_.stateUpdate(e_.CurrentAccessKey, storing ? attempt_state::kStored : attempt_state::kRecorded));
        transaction.commit();
    }
    // The stored document lives in its row until the contingency sender has sent it.
    outcome_.keepRow = storing;
    if (s_.ContingencySender == "0")
        printing::ImprimeNFCe(ctx_, printMarker_, code, in_.numeroNFCE, storing ? signedPath() : procNFePath(),
                              e_.CurrentAccessKey, e_.QrText, storing ? s_.Contingency : "0");
    auto& label = ctx_.mainWindow.Label1;
    label.foreColor = windows::kRed;
    ctx_.status("Sucesso. Aguardando próximo processo");
    sleep(1000);
    label.foreColor = kStatusColour;
}

// `GravaNFCeGerada`: one row per NFC-e number in nfce_gerada, holding the authorised document. It
// replaces a row of the same number. Called for authorised documents only (a document stored in
// contingency has no authorisation to record yet), whatever the mode.
void Emission::GravaNFCeGerada(const std::string& protocoloEdata) {
    ctx_.status("SALVANDO NFC-e ");
    ctx_.mainWindow.rtfb = wholeText(procNFePath());
    const std::string corpo = ctx_.mainWindow.rtfb;
    ctx_.status("RTBF - arquivo ");
    ctx_.status(in_.numeroNFCE + kLineBreak + "Excluindo caso exista: ");
    // The row of the same number exists only when a completion is done again. Looked for by the text
    // the column holds first: the numeric comparison of the statement that replaces it cannot use the
    // column's index on MariaDB, and would read the whole table at every sale.
    const std::string number = document::integerText(document::Val(in_.numeroNFCE));
    if (ctx_.db->open("SELECT numeronfce FROM nfce_gerada WHERE numeronfce = '" + esc(number) + "'").recordCount() > 0)
        ctx_.db->execute("DELETE FROM nfce_gerada where numeronfce = " + number);
    ctx_.status(protocoloEdata + kLineBreak + "Gravando em BD: ");
    const auto today = context::shopNow(ctx_);
    const std::string date = twoDigits(today.day) + "/" + twoDigits(today.month) + "/" + std::to_string(today.year);
    const std::string values[] = {database::dateForStoring(ctx_.db->kind(), date, ""),
                                  in_.numeroNFCE,
                                  in_.NumVendaVem,
                                  e_.CurrentAccessKey,
                                  document::integerText(e_.ClientCode),
                                  corpo,
                                  "nao",
                                  s_.Environment,
                                  e_.QrText,
                                  protocoloEdata,
                                  "nao",
                                  e_.ConsumerEmail,
                                  e_.ConsumerCpf};
    std::string joined;
    for (const auto& value : values) joined += (joined.empty() ? "" : "','") + esc(value);
    ctx_.db->execute("Insert into nfce_gerada(dataG, numeronfce, cod_venda, chave, codcli, corpo_nfce, cancelada, amb, "
                     "qrcode, protocoloEdata, EmailEnviou, ClienteEmail, CPF_cli) values ('" + joined + "')");
}

Step Emission::storeContingencyDocument() {
    // Neither validated nor sent here: the completion stores it for the contingency sender.
    completionTail(false);
    return Step::Done;
}

Step Emission::notSent() {
    if (cStat_ != 999 && rejectsTheDocument(protocolStatus_)) {
        e_.ErrorText = std::to_string(protocolStatus_) + " - " + reasonText_;
        ctx_.status("Não enviada A3 // " + e_.ErrorText);
        sleep(3000);
        ctx_.db->execute("delete from TabNCEAEnviar where codvenda = '" + esc(in_.NumVendaVem) + "'");
        journal(attempt_state::kRejected, e_.ErrorText);
        journal_.releaseReservations(sale_);
        log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + "Não enviada A3 // " + e_.ErrorText);
        tellDropped(e_.ErrorText);
        outcome_.keepRow = false;
    } else {
        // No final answer on the document (an uncatalogued error, a status that is not a rejection): the
        // sale stays queued and the document is consulted again at its next try.
        outcome_.failure = "NFCe não enviada: " + std::to_string(cStat_) + " - " + e_.ResponseText;
    }
    if (!e_.ErrorDescription.empty())
        ctx_.frontend().messageBox(e_.ErrorDescription + " Erro encontrado", MessageStyle::Ok, "");
    ctx_.status("NFCe não enviada - CCD: " + e_.ResponseText);
    if (answerHas(e_.ResponseText, "conjunto de chaves") &&
        isNewFailure(outcome_.failure))
        ctx_.frontend().messageBox(
            "Provavelmente problemas com o certificado digital, tente remove-lo, reinicie o computador e tente novamente",
            MessageStyle::Ok, "");
    return Step::Done;
}

}  // namespace quorvanti::authorisation
