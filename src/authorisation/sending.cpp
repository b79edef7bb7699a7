// Sending the signed NFC-e and consulting it by key until the authority's answer is final, with the
// classification of every answer by its status code and the words of its texts.
#include <string>

#include "authorisation/emission.h"
#include "authorisation/outcome_texts.h"
#include "authorisation/sale_claims.h"
#include "context/program_files.h"
#include "document/groups/item_group.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"
#include "windows/controls.h"

namespace quorvanti::authorisation {

namespace {

using context::kLineBreak;
using platform::MessageAnswer;
using platform::MessageStyle;

// Sends without an answer that one try of a sale rides out before the sale waits for its next try.
constexpr int kUnansweredSendsPerTry = 3;

constexpr const char* kClosing = "O sistema de NFCe será fechado, aguarde o serviço ser restabelecido";

std::string upper(const std::string& text) { return document::toUpperText(text); }

// The texts of the wait boxes, joined by line breaks.
std::string envText(const std::string& registerLine, bool reestablished) {
    const char* lines[] = {"A Nota Fiscal: ", "Não pode ser processada no WS sem retorno.", "Possiveis causas são:",
                           "- Servidor WS com problemas.", "- Internet com falha."};
    std::string text;
    for (const char* line : lines) text += std::string(line) + kLineBreak;
    text += registerLine + kLineBreak;
    text += reestablished ? "TALVEZ NÃO SEJA POSSIVEL GERAR NOVOS DOCUMENTOS ATÉ QUE O SERVIÇO SEJA REESTABELECIDO"
                          : "TALVEZ NÃO SEJA POSSIVEL GERAR NOVOS DOCUMENTOS ATÉ QUE O SERVIÇO SEJA RESTABELECIDO";
    text += std::string(kLineBreak) + "Efetue a consulta do Recibo daqui 5 minutos novamente." + kLineBreak +
            "Deseja tentar buscar o resultado novamente?";
    return text;
}

}  // namespace

Step Emission::keepUnanswered() {
    const std::string reason = "Sem resposta final da SEFAZ para a venda " + in_.NumVendaVem + ": " +
                               std::to_string(cStat_) + " - " + e_.ResponseText;
    return cStat_ > 8999 ? keepQuietly(reason) : keep(reason);
}

Step Emission::keepQuietly(const std::string& reason) {
    if (isNewFailure(reason)) log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + reason);
    return keep(reason, false);
}

void Emission::noteExchange(int cStat) {
    if (cStat > 0 && cStat <= 8999) {
        ctx_.outage = {};  // the authority answers: the outage, if any, is over
        return;
    }
    if (cStat <= 8999) return;
    // The authority cannot be reached: the operator is told once per outage, when 50 exchanges in a row
    // got no answer; the monitor goes on, and the sales wait with the back-off of kept sales.
    if (++ctx_.outage.unansweredSends >= 50 && !ctx_.outage.told) {
        ctx_.outage.told = true;
        ctx_.frontend().messageBox(
            std::string("Verifique um dos seguintes erros:") + kLineBreak + "1 - Certificado digital vencido" +
                kLineBreak + "2 - Falta de conexão com a internet" + kLineBreak +
                "3 - Ou erro no web service da SEFAZ (Neste caso aguarde o serviço ser estabelecido)" + kLineBreak +
                "Tente novamente mais tarde o SEFAZ não esta respondendo",
            MessageStyle::Ok, "");
    }
}

Step Emission::keepForOutage() {
    return keepQuietly("SEFAZ sem resposta ao envio da venda " + in_.NumVendaVem + ": " + e_.ResponseText +
                       "; novo envio mais tarde");
}

Step Emission::keepWaiting(const char* title, const std::string& text) {
    if (ctx_.frontend().messageBox(text, MessageStyle::YesNoQuestion, title) == MessageAnswer::Yes)
        return keep(std::string(title) + ": sem resposta final da SEFAZ para a venda " + in_.NumVendaVem +
                        "; nova consulta mais tarde",
                    false);
    ctx_.frontend().messageBox(kClosing, MessageStyle::Ok, "");
    endProgram(ExitStatus::OperatorStoppedWait, std::string(title) + ": o operador escolheu não esperar");
}

void Emission::readConsultation() {
    const auto result = component_->consultationResult();
    cStat_ = result.cStat;
    e_.ResponseText = result.xMotivo;
    noteExchange(cStat_);
}

