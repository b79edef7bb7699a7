#include "fiscal_component/document/nfce_format.h"
#include "sefaz_simulator/messages/xml_util.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

namespace quorvanti::sefaz {

namespace {

const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

struct ParserContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

void XmlDocumentFree::operator()(xmlDoc* document) const { xmlFreeDoc(document); }

XmlDocument parseXml(std::string_view text, std::string* error) {
    // A context of our own keeps the error with this parse, whichever thread runs it, and keeps
    // libxml2 from printing it.
    std::unique_ptr<xmlParserCtxt, ParserContextFree> context(xmlNewParserCtxt());
    if (!context) {
        if (error != nullptr) *error = "sem memória para ler o XML";
        return nullptr;
    }
    XmlDocument document(xmlCtxtReadMemory(context.get(), text.data(), static_cast<int>(text.size()), "mensagem.xml",
                                           nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!document) {
        if (error != nullptr) {
            const xmlError* last = xmlCtxtGetLastError(context.get());
            *error = last != nullptr && last->message != nullptr
                         ? "XML mal formado (linha " + std::to_string(last->line) + "): " + trimmed(last->message)
                         : "XML mal formado";
        }
        return nullptr;
    }
    if (document->intSubset != nullptr || document->extSubset != nullptr) {
        if (error != nullptr) *error = "declaração de tipo de documento (DOCTYPE) não é aceita";
        return nullptr;
    }
    if (xmlDocGetRootElement(document.get()) == nullptr) {
        if (error != nullptr) *error = "documento sem elemento raiz";
        return nullptr;
    }
    return document;
}

xmlNode* rootElement(xmlDoc* document) { return document != nullptr ? xmlDocGetRootElement(document) : nullptr; }

std::vector<xmlNode*> childElements(xmlNode* parent, const char* name, const char* ns) {
    std::vector<xmlNode*> found;
    if (parent == nullptr) return found;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (isElement(child, name, ns)) found.push_back(child);
    }
    return found;
}

xmlNode* firstElement(xmlNode* parent) {
    if (parent == nullptr) return nullptr;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) return child;
    }
    return nullptr;
}

xmlNode* lastElement(xmlNode* parent) {
    if (parent == nullptr) return nullptr;
    for (xmlNode* child = parent->last; child != nullptr; child = child->prev) {
        if (child->type == XML_ELEMENT_NODE) return child;
    }
    return nullptr;
}

std::string textOf(const xmlNode* node) {
    if (node == nullptr) return "";
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

std::string childText(xmlNode* parent, const char* name) { return textOf(childElement(parent, name, kNfeNamespace)); }

std::string attributeOf(const xmlNode* node, const char* name) {
    if (node == nullptr) return "";
    xmlChar* value = xmlGetNoNsProp(node, x(name));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

XmlDocument standaloneCopy(xmlNode* element) {
    XmlDocument document(xmlNewDoc(x("1.0")));
    if (!document) return nullptr;
    // The copy declares on its root every namespace it uses from outside its own subtree, so that the
    // element reads (and canonicalises) as it did in the file it was signed in.
    xmlNode* copy = xmlDocCopyNode(element, document.get(), 1);
    if (copy == nullptr) return nullptr;
    xmlDocSetRootElement(document.get(), copy);
    return document;
}

std::string serialize(xmlNode* node) {
    if (node == nullptr) return "";
    xmlBuffer* buffer = xmlBufferCreate();
    if (buffer == nullptr) return "";
    xmlSaveCtxt* save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL);
    std::string text;
    if (save != nullptr) {
        xmlSaveTree(save, node);
        xmlSaveClose(save);
        text.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
    }
    xmlBufferFree(buffer);
    return text;
}

std::string escapeXml(std::string_view text) { return fiscal::xmlEscape(text); }

std::string xmlElement(std::string_view name, std::string_view value) {
    std::string out;
    out.reserve(2 * name.size() + value.size() + 5);
    out += '<';
    out += name;
    out += '>';
    out += escapeXml(value);
    out += "</";
    out += name;
    out += '>';
    return out;
}

}  // namespace quorvanti::sefaz
