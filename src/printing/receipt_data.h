// The printing module's one record, `ReceiptData`, overwritten by every print job, and the readers
// that fill it from the authorised document: `LerTagXml`, `ContaItens`, `LeIniImpressao`, and the
// thermal layouts' item block `MontaItens`. Used on the monitor thread only.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "windows/frm_emitir_nfce.h"

namespace quorvanti::printing {

struct ReceiptData {
    std::string PrinterPort;        // "PortaBematech"
    std::string IncludeItems;       // "incluioperacao": "1" prints the item lines
    std::string SettingsPath;       // the ConfigINI.ini this module reads
    std::string ExtraInfo;          // always empty; printed after "Inf Compl: " and at the receipt's end
    std::string AccessKey;
    std::string Contingency;        // "1": emitted in contingency
    std::string ProtocolLine;       // "dhRecbto nProt", or "NFC-e emitida em contigência " + dhEmi
    std::string ConsumerDocument;
    std::string ConsumerName;
    double ItemCount = 0;
    std::string TotalValue;         // <vNF>, XML decimal text
    std::string DiscountValue;      // <vDesc> of the totals, XML decimal text
    std::string PaidValue;          // the sum of the payments' <vPag>, XML decimal text
    std::string ChangeValue;        // <vTroco>; "" when the document gives no change
    std::string TaxValue;           // <vTotTrib> of the totals; "" when the document carries none
    std::string Environment;        // <tpAmb>: "2" is homologation
    std::string EmissionType;       // <tpEmis>: "9" is offline contingency
    std::string OmitHeader;         // "OmitirCabecalho"
    std::string TradeName;
    std::string Street;
    std::string StateRegistration;  // masked "@@.@@@.@@@-@"
    std::string EmitterCnpj;        // masked
    std::string EmitterPhone;       // masked
    std::string District;
    std::string City;
    std::string PostalCode;         // masked "@@.@@@-@@@"
    std::string DocumentNumber;     // as handed in; the thermal layouts rewrite it with 12 digits
    std::string SaleCode;
    std::string XmlPath;
    std::string QrText;
    windows::frmEmitirNFCe* MainWindow = nullptr;
};

// The module's state: the record and what survives between receipts (the approximate tax rate, which
// starts at zero and reads 3.70 from the first receipt on, and the vendor libraries' last code).
struct PrintModule {
    ReceiptData data;
    double TaxRate = 0;
    int lastResult = 0;
    std::string imagePath;  // the QR bitmap, once made
    bool amountErrorShown = false;  // the money conversion's box, once per job
    std::string portProblem;  // the last job's port that did not open; "" otherwise
    std::set<std::string> failingPrinters;  // printers whose failure the operator was told (print_faults)
};

// A receipt that did not reach its printer (port, queue or file), with the reason naming it. Raised by
// the layouts and caught where printing meets the emission.
struct PrintFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The one instance of this process.
PrintModule& printModule();
inline ReceiptData& receiptData() { return printModule().data; }

// The elements' text of `path`, its lines joined without separators. startTag "corpo" answers the whole
// text; "Id=" the 44 characters after the first `Id="NFe`. Otherwise the text between the first
// `startTag` after the first `sectionStart` and the first `endTag` after it, inside the section: an
// element past the first `sectionEnd` after the section's start is not the section's (a shop without a
// phone must not show its customer's). Empty when the file, the section or the start tag is missing,
// and when no end tag follows the start tag.
std::string LerTagXml(const std::string& path, std::string_view sectionStart, std::string_view sectionEnd,
                      std::string_view startTag, std::string_view endTag);

// The same on a text already read.
std::string tagInText(std::string_view text, std::string_view sectionStart, std::string_view sectionEnd,
                      std::string_view startTag, std::string_view endTag);

// The file's lines joined without separators; "" when it cannot be read.
std::string joinedLines(const std::string& path);

// The number of items of the document at `path`: each `<det nItem="i">` for i from 1 to 300 present
// counts, gaps included. Works on the copy "temp1.txt" in `programFolder`, removed afterwards.
std::string ContaItens(const std::string& path, const std::string& programFolder);

// A settings read: `key` of `section` of the file at `settingsPath`, "" when missing, at most 199
// characters (the 200-character buffer of the original).
std::string LeIniImpressao(const std::string& section, const std::string& key, const std::string& settingsPath);

// The item block of the thermal layouts from ReceiptData's XmlPath and ItemCount: two title lines, two
// lines per item (the code and name wrapped to 48 columns, so a long name takes more), and
// "VALOR TOTAL: " with the sum. Amounts have two decimals; quantities and unit
// prices are shortened to their columns (fitDecimal), so the value line keeps its 48 columns.
std::string MontaItens();

}  // namespace quorvanti::printing
