#include "authorisation/emission_routine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <optional>

#include "authorisation/emission.h"
#include "authorisation/outcome_texts.h"
#include "authorisation/sale_claims.h"
#include "context/program_end.h"
#include "context/program_files.h"
#include "database/date_literal.h"
#include "database/sql_escape.h"
#include "document/component_setup.h"
#include "document/groups/closing_groups.h"
#include "document/groups/identification_group.h"
#include "document/groups/item_group.h"
#include "document/groups/recipient_group.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "platform/durable_file.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"

namespace quorvanti::authorisation {

namespace {

using context::kLineBreak;
using platform::MessageStyle;

// The highest sale value the routine accepts, "9999,00" when the setting is empty, read the Brazilian
// way ("5.000,00"). It is read from the program folder's settings file at every emission, so the shop
// can change it without a restart; a value that is not an amount answers nothing (never a guess).
std::optional<double> saleLimit(const context::AppContext& ctx, std::string& written) {
    written = document::trimBlanks(platform::readSetting(
        "Geral", "LimiteNfce", context::withTrailingSlash(ctx.settings.AppPath) + "ConfigINI.ini"));
    return document::settingNumber(written.empty() ? "9999,00" : written);
}

// A value as "##,#0.00" formats it and reads it back: rounded to cents, half away from zero.
double roundedToCents(double value) { return std::round(value * 100.0) / 100.0; }

std::string keyAfter(const std::string& path, const std::string& marker) {
    const auto at = path.find(marker);
    if (at == std::string::npos) return "";
    std::string key = path.substr(at + marker.size(), 44);
    if (key.size() != 44 || key.find_first_not_of("0123456789") != std::string::npos) return "";
    return key;
}

}  // namespace

Emission::Emission(context::AppContext& ctx, SaleQueueEntry& entry)
    : ctx_(ctx), s_(ctx.settings), e_(ctx.emission), in_(entry), sale_{entry.NumVendaVem, entry.DataVenda},
      journal_(ctx) {}

EmissionOutcome Emission::run() {
    e_ = context::EmissionState{};
    for (;;) {
        Step step = Step::CommonExit;
        try {
            step = build();
            if (step == Step::Completion) step = complete();
        } catch (const std::exception& error) {
            // Whatever raised it (the certificate, the disk, the database, a file), the sale itself is
            // not at fault: the common exit reports it and the row stays.
            e_.ErrorDescription = error.what();
            step = Step::CommonExit;
        }
        switch (step) {
            case Step::Restart:
                release();
                restarted_ = true;
                continue;  // the same sale again, under the number the duplicity left in numeroNFCE
            case Step::EmitterFailureExit:
                return emitterFailureExit();
            case Step::CommonExit:
                return commonExit();
            case Step::Keep:
                release();
                ctx_.status("");
                if (ctx_.mainWindow.CloseRequested) context::fecha_aplic(ctx_);
                return outcome_;
            case Step::Build:
            case Step::Completion:
            case Step::Done:
                release();
                ctx_.status("");
                return outcome_;
        }
    }
}

Step Emission::keep(const std::string& reason, bool tellOperator) {
    outcome_.keepRow = true;
    outcome_.failure = reason;
    if (tellOperator && isNewFailure(reason)) {
        log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + reason);
        ctx_.frontend().messageBox(reason, MessageStyle::Ok, "");
    }
    return Step::Keep;
}

Step Emission::keepForGroupFailure() {
    // The group has shown its own box; the log keeps each distinct failure once.
    if (e_.GroupFailure.empty()) e_.GroupFailure = "Venda " + in_.NumVendaVem + ": erro nos dados do emitente";
    if (isNewFailure(e_.GroupFailure))
        log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + e_.GroupFailure);
    return keep(e_.GroupFailure, false);
}

Step Emission::drop(const std::string& deleteSql) {
    ctx_.db->execute(deleteSql);
    journal_.releaseReservations(sale_);
    outcome_.keepRow = false;
    return Step::CommonExit;
}

bool Emission::isNewFailure(const std::string& failure) const {
    return failure != ctx_.retries.lastFailure(in_.NumVendaVem);
}

std::string Emission::nfceIni() const { return s_.AppFolder + "NFCe.ini"; }
std::string Emission::section() const { return in_.NumVendaVem + "-" + in_.DataVenda; }