Step Emission::send() {
    auto& component = *component_;
    numberSent_ = nfceNumber(in_.numeroNFCE);
    ctx_.status("Tentativa de envio de lote - Iniciada Codigo Venda: " + in_.NumVendaVem + kLineBreak +
                "Enviando o XML: " + e_.GeneratedXmlPath);
    // Passes without any answer are counted across passes, so that the operator is asked after 30 of
    // them instead of the monitor repeating them silently for ever.
    int silentPasses = 0;
    int unansweredHere = 0;
    // The loop renews the claim at each pass.
    journal_.setState(e_.CurrentAccessKey, attempt_state::kSent);
    for (;;) {
        if (stopRequested()) return keep("Parada solicitada durante o envio", false);
        renewClaim(ctx_, sale_);
        waitCount_ = 0;
        ctx_.status("Gravando envia lote");
        s_.ComponentOk = component.finish();
        method("Método: EnviarNFe");
        sleep(1000);
        const bool sent = component.send({.nNF = static_cast<std::int32_t>(numberSent_), .indSinc = 1, .compress = 0,
                                          .signedXmlPath = signedPath()});
        s_.ComponentOk = sent;
        ctx_.status("Metodo enviar: 989");
        sleep(1000);
        ctx_.status("Tentativa de envio de lote: " + document::integerText(sendAttempts_) + " tentativas");
        sleep(1000);
        int code = component.sendResult().cStat;
        if (sent && code != 105) {
            ctx_.status(std::string("Tentativa de envio de lote - Iniciada 02") + kLineBreak + "Enviando o XML: " +
                        e_.GeneratedXmlPath);
            sleep(1000);
            code = component.sendResult().cStat;
            noteExchange(code);
            if (code <= 8999) return readSendAnswer();
            const auto result = component.sendResult();
            e_.ResponseText = result.cStat == 104 ? result.protocolXMotivo : result.xMotivo;
            if (answerHas(e_.ResponseText, "NCM")) return invalidNcmExit();
            ctx_.status("Tentativa de envio de lote...: " + document::integerText(sendAttempts_) + " tentativas" +
                        kLineBreak + e_.ResponseText);
            sleep(500);
            sendAttempts_ += 1;
            if (answerHas(e_.ResponseText, "objeto não definida")) {
                ctx_.frontend().messageBox("Esta NFCe pode ter sido gerada anterioremente", MessageStyle::Ok, "");
                return consult();
            }
            if (answerHas(e_.ResponseText, "tempo limite da operação")) {
                ctx_.status("O tempo limite de operação esta sendo excedido, verifique melhorias para sua internet");
                wait(4000);
            } else {
                ctx_.status(e_.ResponseText);
                wait(2000);
            }
            // A blip is ridden out at the till; a longer failure leaves the sale to its back-off, however
            // long the outage lasts, instead of ending the monitor.
            if (++unansweredHere >= kUnansweredSendsPerTry) return keepForOutage();
            continue;
        }
        if (++silentPasses >= 30) return keepWaiting("ATENÇÃO - ENV", envText("- Registro 404_2.", false));
    }
}

void Emission::stopIfTheShopMustAct(const std::string& answer) {
    if (answerHas(answer, "nao habilitado")) {
        ctx_.frontend().messageBox("Verifique seu CNPJ CADASTRADO NO SISTEMA, OU VERIFIQUE COM SEU CONTADOR SE HÁ "
                                   "RESTRIÇÕES" + std::string(kLineBreak) + answer,
                                   MessageStyle::Ok, "");
        log(answer + " " + e_.EmissionDateTime + " Da operação: " + in_.NumVendaVem);
        endProgram(ExitStatus::EmitterNotEnabled, "emitente não habilitado");
    }
    if (answerHas(upper(answer), "POSTERIOR")) {
        ctx_.frontend().messageBox("Data ou hora de envio posterior, verfique", MessageStyle::Ok, "");
        endProgram(ExitStatus::EmissionTimeAhead, "data ou hora de emissão posterior");
    }
    if (answerHas(upper(answer), "AMBIENTE INFORMADO")) {
        ctx_.frontend().messageBox("O Ambiente informado diverge do token descrito (provavelmente o arquivo REG não "
                                   "esta no regedit como homologação)" + std::string(kLineBreak) + answer,
                                   MessageStyle::Ok, "");
        endProgram(ExitStatus::WrongEnvironment, "ambiente informado diverge");
    }
    if (answerHas(upper(answer), "ATRASAD")) {
        ctx_.status("Erro de data e hora de envio. AJUSTE A HORA/DATA DO COMPUTADOR " + answer);
        ctx_.frontend().messageBox("AJUSTE A HORA/DATA DO COMPUTADOR " + std::string(kLineBreak) + answer,
                                   MessageStyle::Ok, "");
        endProgram(ExitStatus::EmissionTimeLate, "data e hora de emissão atrasada");
    }
}

