// Schema validation of a signed NFC-e: against the official package when the schema folder holds
// nfe_v4.00.xsd, otherwise against the project's own schema. Parsed schemas are cached process-wide
// (the official package is reloaded when an .xsd of its folder changes, looked at every 2 s at most),
// so a fresh component costs no parsing; each validation gets its own validation context, so this is
// safe from several threads. Failure messages name the element and the reason in Portuguese, with
// elements prefixed as in "nfe:NCM" (the emission routine looks for ":NCM" to recognise a product-code
// rejection), followed by libxml2's own detail.
#pragma once

#include <string>
#include <string_view>

typedef struct _xmlDoc xmlDoc;

namespace quorvanti::fiscal {

struct SchemaVerdict {
    bool valid = false;
    std::string message;  // "" when valid
};

// True when `schemaFolder` holds the official package's entry schema, nfe_v4.00.xsd.
bool officialSchemasPresent(const std::string& schemaFolder);

// Validates the NFe of the file at `path`: the root element, or the NFe inside an nfeProc. A file that
// is missing or not well-formed gives an invalid verdict with the reason.
SchemaVerdict validateNfeFile(const std::string& path, const std::string& schemaFolder);

// The same for a parsed document.
SchemaVerdict validateNfeDocument(xmlDoc* document, const std::string& schemaFolder);

// The same for a document's text in memory. The text is validated as it is parsed, without building a
// tree (with the project's own schemas: the NFe, then the Signature that ends it as a text of its own),
// and parsed again into a tree only when that fails, for the verdict and its message.
SchemaVerdict validateNfeText(std::string_view xml, const std::string& schemaFolder);

// Makes libxml2 ready for use from several threads; called before any parsing. Idempotent.
void initialiseXmlLibrary();

}  // namespace quorvanti::fiscal
