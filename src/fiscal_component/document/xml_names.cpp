#include "fiscal_component/document/xml_names.h"

#include <libxml/tree.h>

namespace quorvanti::fiscal {

bool isElement(const xmlNode* node, const char* name, const char* ns) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name) &&
           node->ns != nullptr && xmlStrEqual(node->ns->href, BAD_CAST ns);
}

xmlNode* childElement(xmlNode* parent, const char* name, const char* ns) {
    for (xmlNode* child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next) {
        if (isElement(child, name, ns)) return child;
    }
    return nullptr;
}

}  // namespace quorvanti::fiscal
