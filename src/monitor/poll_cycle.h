// The queue poll: each Timer1 tick asks the settings file whether there is work, reads the queue query
// chosen at start-up as a static snapshot and hands each queued sale to the emission routine, one after
// the other, deleting the row after its turn unless the routine says the row must stay.
#pragma once

#include <functional>
#include <string>

#include "context/app_context.h"

namespace quorvanti::monitor {

// One row of TabNCEAEnviar as the emission routine receives it; every column but dataV joined to "".
struct SaleQueueEntry {
    std::string NumVendaVem;   // codvenda
    std::string DataVenda;     // dataV, "dd/mm/yyyy"
    std::string CaminhoXML;    // caminhoXMLcontigencia
    std::string numeroNFCE;
    std::string dataCont;      // DataContigencia
    std::string corpoXML;
    std::string qrcode;
};

// What the emission routine tells the poll about the row it was given. The original deleted the row
// after every sale unless an error was still pending; sales that must be sent again (a kept number, a
// stop of the program) would then be lost, so the routine says so here.
struct EmissionOutcome {
    bool keepRow = false;      // the sale must be emitted again: the row stays
    std::string pendingError;  // an unhandled failure: shown, and the row stays
};

using EmissionRoutine = std::function<EmissionOutcome(context::AppContext&, SaleQueueEntry&)>;

// The Timer1 tick handler. Raises what the database raises (nothing catches it: the program ends).
void Timer1_Timer(context::AppContext& ctx, const EmissionRoutine& emiteNFCeVenda);

}  // namespace quorvanti::monitor
