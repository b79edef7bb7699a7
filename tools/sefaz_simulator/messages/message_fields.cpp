#include "sefaz_simulator/messages/message_fields.h"

#include <algorithm>
#include <cctype>

#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

std::string statusXml(int cStat, const std::string& xMotivo) {
    return xmlElement("cStat", std::to_string(cStat)) + xmlElement("xMotivo", xMotivo);
}

bool digitsBetween(const std::string& text, std::size_t min, std::size_t max) {
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), '0') + text;
}

}  // namespace quorvanti::sefaz
