// The documents of fiscal events (layout 1.00: cancellation 110111, cancellation by substitution 110112)
// and of number voiding (inutilização 4.00): the unsigned requests `evento` and `inutNFe`, the batch
// `envEvento` that carries one signed evento, and the documents the emitter keeps, procEventoNFe and
// ProcInutNFe. Requests are written in the same form as the NFC-e (no blanks between elements, texts
// escaped as canonical XML escapes them), so that signing them changes nothing but the added Signature.
// The checks that refuse arguments raise ComponentError with a Portuguese description for the operator.
// Pure functions; safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "fiscal_component/interface/component_arguments.h"
#include "platform/clock.h"

namespace quorvanti::fiscal {

inline constexpr std::int32_t kCancellation = 110111;
inline constexpr std::int32_t kCancellationBySubstitution = 110112;

// Who makes the request: the configuration's state, environment and CNPJ, and the application's
// version (verAplic of a cancellation by substitution).
struct EventIssuer {
    std::string uf;       // "MT"
    int tpAmb = 2;        // 1 production, 2 homologation
    std::string cnpj;     // 14 digits
    std::string verAplic; // 1 to 20 characters
};

// An unsigned request and the Id of its signed element ("ID" + digits).
struct UnsignedRequest {
    std::string id;
    std::string xml;  // the root element's text, no XML declaration
};

// The evento of `args` (versao 1.00, infEvento Id "ID" + tpEvento + chNFe + nSeqEvento in 2 digits;
// cOrgao the state of the key's first two digits). Raises ComponentError, before anything is built, for: an event other than 110111 and 110112,
// a key or (110112) substitute key that is not 44 digits, a protocol that is not 15 or 17 digits, an
// nSeqEvento outside 1..20, a reason (xJust, blanks reduced as in the NFC-e) outside 15..255 characters
// or with characters the layout does not allow, a dhEvento not in the form yyyy-mm-ddThh:mm:ss±hh:mm,
// a batch number outside 0..999999999999999, and an issuer without a known state or a 14-digit CNPJ.
UnsignedRequest eventoRequest(const EventArgs& args, const EventIssuer& issuer);

// The inutNFe of `args` (versao 4.00, model 65, xServ INUTILIZAR; infInut Id "ID" + cUF + ano + CNPJ +
// mod + serie in 3 digits + nNFIni and nNFFin in 9 digits each). 2000 to 2099 count as their last two
// digits (the component puts the current year in place of a 0 before calling this). Raises
// ComponentError for: a series outside 0..999, numbers outside 1..999999999, a first number above the
// last, a range of more than 10 000 numbers, a year outside 1..99 (after the above), the reason as for
// the events, and an issuer as above.
UnsignedRequest inutNFeRequest(const VoidingArgs& args, const EventIssuer& issuer);

// envEvento 1.00 with `idLote` and the signed `evento` (an element's text) verbatim.
std::string envEventoMessage(std::string_view evento, std::int64_t idLote);

// An inutNFe without a range or signature: refused by the authority's schema, so it voids nothing (the
// connection check's probe).
std::string emptyInutNFeMessage();

// procEventoNFe 1.00 with its XML declaration: the signed `evento`, then `retEvento` (elements' texts).
std::string procEventoDocument(std::string_view evento, std::string_view retEvento);

// ProcInutNFe 4.00 (the root's name as the official schema procInutNFe_v4.00.xsd spells it) with its XML
// declaration: the signed `inutNFe`, then `retInutNFe`.
std::string procInutDocument(std::string_view inutNFe, std::string_view retInutNFe);

// "<KEY>-<tpEvento>-<nSeqEvento>": the stem of an event's files ("…-procEventoNFe.xml" under
// "arquivos/eventos/", "…-evento-assinado.xml", "…-ret-env-evento.xml" under "retornos/").
std::string eventFileStem(std::string_view accessKey, std::int32_t tpEvento, std::int32_t nSeqEvento);

// "<Id without ID>": the stem of a voiding's files ("…-procInutNFe.xml" under "arquivos/inutilizadas/",
// "…-inutNFe-assinado.xml", "…-ret-inut.xml" under "retornos/").
std::string voidingFileStem(std::string_view infInutId);

// `instant` as "yyyy-mm-ddThh:mm:ss±hh:mm" on a clock set to `offset` east of UTC (whole minutes).
std::string dateTimeWithOffset(platform::Instant instant, std::chrono::seconds offset);

}  // namespace quorvanti::fiscal
