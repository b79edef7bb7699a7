#include "fiscal_component/document/schema_validation.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "fiscal_component/document/nfce_schema.h"
#include "fiscal_component/document/xml_names.h"

namespace quorvanti::fiscal {

namespace {

constexpr std::size_t kMaxReportedErrors = 5;

struct SchemaDeleter {
    void operator()(xmlSchema* schema) const { xmlSchemaFree(schema); }
};
using SchemaPtr = std::shared_ptr<xmlSchema>;

std::string shortNames(std::string text) {
    const auto replaceAll = [&](const std::string& from, const std::string& to) {
        for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    };
    replaceAll(std::string("{") + kNfeNamespace + "}", "nfe:");
    replaceAll(std::string("{") + kDsigNamespace + "}", "ds:");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// Matches `text` against `form`, whose "%" stand for captured texts; the last literal part must end the
// text. No std::regex: its GCC 12 implementation draws false warnings in the sanitizer build.
bool matchForm(std::string_view text, std::string_view form, std::vector<std::string>& captures) {
    captures.clear();
    std::vector<std::string_view> literals;
    for (std::size_t from = 0;;) {
        const std::size_t mark = form.find('%', from);
        literals.push_back(form.substr(from, mark == std::string_view::npos ? std::string_view::npos : mark - from));
        if (mark == std::string_view::npos) break;
        from = mark + 1;
    }
    if (text.substr(0, literals[0].size()) != literals[0]) return false;
    std::size_t at = literals[0].size();
    for (std::size_t i = 1; i < literals.size(); ++i) {
        const bool last = i + 1 == literals.size();
        const std::size_t found = last ? (text.size() >= literals[i].size() && text.size() - literals[i].size() >= at &&
                                                  text.substr(text.size() - literals[i].size()) == literals[i]
                                              ? text.size() - literals[i].size()
                                              : std::string_view::npos)
                                       : text.find(literals[i], at);
        if (found == std::string_view::npos) return false;
        captures.emplace_back(text.substr(at, found - at));
        at = found + literals[i].size();
    }
    return literals.size() > 1 || at == text.size();
}

// libxml2's reason, in Portuguese where its form is known.
std::string reasonInPortuguese(std::string reason) {
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    struct Form {
        const char* english;
        const char* portuguese;  // "%1", "%2" stand for the captures
    };
    static constexpr Form kForms[] = {
        {"[facet 'pattern'] The value '%' is not accepted by the pattern '%'", "valor '%1' não corresponde ao padrão '%2'"},
        {"[facet 'enumeration'] The value '%' is not an element of the set {%}", "valor '%1' não está entre os permitidos {%2}"},
        {"[facet 'maxLength'] The value has a length of '%'; this exceeds the allowed maximum length of '%'",
         "valor com %1 caracteres excede o máximo de %2"},
        {"[facet 'minLength'] The value has a length of '%'; this underruns the allowed minimum length of '%'",
         "valor com %1 caracteres abaixo do mínimo de %2"},
        {"[facet 'length'] %", "comprimento do valor inválido"},
        {"'%' is not a valid value of the %", "valor '%1' inválido para este elemento"},
        {"This element is not expected. Expected is one of ( % )", "elemento fora de ordem ou não permitido aqui; esperado: %1"},
        {"This element is not expected. Expected is ( % )", "elemento fora de ordem ou não permitido aqui; esperado: %1"},
        {"This element is not expected", "elemento não permitido aqui"},
        {"Missing child element(s). Expected is one of ( % )", "faltam elementos obrigatórios; esperado: %1"},
        {"Missing child element(s). Expected is ( % )", "faltam elementos obrigatórios; esperado: %1"},
        {"The attribute '%' is required but missing", "falta o atributo obrigatório '%1'"},
        {"The value '%' does not match the fixed value constraint '%'", "valor '%1' difere do valor obrigatório '%2'"},
        {"No matching global declaration available for the validation root", "não é o elemento raiz de uma NF-e"},
    };
    std::vector<std::string> captures;
    for (const Form& form : kForms) {
        if (!matchForm(reason, form.english, captures)) continue;
        std::string out = form.portuguese;
        for (std::size_t i = 0; i < captures.size(); ++i) {
            const std::string mark = "%" + std::to_string(i + 1);
            if (const auto at = out.find(mark); at != std::string::npos) out.replace(at, mark.size(), captures[i]);
        }
        return out;
    }
    return reason;
}

std::string qualifiedName(const xmlNode* node) {
    std::string prefix;
    if (node->ns && node->ns->href) {
        const std::string_view ns(reinterpret_cast<const char*>(node->ns->href));
        prefix = ns == kNfeNamespace ? "nfe:" : ns == kDsigNamespace ? "ds:" : "";
    }
    return prefix + reinterpret_cast<const char*>(node->name);
}

// " do item 3" when the node lies inside a det element.
std::string itemOf(const xmlNode* node) {
    for (const xmlNode* n = node; n; n = n->parent) {
        if (n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST "det")) {
            if (xmlChar* number = xmlGetProp(n, BAD_CAST "nItem")) {
                std::string text = std::string(" do item ") + reinterpret_cast<const char*>(number);
                xmlFree(number);
                return text;
            }
        }
    }
    return {};
}

struct ErrorCollector {
    std::vector<std::string> messages;
    std::size_t total = 0;
};

std::string describe(const xmlError* error) {
    const std::string raw = shortNames(error->message ? error->message : "erro desconhecido");
    const auto* node = static_cast<const xmlNode*>(error->node);
    const std::string where = (node ? itemOf(node) : "") + " (linha " +
                              std::to_string(node ? xmlGetLineNo(node) : error->line) + ")";
    std::vector<std::string> parts;
    std::string subject = "Documento" + where;
    std::string reason = raw;
    if (matchForm(raw, "Element '%', attribute '%': %", parts)) {
        subject = "Atributo '" + parts[1] + "' do elemento " + parts[0] + where;
        reason = parts[2];
    } else if (matchForm(raw, "Element '%': %", parts)) {
        subject = "Elemento " + (node && node->type == XML_ELEMENT_NODE ? qualifiedName(node) : parts[0]) + where;
        reason = parts[1];
    }
    return subject + ": " + reasonInPortuguese(reason) + ". Detalhe: " + raw;
}

void collectError(void* data, xmlErrorPtr error) {
    auto* collector = static_cast<ErrorCollector*>(data);
    if (error->level == XML_ERR_WARNING) return;
    ++collector->total;
    if (collector->messages.size() < kMaxReportedErrors) collector->messages.push_back(describe(error));
}

std::string joined(const ErrorCollector& collector) {
    std::string text;
    for (const std::string& message : collector.messages) {
        if (!text.empty()) text += "\n";
        text += message;
    }
    if (collector.total > collector.messages.size()) {
        text += "\n(e mais " + std::to_string(collector.total - collector.messages.size()) + " erros)";
    }
    return text;
}

struct LoadedSchema {
    SchemaPtr schema;
    std::string error;  // why it could not be loaded
};

LoadedSchema parseSchema(xmlSchemaParserCtxtPtr parser) {
    LoadedSchema loaded;
    if (!parser) {
        loaded.error = "não foi possível abrir o esquema";
        return loaded;
    }
    ErrorCollector collector;
    xmlSchemaSetParserStructuredErrors(parser, collectError, &collector);
    xmlSchema* schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    if (schema) {
        loaded.schema = SchemaPtr(schema, SchemaDeleter());
    } else {
        loaded.error = collector.messages.empty() ? "esquema inválido" : joined(collector);
    }
    return loaded;
}

// What identifies the state of a schema folder: its .xsd files' count, sizes and newest change.
struct FolderStamp {
    std::size_t files = 0;
    std::uintmax_t bytes = 0;
    std::filesystem::file_time_type newest{};
    bool operator==(const FolderStamp&) const = default;
};

FolderStamp stampOf(const std::string& folder) {
    FolderStamp stamp;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.path().extension() != ".xsd") continue;
        ++stamp.files;
        stamp.bytes += entry.file_size(ec);
        stamp.newest = std::max(stamp.newest, entry.last_write_time(ec));
    }
    return stamp;
}

