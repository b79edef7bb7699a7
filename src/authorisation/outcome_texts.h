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

// True for the statuses that authorise the use of an NFC-e: 100, and 150 (authorised after its time, as
// a contingency document sent late is).
bool authorises(int status);

// True for the answers that say nothing final about a document: no usable answer (a transport failure,
// code above 8999), the service paused (108, 109), an uncatalogued error (999), or no status at all.
// The consultation's own waits ("HTTP 404", an HTML page "xmlThere is", a dropped connection "ERRO 93")
// are not counted here: the routine waits through them.
bool uncertainAnswer(int cStat, std::string_view text);

// True for a final protocol status that refuses the document for its data. A denial (110, 301-303), a
// duplicity (204, 539), "not found" (217) and the statuses outside 200-998 say nothing against the sale.
bool rejectsTheDocument(int status);

// An NFC-e number read from the queue row or config, as the routine's conversion reads it (a null or
// empty text is 0); raises std::runtime_error naming the text when it is not a number from 0 to
// 999999999, the largest the layout carries, so that no conversion leaves the range of an integer.
long long nfceNumber(const std::string& text);

// True for the denials of use (301: the emitter's irregularity, 302 and 303: the recipient's; 110 in
// older layouts): the authority keeps the denied document under its number.
bool isDenial(int status);

// True for 44 digits.
bool isAccessKey(std::string_view text);

// The text between the first <name> (or <name ...>) and its </name>; "" when absent.
std::string elementText(std::string_view xml, std::string_view name);

}  // namespace quorvanti::authorisation
