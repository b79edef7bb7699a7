// The certificate store: the folder "certificados" of the program folder (or another folder given at
// start), holding PKCS#12 files (*.pfx, *.p12), each with its password in a file of the same name plus
// ".senha" (for example "loja.pfx.senha"). The password may instead come from a credential of the
// service manager (platform/credentials.h) named like that file ("loja.pfx.senha") or
// kPasswordCredential for every certificate, tried in that order before the file, so that it need not
// be on the disk. The store refuses a folder or password file that users other than the owner can
// read. Loaded certificates are cached process-wide and reloaded when their files (or the credential)
// change, so a fresh component instance costs almost nothing. Thread-safe.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace quorvanti::fiscal {

// The credential holding the password of any certificate of the store.
inline constexpr const char* kPasswordCredential = "quorvanti-certificado-senha";

class CertificateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the store tells of one certificate without its key.
struct CertificateInfo {
    std::string file;          // the PKCS#12 file's path
    std::string holderName;    // subject CN
    std::string issuerName;    // issuer CN
    std::string serialNumber;  // upper-case hexadecimal, no separators
    std::string validFrom;     // "dd/mm/yyyy hh:mm:ss" (UTC)
    std::string validUntil;    // "dd/mm/yyyy hh:mm:ss" (UTC)
    std::string cnpj;          // the holder's CNPJ when the certificate carries one, else ""
    bool expired = false;      // not valid at the time of listing
};

// What a scan of the store found: the readable certificates, and one line per file that could not be
// read (missing or too open password file, wrong password, damaged file), for the operator.
struct StoreListing {
    std::vector<CertificateInfo> certificates;
    std::vector<std::string> problems;
};

// A serial number in the form used for comparison: upper case, without separators (":", " ", "-") and
// leading zeros.
std::string normalizedSerial(const std::string& serialNumber);

// A certificate with its private key, ready to sign. Immutable once loaded; shared between instances.
class LoadedCertificate {
public:
    // Takes ownership of `key` and `certificate`.
    LoadedCertificate(CertificateInfo info, EVP_PKEY* key, X509* certificate);
    ~LoadedCertificate();
    LoadedCertificate(const LoadedCertificate&) = delete;
    LoadedCertificate& operator=(const LoadedCertificate&) = delete;

    const CertificateInfo& info() const { return info_; }
    EVP_PKEY* privateKey() const { return key_; }
    X509* certificate() const { return certificate_; }
    // The certificate as base64 DER, as KeyInfo/X509Data/X509Certificate carries it.
    const std::string& certificateBase64() const { return certificateBase64_; }

private:
    CertificateInfo info_;
    EVP_PKEY* key_;
    X509* certificate_;
    std::string certificateBase64_;
};

// The holder's CNPJ: from the ICP-Brasil otherName 2.16.76.1.3.3 of subjectAltName, else from a common
// name "NAME:14 digits"; "" when the certificate carries none.
std::string certificateCnpj(X509* certificate);

class CertificateStore {
public:
    explicit CertificateStore(std::string folder);

    const std::string& folder() const { return folder_; }
    // Raises CertificateError when the folder is missing or readable by other users.
    void checkUsable() const;
    // Every certificate of the store; files that cannot be read are skipped. Raises CertificateError
    // when the store itself is unusable (as checkUsable).
    std::vector<CertificateInfo> list() const;
    // As list(), also telling why each skipped file was skipped.
    StoreListing scan() const;
    // The certificate with `serialNumber` (hexadecimal, any case, leading zeros and separators
    // ignored). Raises CertificateError with a clear description when it is missing, unreadable,
    // its password file is wrong or too open, or it has expired. The file it was found in last is
    // looked at first (with the same checks), so that a search seldom lists the folder.
    std::shared_ptr<const LoadedCertificate> find(const std::string& serialNumber) const;

private:
    std::string folder_;
};

}  // namespace quorvanti::fiscal