Step Emission::readSendAnswer() {
    const auto result = component_->sendResult();
    sleep(1000);
    ctx_.status("Verificando autorização");
    e_.ErrorText = result.cStat == 104 ? result.protocolXMotivo : result.xMotivo;
    sleep(1000);
    ctx_.status("Verificando retorno do envio");
    if (answerHas(e_.ErrorText, "Duplicidade de")) {
        // A 204 is this very document, authorised before (its first answer was lost): the consultation
        // finds its authorisation.
        if (result.protocolCStat == 204 || result.cStat == 204) return consult();
        return duplicity("Duplicidade: " + std::to_string(result.protocolCStat) + " - " + e_.ErrorText, e_.ErrorText);
    }
    // A synchronous send brings the document's protocol at once: the answers the shop must act on stop
    // here as they do when a consultation brings them, instead of being sent again at every try.
    stopIfTheShopMustAct(e_.ErrorText);
    if (answerHas(e_.ErrorText, "Erro") || answerHas(e_.ErrorText, "Rejeicao") || answerHas(e_.ErrorText, "(1,2)"))
        return keep("Erro - E1 " + e_.ErrorText);  // sent again later, with the same number
    ctx_.status("Informação Recibo");
    receiptText_.clear();
    ctx_.status("Informação do status");
    cStat_ = result.cStat;
    ctx_.status("Data de recibo");
    sleep(1000);
    e_.ProtocolDateTime = result.dhRecbto;
    ctx_.status("Gravando no INI");
    ctx_.status("Gravando no INI");
    return consult();
}