bool Emission::isOwnKey(const std::string& key) const {
    if (key.size() != 44) return false;
    return key == e_.CurrentAccessKey || journal_.isOwnKey(sale_, key);
}

void Emission::rememberKey(const std::string& key) {
    // The journal holds every key of the sale; NFCe.ini mirrors the current one for the point-of-sale
    // program, appended so that its cost does not grow with the file. A mirror that cannot be written
    // fails the attempt, naming the file and the reason.
    platform::iniWriteAppending(nfceIni(), section(), "ChaveNFCe", key);
}

void Emission::journal(const char* state, const std::string& reason) {
    journal_.setState(e_.CurrentAccessKey, state, reason);
    // Every step worth journalling is also a sign of life: the claim on the sale holds on.
    renewClaim(ctx_, sale_);
}

Step Emission::setAside(const std::string& reason) {
    journal_.setAside(sale_, reason);
    return keep(reason);
}

bool Emission::completedFromRecord() {
    std::string key;
    if (const auto recorded = journal_.recorded(sale_)) {
        key = recorded->key;
    } else {
        // Recorded without the journal (an older version, another installation): the sale's NFC-e in
        // nfce_gerada, not cancelled, emitted on or after the sale's date (a sale code the point-of-sale
        // program used again on a later day is another sale).
        auto rows = ctx_.db->open("SELECT chave, corpo_nfce, cancelada FROM nfce_gerada WHERE cod_venda = '" +
                                        esc(in_.NumVendaVem) + "'");
        const std::string saleDay = database::dateLiteral(in_.DataVenda, "", "yyyy-mm-dd");
        for (rows.moveFirst(); !rows.eof() && key.empty(); rows.moveNext()) {
            if (document::toUpperText(document::trimBlanks(rows.field("cancelada").text())) == "SIM") continue;
            const std::string emitted = elementText(rows.field("corpo_nfce").text(), "dhEmi").substr(0, 10);
            if (emitted.size() == 10 && emitted >= saleDay) key = rows.field("chave").text();
        }
    }
    if (key.empty()) return false;
    ctx_.status("Venda " + in_.NumVendaVem + " já emitida: NFC-e " + key);
    ctx_.db->execute("Update vendasconclu set fiscal = 'Sim' where codigovenda = '" + esc(in_.NumVendaVem) + "'");
    log(in_.DataVenda + " - " + in_.NumVendaVem + " - já emitida na NFC-e " + key +
        ": retirada da fila sem novo envio");
    outcome_.keepRow = false;
    return true;
}

long long Emission::nextFreeNumber(long long number) {
    const auto config = ctx_.db->open("Select numeronfce from config");
    const auto counter = nfceNumber(config.field("numeronfce").text());
    return std::max(number + 1, counter);
}

void Emission::advanceNumberPast(long long number) {
    const std::string next = std::to_string(number + 1);
    ctx_.db->execute("Update config set NumeroNFCE = " + next + " where NumeroNFCE < " + next +
                     " or NumeroNFCE is null");
}

