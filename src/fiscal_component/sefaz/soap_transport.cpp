#include "fiscal_component/sefaz/soap_transport.h"

#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cctype>
#include <map>
#include <mutex>
#include <vector>

#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/document/xml_names.h"
#include "fiscal_component/sefaz/server_trust.h"
#include "platform/text_encoding.h"

namespace quorvanti::fiscal {

namespace {

constexpr const char* kSoap12Namespace = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kSoap11Namespace = "http://schemas.xmlsoap.org/soap/envelope/";
// The authority's answers are a few kilobytes; anything this large is not one of them.
constexpr std::size_t kMaxAnswerBytes = 16 * 1024 * 1024;
// Idle handles kept per server and certificate; more would only hold sockets open.
constexpr std::size_t kMaxIdlePerKey = 4;

// Details come from curl, libxml2 or the server; "NCM" in them would make the send take the failure
// for a product-code rejection. libxml2 quotes the bytes of a malformed answer as they came, so bytes
// that are not UTF-8 become "?": the text is shown, logged and stored as UTF-8.
std::string scrubbed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t codePoint = 0;
        if (const std::size_t length = platform::utf8SequenceAt(text, i, codePoint); length != 1) {
            if (length == 0) out += '?';
            else out.append(text.substr(i, length));
            i += length == 0 ? 0 : length - 1;
            continue;
        }
        if (i + 3 <= text.size() && std::toupper(static_cast<unsigned char>(text[i])) == 'N' &&
            std::toupper(static_cast<unsigned char>(text[i + 1])) == 'C' &&
            std::toupper(static_cast<unsigned char>(text[i + 2])) == 'M') {
            out += "N.C.M";
            i += 2;
            continue;
        }
        out += text[i];
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

TransportFailure failure(int code, std::string_view text) { return TransportFailure{code, scrubbed(text)}; }

// "host:port" of an address, for messages and the pool key.
std::string serverOf(std::string_view url) {
    const auto scheme = url.find("://");
    const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const auto end = url.find_first_of("/?#", start);
    return std::string(url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

bool isHttps(std::string_view url) {
    if (url.size() < 8) return false;
    std::string scheme(url.substr(0, 8));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "https://";
}

std::string fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "?";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 0x0F];
    }
    return out;
}

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Easy handles keep their connections (and TLS sessions) between transfers; a handle is reused only for
// the same server, client certificate and CA file, so a kept connection is always one made with them.
class HandlePool {
public:
    // Never destroyed: cleaning handles up at exit could run after OpenSSL's own clean-up; the system
    // closes the sockets.
    static HandlePool& instance() {
        static HandlePool* pool = new HandlePool;
        return *pool;
    }

    CURL* take(const std::string& key) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& idle = idle_[key];
            if (!idle.empty()) {
                CURL* handle = idle.back();
                idle.pop_back();
                return handle;
            }
        }
        initialiseCurl();
        return curl_easy_init();
    }

    void give(const std::string& key, CURL* handle) {
        if (handle == nullptr) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& idle = idle_[key];
            if (idle.size() < kMaxIdlePerKey) {
                idle.push_back(handle);
                return;
            }
        }
        curl_easy_cleanup(handle);
    }

private:
    HandlePool() = default;
    std::mutex mutex_;
    std::map<std::string, std::vector<CURL*>> idle_;
};

