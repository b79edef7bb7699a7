// The local tax authority's rules: what each of its NFC-e services answers to a request, given what
// the state store remembers and what the scenario says. A request body (SOAP 1.2 envelope) goes
// in, the answer (envelope, fault, HTTP error or a dropped connection, and a wait) comes out; there is
// no network here, so tests drive the rules directly.
//
// The authorisation checks, in order: the batch (enviNFe 4.00, idLote, indSinc, 1 to 50 NFe; one NFe
// when synchronous: 452) and each NFe's schema (225 for the whole batch); then per document the
// signature (298, 290, 291, 293, 297), the key's check digit (236), the state (226), the key against
// the document's fields (502; 562 when only the numeric code differs), cDV (253), the environment
// (252), the emitter's CNPJ (207) and the signer's CNPJ base (213), the homologation texts (373, 598),
// the emission time against the time of receipt (703, 704; 5 minutes by default), the totals and the
// payments (totals_check.h), and duplicity: the same key again (204) or the same emitter, model,
// series and number under another key (539). A document that passes is authorised
// (100) with a protocol and kept in the state folder. A document whose number was voided is 206.
//
// Fiscal events (authority_events.cpp): the batch's schema (225), then per event the signature (as the
// NFC-e's, over infEvento), the Id against its fields (572), cOrgao (250), the environment (252), the
// key's check digit (236) and state (226), the author's CNPJ (489; 574 when not the key's emitter; 213
// against the signer), nSeqEvento 1 (889), the key held as authorised (217; 205 when denied), an earlier
// cancellation (573), nProt (222); a cancellation (110111) within the window is 135, past it 501 (155
// when out-of-time cancellations are granted); a cancellation by substitution (110112) within 168 hours
// (501) whose substitute is held as authorised (882) and meets substitution_check.h is 135.
// Number voiding (authority_voiding.cpp): the schema (225), the signature, the Id against its fields
// (225), the state (226), the environment (252), the CNPJ (207, 213), the range (890, 891), the same
// request already voided (563, with its protocol), a number of the range used (241) or voided (256);
// else 102 and the range is kept.
// Thread-safe: calls are serialised; the wait a scenario asks for is left to the caller.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sefaz_simulator/checks/message_schema.h"
#include "sefaz_simulator/checks/signature_check.h"
#include "sefaz_simulator/messages/service.h"
#include "sefaz_simulator/scenario.h"
#include "sefaz_simulator/state_store.h"

typedef struct _xmlDoc xmlDoc;

namespace quorvanti::sefaz {

struct AuthoritySettings {
    std::string uf = "MT";           // the state served (cUF of the answers, documents of other states: 226)
    int environment = 2;             // 1 production, 2 homologation (tpAmb)
    std::string schemaFolder;        // NFe schemas: official package folder; "" = the component's own schema
    std::string trustedAuthorities;  // PEM file signers must chain to; "" = any certificate that verifies
    bool plainTexts = false;         // standard texts without accents ("Rejeicao: ...")
    int clockToleranceMinutes = 5;   // >= 0: dhEmi later than receipt + tolerance is 703, earlier than
                                     // receipt - tolerance is 704 (normal emission only); < 0: not checked
    std::function<std::time_t()> clock;  // the time of receipt; empty = the system clock
    int cancelWindowMinutes = 30;    // a cancellation received later after the authorisation is 501 ...
    bool lateCancel = false;         // ... or, when true, 155 (the state granted it out of time)
    std::map<std::string, std::string> cscs;  // CSC by identifier (no leading zeros): QR code hashes checked
};

// What the transport does with a request.
struct Reply {
    int httpStatus = 200;
    std::string contentType;   // of `body`
    std::string body;
    int delayMs = 0;           // wait this long before answering (or dropping)
    bool drop = false;         // close the connection without an answer
    std::string summary;       // one line for the log
};

class Authority {
public:
    // Raises std::runtime_error when the trusted authorities cannot be read.
    Authority(AuthoritySettings settings, StateStore& store, ScenarioFile& scenario);
    Authority(const Authority&) = delete;
    Authority& operator=(const Authority&) = delete;

    // Answers one POST of `requestBody` to `service`.
    Reply answer(Service service, std::string_view requestBody);

    // "yyyy-mm-ddThh:mm:ss-04:00": `time` in the served state's offset, as dhRecbto is written.
    std::string dateTime(std::time_t time) const;

private:
    struct Verdict;
    struct EventVerdict;
    // What one call carries through the rules.
    struct Call {
        std::time_t now = 0;
        std::string dh;  // `now` as dhRecbto is written
        ScenarioDecision decision;
        std::string summary;

        // The forced protocol of the decision for `key` ("" for a call without a key), if any.
        const ForcedStatus* forcedProtocolFor(const std::string& key) const {
            if (!decision.action.protocol) return nullptr;
            return decision.key.empty() || decision.key == key ? &*decision.action.protocol : nullptr;
        }
        void note(const std::string& text) { summary += summary.empty() ? text : "; " + text; }
    };

    std::string text(int cStat, std::string_view key = "", std::string_view receipt = "") const;
    std::string forcedText(const ForcedStatus& forced, std::string_view key, std::string_view receipt) const;
    std::string protocolXml(const std::string& key, const std::string& dh, const std::string& nProt,
                            const std::string& digVal, int cStat, const std::string& xMotivo) const;
    std::string newProtocolNumber(const std::string& dh);
    std::string newReceiptNumber();

    std::string authorise(xmlDoc* message, Call& call);
    std::string judgeDocument(xmlDoc* nfe, const std::string& receipt, Call& call);
    Verdict verdict(xmlDoc* nfe, const std::string& key, std::time_t now) const;
    std::string consultReceipt(xmlDoc* message, Call& call);
    std::string consultProtocol(xmlDoc* message, Call& call);
    std::string serviceStatus(xmlDoc* message, Call& call);
    std::vector<std::string> keysOf(Service service, xmlDoc* message) const;

    std::string receiveEvents(xmlDoc* message, Call& call);
    std::string judgeEvent(xmlDoc* evento, Call& call);
    EventVerdict eventVerdict(xmlNode* infEvento, std::time_t now) const;
    // The retEvento cStat of the cancellation (110111 or 110112) registered for `key`; 0 when none.
    int cancellationStatus(const std::string& key) const;
    std::string voidNumbers(xmlDoc* message, Call& call);
    // What the schema (or, without --schemas, the built-in reading) finds wrong with an event batch or
    // a voiding request; "" when nothing.
    std::string eventBatchSchemaProblem(xmlDoc* message);
    std::string voidingSchemaProblem(xmlDoc* message);

    AuthoritySettings settings_;
    std::string cUF_;
    StateStore& store_;
    ScenarioFile& scenario_;
    SignatureChecker signatures_;
    MessageSchemas messageSchemas_;
    std::mutex mutex_;
};

}  // namespace quorvanti::sefaz
