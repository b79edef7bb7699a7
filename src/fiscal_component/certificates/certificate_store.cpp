#include "fiscal_component/certificates/certificate_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "platform/credentials.h"

namespace quorvanti::fiscal {

namespace {

// ICP-Brasil's otherName of a legal person's certificate holding the holder's CNPJ.
constexpr const char* kIcpBrasilCnpjOid = "2.16.76.1.3.3";

// The permission bits as "0644", for messages that tell the operator what to fix.
std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What identifies one version of a file: a replaced or rewritten file gets another stamp.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    time_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;

    static FileStamp of(const struct stat& st) {
        return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
    bool operator==(const FileStamp&) const = default;
};

// A loaded certificate or the reason it could not be loaded; failures are cached too, so that a wrong
// password does not cost a PKCS#12 decryption at every listing.
struct LoadResult {
    std::shared_ptr<const LoadedCertificate> certificate;
    std::string error;
};

struct CacheEntry {
    FileStamp pfx;
    FileStamp password;
    LoadResult result;
};

// Process-wide: every component instance of every thread shares the decrypted certificates.
struct CertificateCache {
    std::mutex mutex;
    std::map<std::string, CacheEntry> entries;
    // Where each serial was last found ("folder\nserial" -> file): a search for it looks there first,
    // without listing the folder.
    std::map<std::string, std::string> foundIn;
};

// Never destroyed: keys freed by a static destructor could outlive OpenSSL's own clean-up at exit.
CertificateCache& cache() {
    static CertificateCache* const instance = new CertificateCache;
    return *instance;
}

// Where a certificate's password comes from: a credential of the service manager named after the
// certificate's file ("loja.pfx.senha") or the one for every certificate, else the file beside it.
struct PasswordSource {
    std::string path;
    bool credential = false;
    // For messages: what to look at; never the password itself.
    std::string described() const { return (credential ? "a credencial " : "o arquivo de senha ") + path; }
};

PasswordSource passwordSource(const std::string& file) {
    const std::string own = std::filesystem::path(file).filename().string() + ".senha";
    for (const std::string& name : {own, std::string(kPasswordCredential)}) {
        if (std::string path = platform::credentialPath(name); !path.empty()) return {std::move(path), true};
    }
    return {file + ".senha", false};
}

// The password as read from its file, wiped from memory when done with.
class Password {
public:
    explicit Password(const PasswordSource& source) {
        std::ifstream in(source.path, std::ios::binary);
        if (!in) throw CertificateError("Não foi possível ler " + source.described());
        std::getline(in, text_);
        while (!text_.empty() && (text_.back() == '\r' || text_.back() == '\n')) text_.pop_back();
    }
    ~Password() { OPENSSL_cleanse(text_.data(), text_.size()); }
    Password(const Password&) = delete;
    Password& operator=(const Password&) = delete;

    const char* c_str() const { return text_.c_str(); }
    int length() const { return static_cast<int>(text_.size()); }
    bool empty() const { return text_.empty(); }

private:
    std::string text_;
};

// The last OpenSSL error reason, never the data it was working on (which could hold a password).
std::string openSslReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) return "erro desconhecido";
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "erro " + std::to_string(code);
}