class Lease {
public:
    explicit Lease(std::string key) : key_(std::move(key)), handle_(HandlePool::instance().take(key_)) {}
    ~Lease() { HandlePool::instance().give(key_, handle_); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    CURL* get() const { return handle_; }

private:
    std::string key_;
    CURL* handle_;
};

struct Received {
    std::string body;
    bool tooLarge = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    auto* received = static_cast<Received*>(out);
    const std::size_t bytes = size * count;
    if (received->body.size() + bytes > kMaxAnswerBytes) {
        received->tooLarge = true;
        return 0;
    }
    received->body.append(data, bytes);
    return bytes;
}

// Gives the emitter's certificate and key to each new TLS connection straight from memory.
CURLcode useClientCertificate(CURL*, void* context, void* data) {
    auto* ssl = static_cast<SSL_CTX*>(context);
    const auto* certificate = static_cast<const LoadedCertificate*>(data);
    if (SSL_CTX_use_certificate(ssl, certificate->certificate()) != 1 ||
        SSL_CTX_use_PrivateKey(ssl, certificate->privateKey()) != 1 || SSL_CTX_check_private_key(ssl) != 1) {
        return CURLE_SSL_CERTPROBLEM;
    }
    // Curl has set the mode already; the callback only notes the server's issuer for the message of a
    // server that is not trusted.
    SSL_CTX_set_verify(ssl, SSL_CTX_get_verify_mode(ssl), noteServerChain);
    return CURLE_OK;
}

bool mentions(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// An alert from the server about our certificate: the server would not take it.
bool certificateAlert(std::string_view detail) {
    static constexpr std::string_view kAlerts[] = {
        "alert certificate required", "alert bad certificate",     "alert unknown ca",
        "alert certificate unknown",  "alert certificate revoked", "alert certificate expired",
        "alert unsupported certificate", "alert access denied"};
    for (std::string_view alert : kAlerts)
        if (mentions(detail, alert)) return true;
    return false;
}

TransportFailure transferFailure(CURLcode code, std::string detail, const SoapCall& call, bool tooLarge) {
    const std::string service(webServiceName(call.service));
    const std::string server = serverOf(call.url);
    if (detail.empty()) detail = curl_easy_strerror(code);
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return failure(kFailureTimeout, "Erro de comunicação: tempo limite da operação excedido (" +
                                            std::to_string(call.connection.timeoutMs) + " ms) em " + service + " " +
                                            call.url + " (" + detail + ")");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return failure(kFailureConnect, "Falha de comunicação: não foi possível conectar ao servidor " + server +
                                            " de " + service + " (" + detail + ")");
    case CURLE_SSL_CACERT_BADFILE:
        return failure(kFailureServerCertificate,
                       "Falha de comunicação: o arquivo de autoridades " + call.connection.caFile +
                           " (chave CA da seção TLS de webservices.ini) não pôde ser lido; sem ele o certificado do "
                           "servidor " + server + " não pode ser verificado (" + detail + ")");
    case CURLE_PEER_FAILED_VERIFICATION:
        return failure(kFailureServerCertificate,
                       untrustedServerText(call.url, detail, call.connection.caFile, lastServerChain()));
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return failure(kFailureServerCertificate,
                       "Falha de comunicação: o certificado do servidor " + server + " não é confiável (" + detail +
                           "); autoridades aceitas: " +
                           (call.connection.caFile.empty() ? std::string("as do sistema")
                                                           : "arquivo " + call.connection.caFile));
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
        return keysetFailure(detail);
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return failure(kFailureAddress, "Endereço do serviço " + service + " inválido: '" + call.url + "' (" + detail +
                                            "); corrija-o em webservices.ini");
    case CURLE_WRITE_ERROR:
        if (tooLarge)
            return failure(kFailureNotXml, "xmlThere is no valid XML in the answer: resposta de " + service +
                                               " maior que o limite de " + std::to_string(kMaxAnswerBytes) + " bytes");
        break;
    default: break;
    }
    if (certificateAlert(detail)) {
        return failure(kFailureClientRefused, "Falha de comunicação: o servidor " + server +
                                                  " recusou o certificado digital do emitente (" + detail + ")");
    }
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
        return failure(kFailureTls, "Falha de comunicação: a negociação TLS com o servidor " + server + " falhou (" +
                                        detail + ")");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return failure(kFailureDropped, "ERRO 93 - conexão encerrada pelo servidor sem resposta completa em " +
                                            service + " " + server + " (" + detail + ")");
    default:
        return failure(kFailureOther, "Falha de comunicação com " + service + " " + server + " (" + detail + ")");
    }
}

// ---- reading answers ----

bool named(xmlNode* node, const char* name, const char* ns = nullptr) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE || !xmlStrEqual(node->name, BAD_CAST name)) return false;
    if (ns == nullptr) return true;
    return node->ns != nullptr && xmlStrEqual(node->ns->href, BAD_CAST ns);
}

xmlNode* child(xmlNode* parent, const char* name, const char* ns = nullptr) {
    for (xmlNode* node = parent ? parent->children : nullptr; node; node = node->next)
        if (named(node, name, ns)) return node;
    return nullptr;
}

xmlNode* descendant(xmlNode* parent, const char* name, const char* ns) {
    for (xmlNode* node = parent ? parent->children : nullptr; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        if (named(node, name, ns)) return node;
        if (xmlNode* found = descendant(node, name, ns)) return found;
    }
    return nullptr;
}