Step Emission::recoverEarlierAttempt(const std::string& key) {
    ctx_.status("Consultando emissão anterior da venda: " + key);
    const bool contingencyDocument = key[34] == '9';
    // A contingency document of an earlier attempt that was never stored was never handed to anyone
    // nor sent: a new one is made (under the number config gives now, as another sale may hold its).
    if (s_.Contingency == "1" && contingencyDocument) {
        journal_.setState(key, attempt_state::kNotReceived, "documento de contingência nunca entregue");
        return Step::Build;
    }
    method("Método: ConsultarProtocolo");
    s_.ComponentOk = component_->consultByKey(key);
    const auto result = component_->consultationResult();
    noteExchange(result.cStat);
    if (authorises(result.cStat) || authorises(result.protocolCStat)) {
        journal_.setState(key, attempt_state::kAuthorised);
        adoptAuthorised(key, result);
        return Step::Completion;
    }
    if (isDenial(result.cStat) || isDenial(result.protocolCStat)) {
        // Denied when its answer was lost: the authority keeps it, so its number is used for good.
        useOwnDocument(key);
        cStat_ = result.cStat;
        protocolStatus_ = result.protocolCStat;
        const bool inProtocol = isDenial(result.protocolCStat);
        return denied(std::to_string(inProtocol ? result.protocolCStat : result.cStat) + " - " +
                      (inProtocol ? result.protocolXMotivo : result.xMotivo));
    }
    if (result.cStat == 105) {
        // Still in processing: wait for it as after a send.
        useOwnDocument(key);
        waitCount_ = 0;
        return reception();
    }
    if (result.cStat == 562) {
        // The authority holds this number under a key that differs only in its numeric code: the sale's
        // own later document (followed to its end), or another sale's (this sale takes a free number).
        const std::string named = keyInBrackets(result.xMotivo);
        if (named != key && isOwnKey(named)) {
            useOwnDocument(named);
            waitCount_ = 0;
            return reception();
        }
        journal_.setState(key, attempt_state::kAbandoned, std::to_string(result.cStat) + " - " + result.xMotivo);
        return Step::Build;
    }
    if (result.cStat == 217 || result.cStat == 613 || rejectsTheDocument(result.protocolCStat)) {
        // Never received, or refused (the authority keeps no refused document; 613: another document
        // holds its number): a new document; the journal gives it the same number unless another
        // document holds it. Should the old one appear after all, a duplicity names it as the sale's own.
        const char* state = result.cStat == 217 ? attempt_state::kNotReceived
                            : result.cStat == 613 ? attempt_state::kAbandoned
                                                  : attempt_state::kRejected;
        journal_.setState(key, state, std::to_string(result.cStat) + " - " + result.xMotivo);
        return Step::Build;
    }
    if (s_.Contingency == "1") {
        // The authority cannot say now whether the normal document of an earlier attempt reached it; the
        // customer gets a contingency document under a new number at once, and the earlier one, kept in
        // the journal, is cancelled by substitution or its number voided once the authority answers.
        journal_.setState(key, attempt_state::kSuperseded,
                          std::to_string(result.cStat) + " - " + result.xMotivo + "; substituída por contingência");
        log("Venda " + in_.NumVendaVem + ": a NFC-e " + key +
            " ficou sem resposta da SEFAZ; emitida outra em contingência (a anterior será cancelada por substituição "
            "ou seu número inutilizado)");
        return Step::Build;
    }
    const std::string reason = "Venda " + in_.NumVendaVem + ": sem resposta final da SEFAZ sobre a NFC-e " + key +
                               " (" + std::to_string(result.cStat) + " - " + result.xMotivo + "); nova consulta mais tarde";
    return result.cStat > 8999 ? keepQuietly(reason) : keep(reason);
}

void Emission::useOwnDocument(const std::string& key) {
    e_.CurrentAccessKey = key;
    ctx_.mainWindow.SignedXmlPath = s_.AppFolder + "nfe/arquivos/assinado/NFe" + key + "-assinado.xml";
    e_.GeneratedXmlPath = s_.AppFolder + "nfe/arquivos/gerados/NFe" + key + ".xml";
    takeNumberOf(key);
}

void Emission::takeNumberOf(const std::string& key) {
    // The number a document carries: positions 26 to 34 of its key.
    in_.numeroNFCE = document::integerText(document::Val(key.substr(25, 9)));
    e_.NfceNumber = in_.numeroNFCE;
    numberSent_ = nfceNumber(in_.numeroNFCE);
}

void Emission::adoptAuthorised(const std::string& key, const fiscal::ConsultationResult& result) {
    useOwnDocument(key);
    completingFoundDocument_ = true;
    protocolStatus_ = authorises(result.protocolCStat) ? result.protocolCStat : result.cStat;
    reasonText_ = result.protocolXMotivo.empty() ? result.xMotivo : result.protocolXMotivo;
    e_.ProtocolNumber = result.nProt;
    e_.ProtocolDateTime = result.protocolDhRecbto;
    e_.ProtocolText = e_.ProtocolNumber + " - " + e_.ProtocolDateTime;
    if (!platform::fileExists(procNFePath()) && !platform::fileExists(signedPath()))
        throw std::runtime_error("A NFC-e " + key + " da venda " + in_.NumVendaVem +
                                 " foi autorizada, mas nem o documento assinado nem o autorizado estão em " +
                                 s_.AppFolder + "nfe/arquivos: obtenha o XML autorizado no portal da SEFAZ");
    // The recipient of the document as it was signed, for the record of the NFC-e.
    const std::string signedText = platform::fileExists(signedPath()) ? wholeText(signedPath()) : "";
    e_.ConsumerCpf = elementText(elementText(signedText, "dest"), "CPF");
    if (!e_.SaleHeader) {
        const auto header = ctx_.db->open(
            "SELECT CodClientePrazo FROM VendasConclu WHERE CodigoVenda = '" + esc(in_.NumVendaVem) + "' AND Data = " +
            database::dateLiteral(in_.DataVenda, s_.DateQuote, s_.DateFormat));
        e_.CustomerCode = header.recordCount() > 0 ? header.field("CodClientePrazo").text() : "";
    }
    e_.ClientCode = document::Val("0" + e_.CustomerCode);
}

