// The NFC-e web-service operations of the fiscal component: the send of a signed NFC-e (enviNFe 4.00),
// the consultation by access key, the service status, the send of a signed fiscal event (envEvento 1.00)
// and of a signed voiding of numbers (inutNFe 4.00); each answers the component's result
// record, with a transport failure as a code above 8999 (soap_transport.h). Every answer body is written
// under "<documentFolder>retornos/" ("<KEY>-ret-envi.xml", "<KEY>-ret-cons-reci.xml",
// "<KEY>-ret-cons-sit.xml", "<cUF>-<yyyymmddhhmmss>-ret-sta.xml", "<KEY>-<tpEvento>-<nSeq>-ret-env-evento.xml",
// "<Id without ID>-ret-inut.xml"), and whenever an answer holds an
// authorising protocol (protNFe cStat 100 or 150) for a key, the authorised document
// "<documentFolder>arquivos/procNFe/<KEY>-procNFe.xml" (nfeProc 4.00: the signed NFe, byte for byte,
// then the protNFe) is written, with the signed NFe of the send or of
// "<documentFolder>arquivos/assinado/NFe<KEY>-assinado.xml".
//
// The consultation by key answers so that the emission routine's classification works:
//  (a) the last send of the key answered 103 with a receipt: NFeRetAutorizacao4 (consReciNFe); cStat and
//      xMotivo are the answer's (105 "Lote em processamento", 104 ...) and the protocol fields the key's
//      protNFe; except that an authorising protocol is answered as the consultation by key (c) answers
//      it, with cStat and xMotivo of the protocol (100 "Autorizado o uso da NF-e"), since the routine
//      completes only on 100, and that a protocol 204 is answered by (c) itself;
//  (b) the last send of the key answered synchronously with a protNFe that neither authorises nor is
//      204: cStat 104, xMotivo "Lote processado", the protocol fields of that protNFe, without a call
//      (the authority keeps no rejected document, so a consultation would answer 217 and hide the
//      rejection; a 539 must reach the routine to make it emit again under the next number);
//  (c) otherwise: NFeConsultaProtocolo4 (consSitNFe); cStat and xMotivo of retConsSitNFe, the protocol
//      fields from its protNFe. A 204 ("Duplicidade de NF-e": the same key sent again, typically after a
//      send whose answer was lost) comes here: the authority answers the authorisation it gave the key,
//      where replaying the 204 would make the routine drop an authorised sale as rejected.
// A transport failure leaves the protocol fields empty. The consultation (c) also reports the events the
// answer carries (procEventoNFe elements of the key: a cancelled NFC-e answers 101 or 135/155 with its
// protNFe and them) in `events`, and writes each one not yet kept as
// "<documentFolder>arquivos/eventos/<KEY>-<tpEvento>-<nSeq>-procEventoNFe.xml", the element as the
// authority sent it; one that cannot be written is not reported (storeFailure tells of the procNFe
// alone, which the emission routine stops on) and is written by the next consultation.
//
// The documents of events and voidings: a registered event (retEvento cStat 135, 136, 155) is kept as
// "<documentFolder>arquivos/eventos/<KEY>-<tpEvento>-<nSeq>-procEventoNFe.xml" (procEventoNFe 1.00: the
// signed evento byte for byte, then its retEvento); a voided range (102, or 563 with the earlier protocol)
// as "<documentFolder>arquivos/inutilizadas/<Id without ID>-procInutNFe.xml" (ProcInutNFe 4.00: the
// signed inutNFe, then retInutNFe), except that a 563 leaves a document already kept for the range
// alone. Durable writes; a failure is told in the result's storeFailure, never raised.
// One object per component instance, used from one thread; the connections behind it are shared
// process-wide.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "fiscal_component/interface/component_arguments.h"
#include "fiscal_component/sefaz/soap_transport.h"

