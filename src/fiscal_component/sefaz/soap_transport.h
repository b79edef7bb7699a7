// SOAP 1.2 calls to the tax authority's web services over HTTPS with the emitter's client certificate
// (libcurl), and the reading of their answers. Every way a call can fail without a usable answer from
// the authority becomes a TransportFailure: a status code above 8999 with a text that carries exactly
// one of the words by which the emission routine classifies an answer. The table (the detail in
// parentheses is curl's, libxml2's or the server's own description):
//
// | Code | Condition                                              | Text begins / carries                        |
// |------|--------------------------------------------------------|----------------------------------------------|
// | 9001 | no complete answer within the time-out (connecting     | "Erro de comunicação: tempo limite da        |
// |      | included)                                              |  operação excedido (N ms) ..."               |
// | 9002 | no connection: name not resolved, connection refused,  | "Falha de comunicação: não foi possível      |
// |      | host or network unreachable                            |  conectar ao servidor HOST ..."              |
// | 9003 | the server's certificate is not trusted by the CA file | "Falha de comunicação: o certificado do      |
// |      | (or the system's bundle), or not issued for that host; |  servidor HOST:PORT não é confiável (...);   |
// |      | or the CA file cannot be read                          |  emitido por ISSUER ..." (server_trust.h);   |
// |      |                                                        |  "... o arquivo de autoridades F ... não     |
// |      |                                                        |  pôde ser lido ..."                          |
// | 9004 | the server refused the emitter's certificate during    | "Falha de comunicação: o servidor HOST       |
// |      | the TLS handshake (an alert about the certificate)     |  recusou o certificado digital ..."          |
// | 9005 | any other TLS failure (no common protocol or cipher)   | "Falha de comunicação: a negociação TLS ..." |
// | 9006 | the client certificate or its key cannot be used: none | "Erro no certificado digital: conjunto de    |
// |      | configured or loadable, expired, key not matching      |  chaves não encontrado ou inválido para o    |
// |      |                                                        |  certificado ..."                            |
// | 9007 | no address for the service, or an unusable one (not    | "Endereço do serviço ... desconhecido ..."   |
// |      | https: webservices.ini never sends over plain http)    | ("... recusado ...")                         |
// | 9000 | any other failure of the transfer                      | "Falha de comunicação com SERVICE ..."       |
// | 9093 | the connection was closed or reset before a complete   | "ERRO 93 - conexão encerrada pelo servidor   |
// |      | answer (nothing, or part of an answer, came back)      |  sem resposta completa ..."                  |
// | 9096 | HTTP 2xx whose body is empty or not well-formed XML    | "xmlThere is no valid XML in the answer: ..."|
// | 9097 | well-formed, but no SOAP envelope holding the expected | "Variável de objeto não definida: a resposta |
// |      | message (retEnviNFe ...)                               |  de SERVICE não contém MESSAGE ..."          |
// | 9098 | a SOAP Fault of the server (Receiver, or any code but  | "Erro 98 - SOAP Fault do servidor ..."       |
// |      | those below)                                           |                                              |
// | 9099 | the authority could not read our message (a SOAP Fault | "Erro no documento XML: ..."                 |
// |      | with code Sender or VersionMismatch), or the message   |                                              |
// |      | could not be made here (signed file missing or not an  |                                              |
// |      | NFe, invalid key or batch number)                      |                                              |
// | 9000 | HTTP status other than 2xx without a SOAP Fault:       | "HTTP 404 - serviço não encontrado ...",     |
// | +st. | 9404, 9500, 9503 ...                                   | "HTTP 503 - serviço indisponível ..."        |
//
// The texts of 9003, 9004 and 9006 name the certificate ("certificado"), which the consultation of the
// routine takes to the certificate choice; 9006 carries "conjunto de chaves", which the not-sent exit
// answers with its advice about the digital certificate.
// "Lote em processamento" is never made here: it is the authority's own 105 text. Details never carry
// the letters NCM together (written N.C.M), as the send takes any text naming NCM for a product-code
// rejection. Connections are kept in a process-wide pool of curl handles keyed by the server, the
// client certificate and the CA file, so calls of successive component instances reuse them; a kept
// connection that the server closes before any byte of an answer is tried once more on a new one (the
// ordinary race with a server's keep-alive time-out), so 9093 tells of a fresh connection dropped.
// TLS 1.2 (what the authorities' servers speak; a refused client certificate is then told within the
// handshake), sessions not resumed, redirects not followed. Thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/sefaz/sefaz_addresses.h"

