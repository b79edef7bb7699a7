#include "fiscal_component/document/qr_code.h"

#include <openssl/sha.h>

#include <array>
#include <cctype>

#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "platform/ini_file.h"

namespace quorvanti::fiscal {

namespace {

struct StateAddresses {
    const char* uf;
    const char* qrProduction;
    const char* qrHomologation;
    const char* urlProduction;
    const char* urlHomologation;
};

// MT comes from the authority's publication. The other states are the addresses these states have
// published for NFC-e consultation as far as known here: defaults to verify before production, and
// overridable in webservices.ini without a new build.
constexpr std::array<StateAddresses, 27> kAddresses{{
    {"AC", "http://www.sefaznet.ac.gov.br/nfce/qrcode", "http://www.hml.sefaznet.ac.gov.br/nfce/qrcode",
     "www.sefaznet.ac.gov.br/nfce/consulta", "www.hml.sefaznet.ac.gov.br/nfce/consulta"},
    {"AL", "http://nfce.sefaz.al.gov.br/QRCode/consultarNFCe.jsp",
     "http://nfce.sefaz.al.gov.br/QRCode/consultarNFCe.jsp", "www.sefaz.al.gov.br/nfce/consulta",
     "www.sefaz.al.gov.br/nfce/consulta"},
    {"AM", "https://sistemas.sefaz.am.gov.br/nfceweb/consultarNFCe.jsp",
     "https://sistemas.sefaz.am.gov.br/nfceweb-hom/consultarNFCe.jsp", "www.sefaz.am.gov.br/nfce/consulta",
     "www.sefaz.am.gov.br/nfce/consulta"},
    {"AP", "https://www.sefaz.ap.gov.br/nfce/nfcep.php", "https://www.sefaz.ap.gov.br/nfcehml/nfce.php",
     "www.sefaz.ap.gov.br/nfce/consulta", "www.sefaz.ap.gov.br/nfce/consulta"},
    {"BA", "http://nfe.sefaz.ba.gov.br/servicos/nfce/modulos/geral/NFCEC_consulta_chave_acesso.aspx",
     "http://hnfe.sefaz.ba.gov.br/servicos/nfce/modulos/geral/NFCEC_consulta_chave_acesso.aspx",
     "http://www.sefaz.ba.gov.br/nfce/consulta", "http://hinternet.sefaz.ba.gov.br/nfce/consulta"},
    {"CE", "http://nfce.sefaz.ce.gov.br/pages/ShowNFCe.html", "http://nfceh.sefaz.ce.gov.br/pages/ShowNFCe.html",
     "www.sefaz.ce.gov.br/nfce/consulta", "www.sefaz.ce.gov.br/nfce/consulta"},
    {"DF", "http://www.fazenda.df.gov.br/nfce/qrcode", "http://www.fazenda.df.gov.br/nfce/qrcode",
     "www.fazenda.df.gov.br/nfce/consulta", "www.fazenda.df.gov.br/nfce/consulta"},
    {"ES", "http://app.sefaz.es.gov.br/ConsultaNFCe/qrcode.aspx",
     "http://homologacao.sefaz.es.gov.br/ConsultaNFCe/qrcode.aspx", "www.sefaz.es.gov.br/nfce/consulta",
     "www.sefaz.es.gov.br/nfce/consulta"},
    {"GO", "https://nfe.sefaz.go.gov.br/nfeweb/sites/nfce/danfeNFCe",
     "https://nfewebhomolog.sefaz.go.gov.br/nfeweb/sites/nfce/danfeNFCe", "www.sefaz.go.gov.br/nfce/consulta",
     "www.sefaz.go.gov.br/nfce/consulta"},
    {"MA", "http://www.nfce.sefaz.ma.gov.br/portal/consultarNFCe.jsp",
     "http://www.hom.nfce.sefaz.ma.gov.br/portal/consultarNFCe.jsp", "www.sefaz.ma.gov.br/nfce/consulta",
     "www.sefaz.ma.gov.br/nfce/consulta"},
    {"MG", "https://portalsped.fazenda.mg.gov.br/portalnfce/sistema/qrcode.xhtml",
     "https://hportalsped.fazenda.mg.gov.br/portalnfce/sistema/qrcode.xhtml",
     "https://portalsped.fazenda.mg.gov.br/portalnfce", "https://hportalsped.fazenda.mg.gov.br/portalnfce"},
    {"MS", "http://www.dfe.ms.gov.br/nfce/qrcode", "http://www.dfe.ms.gov.br/nfce/qrcode",
     "http://www.dfe.ms.gov.br/nfce/consulta", "http://www.dfe.ms.gov.br/nfce/consulta"},
    {"MT", "http://www.sefaz.mt.gov.br/nfce/consultanfce", "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce",
     "http://www.sefaz.mt.gov.br/nfce/consultanfce", "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce"},
    {"PA", "https://appnfc.sefa.pa.gov.br/portal/view/consultas/nfce/nfceForm.seam",
     "https://appnfc.sefa.pa.gov.br/portal-homologacao/view/consultas/nfce/nfceForm.seam",
     "www.sefa.pa.gov.br/nfce/consulta", "www.sefa.pa.gov.br/nfce/consulta"},
    {"PB", "http://www.sefaz.pb.gov.br/nfce", "http://www.sefaz.pb.gov.br/nfcehom",
     "www.sefaz.pb.gov.br/nfce/consulta", "www.sefaz.pb.gov.br/nfcehom"},
    {"PE", "http://nfce.sefaz.pe.gov.br/nfce/consulta", "http://nfcehomolog.sefaz.pe.gov.br/nfce/consulta",
     "nfce.sefaz.pe.gov.br/nfce/consulta", "nfce.sefaz.pe.gov.br/nfce/consulta"},
    {"PI", "http://www.sefaz.pi.gov.br/nfce/qrcode", "http://www.sefaz.pi.gov.br/nfce/qrcode",
     "www.sefaz.pi.gov.br/nfce/consulta", "www.sefaz.pi.gov.br/nfce/consulta"},
    {"PR", "http://www.fazenda.pr.gov.br/nfce/qrcode", "http://www.fazenda.pr.gov.br/nfce/qrcode",
     "http://www.fazenda.pr.gov.br/nfce/consulta", "http://www.fazenda.pr.gov.br/nfce/consulta"},
    {"RJ", "https://consultadfe.fazenda.rj.gov.br/consultaNFCe/QRCode",
     "https://consultadfe.fazenda.rj.gov.br/consultaNFCe/QRCode", "www.fazenda.rj.gov.br/nfce/consulta",
     "www.fazenda.rj.gov.br/nfce/consulta"},
    {"RN", "http://nfce.set.rn.gov.br/consultarNFCe.aspx", "http://hom.nfce.set.rn.gov.br/consultarNFCe.aspx",
     "www.set.rn.gov.br/nfce/consulta", "www.set.rn.gov.br/nfce/consulta"},
    {"RO", "http://www.nfce.sefin.ro.gov.br/consultanfce/consulta.jsp",
     "http://www.nfce.sefin.ro.gov.br/consultanfce/consulta.jsp", "www.sefin.ro.gov.br/nfce/consulta",
     "www.sefin.ro.gov.br/nfce/consulta"},
    {"RR", "https://www.sefaz.rr.gov.br/servlet/qrcode", "http://200.174.88.103:8080/nfce/servlet/qrcode",
     "www.sefaz.rr.gov.br/nfce/consulta", "www.sefaz.rr.gov.br/nfce/consulta"},
    {"RS", "https://www.sefaz.rs.gov.br/NFCE/NFCE-COM.aspx", "https://www.sefaz.rs.gov.br/NFCE/NFCE-COM.aspx",
     "www.sefaz.rs.gov.br/nfce/consulta", "www.sefaz.rs.gov.br/nfce/consulta"},
    {"SC", "https://sat.sef.sc.gov.br/nfce/consulta", "https://hom.sat.sef.sc.gov.br/nfce/consulta",
     "https://sat.sef.sc.gov.br/nfce/consulta", "https://hom.sat.sef.sc.gov.br/nfce/consulta"},
    {"SE", "http://www.nfce.se.gov.br/nfce/qrcode", "http://www.hom.nfe.se.gov.br/nfce/qrcode",
     "http://www.nfce.se.gov.br/nfce/consulta", "http://www.hom.nfe.se.gov.br/nfce/consulta"},
    {"SP", "https://www.nfce.fazenda.sp.gov.br/qrcode", "https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode",
     "https://www.nfce.fazenda.sp.gov.br/consulta", "https://www.homologacao.nfce.fazenda.sp.gov.br/consulta"},
    {"TO", "http://www.sefaz.to.gov.br/nfce/qrcode", "http://homologacao.sefaz.to.gov.br/nfce/qrcode",
     "www.sefaz.to.gov.br/nfce/consulta", "www.sefaz.to.gov.br/nfce/consulta"},
}};

std::string upper(std::string_view text) {
    std::string out = trimmed(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The hash parameter: SHA-1 of the parameters so far immediately followed by the CSC.
std::string withHash(std::string_view address, const std::string& parameters, std::string_view csc) {
    std::string hashed = parameters;
    hashed.append(csc);
    return std::string(address) + "?p=" + parameters + "|" + sha1UpperHex(hashed);
}

}  // namespace

std::string hexOfCharacters(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    }
    return out;
}

ConsultationAddress builtInConsultationAddress(std::string_view uf, int tpAmb) {
    const std::string state = upper(uf);
    for (const auto& entry : kAddresses) {
        if (state == entry.uf) {
            return tpAmb == 1 ? ConsultationAddress{entry.qrProduction, entry.urlProduction}
                              : ConsultationAddress{entry.qrHomologation, entry.urlHomologation};
        }
    }
    return {};
}

ConsultationAddress consultationAddress(std::string_view uf, int tpAmb, const std::string& iniPath) {
    ConsultationAddress address = builtInConsultationAddress(uf, tpAmb);
    const std::string section = upper(uf) + "_" + std::to_string(tpAmb);
    if (std::string qr = platform::iniRead(iniPath, section, "QRCode"); !qr.empty()) address.qrCode = qr;
    if (std::string url = platform::iniRead(iniPath, section, "urlChave"); !url.empty()) address.urlChave = url;
    return address;
}

std::string qrTokenId(std::string_view cscId) {
    const std::string id = trimmed(cscId);
    if (!isDigits(id)) throw ComponentError("Identificador do CSC '" + id + "' inválido: deve ser numérico");
    const auto first = id.find_first_not_of('0');
    return first == std::string::npos ? "0" : id.substr(first);
}

std::string sha1UpperHex(std::string_view text) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char byte : digest) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    }
    return out;
}

std::string onlineQrCode(std::string_view address, std::string_view key, int tpAmb, std::string_view cscId,
                         std::string_view csc) {
    const std::string parameters =
        std::string(key) + "|2|" + std::to_string(tpAmb) + "|" + qrTokenId(cscId);
    return withHash(address, parameters, csc);
}

std::string offlineQrCode(std::string_view address, std::string_view key, int tpAmb, std::string_view dhEmi,
                          std::string_view vNF, std::string_view digestValue, std::string_view cscId,
                          std::string_view csc) {
    if (dhEmi.size() < 10) throw ComponentError("QR Code: data de emissão '" + std::string(dhEmi) + "' inválida");
    const std::string parameters = std::string(key) + "|2|" + std::to_string(tpAmb) + "|" +
                                   std::string(dhEmi.substr(8, 2)) + "|" + std::string(vNF) + "|" +
                                   hexOfCharacters(digestValue) + "|" + qrTokenId(cscId);
    return withHash(address, parameters, csc);
}

}  // namespace quorvanti::fiscal