namespace quorvanti::fiscal {

struct WebServiceSettings {
    std::string uf;              // the emitter's state, "MT"
    int tpAmb = 2;               // 1 production, 2 homologation
    std::string documentFolder;  // program folder + "nfe/"
    std::string timeoutMs = "30000";  // the configuration's time-out text
};

// How a call reaches the authority: callWebService, or a stand-in that answers without a server (the
// answer readers are then exercised on any text).
using SoapTransport = std::function<SoapOutcome(const SoapCall& call, std::string_view messageName)>;

class WebServices {
public:
    // `certificate` gives the emitter's certificate for https calls (see CertificateSource).
    WebServices(WebServiceSettings settings, CertificateSource certificate, SoapTransport transport = callWebService);

    // Sends the signed NFC-e in the file at `signedXmlPath`: enviNFe with idLote = args.nNF and
    // indSinc = args.indSinc. A file that is missing or not a signed NFe answers 9099.
    SendResult send(const std::string& signedXmlPath, const SendArgs& args);
    // The same with the signed NFe's text (an XML declaration before it is dropped; the NFe element goes
    // into the message byte for byte).
    SendResult sendDocument(std::string_view signedNfe, const SendArgs& args);

    // The consultation by key (44 digits, "NFe" before them allowed), as described above.
    ConsultationResult consult(std::string_view accessKey);

    // consStatServ (tpAmb, cUF, STATUS): cStat 107 "Serviço em Operação" when the service works.
    ServiceStatusResult serviceStatus();

    // Sends the signed evento (its text, an XML declaration before it dropped) as envEvento 1.00 with
    // `idLote`: cStat/xMotivo of retEnvEvento (128 when the batch was processed), the event's cStat,
    // xMotivo, nProt and dhRegEvento from its retEvento. A text that is not a signed evento of a key
    // answers 9099 without a call.
    EventResult sendEvent(std::string_view signedEvento, std::int64_t idLote);

    // Sends the signed inutNFe (its text) as it is: cStat, xMotivo, nProt, dhRecbto of retInutNFe's
    // infInut. A text that is not a signed inutNFe answers 9099 without a call.
    VoidingResult voidNumbers(std::string_view signedInutNFe);

    const WebServiceSettings& settings() const { return settings_; }

private:
    // What the last send of a key answered, as the consultation needs it.
    struct LastSend {
        std::string receipt;           // nRec of a 103 answer
        bool rejected = false;         // a synchronous protNFe that does not authorise
        ConsultationResult protocol;   // its fields, for (b)
    };

    ConsultationResult consultReceipt(const std::string& key, const std::string& receipt);
    ConsultationResult consultProtocol(const std::string& key);
    // The address of `service`, or the failure that stands for its absence.
    std::string address(WebService service, TransportFailure& failure) const;
    SoapOutcome call(WebService service, std::string message, std::string_view messageName);
    void keepAnswer(const std::string& fileName, const std::string& body) const;
    // Reports the procEventoNFe elements of `key` among the children of `answer` and keeps each file.
    void keepEvents(const std::string& key, xmlNode* answer, ConsultationResult& result) const;
    // Writes the procNFe of `key` when `protNFe` authorises it; `signedNfe` "" = read the signed file.
    void keepAuthorised(const std::string& key, xmlNode* protNFe, std::string_view signedNfe) const;

    WebServiceSettings settings_;
    CertificateSource certificate_;
    SoapTransport transport_;
    std::map<std::string, LastSend> lastSends_;
};

// ---- the messages and the authorised document, as the operations write them ----

// The root element's text of an XML file's content: without a byte-order mark, declaration and the
// blanks around the element (what the send puts into the message).
std::string_view rootElementText(std::string_view xml);

// enviNFe 4.00 holding `nfe` (the NFe element's text, no declaration) verbatim.
std::string enviNFeMessage(std::string_view nfe, std::int64_t idLote, int indSinc);
// consReciNFe 4.00.
std::string consReciNFeMessage(int tpAmb, std::string_view nRec);
// consSitNFe 4.00 (xServ CONSULTAR).
std::string consSitNFeMessage(int tpAmb, std::string_view accessKey);
// consStatServ 4.00 (xServ STATUS).
std::string consStatServMessage(int tpAmb, std::string_view cUF);
// nfeProc 4.00 with its declaration: `nfe` verbatim, then `protNFe` (an element's text).
std::string nfeProcDocument(std::string_view nfe, std::string_view protNFe);

}  // namespace quorvanti::fiscal
