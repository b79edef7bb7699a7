// What the operator needs when the authority's server is not trusted: the issuer of the certificate the
// server showed (noted during the TLS handshake, whose verification stays OpenSSL's and curl's) and the
// text of failure 9003 that names the server, that issuer and the setting to change.
#pragma once

#include <string>

typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace quorvanti::fiscal {

// What the last handshake of the calling thread showed of the server's chain.
struct ServerChainNote {
    std::string issuer;     // the issuer of the server's own certificate ("CN=AC ..., O=..., C=BR")
    std::string topIssuer;  // the issuer of the last certificate verified before the chain failed
    bool chainFailed = false;
};

// A verification callback (SSL_CTX_set_verify) that only takes notes: it answers `preverified` as given.
// The handshake runs inside curl_easy_perform, on the thread that called it, so notes are per thread.
int noteServerChain(int preverified, X509_STORE_CTX* store);
// Forgets the notes of the calling thread (before a transfer), and reads them (after it).
void forgetServerChain();
ServerChainNote lastServerChain();

// "host:port" of an address, with the scheme's default port when it names none.
std::string hostAndPort(const std::string& url);

// The text of failure 9003 for a server whose certificate did not verify: the server, curl's `detail`,
// the issuer noted, the authorities trusted (`caFile`, "" = the system's) and, when the chain is what
// failed, the [TLS] CA key of nfe/webservices.ini to set to the ICP-Brasil chain. The server's own words
// (its issuer's name) cannot spell the blank-separated words by which the emission routine classifies
// an answer, so the failure stays one that keeps the sale for a later try.
std::string untrustedServerText(const std::string& url, const std::string& detail, const std::string& caFile,
                                const ServerChainNote& note);

}  // namespace quorvanti::fiscal
