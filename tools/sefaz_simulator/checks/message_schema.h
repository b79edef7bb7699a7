// The official schema check of the event and voiding messages (envEventoCancNFe, envEventoCancSubst,
// inutNFe), with the package given by --schemas. Each schema file is parsed once, on first use, and
// kept until the checker goes. Not thread-safe: the authority serialises its calls.
#pragma once

#include <map>
#include <string>

typedef struct _xmlDoc xmlDoc;
typedef struct _xmlSchema xmlSchema;

namespace quorvanti::sefaz {

struct MessageSchemaVerdict {
    bool valid = false;
    std::string message;  // the first complaint, naming the element; "" when valid
};

class MessageSchemas {
public:
    // `folder`: the official package (holding envEventoCancNFe_v1.00.xsd ...).
    explicit MessageSchemas(std::string folder);
    ~MessageSchemas();
    MessageSchemas(const MessageSchemas&) = delete;
    MessageSchemas& operator=(const MessageSchemas&) = delete;

    // Validates `message` against the package's `schemaFile` (e.g. "inutNFe_v4.00.xsd"). A schema that
    // cannot be read gives an invalid verdict saying so.
    MessageSchemaVerdict validate(xmlDoc* message, const std::string& schemaFile);

private:
    std::string folder_;
    std::map<std::string, xmlSchema*> schemas_;
};

}  // namespace quorvanti::sefaz
