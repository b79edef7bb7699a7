#include "sefaz_simulator/checks/message_schema.h"

#include <libxml/xmlschemas.h>

namespace quorvanti::sefaz {

namespace {

// The first error's text, with the line libxml2 adds removed.
void firstError(void* data, xmlErrorPtr error) {
    auto* out = static_cast<std::string*>(data);
    if (!out->empty() || error == nullptr || error->level == XML_ERR_WARNING || error->message == nullptr) return;
    *out = error->message;
    while (!out->empty() && (out->back() == '\n' || out->back() == ' ')) out->pop_back();
}

}  // namespace

MessageSchemas::MessageSchemas(std::string folder) : folder_(std::move(folder)) {}

MessageSchemas::~MessageSchemas() {
    for (auto& entry : schemas_) xmlSchemaFree(entry.second);
}

MessageSchemaVerdict MessageSchemas::validate(xmlDoc* message, const std::string& schemaFile) {
    MessageSchemaVerdict verdict;
    xmlSchema*& schema = schemas_[schemaFile];
    if (schema == nullptr) {
        std::string problem;
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt((folder_ + "/" + schemaFile).c_str());
        if (parser != nullptr) {
            xmlSchemaSetParserStructuredErrors(parser, firstError, &problem);
            schema = xmlSchemaParse(parser);
            xmlSchemaFreeParserCtxt(parser);
        }
        if (schema == nullptr) {
            schemas_.erase(schemaFile);
            verdict.message =
                "schema " + schemaFile + " ilegível em " + folder_ + (problem.empty() ? "" : ": " + problem);
            return verdict;
        }
    }
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema);
    if (context == nullptr) {
        verdict.message = "sem memória para validar";
        return verdict;
    }
    xmlSchemaSetValidStructuredErrors(context, firstError, &verdict.message);
    verdict.valid = xmlSchemaValidateDoc(context, message) == 0;
    xmlSchemaFreeValidCtxt(context);
    if (verdict.valid) verdict.message.clear();
    else if (verdict.message.empty()) verdict.message = "mensagem inválida";
    return verdict;
}

}  // namespace quorvanti::sefaz