std::string Emission::esc(const std::string& value) const { return database::sqlEscape(ctx_.db->kind(), value); }
// Each pause is followed by a pass of the message loop, so the window's commands (the print switch, the
// close request, a dialog) take effect during the sale; Timer1 stays off for the batch, so no pass starts
// another sale. A skipped pause still gives its pass.
void Emission::sleep(int milliseconds) {
    if (s_.FastEmission) ctx_.doEvents();
    else wait(milliseconds);
}
void Emission::wait(int milliseconds) {
    ctx_.services.clock.sleep(std::chrono::milliseconds(milliseconds));
    ctx_.doEvents();
}
void Emission::method(const std::string& label) { ctx_.caption(ctx_.mainWindow.MethodLabel, label); }
void Emission::log(const std::string& line) { context::GravaLog(ctx_, line); }
std::string Emission::procNFePath() const { return s_.AppFolder + "nfe/arquivos/procNFe/" + e_.CurrentAccessKey + "-procNFe.xml"; }
std::string Emission::signedPath() const { return ctx_.mainWindow.SignedXmlPath; }

void Emission::setNumber(long long number) {
    in_.numeroNFCE = std::to_string(number);
    e_.NfceNumber = in_.numeroNFCE;
    ctx_.db->execute("Update config set NumeroNFCE = " + in_.numeroNFCE);
}

