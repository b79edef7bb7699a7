// Sales queued for runs of the real monitor against the local SEFAZ, and what must become of them
// whatever happened on the way: each sale authorised exactly once and recorded once, numbered 1..n.
#pragma once

#include <string>
#include <vector>

namespace quorvanti::testing {

class ProgramFolder;

// Sale codes "<first>-<suffix>", "<first + 1>-<suffix>"... (`count` of them).
std::vector<std::string> saleCodes(int count, int first = 801, const std::string& suffix = "01");

// Queues `sales` in `folder`'s database, sold on 05/03/2026, one item each (a catalogue row for it
// too), in two statements whatever their number.
void queueSalesWithItems(const ProgramFolder& folder, const std::vector<std::string>& sales);

// The end every run must reach: the queue empty; the authority (its state folder `authorityState`)
// holds exactly one authorised NFC-e per sale and nothing else under any number; `folder`'s database
// holds one nfce_gerada row per sale, each an authorised document whose number its key carries, stored
// in the procNFe folder of one of `emitters`; the numbers are 1..n; config.NumeroNFCE is n + 1; every
// item is marked fiscal = 'Sim'.
void expectEachSaleAuthorisedOnce(const ProgramFolder& folder, const std::string& authorityState,
                                  const std::vector<std::string>& sales,
                                  const std::vector<const ProgramFolder*>& emitters);

}  // namespace quorvanti::testing
