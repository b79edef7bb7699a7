// The readers that take a value out of answer or document text by plain search: the key in brackets
// and the receipt number of an answer, the accent-blind word test, the key of a stored contingency
// document, the tag reader of configuracao.xml, and GravaArq's repairs of a stored document. Besides no
// crash, hang or undefined behaviour, each answer is what its contract promises: a key is 44 digits
// standing alone after the bracket (or named in the path and in the text), a receipt number is the
// digits right after "nRec", a tag's content lies between the tags, and a text that needs no repair is
// written as it is.
//
// Input: answer or document text %% search start (number) %% stored path (parts separated by "%%").
#include <cstdint>
#include <cstdlib>
#include <string>

#include "authorisation/emission_routine.h"
#include "authorisation/outcome_texts.h"
#include "fuzz_support.h"
#include "monitor/parameter_editor.h"

namespace {

using namespace quorvanti;
using fuzz::shown;

bool digit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(std::string_view text, std::size_t length) {
    if (text.size() != length) return false;
    for (const char c : text)
        if (!digit(c)) return false;
    return true;
}

// GravaArq changes a text only where one of its repairs applies.
bool needsRepair(const std::string& text) {
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return upper.find("<?XML VERSION=\"2.0\"") != std::string::npos || upper.find("<DHEMI>1016") != std::string::npos ||
           text.find("<CFOP>5102</CFOP>") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parts(fuzz::asText(data, size), 3);
    const std::string& text = input[0];
    const std::size_t from = static_cast<std::size_t>(std::strtoul(input[1].c_str(), nullptr, 10)) % (text.size() + 2);
    const std::string& path = input[2];

    const std::string key = authorisation::keyInBrackets(text, from);
    if (!key.empty()) {
        const std::size_t open = text.find('[', from);
        FUZZ_CHECK(open != std::string::npos && allDigits(key, 44), shown(key));
        bool alone = false;
        for (std::size_t at = text.find(key, open + 1); at != std::string::npos && !alone; at = text.find(key, at + 1))
            alone = !digit(text[at - 1]) && (at + 44 == text.size() || !digit(text[at + 44]));
        FUZZ_CHECK(alone, shown(text) + " -> " + key);
    }

    const std::string receipt = authorisation::receiptInAnswer(text);
    for (const char c : receipt) FUZZ_CHECK(digit(c), shown(receipt));
    if (!receipt.empty()) {
        const std::size_t named = text.find("nRec");
        std::size_t at = named + 4;
        while (at < text.size() && (text[at] == ':' || text[at] == ' ')) ++at;
        FUZZ_CHECK(text.compare(at, receipt.size(), receipt) == 0 &&
                       (at + receipt.size() == text.size() || !digit(text[at + receipt.size()])),
                   shown(text) + " -> " + receipt);
    }

    FUZZ_CHECK(authorisation::answerHas(text, path) || text.find(path) == std::string::npos, shown(text));
    FUZZ_CHECK(authorisation::answerHas(text, ""), "the empty word");
    FUZZ_CHECK(authorisation::answerHas(path + text + path, text), shown(text));
    authorisation::answerHas(text, input[1]);

    const std::string stored = authorisation::storedDocumentKey(path, text);
    if (!stored.empty()) {
        FUZZ_CHECK(allDigits(stored, 44), shown(stored));
        FUZZ_CHECK((path.find("assinado/NFe" + stored) != std::string::npos ||
                    path.find("assinado\\NFe" + stored) != std::string::npos) &&
                       text.find("NFe" + stored) != std::string::npos,
                   shown(path) + " -> " + stored);
    }

    // configuracao.xml holds the text; the editor reads three tags out of it.
    const std::string folder = fuzz::scratchFolder() + "/";
    if (!fuzz::writeFile(folder + "configuracao.xml", text)) return 0;
    for (const auto& [open, close] : {std::pair{"<CSC>", "</CSC>"}, {"<Serial>", "</Serial>"}, {"<cIdToken>", "</cIdToken>"}}) {
        const std::string content = monitor::retorna_tag(folder, open, close);
        FUZZ_CHECK(content.find(close) == std::string::npos, shown(content));
        if (!content.empty()) FUZZ_CHECK(text.find(open + content + close) != std::string::npos, shown(content));
    }

    const std::string file = folder + "gravado.xml";
    FUZZ_CHECK(authorisation::GravaArq(text, file) == file, file);
    const std::string kept = fuzz::readFile(file);
    FUZZ_CHECK(kept.size() >= 2 && kept.compare(kept.size() - 2, 2, "\r\n") == 0, "GravaArq ends with CR LF");
    if (!needsRepair(text)) FUZZ_CHECK(kept == text + "\r\n", shown(text) + "\n->\n" + shown(kept));
    return 0;
}
