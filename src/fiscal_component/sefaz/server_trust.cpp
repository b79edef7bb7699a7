#include "fiscal_component/sefaz/server_trust.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cctype>

namespace quorvanti::fiscal {

namespace {

thread_local ServerChainNote tNote;

// Names longer than this are not a real authority's; the message stays readable.
constexpr std::size_t kMaxNameBytes = 200;

// The server chose these bytes (one value of a name). Control characters go; blanks become no-break spaces, so that no
// "ERRO 93" or "HTTP 404" written into a name can reach the routine's classification as such.
std::string plainName(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (out.size() >= kMaxNameBytes) break;
        if (byte < 0x20 || byte == 0x7F) continue;
        if (c == ' ') out += "\xC2\xA0";
        else out += c;
    }
    // A cut inside a UTF-8 sequence is left to the transport's scrubbing, which marks it with "?".
    return out;
}

// "CN=AC X, O=ICP-Brasil, C=BR": the most specific part first, as authorities are usually named.
std::string nameText(const X509_NAME* name) {
    if (name == nullptr) return "";
    std::string text;
    for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry));
        const char* field = nid == NID_undef ? "?" : OBJ_nid2sn(nid);
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        if (length < 0) continue;
        if (!text.empty()) text += ", ";
        text += std::string(field) + "=" +
                plainName(std::string(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length)));
        OPENSSL_free(utf8);
        if (text.size() >= kMaxNameBytes) break;
    }
    return text;
}

}  // namespace

int noteServerChain(int preverified, X509_STORE_CTX* store) {
    if (X509* leaf = X509_STORE_CTX_get0_cert(store); leaf != nullptr)
        tNote.issuer = nameText(X509_get_issuer_name(leaf));
    if (preverified == 0 && !tNote.chainFailed) {
        tNote.chainFailed = true;
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
        const int count = chain == nullptr ? 0 : sk_X509_num(chain);
        if (count > 0) tNote.topIssuer = nameText(X509_get_issuer_name(sk_X509_value(chain, count - 1)));
    }
    return preverified;
}

void forgetServerChain() { tNote = ServerChainNote{}; }

ServerChainNote lastServerChain() { return tNote; }

std::string hostAndPort(const std::string& url) {
    const auto scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const auto end = url.find_first_of("/?#", start);
    std::string server = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (const auto at = server.rfind('@'); at != std::string::npos) server.erase(0, at + 1);
    const auto colon = server.rfind(':');
    const auto bracket = server.rfind(']');
    const bool hasPort = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
    if (hasPort) return server;
    std::string schemeName = scheme == std::string::npos ? "" : url.substr(0, scheme);
    for (char& c : schemeName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return server + (schemeName == "http" ? ":80" : ":443");
}

std::string untrustedServerText(const std::string& url, const std::string& detail, const std::string& caFile,
                                const ServerChainNote& note) {
    std::string text = "Falha de comunicação: o certificado do servidor " + hostAndPort(url) + " não é confiável (" +
                       detail + ")";
    if (!note.issuer.empty()) text += "; emitido por " + note.issuer;
    if (!note.topIssuer.empty() && note.topIssuer != note.issuer) text += ", cadeia até " + note.topIssuer;
    text += "; autoridades aceitas: " + (caFile.empty() ? std::string("as do sistema") : "arquivo " + caFile);
    // A chain that verified but failed all the same was not issued for this name: another CA file would
    // not help, the address would.
    if (note.chainFailed || note.issuer.empty())
        text += ". Informe na chave CA da seção [TLS] de nfe/webservices.ini o arquivo PEM da cadeia da ICP-Brasil "
                "que emitiu este certificado (AC Raiz v5/v10 e as ACs intermediárias, publicadas pelo ITI)";
    else
        text += ". Confira o endereço do serviço em nfe/webservices.ini";
    return text;
}

}  // namespace quorvanti::fiscal
