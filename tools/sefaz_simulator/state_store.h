// What the local authority remembers across restarts, as files in its state folder:
//   autorizadas/<chave>.xml             the authorised document (nfeProc: the NFe and its protNFe)
//   numeracao/<CNPJ>/<mod>-<série>-<nNF>  the key and receipt authorised under that emitter, model,
//                                       series and number (the index the duplicity checks use)
//   recibos/<nRec>.xml                  the results of one batch, for the receipt consultation
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

namespace quorvanti::sefaz {

class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AuthorisedEntry {
    std::string key;      // 44 digits
    std::string receipt;  // nRec of the batch that authorised it
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
    // Keeps an authorised document. Raises StateError when the files cannot be written.
    void saveAuthorised(const AuthorisedEntry& entry, const std::string& nfeProc);

    // The stored results of batch `receipt`; nothing for an unknown receipt.
    std::optional<std::string> receiptResults(const std::string& receipt) const;
    void saveReceiptResults(const std::string& receipt, const std::string& results);

    // The next protocol / receipt sequence number (1, 2, ...), kept across restarts.
    std::uint64_t nextProtocolSequence();
    std::uint64_t nextReceiptSequence();

private:
    std::string numberEntryPath(const std::string& key) const;
    void saveSequences();

    std::string folder_;
    std::uint64_t protocolSequence_ = 0;
    std::uint64_t receiptSequence_ = 0;
};

}  // namespace quorvanti::sefaz