Step Emission::consult() {
    auto& component = *component_;
    const auto& key = e_.CurrentAccessKey;
    ctx_.status("Realizando consulta");
    ctx_.status("Realizando consulta 1");
    waitCount_ = 0;
    for (;;) {
        ctx_.status("Realizando consulta 2 - " + key + kLineBreak + ctx_.locations.programFolder);
        // Between consultations of an answer that is not final yet, the authority's time is waited.
        if (waitCount_ > 0) wait(1000);
        else sleep(1000);
        method("Método: ConsultarProtocolo");
        s_.ComponentOk = component.consultByKey(key);
        readConsultation();
        ctx_.status(std::to_string(cStat_) + " - " + e_.ResponseText);
        // Not received: the document is sent (or made) again at the sale's next try.
        if (cStat_ == 217)
            return keep("NFC-e " + key + " não recebida pela SEFAZ (" + e_.ResponseText + "); novo envio mais tarde");
        if (uncertainAnswer(cStat_, e_.ResponseText))
            return keepUnanswered();
        stopIfTheShopMustAct(e_.ResponseText);
        sleep(1000);
        ctx_.status("Realizando consulta 3 - " + key);
        sleep(1000);
        if (answerHas(e_.ResponseText, "Erro no documento XML")) return xmlErrorExit();
        ctx_.status("RetornoAutoriz.: " + e_.ResponseText);
        if (cStat_ == 104) {
            const auto result = component.consultationResult();
            protocolStatus_ = result.protocolCStat;
            reasonText_ = result.protocolXMotivo;
            if (protocolStatus_ == 539 || protocolStatus_ == 204)
                return duplicity("Duplicidade: " + std::to_string(protocolStatus_) + " - " + reasonText_, reasonText_);
        }
        stopIfTheShopMustAct(e_.ResponseText);
        if (answerHas(upper(e_.ResponseText), "DUPLICIDADE#")) return duplicity("Duplicidade", e_.ResponseText);
        ctx_.status("Realizando consulta 4");
        if (cStat_ == 104) {
            const auto result = component.consultationResult();
            protocolStatus_ = result.protocolCStat;
            reasonText_ = result.protocolXMotivo;
            if (answerHas(reasonText_, "Rejeicao")) return rejectionExit();
        }

        // Inner consultation, repeated while the authority points at another key.
        bool final = true;
        for (;;) {
            method("Método: ConsultarProtocolo");
            s_.ComponentOk = component.consultByKey(key);
            readConsultation();
            if (cStat_ == 217 || uncertainAnswer(cStat_, e_.ResponseText))
                return keepUnanswered();
            ctx_.status("Realizando consulta 4");
            if (answerHas(e_.ResponseText, "Erro no documento XML")) return xmlErrorExit();
            ctx_.status("Realizando consulta 5");
            if (answerHas(e_.ResponseText, "HTTP 404") || answerHas(e_.ResponseText, "Lote em processamento") ||
                answerHas(e_.ResponseText, "xmlThere is") || answerHas(e_.ResponseText, "Rejeicao")) {
                final = false;
                break;
            }
            ctx_.status("Realizando consulta 6");
            stopIfTheShopMustAct(e_.ResponseText);
            if (answerHas(e_.ResponseText, "ERRO 93")) {
                ctx_.status("Buscando XML: " + e_.ResponseText);
                return reception();
            }
            ctx_.status("Consulta realizada 7: " + e_.ResponseText);
            if (e_.ResponseText.empty()) return Step::CommonExit;
            ctx_.status("Iniciando Status: " + e_.ResponseText);
            sleep(1000);
            readConsultation();
            ctx_.status("7 - Status: " + std::to_string(cStat_) + " - " + e_.ResponseText);
            sleep(1000);
            e_.ErrorText = component.consultationResult().xMotivo;
            if (cStat_ != 562) break;
            // The authority names the key it holds for this number: the monitor follows it. The key is
            // the 44 digits inside the brackets (the label "chNFe:" before them is skipped).
            const std::string named = keyInBrackets(e_.ErrorText);
            if (named.empty()) break;
            // Followed only when it is this sale's own document; another document under this number is
            // a duplicity.
            if (!isOwnKey(named)) return duplicity("Duplicidade: 562 - " + e_.ErrorText, e_.ErrorText);
            e_.CurrentAccessKey = named;
            ctx_.status("Consultando Chave: " + named);
            rememberKey(named);
        }
        if (!final) {
            if (stopRequested()) return keep("Parada solicitada durante a consulta", false);
            ++waitCount_;
            if (waitCount_ >= 10) return keepWaiting("ATENÇÃO - ENV1", envText("- Registro 404.", true));
            ctx_.status("Realizando consulta: Tentativas " + std::to_string(waitCount_) + "/30 " + kLineBreak +
                        " Chave: " + key + kLineBreak + e_.ResponseText);
            continue;
        }

        // The protocol of the answer.
        const auto result = component.consultationResult();
        e_.ProtocolDateTime = result.protocolDhRecbto;
        e_.ProtocolNumber = result.nProt;
        e_.ProtocolText = e_.ProtocolNumber + " - " + e_.ProtocolDateTime;
        ctx_.status("Realizando consulta 8");
        if (answerHas(upper(e_.ErrorText), "AMBIENTE INFORMADO")) return keep(e_.ErrorText);
        // 613: another document holds this number under another key. The sale is not at fault: it is
        // made again at its next try (under the next free number, through the duplicity).
        if (cStat_ == 613) return keep(e_.ErrorText);
        ctx_.status("Realizando consulta 9");
        // A numeric code the authority refuses is this program's, not the sale's: a new document fixes it.
        if (answerHas(e_.ErrorText, "Codigo Numerico")) return keep(e_.ErrorText);
        ctx_.status("Realizando consulta 10");
        if (answerHas(upper(e_.ErrorText), "CERTIFICADO")) {
            monitorShutdownDialog();
            return keep(e_.ErrorText);
        }
        ctx_.status("Motivo..: " + e_.ErrorText);
        sleep(1000);
        if (isDenial(cStat_)) return denied(std::to_string(cStat_) + " - " + e_.ErrorText);
        if (cStat_ == 104 && isDenial(protocolStatus_))
            return denied(std::to_string(protocolStatus_) + " - " + reasonText_);
        if (!authorises(cStat_) && cStat_ != 562) return notSent();
        return reception();
    }
}

