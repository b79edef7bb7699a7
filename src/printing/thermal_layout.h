// `ImprimeTermica`, the receipt-printer layouts: the common start that every family shares, and the
// Daruma branch, which composes the whole receipt in the Daruma tag markup and hands it over in one
// call. The Bematech and Epson branches are in vendor_layouts, the VOX branch in
// windows_printer_layouts. All data comes from ReceiptData.
#pragma once

#include <string>
#include <vector>

#include "context/app_context.h"
#include "printing/receipt_data.h"

namespace quorvanti::printing {

// The values the common start prepares for every family.
struct ThermalValues {
    std::string ShortHeader;     // "1": trade name and CNPJ/IE only, no totals block
    std::string ItemLines;       // MontaItens, when IncludeItems is "1"
    std::string DiscountText;    // "###0.00"
    std::string TotalText;       // "###0.00"
    std::string PaidText;        // the payments' sum, "###0.00"
    std::string ChangeText;      // the change, "###0.00"; "" when the document gives none
    std::string ConsultText;     // "Consulte pela Chave de Acesso em:" CRLF + the state's address
    std::string BematechModel;   // first digit of "ModeloBematech", "0" when none
    std::string PortalAddress;   // the national NF-e portal, printed before the number
    bool Totals = true;          // the totals block: not in the short form, always in contingency
    std::vector<std::string> Notices;  // requiredNotices, printed under the protocol line
};

// Texts the authority's DANFE NFC-e manual requires, whatever the settings.
inline constexpr const char* kContingencyNotice = "EMITIDA EM CONTINGÊNCIA";
inline constexpr const char* kPendingNotice = "Pendente de autorização";
inline constexpr const char* kHomologationNotice = "EMITIDA EM AMBIENTE DE HOMOLOGAÇÃO - SEM VALOR FISCAL";

// The notices of this document, in print order: the contingency notice for a document emitted in
// contingency, "Pendente de autorização" while it has no authorisation, the homologation notice in
// homologation.
std::vector<std::string> requiredNotices(const ReceiptData& r);

// Fixed texts of the program, each overridable in section "Geral" of the settings file.
// The portal's host name: with " NFCe n: " and a 12-digit number it fits the 48 columns.
inline constexpr const char* kPortalAddress = "www.nfe.fazenda.gov.br";
inline constexpr const char* kPortalSetting = "EnderecoPortalNFe";
inline constexpr const char* kConsultSetting = "EnderecoConsultaNFCe";

// The state's consultation address printed under "Consulte pela Chave de Acesso em:": the setting, else
// the document's own urlChave (the address the official manual prints), else the QR text's address.
std::string consultationAddress(const ReceiptData& r);

// The common start: reads the settings again, rewrites DocumentNumber with 12 digits. Raises
// PrintFailure, before any printer is reached, when the QR code cannot be printed.
ThermalValues thermalStart(context::AppContext& ctx);

// Routes to the family named by the receipt-printer setting (DARUMA, BEMATECH, EPSON, VOX).
// `unused` is the original's second text, which no layout reads.
void ImprimeTermica(context::AppContext& ctx, const std::string& accessKey, const std::string& unused,
                    const std::string& saleCode);

// The Daruma receipt as markup, and its printing on the Daruma layer configured in printers.ini.
std::string darumaMarkup(context::AppContext& ctx, const ThermalValues& v);
void printDaruma(context::AppContext& ctx, const ThermalValues& v);

// The money conversion of the receipts (FormataValor); its error box, and "" on error.
std::string moneyText(context::AppContext& ctx, const std::string& amount);
// The approximate tax rate in percent: 3.70 from the first receipt on.
double approximateTaxRate();
// The approximate taxes of the document (Lei 12.741/2012): its vTotTrib when it carries one, else the
// rate of its vNF.
double approximateTax();

}  // namespace quorvanti::printing