class OfficialSchemaCache {
public:
    LoadedSchema get(const std::string& folder) {
        // The folder is looked at again at most every two seconds: a sale validates several times a
        // second in bursts, while a new schema package arrives by hand.
        constexpr auto kRecheck = std::chrono::seconds(2);
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(mutex_);
        auto it = entries_.find(folder);
        if (it != entries_.end() && now - it->second.checked < kRecheck) return it->second.loaded;
        const FolderStamp stamp = stampOf(folder);
        if (it != entries_.end() && it->second.stamp == stamp) {
            it->second.checked = now;
            return it->second.loaded;
        }
        Entry entry{stamp, now, parseSchema(xmlSchemaNewParserCtxt((folder + "/nfe_v4.00.xsd").c_str()))};
        if (!entry.loaded.schema) {
            entry.loaded.error = "Esquema oficial em '" + folder + "' não pôde ser carregado: " + entry.loaded.error;
        }
        entries_[folder] = entry;
        return entry.loaded;
    }

private:
    struct Entry {
        FolderStamp stamp;
        std::chrono::steady_clock::time_point checked;
        LoadedSchema loaded;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

OfficialSchemaCache& officialCache() {
    static OfficialSchemaCache cache;
    return cache;
}

const LoadedSchema& ownSchema(std::string_view text) {
    // Two fixed texts: parsed once each for the life of the process.
    static const LoadedSchema nfe = parseSchema(
        xmlSchemaNewMemParserCtxt(ownNfeSchema().data(), static_cast<int>(ownNfeSchema().size())));
    static const LoadedSchema signature = parseSchema(
        xmlSchemaNewMemParserCtxt(ownSignatureSchema().data(), static_cast<int>(ownSignatureSchema().size())));
    return text == ownNfeSchema() ? nfe : signature;
}

xmlNode* findNfe(xmlDoc* document) {
    xmlNode* root = xmlDocGetRootElement(document);
    if (isElement(root, "NFe", kNfeNamespace)) return root;
    if (isElement(root, "nfeProc", kNfeNamespace)) return childElement(root, "NFe", kNfeNamespace);
    return nullptr;
}

SchemaVerdict validateElement(const SchemaPtr& schema, xmlNode* element) {
    ErrorCollector collector;
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema.get());
    if (!context) return {false, "Sem memória para validar o documento"};
    xmlSchemaSetValidStructuredErrors(context, collectError, &collector);
    const int result = xmlSchemaValidateOneElement(context, element);
    xmlSchemaFreeValidCtxt(context);
    if (result == 0) return {true, {}};
    if (collector.messages.empty()) return {false, "Documento inválido pelo esquema (código " + std::to_string(result) + ")"};
    return {false, joined(collector)};
}

// Whether the prolog of `xml` (what comes before the root element) holds a document type declaration.
bool declaresDocumentType(std::string_view xml) {
    for (std::size_t at = xml.find('<'); at != std::string_view::npos && at + 1 < xml.size(); at = xml.find('<', at + 1)) {
        const char next = xml[at + 1];
        if (next != '?' && next != '!') return false;  // the root element: no declaration can follow
        if (xml.substr(at, 9) == "<!DOCTYPE") return true;
        // A processing instruction or comment: its end is looked for from here on.
        const std::size_t end = xml.find(next == '?' ? "?>" : "-->", at + 2);
        if (end == std::string_view::npos) return false;
        at = end;
    }
    return false;
}

// Validates `xml` while parsing it, building no tree; true when it is well-formed and valid. Its
// root must be what the schema declares (NFe).
bool streamIsValid(const SchemaPtr& schema, std::string_view xml) {
    xmlParserInputBufferPtr input =
        xmlParserInputBufferCreateMem(xml.data(), static_cast<int>(xml.size()), XML_CHAR_ENCODING_UTF8);
    if (!input) return false;
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema.get());
    if (!context) {
        xmlFreeParserInputBuffer(input);
        return false;
    }
    // Errors are collected and dropped: an invalid text is parsed again for the message.
    ErrorCollector ignored;
    xmlSchemaSetValidStructuredErrors(context, collectError, &ignored);
    // No tree and no messages of the parser's own: every callback empty but the error sink.
    xmlSAXHandler handler{};
    handler.initialized = XML_SAX2_MAGIC;
    handler.serror = [](void*, xmlErrorPtr) {};
    const int result = xmlSchemaValidateStream(context, input, XML_CHAR_ENCODING_UTF8, &handler, nullptr);
    xmlSchemaFreeValidCtxt(context);
    return result == 0;
}

