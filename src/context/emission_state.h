// The state of the NFC-e being emitted: what the emission routine and the group procedures hand each
// other while one sale is built, sent and completed. Reset for every sale by the emission routine.
#pragma once

#include <optional>
#include <string>

#include "database/recordset.h"
#include "fiscal_component/interface/component_arguments.h"

namespace quorvanti::context {

struct EmissionState {
    // The sale (copies of the routine's first two arguments) and its number, as text.
    std::string SaleCode;
    std::string SaleDate;
    std::string NfceNumber;

    // Identification group.
    std::string EmissionDateTime;   // dhEmi, reused by every later phase
    fiscal::SharedTexts SharedTexts;  // SharedText1 and SharedText2 of the component's document calls

    // Recipient group.
    std::string SaleClientCode;         // CodClientePrazo of the sale; may be empty
    std::string ConsumerDocumentInput;  // CPF or CNPJ accepted in the consumer document dialog, as typed
    std::string ConsumerCpf;            // CPF digits sent in the recipient group
    std::string ConsumerEmail;          // never filled: empty
    double ClientCode = 0;

    // Item group.
    int SaleItemCount = 0;
    int ItemIndex = 0;
    std::optional<database::Recordset> ItemRows;    // the sale's item rows, positioned by the item group
    double ProductsTotal = 0;
    double DiscountTotal = 0;  // the items' discounts, in cents as the document carries them
    std::string ItemCfop;
    std::string ItemCsosn;

    // Set by a group procedure whose handler caught a failure (or that found a value the layout cannot
    // carry): what failed, naming the sale, the item and the field. The routine then stops the sale
    // before generation and keeps its queue row, so no document is made from part of a sale.
    std::string GroupFailure;

    // Emission routine.
    std::optional<database::Recordset> SaleHeader;  // the sale totals row (totals group reads it)
    std::string Token;                              // config.token
    double ApproxTaxRate = 0;                       // config.ValAproxTrib
    std::string CustomerCode;                       // CodClientePrazo of the header, null as ""
    bool ValidationStatus = false;
    std::string OperationMessage;
    std::string ErrorText;
    std::string ErrorDescription;                   // description of the error the routine's handler caught
    std::string CurrentAccessKey;                   // 44 digits
    std::string GeneratedXmlPath;
    std::string ResponseText;

    // Completion and printing.
    std::string ProtocolText;
    std::string ProtocolNumber;
    std::string ProtocolDateTime;
    std::string QrText;
};

}  // namespace quorvanti::context
