// Printing again the DANFE NFC-e of a stored, authorised NFC-e by its access key, through the same
// dispatch and layouts as the emission: the number and QR text come from the stored procNFe, the sale
// code from its nfce_gerada row (when the database is open). Used by `quorvanti --reprint KEY` and by the
// panel's reprint button.
#pragma once

#include <string>
#include <vector>

#include "context/app_context.h"

namespace quorvanti::monitor {

// The stored procNFe of `key` in the program folder.
std::string storedProcNFePath(const context::AppContext& ctx, const std::string& key);

struct StoredPrint {
    bool printed = false;
    std::string problem;             // why it was not printed
    std::vector<std::string> notes;  // what was printed without (the sale code, when it cannot be read)
};

// Prints the stored NFC-e `key` (a key whose procNFe is stored: check before). Never throws.
StoredPrint printStoredNFCe(context::AppContext& ctx, const std::string& key);

}  // namespace quorvanti::monitor