typedef struct _xmlDoc xmlDoc;
typedef struct _xmlNode xmlNode;

namespace quorvanti::fiscal {

inline constexpr int kFailureOther = 9000;
inline constexpr int kFailureTimeout = 9001;
inline constexpr int kFailureConnect = 9002;
inline constexpr int kFailureServerCertificate = 9003;
inline constexpr int kFailureClientRefused = 9004;
inline constexpr int kFailureTls = 9005;
inline constexpr int kFailureKeyset = 9006;
inline constexpr int kFailureAddress = 9007;
inline constexpr int kFailureDropped = 9093;
inline constexpr int kFailureNotXml = 9096;
inline constexpr int kFailureMissingMessage = 9097;
inline constexpr int kFailureSoapFault = 9098;
inline constexpr int kFailureXmlDocument = 9099;
inline constexpr int kFailureHttpBase = 9000;  // + the HTTP status

// A call that brought no usable answer; code 0 = none.
struct TransportFailure {
    int code = 0;
    std::string text;
    explicit operator bool() const { return code != 0; }
};

// 9099: our own message could not be made (`detail` tells why).
TransportFailure xmlDocumentFailure(std::string_view detail);
// 9007: the address is unknown or refused (`description` names the file and key to set).
TransportFailure addressFailure(std::string_view description);
// 9006: the client certificate cannot be used (`detail` tells why).
TransportFailure keysetFailure(std::string_view detail);

// The client certificate of a call; called only for https addresses. An exception it raises becomes
// failure 9006 with the exception's description.
using CertificateSource = std::function<std::shared_ptr<const LoadedCertificate>()>;

struct SoapCall {
    WebService service = WebService::ServiceStatus;
    std::string url;                  // https:// (verified server, client certificate) or http:// (tests)
    std::string message;              // the message placed in nfeDadosMsg, without an XML declaration
    CertificateSource certificate;
    ConnectionSettings connection;
};

// An answer read down to the message the service answers (retEnviNFe ...).
struct SoapReading {
    TransportFailure failure;
    std::shared_ptr<xmlDoc> envelope;  // the parsed answer (kept alive for `message`)
    xmlNode* message = nullptr;        // the expected message inside it; null on failure
};

struct SoapOutcome {
    long httpStatus = 0;     // 0 when no HTTP answer came
    std::string body;        // the answer's body as received ("" when none)
    SoapReading reading;     // failure, or the expected message
    long newConnections = 0; // connections opened for this call (0 when a kept one was used)
};

// The request envelope: SOAP 1.2, Body/nfeDadosMsg in the service's namespace holding `message`.
std::string soapEnvelope(WebService service, std::string_view message);

// Reads an HTTP answer to a call of `service`, expecting `messageName` (for example "retEnviNFe", in
// the NF-e namespace) inside nfeResultMsg; failures 9096-9099 and HTTP statuses as in the table.
SoapReading readSoapAnswer(WebService service, long httpStatus, std::string_view body, std::string_view messageName);

// Posts the envelope of `call.message` (Content-Type application/soap+xml; charset=utf-8;
// action="<the service's operation>") and reads the answer. Never raises.
SoapOutcome callWebService(const SoapCall& call, std::string_view messageName);

}  // namespace quorvanti::fiscal
