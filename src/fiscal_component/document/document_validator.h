// The document validator of the component's library: tells whether a text is a CPF or a CNPJ with
// right check digits (modulo 11, as the Receita Federal publishes them). The consumer document dialog
// uses it before the document goes into the NFC-e's recipient group.
//
// Accepted forms (decided here): bare digits (11 for a CPF, 14 for a CNPJ) or the standard masks
// "000.000.000-00" and "00.000.000/0000-00", exactly as printed. Anything else is refused: blanks,
// other separators, partial masks, letters (the alphanumeric CNPJ does not fit layout 4.00, whose CNPJ
// is 14 digits), and sequences of one repeated digit ("111.111.111-11"), whose check digits happen to
// be right but which the Receita Federal never issues.
#pragma once

#include <string>
#include <string_view>

#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

// The digits of `text` when it is a CPF or CNPJ in one of the accepted forms (11 or 14 digits), else "".
std::string documentDigits(std::string_view text);
// Whether 11 digits form a valid CPF / 14 digits a valid CNPJ (length, check digits, not one repeated digit).
bool validCpf(std::string_view digits);
bool validCnpj(std::string_view digits);

class CpfCnpjValidator final : public DocumentValidator {
public:
    // True when `document` is a valid CPF or CNPJ in one of the accepted forms.
    bool validate(const std::string& document) override;
};

}  // namespace quorvanti::fiscal