Step Emission::reception() {
    auto& component = *component_;
    ctx_.status("Recepção");
    // Before reading a final answer the pause only shows the caption; before asking again about one
    // that is not final, it is the authority's time.
    if (authorises(cStat_)) sleep(4000);
    else wait(4000);
    for (;;) {
        ctx_.status(e_.CurrentAccessKey + "10 - Recepção...: ");
        method("Método: Consulta Protocolo 2");
        s_.ComponentOk = component.consultByKey(e_.CurrentAccessKey);
        e_.ResponseText = component.consultationResult().xMotivo;
        if (!answerHas(e_.ResponseText, "HTTP 404") && !answerHas(e_.ResponseText, "Lote em processamento") &&
            !answerHas(e_.ResponseText, "xmlThere is"))
            break;
        // Not final yet: a stop asked for ends the wait here; the next start consults the key again.
        if (stopRequested()) return keep("Parada solicitada durante a recepção", false);
        ++waitCount_;
        ctx_.status("Tentativas de recepção: " + std::to_string(waitCount_) + "/30");
        if (waitCount_ >= 30)
            return keepWaiting("ATENÇÃO - ENV2",
                               envText("- Registro da falha 404_1.", true) + kLineBreak + kLineBreak + e_.ResponseText);
        wait(500);
    }
    return afterReception();
}

Step Emission::afterReception() {
    auto& component = *component_;
    ctx_.status("Recepção realizada");
    if (answerHas(e_.ResponseText, "Duplicidade")) return duplicity("Duplicidade(retro)", e_.ResponseText);
    if (answerHas(e_.ResponseText, "Erro 98")) {
        ctx_.status("Erro de recepção");
        return keep(e_.ResponseText);
    }
    auto result = component.consultationResult();
    cStat_ = result.protocolCStat;
    e_.ErrorText = result.protocolXMotivo;
    e_.ResponseText = e_.ErrorText;
    ctx_.status("11 - Continuando processo: " + std::to_string(cStat_) + " - " + e_.ErrorText);
    if (cStat_ == 999) return notSent();
    // A duplicity is never a reason to drop the sale: its own document is completed, or it goes again
    // under the next number.
    if (answerHas(e_.ResponseText, "Duplicidade"))
        return duplicity("Duplicidade-12 " + e_.ResponseText, e_.ResponseText);
    if (answerHas(e_.ResponseText, "Rejeicao") || answerHas(e_.ResponseText, ":NCM")) {
        // An item rejection names the item ("[nItem:2]").
        const auto at = e_.ResponseText.find("[nItem:");
        if (at != std::string::npos) {
            const auto end = e_.ResponseText.find(']', at);
            itemPosition_ = e_.ResponseText.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
        }
        protocolStatus_ = result.protocolCStat;
        reasonText_ = result.protocolXMotivo;
        return rejectionExit();
    }
    if (cStat_ != 105 && cStat_ != 217) {
        receiptText_ = receiptInAnswer(result.xMotivo);
        e_.ProtocolDateTime = result.protocolDhRecbto;
        protocolStatus_ = result.protocolCStat;
        reasonText_ = result.protocolXMotivo;
        e_.ProtocolNumber = result.nProt;
        ctx_.status("12 - Protocolo: " + e_.ProtocolNumber + " - " + reasonText_);
    }
    if (answerHas(reasonText_, "Duplicidade")) {
        ctx_.status("Duplicidade será incrementado um numero de NFCe na base-11");
        sleep(2000);
    }
    stopIfTheShopMustAct(reasonText_);
    ctx_.status("Resposta: " + reasonText_);
    if (answerHas(e_.ErrorText, "Erro") || answerHas(e_.ErrorText, "Rejeicao")) {
        ctx_.status("Verificando se rejeição");
        if (isNewFailure(e_.ErrorText))
            ctx_.frontend().messageBox(e_.ErrorText, MessageStyle::OkExclamation, "");
        outcome_.failure = e_.ErrorText;
        return Step::Keep;
    }
    if (protocolStatus_ == 204 || protocolStatus_ == 539)
        return duplicity("Duplicidade: " + std::to_string(protocolStatus_) + " - " + reasonText_, reasonText_);
    if (authorises(protocolStatus_)) return Step::Completion;
    if (isDenial(protocolStatus_)) return denied(std::to_string(protocolStatus_) + " - " + reasonText_);
    return notSent();
}