std::string utf8Of(const ASN1_STRING* value) {
    unsigned char* out = nullptr;
    const int length = ASN1_STRING_to_UTF8(&out, value);
    if (length < 0) return "";
    std::string text(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
    OPENSSL_free(out);
    return text;
}

std::string commonName(const X509_NAME* name) {
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0) return "";
    return utf8Of(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

std::string serialHex(const X509* certificate) {
    BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr);
    if (number == nullptr) return "";
    char* hex = BN_bn2hex(number);
    std::string text = hex != nullptr ? hex : "";
    OPENSSL_free(hex);
    BN_free(number);
    return text;
}

std::string timeText(const ASN1_TIME* time) {
    struct tm parts {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return "";
    char text[32];
    std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &parts);
    return text;
}

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The CNPJ of ICP-Brasil's otherName 2.16.76.1.3.3 ("nas 14 posições o número do CNPJ"), kept as an
// OCTET STRING or one of the string types by the issuing authorities.
std::string cnpjFromAltNames(X509* certificate) {
    auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    if (names == nullptr) return "";
    std::string cnpj;
    for (int i = 0; i < sk_GENERAL_NAME_num(names) && cnpj.empty(); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        if (name->type != GEN_OTHERNAME) continue;
        char oid[64];
        if (OBJ_obj2txt(oid, sizeof oid, name->d.otherName->type_id, 1) <= 0 || std::string(oid) != kIcpBrasilCnpjOid)
            continue;
        const ASN1_TYPE* value = name->d.otherName->value;
        switch (value->type) {
        case V_ASN1_OCTET_STRING:
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_UTF8STRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_VISIBLESTRING: {
            const ASN1_STRING* text = value->value.asn1_string;
            std::string digits(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                               static_cast<std::size_t>(ASN1_STRING_length(text)));
            if (digits.size() == 14 && allDigits(digits)) cnpj = digits;
            break;
        }
        default:
            break;
        }
    }
    GENERAL_NAMES_free(names);
    return cnpj;
}

// Certificates without the otherName often name the holder "RAZAO SOCIAL:CNPJ" in the CN.
std::string cnpjFromCommonName(const std::string& cn) {
    const auto colon = cn.rfind(':');
    if (colon == std::string::npos) return "";
    const std::string digits = cn.substr(colon + 1);
    return digits.size() == 14 && allDigits(digits) ? digits : "";
}

CertificateInfo describe(const std::string& file, X509* certificate) {
    CertificateInfo info;
    info.file = file;
    info.holderName = commonName(X509_get_subject_name(certificate));
    info.issuerName = commonName(X509_get_issuer_name(certificate));
    info.serialNumber = serialHex(certificate);
    info.validFrom = timeText(X509_get0_notBefore(certificate));
    info.validUntil = timeText(X509_get0_notAfter(certificate));
    info.cnpj = certificateCnpj(certificate);
    return info;
}

// Empty when the certificate is valid now, else why not.
std::string validityProblem(const LoadedCertificate& loaded) {
    X509* certificate = loaded.certificate();
    if (X509_cmp_current_time(X509_get0_notAfter(certificate)) <= 0)
        return "Certificado vencido em " + loaded.info().validUntil + " (" + loaded.info().file + ")";
    if (X509_cmp_current_time(X509_get0_notBefore(certificate)) >= 0)
        return "Certificado válido somente a partir de " + loaded.info().validFrom + " (" + loaded.info().file + ")";
    return "";
}

// Decrypts one PKCS#12 file. Slow (key derivation); callers go through the cache.
LoadResult parsePkcs12(const std::string& file, const PasswordSource& passwordSource) {
    LoadResult result;
    try {
        const Password password(passwordSource);
        BIO* input = BIO_new_file(file.c_str(), "rb");
        if (input == nullptr) {
            ERR_clear_error();
            result.error = "Não foi possível ler o certificado " + file;
            return result;
        }
        PKCS12* bundle = d2i_PKCS12_bio(input, nullptr);
        BIO_free(input);
        if (bundle == nullptr) {
            result.error = "O arquivo " + file + " não é um certificado PKCS#12 legível (" + openSslReason() + ")";
            return result;
        }
        // The MAC check tells a wrong password apart from a damaged file.
        if (PKCS12_mac_present(bundle) != 0 &&
            PKCS12_verify_mac(bundle, password.c_str(), password.length()) != 1 &&
            !(password.empty() && PKCS12_verify_mac(bundle, nullptr, 0) == 1)) {
            ERR_clear_error();
            PKCS12_free(bundle);
            result.error = "Senha incorreta para o certificado " + file + " (verifique " + passwordSource.described() + ")";
            return result;
        }
        EVP_PKEY* key = nullptr;
        X509* certificate = nullptr;
        STACK_OF(X509)* chain = nullptr;
        const int parsed = PKCS12_parse(bundle, password.c_str(), &key, &certificate, &chain);
        PKCS12_free(bundle);
        sk_X509_pop_free(chain, X509_free);
        if (parsed != 1) {
            result.error = "Não foi possível abrir o certificado " + file + " (" + openSslReason() + ")";
            return result;
        }
        if (key == nullptr || certificate == nullptr || X509_check_private_key(certificate, key) != 1) {
            ERR_clear_error();
            EVP_PKEY_free(key);
            X509_free(certificate);
            result.error = "O arquivo " + file + " não contém um certificado com sua chave privada";
            return result;
        }
        result.certificate = std::make_shared<const LoadedCertificate>(describe(file, certificate), key, certificate);
    } catch (const CertificateError& e) {
        result.error = e.what();
    }
    return result;
}

// The checks made at every access (cheap), then the cached or freshly decrypted certificate.
LoadResult load(const std::string& file) {
    struct stat pfxStat {};
    if (stat(file.c_str(), &pfxStat) != 0 || !S_ISREG(pfxStat.st_mode))
        return {nullptr, "Não foi possível ler o certificado " + file};
    const PasswordSource passwordFrom = passwordSource(file);
    const std::string& passwordFile = passwordFrom.path;
    struct stat passwordStat {};
    if (stat(passwordFile.c_str(), &passwordStat) != 0 || !S_ISREG(passwordStat.st_mode)) {
        if (passwordFrom.credential)
            return {nullptr, "A credencial " + passwordFile + " do certificado " + file + " não é um arquivo legível"};
        return {nullptr, "Falta o arquivo de senha " + passwordFile + " do certificado " + file};
    }
    // A credential's access is the service manager's to restrict (the service's user alone, in memory).
    if (!passwordFrom.credential && (passwordStat.st_mode & 077) != 0)
        return {nullptr, "O arquivo de senha " + passwordFile + " pode ser lido por outros usuários (permissões " +
                             modeText(passwordStat.st_mode) + "); restrinja-o ao dono com chmod 600"};

    const FileStamp pfxStamp = FileStamp::of(pfxStat);
    const FileStamp passwordStamp = FileStamp::of(passwordStat);
    auto& shared = cache();
    {
        std::lock_guard lock(shared.mutex);
        const auto found = shared.entries.find(file);
        if (found != shared.entries.end() && found->second.pfx == pfxStamp && found->second.password == passwordStamp)
            return found->second.result;
    }
    // Decrypted outside the lock: a slow file must not hold up instances that only need cached ones.
    LoadResult result = parsePkcs12(file, passwordFrom);
    std::lock_guard lock(shared.mutex);
    shared.entries[file] = CacheEntry{pfxStamp, passwordStamp, result};
    return result;
}

bool isCertificateFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".pfx" || extension == ".p12";
}

