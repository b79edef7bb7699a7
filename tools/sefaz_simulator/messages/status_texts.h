// The reason texts (xMotivo) the local authority writes: the standard text of each status code it
// answers, the bracketed references some of them carry, the unaccented form some states use, and the
// limits of the layout's reason type.
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::sefaz {

// The standard text of `cStat`, with "{chNFe}" and "{nRec}" where the authority names a key or a
// receipt; "" for a code this authority does not know.
std::string standardText(int cStat);

// `text` with "{chNFe}" replaced by `key` and "{nRec}" by `receipt`.
std::string fillReferences(std::string text, std::string_view key, std::string_view receipt);

// `text` with the accented letters of Portuguese replaced by their plain forms ("Rejeição" becomes
// "Rejeicao"), as some states write their answers.
std::string withoutAccents(std::string_view text);

// `text` made fit for the layout's reason type: characters outside U+0020..U+00FF become "?", runs of
// blanks and line breaks become one blank, no blank at either end, at most 255 characters; "-" when
// nothing is left.
std::string reasonText(std::string_view text);

}  // namespace quorvanti::sefaz
