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
std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), '0') + text;
}

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
    for (const char* sub : {"autorizadas", "numeracao", "recibos", "eventos", "inutilizacoes"}) {
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

std::string StateStore::numberEntryPath(const std::string& cnpj, const std::string& mod, const std::string& serie,
                                        const std::string& nNF) const {
    return (fs::path(folder_) / "numeracao" / cnpj / (mod + "-" + serie + "-" + nNF)).string();
}

std::optional<std::string> StateStore::authorisedDocument(const std::string& key) const {
    requireDigits(key, 44, "chave de acesso");
    return readWhole(fs::path(folder_) / "autorizadas" / (key + ".xml"));
}

std::optional<AuthorisedEntry> StateStore::entryAt(const std::string& path) const {
    const auto content = readWhole(path);
    if (!content) return std::nullopt;
    std::istringstream in(*content);
    AuthorisedEntry entry;
    in >> entry.key >> entry.receipt;
    if (!digitsOnly(entry.key, 44)) return std::nullopt;
    // An entry whose document was never written (a crash between the two) does not count.
    if (!fs::exists(fs::path(folder_) / "autorizadas" / (entry.key + ".xml"))) return std::nullopt;
    return entry;
}

std::optional<AuthorisedEntry> StateStore::authorisedNumber(const std::string& key) const {
    requireDigits(key, 44, "chave de acesso");
    // The key holds cUF(2) AAMM(4) CNPJ(14) mod(2) serie(3) nNF(9) tpEmis(1) cNF(8) cDV(1).
    return entryAt(numberEntryPath(key.substr(6, 14), key.substr(20, 2), key.substr(22, 3), key.substr(25, 9)));
}

std::optional<AuthorisedEntry> StateStore::numberHolder(const std::string& cnpj, const std::string& mod,
                                                        const std::string& serie, long nNF) const {
    requireDigits(cnpj, 14, "CNPJ");
    requireDigits(mod, 2, "modelo");
    if (serie.empty() || serie.size() > 3 || !digitsOnly(serie, serie.size()))
        throw StateError("série inválida: " + serie);
    if (nNF < 1 || nNF > 999999999) throw StateError("número inválido: " + std::to_string(nNF));
    return entryAt(numberEntryPath(cnpj, mod, padded(serie, 3), padded(std::to_string(nNF), 9)));
}

void StateStore::saveAuthorised(const AuthorisedEntry& entry, const std::string& nfeProc) {
    requireDigits(entry.key, 44, "chave de acesso");
    requireDigits(entry.receipt, 15, "recibo");
    const std::string& key = entry.key;
    writeWhole(numberEntryPath(key.substr(6, 14), key.substr(20, 2), key.substr(22, 3), key.substr(25, 9)),
               entry.key + " " + entry.receipt + "\n");
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

std::vector<std::string> StateStore::events(const std::string& key) const {
    requireDigits(key, 44, "chave de acesso");
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(folder_) / "eventos", error)) {
        const std::string name = entry.path().filename().string();
        // <chave>-<tpEvento>-<nSeq>.xml: a half-written ".parcial-" file never matches.
        if (name.size() == 44 + 1 + 6 + 1 + 2 + 4 && name.compare(0, 45, key + "-") == 0 &&
            name.compare(name.size() - 4, 4, ".xml") == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> found;
    for (const std::string& name : names) {
        if (auto content = readWhole(fs::path(folder_) / "eventos" / name)) found.push_back(std::move(*content));
    }
    return found;
}

void StateStore::saveEvent(const std::string& key, const std::string& tpEvento, int nSeqEvento,
                           const std::string& procEvento) {
    requireDigits(key, 44, "chave de acesso");
    requireDigits(tpEvento, 6, "tipo de evento");
    if (nSeqEvento < 1 || nSeqEvento > 99)
        throw StateError("sequência de evento inválida: " + std::to_string(nSeqEvento));
    const std::string name = key + "-" + tpEvento + "-" + padded(std::to_string(nSeqEvento), 2) + ".xml";
    writeWhole(fs::path(folder_) / "eventos" / name, procEvento);
}

std::optional<std::string> StateStore::voiding(const std::string& id) const {
    if (!digitsOnly(id, 41)) return std::nullopt;
    return readWhole(fs::path(folder_) / "inutilizacoes" / (id + ".xml"));
}

std::optional<VoidedRange> StateStore::voidedOverlap(const std::string& cnpj, const std::string& mod,
                                                     const std::string& serie, long first, long last) const {
    // The Id holds cUF(2) ano(2) CNPJ(14) mod(2) serie(3) nNFIni(9) nNFFin(9).
    const std::string sameSeries = cnpj + mod + padded(serie, 3);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(folder_) / "inutilizacoes", error)) {
        const std::string name = entry.path().filename().string();
        const std::string id = name.size() == 45 ? name.substr(0, 41) : "";
        if (!digitsOnly(id, 41) || name.compare(41, 4, ".xml") != 0 || id.compare(4, 19, sameSeries) != 0) continue;
        VoidedRange range{id, std::stol(id.substr(23, 9)), std::stol(id.substr(32, 9))};
        if (range.first <= last && first <= range.last) return range;
    }
    return std::nullopt;
}

void StateStore::saveVoiding(const std::string& id, const std::string& procInut) {
    requireDigits(id, 41, "Id de inutilização");
    writeWhole(fs::path(folder_) / "inutilizacoes" / (id + ".xml"), procInut);
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
