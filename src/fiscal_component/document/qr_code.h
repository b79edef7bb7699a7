// The NFC-e QR code text, version 2, and the consultation addresses it points at. Online form (normal
// emission): <address>?p=<key>|2|<tpAmb>|<cIdToken>|<hash>; offline form (emission type 9):
// <address>?p=<key>|2|<tpAmb>|<day>|<vNF>|<digVal>|<cIdToken>|<hash>. The hash is the upper-case
// SHA-1 of the parameters before it, joined by "|", followed by the CSC; the CSC itself never appears.
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::fiscal {

// The QR code address and the consultation address (urlChave) of one state and environment.
struct ConsultationAddress {
    std::string qrCode;
    std::string urlChave;
};

// The built-in addresses of `uf` for `tpAmb` (1 production, 2 homologation); empty texts for an
// unknown state. Only MT's are confirmed from the authority's publication; the others are defaults to
// verify with each state before production.
ConsultationAddress builtInConsultationAddress(std::string_view uf, int tpAmb);

// The addresses in force: section "<UF>_<tpAmb>" (for example "MT_2") of the INI file at `iniPath`,
// keys "QRCode" and "urlChave", each overriding its built-in value when present.
ConsultationAddress consultationAddress(std::string_view uf, int tpAmb, const std::string& iniPath);

// cIdToken as the QR code carries it: the CSC identifier without leading zeros ("000001" gives "1").
std::string qrTokenId(std::string_view cscId);

// Upper-case hexadecimal SHA-1 of `text`.
std::string sha1UpperHex(std::string_view text);

// Each character of `text` as two lower-case hexadecimal digits (the offline QR code's digVal).
std::string hexOfCharacters(std::string_view text);

// Online form. `key` has 44 digits.
std::string onlineQrCode(std::string_view address, std::string_view key, int tpAmb, std::string_view cscId,
                         std::string_view csc);

// Offline form. `dhEmi` as written (its day is used), `vNF` as written in the document, `digestValue`
// the signature's DigestValue text (its characters go in hexadecimal).
std::string offlineQrCode(std::string_view address, std::string_view key, int tpAmb, std::string_view dhEmi,
                          std::string_view vNF, std::string_view digestValue, std::string_view cscId,
                          std::string_view csc);

}  // namespace quorvanti::fiscal
