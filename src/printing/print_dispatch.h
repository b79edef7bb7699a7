// `ImprimeNFCe`: hands an authorised (or contingency) NFC-e to the receipt printer, unless printing is
// switched off for the sale or in the settings.
#pragma once

#include <string>

#include "context/app_context.h"

namespace quorvanti::printing {

// `skipMarker` "1" skips this sale; the setting "ImprimiNFCESistema" = "1" leaves printing to the
// point-of-sale side. The receipt layouts are not part of this version: the sale is announced as not
// printed.
void ImprimeNFCe(context::AppContext& ctx, const std::string& skipMarker, const std::string& saleCode,
                 const std::string& number, const std::string& xmlPath, const std::string& accessKey,
                 const std::string& qrText, const std::string& contingency);

}  // namespace quorvanti::printing