// The project's own schemas, by stream: the NFe (whose schema skips the signature), then the Signature
// element that ends it, as a text of its own. True only when both pass; any other shape (a signature
// relying on declarations of the root, say) is left to the tree.
bool ownSchemasAcceptByStream(std::string_view xml) {
    const LoadedSchema& nfe = ownSchema(ownNfeSchema());
    const LoadedSchema& signature = ownSchema(ownSignatureSchema());
    if (!nfe.schema || !signature.schema) return false;
    const std::size_t start = xml.rfind("<Signature ");
    std::size_t end = xml.find_last_not_of(" \t\r\n");
    constexpr std::string_view kNfeEnd = "</NFe>", kSignatureEnd = "</Signature>";
    if (start == std::string_view::npos || end == std::string_view::npos || end + 1 < kNfeEnd.size()) return false;
    end = end + 1 - kNfeEnd.size();
    if (xml.substr(end, kNfeEnd.size()) != kNfeEnd || end < start + kSignatureEnd.size() ||
        xml.substr(end - kSignatureEnd.size(), kSignatureEnd.size()) != kSignatureEnd)
        return false;
    return streamIsValid(nfe.schema, xml) && streamIsValid(signature.schema, xml.substr(start, end - start));
}

// " (linha N): reason" of the parser's last error, or "".
std::string lastParseError() {
    const xmlError* error = xmlGetLastError();
    return error && error->message ? " (linha " + std::to_string(error->line) + "): " + shortNames(error->message)
                                   : std::string();
}

}  // namespace

void initialiseXmlLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

bool officialSchemasPresent(const std::string& schemaFolder) {
    std::error_code ec;
    return !schemaFolder.empty() && std::filesystem::is_regular_file(schemaFolder + "/nfe_v4.00.xsd", ec);
}

SchemaVerdict validateNfeDocument(xmlDoc* document, const std::string& schemaFolder) {
    initialiseXmlLibrary();
    xmlNode* nfe = document ? findNfe(document) : nullptr;
    if (!nfe) return {false, "O arquivo não contém uma NF-e (elemento nfe:NFe ausente)"};
    if (officialSchemasPresent(schemaFolder)) {
        const LoadedSchema official = officialCache().get(schemaFolder);
        if (!official.schema) return {false, official.error};
        return validateElement(official.schema, nfe);
    }
    const LoadedSchema& own = ownSchema(ownNfeSchema());
    if (!own.schema) return {false, "Esquema próprio da NFC-e inválido: " + own.error};
    SchemaVerdict verdict = validateElement(own.schema, nfe);
    if (!verdict.valid) return verdict;
    xmlNode* signature = xmlGetLastChild(nfe);
    while (signature && signature->type != XML_ELEMENT_NODE) signature = signature->prev;
    if (!isElement(signature, "Signature", kDsigNamespace)) {
        return {false, "Elemento ds:Signature ausente: o documento não está assinado"};
    }
    const LoadedSchema& signatureSchema = ownSchema(ownSignatureSchema());
    if (!signatureSchema.schema) return {false, "Esquema próprio da assinatura inválido: " + signatureSchema.error};
    return validateElement(signatureSchema.schema, signature);
}

SchemaVerdict validateNfeText(std::string_view xml, const std::string& schemaFolder) {
    initialiseXmlLibrary();
    // A document type declaration could make the parser reach for other files: such texts take the
    // tree path, whose parser is kept off the network.
    if (!declaresDocumentType(xml)) {
        if (officialSchemasPresent(schemaFolder)) {
            const LoadedSchema official = officialCache().get(schemaFolder);
            if (!official.schema) return {false, official.error};
            if (streamIsValid(official.schema, xml)) return {true, {}};
        } else if (ownSchemasAcceptByStream(xml)) {
            return {true, {}};
        }
    }
    xmlDoc* document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!document) return {false, "O documento não é um XML válido" + lastParseError()};
    SchemaVerdict verdict = validateNfeDocument(document, schemaFolder);
    xmlFreeDoc(document);
    return verdict;
}

SchemaVerdict validateNfeFile(const std::string& path, const std::string& schemaFolder) {
    initialiseXmlLibrary();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return {false, "Arquivo '" + path + "' não encontrado"};
    xmlDoc* document = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!document) return {false, "Arquivo '" + path + "' não é um XML válido" + lastParseError()};
    SchemaVerdict verdict = validateNfeDocument(document, schemaFolder);
    xmlFreeDoc(document);
    return verdict;
}

}  // namespace quorvanti::fiscal
