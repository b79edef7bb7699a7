#include "support/shared_data.h"

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <map>
#include <mutex>
#include <stdexcept>

namespace quorvanti::testing {

std::string withoutDeclaration(const std::string& xml) {
    std::string out = xml.rfind("<?xml", 0) == 0 ? xml.substr(xml.find("?>") + 2) : xml;
    while (!out.empty() && (out.front() == '\n' || out.front() == '\r')) out.erase(0, 1);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const auto start = text.find(open);
    if (start == std::string::npos) return "";
    const auto end = text.find(close, start + open.size());
    return end == std::string::npos ? "" : text.substr(start + open.size(), end - start - open.size());
}

bool validAgainst(const std::string& xsd, const std::string& xml, std::string* error) {
    // Parsed once per program; freed at exit so that the leak checker sees nothing left behind.
    struct Cache {
        std::mutex mutex;
        std::map<std::string, xmlSchemaPtr> schemas;
        ~Cache() {
            for (auto& entry : schemas) xmlSchemaFree(entry.second);
        }
    };
    static Cache cache;
    std::lock_guard<std::mutex> lock(cache.mutex);
    xmlSchemaPtr& schema = cache.schemas[xsd];
    if (schema == nullptr) {
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt((kOfficialSchemas + "/" + xsd).c_str());
        schema = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        if (schema == nullptr) throw std::runtime_error("cannot parse " + xsd);
    }
    xmlDocPtr document = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (document == nullptr) return false;
    std::string messages;
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema);
    xmlSchemaSetValidStructuredErrors(
        context,
        [](void* out, xmlErrorPtr problem) {
            if (problem != nullptr && problem->message != nullptr) *static_cast<std::string*>(out) += problem->message;
        },
        &messages);
    const int result = xmlSchemaValidateDoc(context, document);
    xmlSchemaFreeValidCtxt(context);
    xmlFreeDoc(document);
    if (error != nullptr) *error = messages;
    return result == 0;
}

}  // namespace quorvanti::testing