Step Emission::build() {
    const std::string& code = in_.NumVendaVem;
    // Entry and numbering.
    ctx_.status("Setando configuração");
    component_ = ctx_.services.components.createComponent();
    ctx_.status("ConfigurarDLL");
    s_.ComponentOk = document::ConfigurarDLL(ctx_, 65, "1", component_);
    if (in_.CaminhoXML == "1") in_.CaminhoXML.clear();
    e_.SaleCode = code;
    e_.SaleDate = in_.DataVenda;
    e_.ProductsTotal = 0;
    e_.DiscountTotal = 0;
    ctx_.caption(ctx_.mainWindow.Label2, "COD.OP: " + code);
    ctx_.status("Consultando próximo Nº de NFC-e");
    {
        const auto config = ctx_.db->open("Select numeronfce, token, ValAproxTrib from config;");
        e_.Token = config.field("token").text();
        // Only printing reads the rate: a shop that never set it prints no approximate tax.
        const auto& rate = config.field("ValAproxTrib");
        e_.ApproxTaxRate = rate.isNull() ? 0.0 : rate.number();
        if (!in_.numeroNFCE.empty()) {
            ctx_.caption(ctx_.mainWindow.Label6, "Nº NFC-e CONT.: " + in_.numeroNFCE);
        } else {
            in_.numeroNFCE = document::integerText(document::Val(config.field("numeronfce").text()));
            ctx_.caption(ctx_.mainWindow.Label6, "Nº NFC-e NOR.: " + in_.numeroNFCE);
        }
        e_.NfceNumber = in_.numeroNFCE;
        numberSent_ = nfceNumber(in_.numeroNFCE);
    }
    if (e_.Token.empty()) {
        ctx_.frontend().messageBox("É necessário inserir o numero do token em configuração da NFCe", MessageStyle::Ok, "");
        endProgram(ExitStatus::TokenMissing, "config.token vazio");
    }

    // Paths.
    s_.AppFolder = context::withTrailingSlash(ctx_.locations.programFolder);
    ctx_.status("Path xml");
    sleep(1000);
    if (const std::string key = storedDocumentKey(in_.CaminhoXML, in_.corpoXML); !key.empty()) {
        // A document stored by a contingency emission is sent as it was signed, with its own key and
        // number: building it again would make a second NFC-e of a sale already handed to the customer.
        fromStoredDocument_ = true;
        e_.CurrentAccessKey = key;
        in_.CaminhoXML = s_.AppFolder + "nfe/arquivos/assinado/NFe" + key + "-assinado.xml";
        ctx_.mainWindow.SignedXmlPath = in_.CaminhoXML;
        if (!platform::fileExists(in_.CaminhoXML)) GravaArq(in_.corpoXML, in_.CaminhoXML);
        e_.GeneratedXmlPath = s_.AppFolder + "nfe/arquivos/gerados/NFe" + key + ".xml";
        // Stored before the journal existed, or by another installation: it is the sale's from now on.
        if (!journal_.isOwnKey(sale_, key)) journal_.recordKey(sale_, nfceNumber(key.substr(25, 9)), key, "9");
        ctx_.status("Reunindo informação");
        return send();
    }
    if (!restarted_) {
        if (completedFromRecord()) return Step::Done;
        // Nothing the authority may hold is left behind: every earlier key not yet settled is answered
        // first, oldest first. Usually there is one; an older version's NFCe.ini may have left two under
        // different numbers, and asking only about the newest would leave the other authorised unrecorded.
        // Out of contingency, a normal document that a contingency document was to replace is asked about
        // too: the sale ended before that document was made, and the authority may hold the first.
        for (const std::string& earlier : journal_.keysThatMayBeHeld(sale_, s_.Contingency != "1")) {
            const Step recovered = recoverEarlierAttempt(earlier);
            if (recovered != Step::Build) return recovered;
        }
    }
    ctx_.status("Path xml 1");
    e_.GeneratedXmlPath = s_.AppFolder + "nfe/arquivos/gerados/NFe" + e_.CurrentAccessKey + ".xml";
    in_.CaminhoXML = s_.AppFolder + "nfe/arquivos/assinado/NFe" + e_.CurrentAccessKey + "-assinado.xml";
    ctx_.status("Reunindo informação");

    // Sale gathering.
    ctx_.status("Reunindo informação da operação no BD");
    const std::string date = database::dateLiteral(in_.DataVenda, s_.DateQuote, s_.DateFormat);
    e_.SaleHeader = ctx_.db->open(saleHeaderSql(ctx_.db->kind(), code, date));
    if (e_.SaleHeader->recordCount() == 0) {
        ctx_.status("Operação não encontrada");
        sleep(3000);
        log(in_.DataVenda + " - " + code + " - Operação não encontrada");
        return drop("delete from TabNCEAEnviar where Codvenda = '" + esc(code) + "'");
    }
    if (e_.SaleHeader->field("ValorProdutos").number() <= 0.10) {
        const auto row = ctx_.db->open("Select * from TabNCEAEnviar where Codvenda = '" + esc(code) + "'");
        log(in_.DataVenda + " - " + code + " - Valor dos produtos até R$ 0,10: operação omitida");
        if (row.recordCount() > 0) return drop("delete from TabNCEAEnviar where Codvenda = '" + esc(code) + "'");
        outcome_.keepRow = false;
        return Step::CommonExit;
    }
    e_.CustomerCode = e_.SaleHeader->field("CodClientePrazo").text();
    e_.SaleClientCode = e_.CustomerCode;
    e_.ItemRows = ctx_.db->open(saleItemsSql(ctx_.db->kind(), code, date));
    ctx_.status("Reunindo informação Itens");
    ctx_.status("Consultou BD");
    if (e_.ItemRows->recordCount() == 0) {
        ctx_.frontend().messageBox("Operação de venda não encontrada. Será omitida esta operação", MessageStyle::Ok, "");
        log(in_.DataVenda + " - " + code + " - Operação de venda não encontrada");
        return drop("delete from TabNCEAEnviar where Codvenda = '" + esc(code) + "'");
    }
    ctx_.status("Movendo para primeiro registro");
    e_.ItemRows->moveFirst();
    const int itemCount = static_cast<int>(e_.ItemRows->recordCount());
    ctx_.status("Calculando Valor Total");
    {
        const auto total = ctx_.db->open("Select sum(v.valortotalitem) as vlt from vendasconclu v where CodigoVenda = '" +
                                         esc(code) + "' AND Data = " + date + " group by v.codigovenda");
        // The sale is set aside (the others go on) rather than ending the monitor at every start.
        if (roundedToCents(total.field("vlt").number()) >= 10000.0)
            return setAside("Venda " + code + ": O Valor é superior o permitido, R$ 10.000,00, sem dados do destinatário");
    }
    if (ctx_.services.clock.steadyNow() < ctx_.newDocumentsPausedUntil)
        return keep("Emissão de novas NFC-e suspensa: a SEFAZ denegou o uso ao emitente (301); "
                    "verifique com o contador. Nova tentativa em até 10 minutos");
    // The number is taken in the journal, so that no other sale's document, nor another monitor's,
    // carries it.
    in_.numeroNFCE = std::to_string(journal_.reserveNumber(sale_, nfceNumber(in_.numeroNFCE)));
    e_.NfceNumber = in_.numeroNFCE;
    numberSent_ = nfceNumber(in_.numeroNFCE);

    // Document building.
    auto& component = *component_;
    e_.ProductsTotal = 0;
    e_.DiscountTotal = 0;
    s_.ComponentOk = component.prepare(e_.SharedTexts);
    ctx_.status("Dados Identificador:");
    document::GeraIndetificacao(ctx_, code, component);
    ctx_.status("Dados emitente");
    if (!document::GeraEmitente(ctx_, component) || !e_.GroupFailure.empty()) return keepForGroupFailure();
    if (stopRequested()) return keep("Parada solicitada", false);
    ctx_.status("Dados destinatário");
    sleep(2000);
    double clientCode = document::Val("0" + e_.CustomerCode);
    document::GeraDestinatario(ctx_, clientCode, component);
    sleep(1000);
    ctx_.status("Dados dos produtos");
    ctx_.status("Dados produtos");
    e_.SaleItemCount = itemCount;
    if (document::GeraProdutos(ctx_, component)) return Step::EmitterFailureExit;
    if (!e_.GroupFailure.empty()) return keepForGroupFailure();
    ctx_.status("Dados Totalizador");
    std::string limitText;
    const auto limit = saleLimit(ctx_, limitText);
    if (!limit) return keep("Configuração \"LimiteNfce\" = \"" + limitText + "\" inválida: escreva um valor como 9.999,00");
    if (e_.ProductsTotal > *limit) {
        ctx_.frontend().messageBox("Operação excede o valor, altere em configurações caso deseje. Será omitida esta operação",
                                   MessageStyle::Ok, "");
        log(in_.DataVenda + " - " + code + " - Operação excede o valor (LimiteNfce)");
        return drop("delete from TabNCEAEnviar where Codvenda = '" + esc(code) + "'");
    }
    document::GeraTotais(ctx_, component);
    ctx_.status("Transporte");
    document::GeraTransporte(ctx_, component);
    ctx_.status("Fatura/Pagamento");
    double paid = e_.ProductsTotal - e_.DiscountTotal;
    document::GeraPagamento(ctx_, paid, component);
    ctx_.status("Observações");
    document::GeraObservacoes(ctx_, component);
    for (const char* caption : {"UF", "Unidade Federada Codigo", "Ambiente", "VerProc", "CNPJ", "TipoDanfe"})
        ctx_.status(caption);
    // A group that failed leaves part of the sale out: nothing is generated from it.
    if (!e_.GroupFailure.empty()) return keepForGroupFailure();
    platform::createFolders(ctx_.locations.programFolder);

    // Generation.
    ctx_.status("Gerar XML");
    method("Método: GerarXML");
    sleep(3000);
    std::string key;
    fiscal::GenerationArgs generation{
        .generatedXmlPath = e_.GeneratedXmlPath, .value3 = 0, .signedXmlPath = ctx_.mainWindow.SignedXmlPath};
    s_.ComponentOk = component.generate(key, generation, e_.SharedTexts);
    ctx_.status("Retorno do GeraXML");
    sleep(1000);
    ctx_.status("ID chave");
    e_.CurrentAccessKey = document::RetiraCaracteres(key, "NFe", false);
    e_.GeneratedXmlPath = s_.AppFolder + "nfe/arquivos/" + key + ".xml";
    ctx_.status(e_.GeneratedXmlPath);
    if (!document::EstaVazio(std::string_view(key))) {
        // Committed before anything is sent: a failure here ends the attempt with nothing sent.
        journal_.recordKey(sale_, numberSent_, e_.CurrentAccessKey, s_.Contingency == "1" ? "9" : "1");
        rememberKey(e_.CurrentAccessKey);
    }
    ctx_.mainWindow.SignedXmlPath = s_.AppFolder + "nfe/arquivos/assinado/" + key + "-assinado.xml";
    ctx_.status("Cont.: " + s_.Contingency);
    if (s_.Contingency == "1") return storeContingencyDocument();

    // Validation.
    const std::string path = signedPath();
    ctx_.status("Validando");
    ctx_.status("xverPRoc. ");
    sleep(1000);
    sleep(1000);
    ctx_.status(std::string("Versão 4.00 - xsd (retorno)") + kLineBreak + path);
    if (platform::fileExists(path)) {
        ctx_.status(std::string("XML existe") + kLineBreak + path);
        method("Método: ValidarArquivoXML");
        sleep(1000);
        e_.OperationMessage.clear();
        e_.ValidationStatus = component.validate({.signedXmlPath = path, .value2 = 0}, e_.OperationMessage);
        e_.GeneratedXmlPath = s_.AppFolder + "nfe/arquivos/gerados/NFe" + e_.CurrentAccessKey + ".xml";
        ctx_.status(std::string("XML OK? ") + (e_.ValidationStatus ? "Verdadeiro" : "Falso"));
        sleep(1000);
        if (answerHas(e_.OperationMessage, "#778#Rejeicao") || answerHas(e_.OperationMessage, ":NCM")) {
            ctx_.status("REJEIÇÃO. #778#");
            log(e_.OperationMessage + " " + e_.EmissionDateTime + " " + "Da operação: " + code + " " + e_.ErrorDescription);
            if (answerHas(document::toUpperText(e_.OperationMessage), "ATRASADO")) {
                journal(attempt_state::kNotReceived, e_.OperationMessage);
                return keep("Horario deve ser corrigido. Verifique");
            }
            journal(attempt_state::kRejected, e_.OperationMessage);
            return drop("DELETE FROM TabNCEAEnviar WHERE CodVenda = '" + esc(code) + "' ");
        }
    } else {
        e_.ValidationStatus = true;
    }
    if (!e_.ValidationStatus) {
        ctx_.status(e_.OperationMessage);
        // The document does not pass the schemas: the sale stays queued for the shop to correct it.
        if (isNewFailure(e_.OperationMessage))
            log(e_.OperationMessage + " - " + "Da operação: " + code + " - " + e_.ErrorDescription);
        // Never sent: the next try makes it again under the same number.
        journal(attempt_state::kNotReceived, e_.OperationMessage);
        return keep(e_.OperationMessage, false);
    }
    ctx_.status("Validado");
    ctx_.status("Gerando lote");
    if (stopRequested()) return keep("Parada solicitada antes do envio", false);
    return send();
}

