#include "sefaz_simulator/checks/qr_code_check.h"

#include <cctype>
#include <vector>

#include "fiscal_component/document/qr_code.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == separator) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

QrCodeVerdict checkQrCode(xmlNode* nfe, const std::string& key, const std::string& digestValue,
                          const std::map<std::string, std::string>& cscs) {
    const auto refuse = [](int cStat, std::string detail) { return QrCodeVerdict{cStat, std::move(detail)}; };
    xmlNode* supplement = childElement(nfe, "infNFeSupl", kNfeNamespace);
    const std::string qrCode = textOf(childElement(supplement, "qrCode", kNfeNamespace));
    const auto start = qrCode.find("?p=");
    if (start == std::string::npos) return refuse(394, "sem infNFeSupl/qrCode com ?p=");
    const std::string parameters = qrCode.substr(start + 3);
    const std::vector<std::string> p = split(parameters, '|');

    xmlNode* infNfe = childElement(nfe, "infNFe", kNfeNamespace);
    xmlNode* ide = childElement(infNfe, "ide", kNfeNamespace);
    const bool offline = childText(ide, "tpEmis") == "9";
    std::vector<std::pair<const char*, std::string>> expected = {
        {"chave", key}, {"versão", "2"}, {"tpAmb", childText(ide, "tpAmb")}};
    if (offline) {
        const std::string dhEmi = childText(ide, "dhEmi");
        xmlNode* totals = childElement(childElement(infNfe, "total", kNfeNamespace), "ICMSTot", kNfeNamespace);
        expected.insert(expected.end(), {{"dia", dhEmi.size() >= 10 ? dhEmi.substr(8, 2) : ""},
                                         {"vNF", childText(totals, "vNF")},
                                         {"digVal", fiscal::hexOfCharacters(digestValue)}});
    }
    if (p.size() != expected.size() + 2) return refuse(397, "parâmetros: " + parameters);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [name, value] = expected[i];
        const bool same = name == std::string("digVal") ? lower(p[i]) == value : p[i] == value;
        if (!same) return refuse(397, std::string(name) + " " + p[i] + ", do documento " + value);
    }
    if (cscs.empty()) return {};
    const std::string& token = p[p.size() - 2];
    const auto csc = cscs.find(token);
    const std::string signedPart = parameters.substr(0, parameters.rfind('|'));
    if (csc == cscs.end() || fiscal::sha1UpperHex(signedPart + csc->second) != p.back())
        return refuse(464, "cIdToken " + token);
    return {};
}

}  // namespace quorvanti::sefaz
