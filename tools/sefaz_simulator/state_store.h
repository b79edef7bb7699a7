// What the local authority remembers across restarts, as files in its state folder:
//   autorizadas/<chave>.xml             the authorised document (nfeProc: the NFe and its protNFe)
//   numeracao/<CNPJ>/<mod>-<série>-<nNF>  the key and receipt authorised under that emitter, model,
//                                       series and number (the index the duplicity checks use)
//   recibos/<nRec>.xml                  the results of one batch, for the receipt consultation
//   eventos/<chave>-<tpEvento>-<nSeq>.xml  a registered event (procEventoNFe: the evento and its
//                                       retEvento)
//   inutilizacoes/<Id>.xml              a voided range (ProcInutNFe, as the schema names it: the
//                                       request and its answer); the name is infInut's Id without "ID"
//                                       (cUF, ano, CNPJ, mod, série, first and last number)
//   sequencias                          the last protocol and receipt sequence numbers
// Every file is written whole and renamed into place, so a crash leaves each one old or new, never
// torn. A number entry counts only while its document exists: the entry is written first, so a crash
// between the two leaves an entry that is ignored, never a document the index does not know.
// Not thread-safe: the authority serialises its calls.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvanti::sefaz {

class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AuthorisedEntry {
    std::string key;      // 44 digits
    std::string receipt;  // nRec of the batch that authorised it
};

// A range of numbers voided under one emitter, model and series.
struct VoidedRange {
    std::string id;  // infInut's Id without "ID" (41 digits)
    long first = 0;  // nNFIni
    long last = 0;   // nNFFin
};

class StateStore {
public:
    // Opens the folder, creating it and its subfolders when missing. Raises StateError when it cannot.
    explicit StateStore(std::string folder);

    const std::string& folder() const { return folder_; }

    // The nfeProc authorised under `key`; nothing when the key was never authorised.
    std::optional<std::string> authorisedDocument(const std::string& key) const;
    // The document authorised under the same emitter, model, series and number as `key` (which may be
    // that key itself); nothing when that number is free.
    std::optional<AuthorisedEntry> authorisedNumber(const std::string& key) const;
    // The document that holds number `nNF` of emitter `cnpj` (14 digits), model `mod` (2 digits) and
    // series `serie` (1 to 3 digits), whatever its key; nothing when that number is free.
    std::optional<AuthorisedEntry> numberHolder(const std::string& cnpj, const std::string& mod,
                                                const std::string& serie, long nNF) const;
    // Keeps an authorised document. Raises StateError when the files cannot be written.
    void saveAuthorised(const AuthorisedEntry& entry, const std::string& nfeProc);

    // The procEventoNFe of every event registered for `key`, ordered by tpEvento and nSeqEvento.
    std::vector<std::string> events(const std::string& key) const;
    // Keeps a registered event (`tpEvento` 6 digits, `nSeqEvento` 1 to 99). Raises StateError.
    void saveEvent(const std::string& key, const std::string& tpEvento, int nSeqEvento, const std::string& procEvento);

    // The ProcInutNFe of the voiding request whose infInut Id is "ID" + `id`; nothing when none.
    std::optional<std::string> voiding(const std::string& id) const;
    // A voided range of the same emitter, model and series (any year) that shares a number with
    // `first`..`last`; nothing when there is none.
    std::optional<VoidedRange> voidedOverlap(const std::string& cnpj, const std::string& mod, const std::string& serie,
                                             long first, long last) const;
    // Keeps a voided range under its Id (41 digits). Raises StateError.
    void saveVoiding(const std::string& id, const std::string& procInut);

    // The stored results of batch `receipt`; nothing for an unknown receipt.
    std::optional<std::string> receiptResults(const std::string& receipt) const;
    void saveReceiptResults(const std::string& receipt, const std::string& results);

    // The next protocol / receipt sequence number (1, 2, ...), kept across restarts.
    std::uint64_t nextProtocolSequence();
    std::uint64_t nextReceiptSequence();

private:
    std::string numberEntryPath(const std::string& cnpj, const std::string& mod, const std::string& serie,
                                const std::string& nNF) const;
    std::optional<AuthorisedEntry> entryAt(const std::string& path) const;
    void saveSequences();

    std::string folder_;
    std::uint64_t protocolSequence_ = 0;
    std::uint64_t receiptSequence_ = 0;
};

}  // namespace quorvanti::sefaz
