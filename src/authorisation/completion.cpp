// Completion of an authorised NFC-e (protocol kept, QR text, nfce_gerada, numbering, fiscal mark,
// receipt, queue row), the storing of a contingency document, and the exits without authorisation.
#include <fstream>
#include <sstream>

#include "authorisation/emission.h"
#include "authorisation/outcome_texts.h"
#include "context/program_files.h"
#include "database/date_literal.h"
#include "document/text_helpers.h"
#include "document/vb_conversions.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "printing/print_dispatch.h"

namespace quorvanti::authorisation {

namespace {

using context::kLineBreak;
using platform::MessageStyle;

// The label colour the status line returns to after the success caption.
constexpr std::uint32_t kStatusColour = 8454143;

std::string wholeText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Arquivo não encontrado: " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string twoDigits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

Step Emission::complete() {
    auto& component = *component_;
    if (protocolStatus_ != 100) return Step::Done;
    ctx_.status(e_.CurrentAccessKey);
    e_.OperationMessage = "Chave NF-e.: " + e_.CurrentAccessKey + kLineBreak + "Protocolo.: " + e_.ProtocolNumber +
                          kLineBreak + "Data e Hora.: " + e_.ProtocolDateTime + kLineBreak +
                          "Resposta da Fazenda.: " + std::to_string(protocolStatus_) + " - " + reasonText_;
    method("Método: ConsultarProtocolo 2");
    s_.ComponentOk = component.consultByKey(e_.CurrentAccessKey);
    if (platform::fileExists(procNFePath())) e_.ResponseText = procNFePath();
    const std::string section = in_.NumVendaVem + "-" + in_.DataVenda;
    platform::writeSetting(section, "Protocolo", e_.ProtocolNumber, s_.AppFolder + "NFCe.ini");
    platform::writeSetting(section, "ProtocoloDataHora", e_.ProtocolDateTime, s_.AppFolder + "NFCe.ini");
    completionTail(fromStoredDocument_);
    return Step::Done;
}

// From step 6 of the completion on; also the tail of a contingency emission.
void Emission::completionTail(bool fromStoredDocument) {
    auto& component = *component_;
    const std::string& code = in_.NumVendaVem;
    if (fromStoredDocument) {
        printMarker_ = "1";
    } else {
        ctx_.status("Versão QRCODE");
        // A contingency document has no protocol file yet: its QR text comes from the signed file.
        const std::string qrSource = s_.Contingency == "1" ? signedPath() : procNFePath();
        if (s_.Contingency == "1") e_.ResponseText = signedPath();
        e_.QrText.clear();
        ctx_.status("Gerando URL");
        method("Método: GerarUrlNFCe");
        std::string resultText;
        s_.ComponentOk = component.qrAddress(qrSource, e_.QrText, resultText);
        e_.ResponseText = procNFePath();
        ctx_.status("Preparando para Salvar NFCe");
    }
    ctx_.status("Salvando NFCe");
    if (s_.Contingency.empty()) s_.Contingency = "0";
    const std::string protocoloEdata = e_.ProtocolDateTime + " " + e_.ProtocolNumber;
    const std::string deleteRow = "delete from TabNCEAEnviar where codvenda = '" + esc(code) + "'";
    if (s_.Contingency != "1" && s_.ContingencySender == "0") {
        if (!platform::fileExists(procNFePath())) {
            method("Método: ConsultarProtocolo 3");
            s_.ComponentOk = component.consultByKey(e_.CurrentAccessKey);
        }
        GravaNFCeGerada(protocoloEdata);
        ctx_.db->execute(deleteRow);
    }
    if (s_.ContingencySender == "0" && s_.Contingency == "0") {
        ctx_.status("Incrementando NFC-e na base/Salvando");
        ctx_.db->execute("Update config set NumeroNFCE = NumeroNFCE + 1");
        ctx_.db->execute(deleteRow);
    }
    ctx_.db->execute("Update vendasconclu set fiscal = 'Sim' where codigovenda = '" + esc(code) + "'");
    if (s_.ContingencySender == "0")
        printing::ImprimeNFCe(ctx_, printMarker_, code, in_.numeroNFCE,
                              s_.Contingency == "1" ? signedPath() : procNFePath(), e_.CurrentAccessKey, e_.QrText,
                              s_.Contingency);
    auto& label = ctx_.mainWindow.Label1;
    label.foreColor = windows::kRed;
    ctx_.status("Sucesso. Aguardando próximo processo");
    sleep(1000);
    label.foreColor = kStatusColour;
    if (s_.Contingency == "1" && s_.ContingencySender == "0") {
        // The stored document lives in this row until the contingency sender has sent it: deleting the
        // row would lose an NFC-e the customer already holds.
        outcome_.keepRow = true;
        return;
    }
    ctx_.db->execute(deleteRow);
}

// `GravaNFCeGerada`: one row per NFC-e number in nfce_gerada, holding the authorised document. It
// replaces a row of the same number, and stores nothing in contingency mode.
void Emission::GravaNFCeGerada(const std::string& protocoloEdata) {
    if (s_.Contingency == "1") return;
    ctx_.status("SALVANDO NFC-e ");
    ctx_.mainWindow.rtfb = wholeText(procNFePath());
    const std::string corpo = ctx_.mainWindow.rtfb;
    ctx_.status("RTBF - arquivo ");
    ctx_.status(in_.numeroNFCE + kLineBreak + "Excluindo caso exista: ");
    ctx_.db->execute("DELETE FROM nfce_gerada where numeronfce = " + document::integerText(document::Val(in_.numeroNFCE)));
    ctx_.status(protocoloEdata + kLineBreak + "Gravando em BD: ");
    const auto today = ctx_.services.clock.now();
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
    // The signed document goes into the sale's queue row for the contingency sender; it is neither
    // validated nor sent here.
    std::ifstream in(signedPath(), std::ios::binary);
    if (!in) throw std::runtime_error("Arquivo não encontrado: " + signedPath());
    std::string xml, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        xml += line;
    }
    // The escaping helper doubles the path's backslashes on MariaDB, as this statement always did.
    ctx_.db->execute("UPDATE TabNCEAEnviar SET caminhoXMLcontigencia = '" + esc(signedPath()) + "', corpoXML = '" +
                     esc(xml) + "' WHERE CodVenda = '" + esc(in_.NumVendaVem) + "'");
    completionTail(false);
    return Step::Done;
}

Step Emission::notSent() {
    if (cStat_ != 999) {
        e_.ErrorText = std::to_string(protocolStatus_) + " - " + reasonText_;
        ctx_.status("Não enviada A3 // " + e_.ErrorText);
        sleep(3000);
        ctx_.db->execute("delete from TabNCEAEnviar where codvenda = '" + esc(in_.NumVendaVem) + "'");
    }
    if (!e_.ErrorDescription.empty())
        ctx_.frontend().messageBox(e_.ErrorDescription + " Erro encontrado", MessageStyle::Ok, "");
    ctx_.status("NFCe não enviada - CCD: " + e_.ResponseText);
    if (answerHas(e_.ResponseText, "conjunto de chaves"))
        ctx_.frontend().messageBox(
            "Provavelmente problemas com o certificado digital, tente remove-lo, reinicie o computador e tente novamente",
            MessageStyle::Ok, "");
    return Step::Done;
}

}  // namespace quorvanti::authorisation
