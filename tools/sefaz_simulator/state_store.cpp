#include "sefaz_simulator/state_store.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quorvanti::sefaz {

namespace fs = std::filesystem;

namespace {

bool digitsOnly(const std::string& text, std::size_t length) {
    return text.size() == length &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Keys and receipts become file names: anything but their digits would reach outside the folder.
void requireDigits(const std::string& text, std::size_t length, const char* what) {
    if (!digitsOnly(text, length)) throw StateError(std::string(what) + " inválido: " + text);
}

std::optional<std::string> readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeWhole(const fs::path& path, const std::string& content) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    const fs::path partial = path.string() + ".parcial-" + std::to_string(::getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << content;
        out.close();
        if (!out) throw StateError("não foi possível gravar " + partial.string());
    }
    fs::rename(partial, path, error);
    if (error) {
        fs::remove(partial, error);
        throw StateError("não foi possível gravar " + path.string());
    }
}

}  // namespace

StateStore::StateStore(std::string folder) : folder_(std::move(folder)) {
    std::error_code error;
    for (const char* sub : {"autorizadas", "numeracao", "recibos"}) {
        fs::create_directories(fs::path(folder_) / sub, error);
        if (error || !fs::is_directory(fs::path(folder_) / sub))
            throw StateError("não foi possível usar a pasta de estado " + folder_ + ": " + error.message());
    }
    if (const auto sequences = readWhole(fs::path(folder_) / "sequencias")) {
        std::istringstream in(*sequences);
        std::string name;
        std::uint64_t value = 0;
        while (in >> name >> value) {
            if (name == "protocolo") protocolSequence_ = value;
            if (name == "recibo") receiptSequence_ = value;
        }
    }
}

std::string StateStore::numberEntryPath(const std::string& key) const {
    // The key holds cUF(2) AAMM(4) CNPJ(14) mod(2) serie(3) nNF(9) tpEmis(1) cNF(8) cDV(1).
    return (fs::path(folder_) / "numeracao" / key.substr(6, 14) /
            (key.substr(20, 2) + "-" + key.substr(22, 3) + "-" + key.substr(25, 9)))
        .string();
}

std::optional<std::string> StateStore::authorisedDocument(const std::string& key) const {
    requireDigits(key, 44, "chave de acesso");
    return readWhole(fs::path(folder_) / "autorizadas" / (key + ".xml"));
}

std::optional<AuthorisedEntry> StateStore::authorisedNumber(const std::string& key) const {
    requireDigits(key, 44, "chave de acesso");
    const auto content = readWhole(numberEntryPath(key));
    if (!content) return std::nullopt;
    std::istringstream in(*content);
    AuthorisedEntry entry;
    in >> entry.key >> entry.receipt;
    if (!digitsOnly(entry.key, 44)) return std::nullopt;
    // An entry whose document was never written (a crash between the two) does not count.
    if (!fs::exists(fs::path(folder_) / "autorizadas" / (entry.key + ".xml"))) return std::nullopt;
    return entry;
}

void StateStore::saveAuthorised(const AuthorisedEntry& entry, const std::string& nfeProc) {
    requireDigits(entry.key, 44, "chave de acesso");
    requireDigits(entry.receipt, 15, "recibo");
    writeWhole(numberEntryPath(entry.key), entry.key + " " + entry.receipt + "\n");
    writeWhole(fs::path(folder_) / "autorizadas" / (entry.key + ".xml"), nfeProc);
}

std::optional<std::string> StateStore::receiptResults(const std::string& receipt) const {
    if (!digitsOnly(receipt, 15)) return std::nullopt;
    return readWhole(fs::path(folder_) / "recibos" / (receipt + ".xml"));
}

void StateStore::saveReceiptResults(const std::string& receipt, const std::string& results) {
    requireDigits(receipt, 15, "recibo");
    writeWhole(fs::path(folder_) / "recibos" / (receipt + ".xml"), results);
}

std::uint64_t StateStore::nextProtocolSequence() {
    ++protocolSequence_;
    saveSequences();
    return protocolSequence_;
}

std::uint64_t StateStore::nextReceiptSequence() {
    ++receiptSequence_;
    saveSequences();
    return receiptSequence_;
}

void StateStore::saveSequences() {
    writeWhole(fs::path(folder_) / "sequencias", "protocolo " + std::to_string(protocolSequence_) + "\nrecibo " +
                                                     std::to_string(receiptSequence_) + "\n");
}

}  // namespace quorvanti::sefaz