EmissionOutcome Emission::emitterFailureExit() {
    // The item group removed the sale on purpose (an NCM the authority refuses); a failed emitter group
    // no longer comes here: the shop's data is at fault, not the sale, and the sale stays queued.
    try {
        ctx_.db->execute("delete from TabNCEAEnviar where codvenda = '" + esc(in_.NumVendaVem) + "'");
        journal_.releaseReservations(sale_);
        outcome_.keepRow = false;
        log(e_.OperationMessage + " - " + e_.ErrorDescription + " - " + "Erro da operação: " + in_.NumVendaVem);
    } catch (const std::exception& error) {
        outcome_.pendingError = error.what();
    }
    e_.ErrorDescription.clear();
    release();
    if (ctx_.mainWindow.CloseRequested) context::fecha_aplic(ctx_);
    return outcome_;
}

EmissionOutcome Emission::commonExit() {
    try {
        // An error caught on the way is the machine's or the environment's (certificate, disk, database,
        // files): the sale stays queued and is tried again; the operator hears of each failure once.
        if (!e_.ErrorDescription.empty()) {
            if (outcome_.keepRow) outcome_.failure = e_.ErrorDescription;
            if (isNewFailure(e_.ErrorDescription)) {
                log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + e_.OperationMessage + " - " +
                    e_.ErrorDescription);
                ctx_.frontend().messageBox(e_.ErrorDescription, MessageStyle::Ok, "");
            }
        }
    } catch (const std::exception& error) {
        // The exit itself failed (the log or the database): the sale was not cleaned up, so it stays
        // queued and the poll reports the failure.
        outcome_.pendingError = error.what();
    }
    release();
    if (ctx_.mainWindow.CloseRequested) context::fecha_aplic(ctx_);
    return outcome_;
}

