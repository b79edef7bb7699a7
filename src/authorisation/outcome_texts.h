// Reading the authority's answers: the routine classifies them by substrings of their texts. States
// write the same words with and without accents ("Rejeição"/"Rejeicao", "não"/"nao"), so a test for a
// word matches either spelling; case is compared as given.
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::authorisation {

// True when `text` contains `word`, Portuguese accents ignored on both sides.
bool answerHas(std::string_view text, std::string_view word);

// The access key named inside brackets of an answer ("... [chNFe: 5126...]" or "[5126...]"): the first
// run of 44 digits after the first "[" at or after `from`; "" when there is none.
std::string keyInBrackets(std::string_view text, std::size_t from = 0);

// The receipt number ("nRec") an answer names, or "" when it names none.
std::string receiptInAnswer(std::string_view text);

}  // namespace quorvanti::authorisation
