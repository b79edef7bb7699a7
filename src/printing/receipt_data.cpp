#include "printing/receipt_data.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "document/text/text_helpers.h"
#include "platform/ini_file.h"
#include "printing/receipt_text.h"

namespace quorvanti::printing {

namespace {

// The section start of item `i`, as the document writes it.
std::string itemSection(int i) { return "<det nItem=\"" + std::to_string(i) + "\">"; }

constexpr const char* kCrLf = "\r\n";


}  // namespace

PrintModule& printModule() {
    static PrintModule module;
    return module;
}

std::string joinedLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text, line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += line;
    }
    return text;
}

std::string tagInText(std::string_view text, std::string_view sectionStart, std::string_view sectionEnd,
                      std::string_view startTag, std::string_view endTag) {
    if (startTag == "corpo") return std::string(text);
    if (startTag == "Id=") {
        const std::size_t at = text.find("Id=");
        if (at == std::string_view::npos || at + 7 > text.size()) return {};
        return std::string(text.substr(at + 7, 44));
    }
    const std::size_t section = text.find(sectionStart);
    if (section == std::string_view::npos) return {};
    std::string_view cut = text.substr(section);
    if (!sectionEnd.empty()) {
        const std::size_t end = cut.find(sectionEnd, sectionStart.size());
        if (end != std::string_view::npos) cut = cut.substr(0, end);
    }
    const std::size_t start = cut.find(startTag);
    if (start == std::string_view::npos) return {};
    const std::size_t valueAt = start + startTag.size();
    // A start tag without an end tag after it reads as empty: the original's length would be negative.
    const std::size_t end = cut.find(endTag, valueAt);
    if (end == std::string_view::npos) return {};
    return std::string(cut.substr(valueAt, end - valueAt));
}

std::string LerTagXml(const std::string& path, std::string_view sectionStart, std::string_view sectionEnd,
                      std::string_view startTag, std::string_view endTag) {
    return tagInText(joinedLines(path), sectionStart, sectionEnd, startTag, endTag);
}

std::string ContaItens(const std::string& path, const std::string& programFolder) {
    namespace fs = std::filesystem;
    const fs::path copy = fs::path(programFolder) / "temp1.txt";
    std::error_code ignored;
    fs::remove(copy, ignored);
    fs::copy_file(path, copy, ignored);
    std::string text;
    {
        std::ifstream in(copy, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            text += line;
            text += '\r';
        }
    }
    // The copy has served its purpose; nothing else reads it.
    fs::remove(copy, ignored);
    int count = 0;
    for (int i = 1; i <= 300; ++i)
        if (text.find(itemSection(i)) != std::string::npos) ++count;
    return std::to_string(count);
}

std::string LeIniImpressao(const std::string& section, const std::string& key, const std::string& settingsPath) {
    return platform::readSetting(section, key, settingsPath);
}

std::string MontaItens() {
    const ReceiptData& r = receiptData();
    const std::string xml = joinedLines(r.XmlPath);
    std::string block = "COD_PROD  " + std::string(" DESCRITIVO") + kCrLf;
    block += rightInColumn("QUT", 10) + rightInColumn("UNIT", 11) + rightInColumn("DES", 10) +
             rightInColumn("VALOR", 17) + kCrLf;
    long long total = 0;
    const int count = static_cast<int>(std::nearbyint(r.ItemCount));
    for (int i = 1; i <= count; ++i) {
        const std::string section = itemSection(i);
        // Each item's values are read inside its own <det>: an item without a discount element must not
        // show the next item's discount (or the document's total discount).
        const auto tag = [&](std::string_view name) {
            const std::string open = "<" + std::string(name) + ">", close = "</" + std::string(name) + ">";
            return tagInText(xml, section, "</det>", open, close);
        };
        // In cents, as the document's amounts are: the net and the sum stay exact.
        const long long discount = std::llround(xmlDecimal(tag("vDesc")) * 100);
        const long long net = std::llround(xmlDecimal(tag("vProd")) * 100) - discount;
        // A long name goes on as many lines as it needs, broken at its blanks.
        block += wrapColumns(formatText(tag("cProd"), "0000000000") + " " + tag("xProd")) + kCrLf;
        // Each value keeps a blank before it, so neighbouring columns never run together.
        block += rightInColumn(fitDecimal(tag("qCom"), 10, 3), 10) + rightInColumn(fitDecimal(tag("vUnCom"), 10, 2), 11) +
                 rightInColumn(formatNumber(discount / 100.0, "###0.00"), 10) +
                 rightInColumn(formatNumber(net / 100.0, "###0.00"), 17) + kCrLf;
        total += net;
    }
    block += "VALOR TOTAL: " + rightInColumn(formatNumber(total / 100.0, "######0.00"), 35);
    return block;
}

}  // namespace quorvanti::printing