void Emission::release() {
    component_.reset();
    e_.SaleHeader.reset();
    e_.ItemRows.reset();
    e_.ProtocolText.clear();
}

EmissionOutcome EmiteNFCeVenda(context::AppContext& ctx, SaleQueueEntry& entry) { return Emission(ctx, entry).run(); }

std::string saleHeaderSql(database::DbKind kind, const std::string& code, const std::string& dateLiteral) {
    return "SELECT CodigoVenda, Data, CodClientePrazo, Sum(ValorTotalItem) AS ValorProdutos, Sum(Desconto) AS "
           "ValorDesconto, Sum(ValorTotalItem-Desconto) AS ValorNota, 0 AS ValorPIS, 0 AS ValorCofins, "
           "0 As BaseICMS, 0 As ValorICMS, 0 As BaseICMSST, 0 As ValorICMSST, 0 As ValorFrete, 0 As ValorSeguro, "
           "0 As ValorImportacao, 0 As ValorIPI, 0 As ValorOutrasDespesas "
           "FROM VendasConclu "
           "WHERE CodigoVenda = '" + database::sqlEscape(kind, code) + "' AND VendasConclu.Data = " + dateLiteral +
           " and VendasConclu.coditem <> 0 "
           "GROUP BY CodigoVenda, data, CodClientePrazo";
}

