// Small helpers over libxml2 for the local authority: parsing untrusted requests safely, finding
// elements of the NF-e namespaces, moving an element into a document of its own, serialising, and
// escaping text for the answers, which are written as text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fiscal_component/document/xml_names.h"

typedef struct _xmlDoc xmlDoc;
typedef struct _xmlNode xmlNode;

namespace quorvanti::sefaz {

using fiscal::childElement;
using fiscal::isElement;
using fiscal::kDsigNamespace;
using fiscal::kNfeNamespace;

struct XmlDocumentFree {
    void operator()(xmlDoc* document) const;
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlDocumentFree>;

// Parses a request: no network access, no entity expansion, and no document type declaration at all
// (the authority accepts none). Null when the text is refused, with the reason in `error`.
XmlDocument parseXml(std::string_view text, std::string* error = nullptr);

// The root element of `document` (null for a null document).
xmlNode* rootElement(xmlDoc* document);

// Every element child `name` of namespace `ns`, in order.
std::vector<xmlNode*> childElements(xmlNode* parent, const char* name, const char* ns);
// The first / last element child, whatever its name.
xmlNode* firstElement(xmlNode* parent);
xmlNode* lastElement(xmlNode* parent);

// The text content of `node` ("" for null); childText is the text of a child element of the NF-e
// namespace ("" when absent).
std::string textOf(const xmlNode* node);
std::string childText(xmlNode* parent, const char* name);
// The attribute without namespace `name` ("" when absent).
std::string attributeOf(const xmlNode* node, const char* name);

// A copy of `element` as the root of a new document, with the namespaces it uses declared on it: the
// element as it would stand in a file of its own.
XmlDocument standaloneCopy(xmlNode* element);

// The XML of `node` and its subtree in UTF-8, without an XML declaration.
std::string serialize(xmlNode* node);

// `text` escaped for element content (&, <, > and carriage return).
std::string escapeXml(std::string_view text);

// <name>escaped value</name>
std::string xmlElement(std::string_view name, std::string_view value);

}  // namespace quorvanti::sefaz
