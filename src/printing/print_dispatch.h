// `ImprimeNFCe`: prints the DANFE NFC-e of an authorised (or contingency) NFC-e after the emission has
// stored it. It fills ReceiptData from the stored document (`PreparaImpressao`) and routes the job to
// the receipt-printer layouts (DARUMA, BEMATECH, EPSON, VOX) or, for any other printer name, to the A4
// layout on that printer. Printing never fails the emission: whatever goes wrong is logged (with the
// sale, the number, the printer and how to reprint) and told to the operator once per printer failure
// (print_faults), and the sale stays as the emission left it.
#pragma once

#include <string>

#include "context/app_context.h"

namespace quorvanti::printing {

// `skipMarker` "1" skips this sale; the setting "ImprimiNFCESistema" = "1" leaves printing to the
// point-of-sale side. Never throws (the program's own stop requests pass).
void ImprimeNFCe(context::AppContext& ctx, const std::string& skipMarker, const std::string& saleCode,
                 const std::string& number, const std::string& xmlPath, const std::string& accessKey,
                 const std::string& qrText, const std::string& contingency);

// Fills ReceiptData and prints. `secondFlag` joins the contingency test (ImprimeNFCe passes "0").
// Failures propagate to ImprimeNFCe.
void PreparaImpressao(context::AppContext& ctx, windows::frmEmitirNFCe& mainWindow, const std::string& saleCode,
                      const std::string& number, const std::string& xmlPath, const std::string& accessKey,
                      const std::string& qrText, const std::string& contingency, const std::string& port,
                      const std::string& secondFlag);

// Addresses the printer object to `name` for this process (the system default is never changed).
// A failure answers false with the reason in `problem` (naming the queue, telling a mistyped name from
// a missing server); the caller decides, since the reason is the operator's to read.
bool SetDefaultPrinter(const std::string& name, std::string* problem = nullptr);

// The receipt-printer setting with the case it was written in ("file:" paths and queue names keep it);
// the run setting when the settings file no longer holds the same name.
std::string receiptPrinterName(const context::AppContext& ctx);

}  // namespace quorvanti::printing