Step Emission::earlierDocument(const std::string& key) {
    ctx_.status("Processo recibo");
    wait(2000);
    useOwnDocument(key);
    rememberKey(key);
    ++waitCount_;
    ctx_.status("Consultando nota em processamento");
    if (waitCount_ > 6) {
        if (cStat_ != 105)
            return keep("Sem resposta final da SEFAZ sobre a NFC-e " + key + " da venda " + in_.NumVendaVem, false);
        std::string text = std::string("POR FAVOR LEIA A MENSAGEM ATÉ O FINAL") + kLineBreak + "A Nota Fiscal: " +
                           kLineBreak + "Ficou em PROCESSAMENTO no WS sem retorno." + kLineBreak +
                           "Possiveis causas são:" + kLineBreak + "- Servidor WS com problemas." + kLineBreak +
                           "- Internet com falha." + kLineBreak +
                           "TALVEZ NÃO SEJA POSSIVEL GERAR NOVOS DOCUMENTOS ATÉ QUE O SERVIÇO SEJA REESTABELECIDO" +
                           kLineBreak + "Deseja tentar buscar o resultado novamente?";
        return keepWaiting("ATENÇÃO - ENV3", text);
    }
    wait(2000);
    return reception();
}

Step Emission::duplicity(const std::string& caption, const std::string& answerText) {
    ctx_.status(caption);
    sleep(1000);
    // 539 names the document the authority holds for this number; 204 is the document just sent.
    std::string named = keyInBrackets(answerText);
    if (named.empty() && (protocolStatus_ == 204 || cStat_ == 204)) named = e_.CurrentAccessKey;
    if (!named.empty() && isOwnKey(named)) return earlierDocument(named);
    if (fromStoredDocument_) {
        // A contingency document was handed to the customer with its number: it is never renumbered.
        return keep("Venda " + in_.NumVendaVem + ": o número da NFC-e em contingência " + e_.CurrentAccessKey +
                    " consta na SEFAZ em outro documento (" + answerText + "); verifique com o contador");
    }
    // The number the authority reported as used is skipped, never reused; if config is already further
    // on (other sales went out meanwhile), the sale takes the next free number.
    journal(attempt_state::kAbandoned, answerText);
    setNumber(nextFreeNumber(numberSent_));
    return Step::Restart;
}

Step Emission::denied(const std::string& reason) {
    // The authority keeps a denied document: its number is used for good, and the sale, still owed its
    // NFC-e, stays queued to be made again under a new number (when the denial is lifted, for one of
    // the emitter; 302, the recipient's, goes at once to the next try).
    journal(attempt_state::kDenied, reason);
    advanceNumberPast(numberSent_);
    if (cStat_ == 301 || protocolStatus_ == 301)
        ctx_.newDocumentsPausedUntil = ctx_.services.clock.steadyNow() + context::RetrySchedule::kLongestDelay;
    return keep("Uso denegado da NFC-e " + e_.CurrentAccessKey + " da venda " + in_.NumVendaVem + ": " + reason);
}

Step Emission::rejectionExit() {
    ctx_.db->execute("delete from TabNCEAEnviar where codvenda = '" + esc(in_.NumVendaVem) + "'");
    journal(attempt_state::kRejected, std::to_string(protocolStatus_) + " - " + reasonText_);
    journal_.releaseReservations(sale_);
    outcome_.keepRow = false;
    ctx_.status("Rejeição: " + std::to_string(protocolStatus_) + " - " + reasonText_);
    log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + " Posição: " + itemPosition_ + " - " +
        std::to_string(protocolStatus_) + " - " + reasonText_);
    tellDropped(std::to_string(protocolStatus_) + " - " + reasonText_);
    return Step::CommonExit;
}

Step Emission::invalidNcmExit() {
    ctx_.db->execute("delete from TabNCEAEnviar where codvenda = '" + esc(in_.NumVendaVem) + "'");
    journal(attempt_state::kRejected, std::to_string(cStat_) + " - " + e_.ResponseText);
    journal_.releaseReservations(sale_);
    outcome_.keepRow = false;
    log(e_.EmissionDateTime + " - " + in_.NumVendaVem + " - " + " Posição: " + itemPosition_ + " - " +
        std::to_string(cStat_) + " - " + e_.ResponseText);
    tellDropped(std::to_string(cStat_) + " - " + e_.ResponseText);
    return Step::CommonExit;
}

// A sale dropped on the authority's word leaves the queue for good: the operator is told which and why,
// so that the shop can correct it and queue it again.
void Emission::tellDropped(const std::string& reason) {
    ctx_.frontend().messageBox("Venda " + in_.NumVendaVem + " retirada da fila: " + reason, MessageStyle::Ok, "");
}

Step Emission::xmlErrorExit() {
    ctx_.status("Erro de XML");
    sleep(1000);
    // Our message could not be made or read (a missing signed file, a fault of the service): the sale
    // is not at fault and stays queued.
    return keep(e_.ResponseText);
}

}  // namespace quorvanti::authorisation
