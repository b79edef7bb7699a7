// The authority's built-in reading of an event batch (envEvento 1.00) and of a voiding request
// (inutNFe 4.00) when no schema package is given: each element the later checks rely on is present and
// in the layout's form (digits and lengths, the fixed texts, the justification's 15 to 255 characters,
// the Signature closing each signed element's parent). Looser than the official schemas (the order of
// the elements is not checked); with --schemas those are used instead.
#pragma once

#include <string>

typedef struct _xmlNode xmlNode;

namespace quorvanti::sefaz {

// What is wrong with the envEvento `root` ("" when nothing is), for the detail of a 225.
std::string eventBatchProblem(xmlNode* root);

// What is wrong with the inutNFe `root` ("" when nothing is).
std::string voidingRequestProblem(xmlNode* root);

}  // namespace quorvanti::sefaz