// The store's certificate files in name order; drops cache entries of files that left the folder.
std::vector<std::string> certificateFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (isCertificateFile(entry.path())) files.push_back(entry.path().string());
    }
    if (error) throw CertificateError("Não foi possível ler o repositório de certificados " + folder);
    std::sort(files.begin(), files.end());

    auto& shared = cache();
    std::lock_guard lock(shared.mutex);
    for (auto it = shared.entries.begin(); it != shared.entries.end();) {
        const bool inFolder = std::filesystem::path(it->first).parent_path() == std::filesystem::path(folder);
        const bool gone = inFolder && !std::binary_search(files.begin(), files.end(), it->first);
        it = gone ? shared.entries.erase(it) : std::next(it);
    }
    return files;
}

std::string withoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

std::string normalizedSerial(const std::string& serial) {
    std::string text;
    for (const char c : serial) {
        if (c == ':' || c == ' ' || c == '-') continue;
        text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    const auto firstSignificant = text.find_first_not_of('0');
    return firstSignificant == std::string::npos ? (text.empty() ? "" : "0") : text.substr(firstSignificant);
}

LoadedCertificate::LoadedCertificate(CertificateInfo info, EVP_PKEY* key, X509* certificate)
    : info_(std::move(info)), key_(key), certificate_(certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate_, &der);
    if (length > 0) {
        std::string base64(static_cast<std::size_t>(4 * ((length + 2) / 3)) + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), der, length);
        base64.resize(static_cast<std::size_t>(written));
        certificateBase64_ = std::move(base64);
    }
    OPENSSL_free(der);
}

