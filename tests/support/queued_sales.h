// Sales queued for runs of the real monitor against the local SEFAZ, and the end they must reach.
#pragma once

#include <string>
#include <vector>

namespace quorvanti::testing {

class ProgramFolder;

// Queues `count` sales "801-01", "802-01"... (sold on 05/03/2026, one catalogued item each); answers their codes.
std::vector<std::string> queueSalesWithItems(const ProgramFolder& folder, int count);

// The queue empty; the authority (`authorityState`) holds one NFC-e per sale, nothing else; one nfce_gerada
// row per sale, as stored in one of `emitters`' procNFe; numbers 1..n; config.NumeroNFCE n + 1.
void expectEachSaleAuthorisedOnce(const ProgramFolder& folder, const std::string& authorityState,
                                  const std::vector<std::string>& sales,
                                  const std::vector<const ProgramFolder*>& emitters);

}  // namespace quorvanti::testing