std::string saleItemsSql(database::DbKind kind, const std::string& code, const std::string& dateLiteral) {
    return "SELECT VendasConclu.CodigoVenda, VendasConclu.coditem, VendasConclu.discriminacao, VendasConclu.Quantidade, "
           "VendasConclu.ValorUnitario, VendasConclu.ValorTotalItem, VendasConclu.Desconto, VendasConclu.MEDIDA, "
           "Estoque.cfop, Estoque.cst, Estoque.codigofiscal "
           "FROM VendasConclu "
           "     left outer JOIN Estoque ON VendasConclu.CodItem = Estoque.Codigo "
           "WHERE CodigoVenda = '" + database::sqlEscape(kind, code) + "' AND Data = " + dateLiteral +
           " and VendasConclu.coditem <> 0 ";
}

std::string GravaArq(std::string corpo, const std::string& path) {
    using document::SubstituiC;
    const std::string quote = "\"";
    corpo = SubstituiC(corpo, "<?xml version=" + quote + "2.0" + quote, "<?xml version=" + quote + "1.0" + quote, false);
    corpo = SubstituiC(corpo, "<dhEmi>1016", "<dhEmi>2016", false);
    if (corpo.find("<CFOP>5102</CFOP>") != std::string::npos) {
        corpo = SubstituiC(corpo, "<ICMSSN101>", "<ICMSSN102>", false);
        corpo = SubstituiC(corpo, "</ICMSSN101>", "</ICMSSN102>", false);
        corpo = SubstituiC(corpo, "<CSOSN>101</CSOSN>", "<CSOSN>102</CSOSN>", false);
    }
    // Under its name only whole: a partial document is never sent. A failure raises, naming the file.
    platform::writeFileDurably(path, corpo + "\r\n");
    return path;
}

std::string storedDocumentKey(const std::string& caminhoXml, const std::string& corpoXml) {
    std::string key = keyAfter(caminhoXml, "assinado/NFe");
    if (key.empty()) key = keyAfter(caminhoXml, "assinado\\NFe");
    if (key.empty()) return "";
    if (corpoXml.find("<NFe") == std::string::npos || corpoXml.find("NFe" + key) == std::string::npos) return "";
    return key;
}

}  // namespace quorvanti::authorisation
