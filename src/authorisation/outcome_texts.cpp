#include "authorisation/outcome_texts.h"

#include <stdexcept>
#include <utility>

#include "document/text/vb_conversions.h"

namespace quorvanti::authorisation {

namespace {

// Folds the accented letters of Portuguese to their plain forms, keeping case.
std::string folded(std::string_view text) {
    static const std::pair<const char*, const char*> kFolds[] = {
        {"á", "a"}, {"à", "a"}, {"â", "a"}, {"ã", "a"}, {"é", "e"}, {"ê", "e"}, {"í", "i"}, {"ó", "o"},
        {"ô", "o"}, {"õ", "o"}, {"ú", "u"}, {"ü", "u"}, {"ç", "c"}, {"Á", "A"}, {"À", "A"}, {"Â", "A"},
        {"Ã", "A"}, {"É", "E"}, {"Ê", "E"}, {"Í", "I"}, {"Ó", "O"}, {"Ô", "O"}, {"Õ", "O"}, {"Ú", "U"},
        {"Ü", "U"}, {"Ç", "C"}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            for (const auto& [from, to] : kFolds) {
                const std::string_view f(from);
                if (text.substr(i, f.size()) == f) {
                    out += to;
                    i += f.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

std::string digitsRun(std::string_view text, std::size_t from, std::size_t length) {
    std::size_t run = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            if (++run == length && (i + 1 == text.size() || text[i + 1] < '0' || text[i + 1] > '9'))
                return std::string(text.substr(i + 1 - length, length));
        } else {
            run = 0;
        }
    }
    return "";
}

}  // namespace

bool answerHas(std::string_view text, std::string_view word) {
    if (text.find(word) != std::string_view::npos) return true;
    return folded(text).find(folded(word)) != std::string::npos;
}

std::string keyInBrackets(std::string_view text, std::size_t from) {
    const auto open = text.find('[', from);
    if (open == std::string_view::npos) return "";
    return digitsRun(text, open + 1, 44);
}

std::string receiptInAnswer(std::string_view text) {
    const auto at = text.find("nRec");
    if (at == std::string_view::npos) return "";
    std::size_t i = at + 4;
    while (i < text.size() && (text[i] == ':' || text[i] == ' ')) ++i;
    std::size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    return std::string(text.substr(i, end - i));
}

bool authorises(int status) { return status == 100 || status == 150; }

bool uncertainAnswer(int cStat, std::string_view text) {
    if (cStat > 8999)
        return !answerHas(text, "HTTP 404") && !answerHas(text, "xmlThere is") && !answerHas(text, "ERRO 93");
    return cStat == 0 || cStat == 108 || cStat == 109 || cStat == 999;
}

bool rejectsTheDocument(int status) {
    if (status < 200 || status > 998) return false;
    return status != 204 && status != 217 && status != 539 && (status < 301 || status > 303);
}

long long nfceNumber(const std::string& text) {
    const double number = document::Val(text);
    if (!(number >= 0 && number <= 999999999))
        throw std::runtime_error("Número da NFC-e \"" + text + "\" fora de 0 a 999999999");
    return static_cast<long long>(number);
}

bool isDenial(int status) { return status == 110 || (status >= 301 && status <= 303); }

bool isAccessKey(std::string_view text) {
    return text.size() == 44 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string elementText(std::string_view xml, std::string_view name) {
    const std::string open = "<" + std::string(name);
    for (std::size_t at = xml.find(open); at != std::string_view::npos; at = xml.find(open, at + 1)) {
        const std::size_t after = at + open.size();
        if (after >= xml.size() || (xml[after] != '>' && xml[after] != ' ')) continue;  // <CPFx>, not <CPF>
        const std::size_t start = xml.find('>', after);
        if (start == std::string_view::npos) return "";
        const std::size_t end = xml.find("</" + std::string(name) + ">", start);
        if (end == std::string_view::npos) return "";
        return std::string(xml.substr(start + 1, end - start - 1));
    }
    return "";
}

}  // namespace quorvanti::authorisation