std::string textOf(xmlNode* node) {
    if (node == nullptr) return "";
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

std::string collapsed(std::string text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

const char* httpPhrase(long status) {
    switch (status) {
    case 400: return "requisição recusada pelo servidor";
    case 401:
    case 403: return "acesso negado pelo servidor";
    case 404: return "serviço não encontrado";
    case 405: return "método não aceito pelo servidor";
    case 408: return "o servidor desistiu de esperar a requisição";
    case 500: return "falha interna do servidor";
    case 502: return "gateway inválido";
    case 503: return "serviço indisponível";
    case 504: return "o gateway não obteve resposta a tempo";
    default: return status >= 300 && status < 400 ? "redirecionamento não seguido" : "resposta HTTP inesperada";
    }
}

}  // namespace

TransportFailure xmlDocumentFailure(std::string_view detail) {
    return failure(kFailureXmlDocument, "Erro no documento XML: " + std::string(detail));
}

TransportFailure addressFailure(std::string_view description) { return failure(kFailureAddress, description); }

TransportFailure keysetFailure(std::string_view detail) {
    return failure(kFailureKeyset, "Erro no certificado digital: conjunto de chaves não encontrado ou inválido para o "
                                   "certificado do emitente (" + std::string(detail) + ")");
}

std::string soapEnvelope(WebService service, std::string_view message) {
    std::string out;
    out.reserve(message.size() + 400);
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    out += "<soap12:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:soap12=\"";
    out += kSoap12Namespace;
    out += "\"><soap12:Body><nfeDadosMsg xmlns=\"";
    out += webServiceNamespace(service);
    out += "\">";
    out += message;
    out += "</nfeDadosMsg></soap12:Body></soap12:Envelope>";
    return out;
}

SoapReading readSoapAnswer(WebService service, long httpStatus, std::string_view body, std::string_view messageName) {
    initialiseXmlLibrary();
    const std::string serviceName(webServiceName(service));
    SoapReading reading;

    std::string parseError;
    if (body.size() > kMaxAnswerBytes) {
        parseError = "resposta grande demais";
    } else if (!body.empty()) {
        xmlParserCtxtPtr parser = xmlNewParserCtxt();
        if (parser != nullptr) {
            xmlDoc* doc = xmlCtxtReadMemory(parser, body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                                            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
            if (doc != nullptr) {
                reading.envelope = std::shared_ptr<xmlDoc>(doc, DocFree());
            } else if (const xmlError* error = xmlCtxtGetLastError(parser); error && error->message) {
                parseError = collapsed(error->message) + ", linha " + std::to_string(error->line);
            }
            xmlFreeParserCtxt(parser);
        }
    }

    xmlNode* root = reading.envelope ? xmlDocGetRootElement(reading.envelope.get()) : nullptr;
    const bool soap12 = named(root, "Envelope", kSoap12Namespace);
    const bool soap11 = named(root, "Envelope", kSoap11Namespace);
    const char* soapNamespace = soap12 ? kSoap12Namespace : kSoap11Namespace;
    xmlNode* soapBody = soap12 || soap11 ? child(root, "Body", soapNamespace) : nullptr;
    if (xmlNode* fault = child(soapBody, "Fault", soapNamespace)) {
        std::string code, reason;
        if (soap12) {
            code = collapsed(textOf(child(child(fault, "Code", kSoap12Namespace), "Value", kSoap12Namespace)));
            reason = collapsed(textOf(child(fault, "Reason", kSoap12Namespace)));
        } else {
            code = collapsed(textOf(child(fault, "faultcode")));
            reason = collapsed(textOf(child(fault, "faultstring")));
        }
        const auto colon = code.rfind(':');
        const std::string local = colon == std::string::npos ? code : code.substr(colon + 1);
        const std::string detail = " de " + serviceName + " (" + code + ": " + reason + ")";
        reading.envelope.reset();
        if (local == "Sender" || local == "Client" || local == "VersionMismatch") {
            reading.failure = xmlDocumentFailure("o servidor recusou a mensagem" + detail);
        } else {
            reading.failure = failure(kFailureSoapFault, "Erro 98 - SOAP Fault do servidor" + detail);
        }
        return reading;
    }
    if (httpStatus < 200 || httpStatus > 299) {
        reading.envelope.reset();
        reading.failure = failure(kFailureHttpBase + static_cast<int>(httpStatus),
                                  "HTTP " + std::to_string(httpStatus) + " - " + httpPhrase(httpStatus) + ": " +
                                      serviceName);
        return reading;
    }
    if (body.empty()) {
        reading.failure = failure(kFailureNotXml, "xmlThere is no valid XML in the answer: resposta de " + serviceName +
                                                      " vazia (HTTP " + std::to_string(httpStatus) + ")");
        return reading;
    }
    if (!reading.envelope) {
        reading.failure = failure(kFailureNotXml, "xmlThere is no valid XML in the answer: resposta de " + serviceName +
                                                      " mal formada (" + parseError + ")");
        return reading;
    }
    const std::string wanted(messageName);
    reading.message = descendant(soapBody, wanted.c_str(), kNfeNamespace);
    if (reading.message == nullptr) {
        reading.envelope.reset();
        reading.failure = failure(kFailureMissingMessage,
                                  "Variável de objeto não definida: a resposta de " + serviceName + " não contém " + wanted +
                                      (soapBody == nullptr ? " (não é um envelope SOAP)" : ""));
    }
    return reading;
}

SoapOutcome callWebService(const SoapCall& call, std::string_view messageName) {
    SoapOutcome outcome;
    std::shared_ptr<const LoadedCertificate> certificate;
    const bool https = isHttps(call.url);
    if (https) {
        try {
            if (call.certificate) certificate = call.certificate();
        } catch (const std::exception& error) {
            outcome.reading.failure = keysetFailure(error.what());
            return outcome;
        }
        if (!certificate || certificate->certificate() == nullptr || certificate->privateKey() == nullptr) {
            outcome.reading.failure = keysetFailure("nenhum certificado configurado");
            return outcome;
        }
        if (X509_check_private_key(certificate->certificate(), certificate->privateKey()) != 1) {
            outcome.reading.failure = keysetFailure("a chave privada não corresponde ao certificado " +
                                                    certificate->info().serialNumber);
            return outcome;
        }
    }

    const std::string envelope = soapEnvelope(call.service, call.message);
    const std::string key = serverOf(call.url) + "|" + (https ? fingerprint(certificate->certificate()) : "-") + "|" +
                            call.connection.caFile + "|" + (https ? "s" : "p");
    Lease lease(key);
    CURL* curl = lease.get();
    if (curl == nullptr) {
        outcome.reading.failure = failure(kFailureOther, "Falha de comunicação: não foi possível iniciar o cliente HTTP");
        return outcome;
    }
    curl_easy_reset(curl);

    Received received;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    const std::string contentType = "Content-Type: application/soap+xml; charset=utf-8; action=\"" +
                                    webServiceAction(call.service) + "\"";
    curl_slist* headers = curl_slist_append(nullptr, contentType.c_str());
    // Without this curl would wait for "100 Continue" before sending a large batch.
    headers = curl_slist_append(headers, "Expect:");

    const long timeout = call.connection.timeoutMs > 0 ? call.connection.timeoutMs : 30000;
    curl_easy_setopt(curl, CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, envelope.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(envelope.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    // The authority's server is always verified; only the trusted authorities can be chosen.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!call.connection.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, call.connection.caFile.c_str());
    if (https) {
        // No session resumption: a server that verifies clients but set no session context (OpenSSL's
        // default) fails every resumed handshake, and kept connections make new handshakes rare anyway.
        curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
        // TLS 1.2, as the authorities' servers speak it. In 1.2 the server judges the client certificate
        // inside the handshake, so its refusal arrives as an alert; in 1.3 it comes after the handshake
        // and races with the request, often showing as a plain dropped connection.
        const long tls12 = static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2);
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, tls12);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, useClientCertificate);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, const_cast<LoadedCertificate*>(certificate.get()));
    }

    forgetServerChain();
    const CURLcode code = curl_easy_perform(curl);
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.httpStatus);
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    outcome.newConnections = connects;
    // The handle goes back to the pool: nothing of this call may stay referenced by it.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, nullptr);
    curl_slist_free_all(headers);

    if (code != CURLE_OK) {
        outcome.body = std::move(received.body);
        outcome.reading.failure = transferFailure(code, errorBuffer, call, received.tooLarge);
        return outcome;
    }
    outcome.body = std::move(received.body);
    outcome.reading = readSoapAnswer(call.service, outcome.httpStatus, outcome.body, messageName);
    // The operator fixing webservices.ini needs to see which address answered so.
    if (outcome.reading.failure.code == kFailureHttpBase + outcome.httpStatus)
        outcome.reading.failure.text += " (" + scrubbed(call.url) + ")";
    return outcome;
}

}  // namespace quorvanti::fiscal
