// The authority's rules on an NFC-e's QR code (infNFeSupl/qrCode, version 2), against the document that
// carries it: the parameters are the document's own, and the hash is the SHA-1 of the parameters followed
// by the CSC of the identifier it names.
#pragma once

#include <map>
#include <string>

typedef struct _xmlNode xmlNode;

namespace quorvanti::sefaz {

struct QrCodeVerdict {
    int cStat = 0;       // 0 when every rule holds
    std::string detail;  // what differs, for the log
};

// Judges the QR code of the NFe element `nfe`, whose access key is `key` and whose signature's
// DigestValue is `digestValue`. 394: no QR code; 397: a parameter that is not the document's (the key,
// version 2, tpAmb; offline (tpEmis 9) also the day of dhEmi, vNF as written and digVal, the hexadecimal
// of the DigestValue's characters); 464: a hash that is not the one computed with the CSC of its
// identifier, when `cscs` (identifier without leading zeros -> CSC) holds one; an identifier it does not
// hold is 464 too, unless `cscs` is empty (the hash then goes unchecked).
QrCodeVerdict checkQrCode(xmlNode* nfe, const std::string& key, const std::string& digestValue,
                          const std::map<std::string, std::string>& cscs);

}  // namespace quorvanti::sefaz