LoadedCertificate::~LoadedCertificate() {
    EVP_PKEY_free(key_);
    X509_free(certificate_);
}

CertificateStore::CertificateStore(std::string folder) : folder_(withoutTrailingSlash(std::move(folder))) {}

void CertificateStore::checkUsable() const {
    struct stat st {};
    if (stat(folder_.c_str(), &st) != 0) throw CertificateError("Repositório de certificados não encontrado: " + folder_);
    if (!S_ISDIR(st.st_mode)) throw CertificateError("O repositório de certificados " + folder_ + " não é uma pasta");
    if ((st.st_mode & 077) != 0)
        throw CertificateError("O repositório de certificados " + folder_ +
                               " pode ser acessado por outros usuários (permissões " + modeText(st.st_mode) +
                               "); restrinja-o ao dono com chmod 700");
}

StoreListing CertificateStore::scan() const {
    checkUsable();
    StoreListing listing;
    for (const auto& file : certificateFiles(folder_)) {
        const LoadResult result = load(file);
        if (!result.certificate) {
            listing.problems.push_back(result.error);
            continue;
        }
        CertificateInfo info = result.certificate->info();
        info.expired = !validityProblem(*result.certificate).empty();
        listing.certificates.push_back(std::move(info));
    }
    return listing;
}

std::vector<CertificateInfo> CertificateStore::list() const { return scan().certificates; }

std::shared_ptr<const LoadedCertificate> CertificateStore::find(const std::string& serialNumber) const {
    const std::string wanted = normalizedSerial(serialNumber);
    if (wanted.empty()) throw CertificateError("Nenhum número de série de certificado foi configurado");
    checkUsable();
    auto& shared = cache();
    const std::string foundKey = folder_ + "\n" + wanted;
    std::string lastFile;
    {
        std::lock_guard lock(shared.mutex);
        const auto found = shared.foundIn.find(foundKey);
        if (found != shared.foundIn.end()) lastFile = found->second;
    }
    if (!lastFile.empty()) {
        // The same checks as below, on that one file; anything amiss and the whole folder is searched.
        const LoadResult result = load(lastFile);
        if (result.certificate && normalizedSerial(result.certificate->info().serialNumber) == wanted &&
            validityProblem(*result.certificate).empty())
            return result.certificate;
    }
    std::string invalidMatch;
    std::string problems;
    for (const auto& file : certificateFiles(folder_)) {
        const LoadResult result = load(file);
        if (!result.certificate) {
            problems += "\n" + result.error;
            continue;
        }
        if (normalizedSerial(result.certificate->info().serialNumber) != wanted) continue;
        const std::string problem = validityProblem(*result.certificate);
        if (problem.empty()) {
            std::lock_guard lock(shared.mutex);
            shared.foundIn[foundKey] = file;
            return result.certificate;
        }
        // A copy of the same certificate under another file name may still be usable: keep looking.
        if (invalidMatch.empty()) invalidMatch = problem;
    }
    if (!invalidMatch.empty()) throw CertificateError(invalidMatch);
    throw CertificateError("Certificado de série " + serialNumber + " não encontrado no repositório " + folder_ +
                           problems);
}

std::string certificateCnpj(X509* certificate) {
    const std::string fromAltNames = cnpjFromAltNames(certificate);
    return fromAltNames.empty() ? cnpjFromCommonName(commonName(X509_get_subject_name(certificate))) : fromAltNames;
}

}  // namespace quorvanti::fiscal
