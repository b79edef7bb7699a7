// The document writer fed any field values, group by group, in any order. Every group operation either
// refuses with ComponentError (no other exception) and leaves the document as it was, or takes the
// values; a document that writes is well-formed XML in its own canonical form (what the signer digests
// without a parse) and is accepted by the project's layout schema: what the writer takes, the
// authority's layout can hold.
//
// Input: lines. "[group]" calls an operation with the field lines "name=value" that follow it (fields
// not given keep the record's defaults): ide, emit, dest, prod, icms, taxes, close, total, transp, pag,
// inf (field text), write (field key; without it the key is made from the document). Numbers are read
// as C reads them (so "nan", "1e308" and "0x1p3" are numbers); the ten PIS/COFINS values are one field,
// comma-separated.
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "fiscal_component/document/nfce_document.h"
#include "fiscal_component/document/nfce_schema.h"
#include "fiscal_component/document/schema_validation.h"
#include "fuzz_support.h"

namespace {

using namespace quorvanti;
using namespace quorvanti::fiscal;
using fuzz::shown;

struct Args {
    IdentificationArgs ide;
    EmitterArgs emit;
    RecipientArgs dest;
    ItemProductArgs prod;
    ItemIcmsArgs icms;
    ItemOtherTaxesArgs taxes;
    TotalsArgs total;
    TransportArgs transp;
    PaymentArgs pag;
    std::string text;  // inf
    std::string key;   // write
};

void set(std::string& field, const std::string& value) { field = value; }
void set(std::int32_t& field, const std::string& value) {
    field = static_cast<std::int32_t>(std::strtoll(value.c_str(), nullptr, 10));
}
void set(double& field, const std::string& value) { field = std::strtod(value.c_str(), nullptr); }
void set(std::array<std::int32_t, 10>& field, const std::string& value) {
    field = {};
    const char* at = value.c_str();
    for (std::int32_t& v : field) {
        char* end = nullptr;
        v = static_cast<std::int32_t>(std::strtoll(at, &end, 10));
        if (*end != ',') break;
        at = end + 1;
    }
}

using Setter = std::function<void(Args&, const std::string&)>;
#define FIELD(group, name) {#group "." #name, [](Args& a, const std::string& v) { set(a.group.name, v); }}

const std::map<std::string, Setter>& fields() {
    static const std::map<std::string, Setter> kFields = {
        FIELD(ide, cNF), FIELD(ide, natOp), FIELD(ide, mod), FIELD(ide, serie), FIELD(ide, nNF), FIELD(ide, dhEmi),
        FIELD(ide, dhSaiEnt), FIELD(ide, tpNF), FIELD(ide, procEmi), FIELD(ide, idDest), FIELD(ide, cMunFG),
        FIELD(ide, tpImp), FIELD(ide, tpEmis), FIELD(ide, finNFe), FIELD(ide, indFinal), FIELD(ide, indPres),
        FIELD(ide, verProc), FIELD(ide, dhCont), FIELD(ide, xJust), FIELD(ide, indIntermed),
        FIELD(emit, xFant), FIELD(emit, xNome), FIELD(emit, cnpj), FIELD(emit, cpf), FIELD(emit, ie), FIELD(emit, iest),
        FIELD(emit, im), FIELD(emit, cnae), FIELD(emit, crt), FIELD(emit, xLgr), FIELD(emit, nro), FIELD(emit, xCpl),
        FIELD(emit, xBairro), FIELD(emit, cMun), FIELD(emit, xMun), FIELD(emit, uf), FIELD(emit, cep),
        FIELD(emit, cPais), FIELD(emit, xPais), FIELD(emit, fone),
        FIELD(dest, tpImp), FIELD(dest, xNome), FIELD(dest, cnpj), FIELD(dest, cpf), FIELD(dest, idEstrangeiro),
        FIELD(dest, isuf), FIELD(dest, im), FIELD(dest, indIEDest), FIELD(dest, ie), FIELD(dest, xLgr), FIELD(dest, nro),
        FIELD(dest, xCpl), FIELD(dest, xBairro), FIELD(dest, cMun), FIELD(dest, xMun), FIELD(dest, uf), FIELD(dest, cep),
        FIELD(dest, cPais), FIELD(dest, xPais), FIELD(dest, fone), FIELD(dest, email),
        FIELD(prod, nItem), FIELD(prod, cProd), FIELD(prod, xProd), FIELD(prod, ncm), FIELD(prod, nve),
        FIELD(prod, cest), FIELD(prod, cEAN), FIELD(prod, cEANTrib), FIELD(prod, cfop), FIELD(prod, qCom),
        FIELD(prod, vUnCom), FIELD(prod, uCom), FIELD(prod, qTrib), FIELD(prod, vUnTrib), FIELD(prod, uTrib),
        FIELD(prod, vProd), FIELD(prod, vFrete), FIELD(prod, vSeg), FIELD(prod, vDesc), FIELD(prod, vOutro),
        FIELD(prod, indTot),
        FIELD(icms, value1), FIELD(icms, orig), FIELD(icms, csosn), FIELD(icms, modBC),
        FIELD(taxes, pisCst), FIELD(taxes, pisValues), FIELD(taxes, cofinsCst), FIELD(taxes, cofinsValues),
        FIELD(taxes, ipiCst), FIELD(taxes, ipiValues), FIELD(taxes, ipiCEnq),
        FIELD(total, vBC), FIELD(total, vICMS), FIELD(total, vBCST), FIELD(total, vST), FIELD(total, vCOFINS),
        FIELD(total, vPIS), FIELD(total, vIPI), FIELD(total, vDesc), FIELD(total, vSeg), FIELD(total, vFrete),
        FIELD(total, vOutro), FIELD(total, vII), FIELD(total, vProd), FIELD(total, vNF), FIELD(total, vTotTrib),
        FIELD(transp, modFrete), FIELD(pag, indPag), FIELD(pag, tPag), FIELD(pag, vPag),
        {"inf.text", [](Args& a, const std::string& v) { a.text = v; }},
        {"write.key", [](Args& a, const std::string& v) { a.key = v; }},
    };
    return kFields;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

struct SchemaFree {
    void operator()(xmlSchema* schema) const { xmlSchemaFree(schema); }
};

// The project's layout schema, parsed once.
xmlSchema* layoutSchema() {
    static const std::unique_ptr<xmlSchema, SchemaFree> schema([] {
        const std::string_view text = ownNfeSchema();
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewMemParserCtxt(text.data(), static_cast<int>(text.size()));
        xmlSchema* parsed = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        return parsed;
    }());
    if (!schema) std::abort();
    return schema.get();
}

std::string keyFor(const NfceDocument& document, const std::string& given) {
    if (!given.empty()) return given;
    try {
        AccessKeyFields key = document.keyFields();
        key.numericCode = std::string(8 - std::min<std::size_t>(8, document.callerNumericCode().size()), '0') +
                          document.callerNumericCode();
        return buildAccessKey(key);
    } catch (const ComponentError&) {
        return "51260311222333000181650010000012341000012347";
    }
}

// The written text, or the refusal: the document's observable state.
std::string written(const NfceDocument& document, const std::string& key, bool& complete) {
    complete = false;
    try {
        std::string text = document.write(key);
        complete = true;
        return text;
    } catch (const ComponentError& error) {
        return std::string("refused: ") + error.what();
    }
}

void checkDocument(const std::string& xml) {
    const DocPtr doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    FUZZ_CHECK(doc != nullptr, "not well-formed:\n" + shown(xml));

    // Its own canonical form, but for the order of infNFe's attributes (canonical XML sorts them).
    xmlChar* canonical = nullptr;
    const int length = xmlC14NDocDumpMemory(doc.get(), nullptr, XML_C14N_1_0, nullptr, 0, &canonical);
    FUZZ_CHECK(length >= 0, "no canonical form");
    std::string expected = xml;
    const auto tag = expected.find("<infNFe versao=\"4.00\" Id=\"");
    FUZZ_CHECK(tag != std::string::npos, "infNFe start tag");
    const auto idEnd = expected.find('"', tag + 26);
    const std::string id = expected.substr(tag + 26, idEnd - tag - 26);
    expected.replace(tag, idEnd + 2 - tag, "<infNFe Id=\"" + id + "\" versao=\"4.00\">");
    const std::string got(reinterpret_cast<const char*>(canonical), static_cast<std::size_t>(length));
    xmlFree(canonical);
    FUZZ_CHECK(got == expected, "not in canonical form:\n" + shown(xml) + "\ncanonical:\n" + shown(got));

    // The layout schema wants the signature last; its content is not looked at.
    std::string signedForm = xml;
    signedForm.insert(signedForm.size() - 6, "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"/>");
    const DocPtr signedDoc(xmlReadMemory(signedForm.data(), static_cast<int>(signedForm.size()), nullptr, "UTF-8",
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    std::string errors;
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(layoutSchema());
    xmlSchemaSetValidStructuredErrors(
        context, [](void* out, xmlErrorPtr error) { *static_cast<std::string*>(out) += error->message; }, &errors);
    const int result = xmlSchemaValidateDoc(context, signedDoc.get());
    xmlSchemaFreeValidCtxt(context);
    FUZZ_CHECK(result == 0, "the layout refuses what the writer took: " + errors + "\n" + shown(xml));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    initialiseXmlLibrary();
    std::string_view input = fuzz::asText(data, size);
    NfceDocument document(DocumentSettings{.uf = "", .tpAmb = 2});
    Args args;
    std::string group;

    const auto run = [&] {
        if (group.empty()) return;
        bool complete = false;
        const std::string key = keyFor(document, args.key);
        const std::string before = written(document, key, complete);
        try {
            if (group == "ide") document.identification(args.ide);
            else if (group == "emit") document.emitter(args.emit);
            else if (group == "dest") document.recipient(args.dest);
            else if (group == "prod") document.itemProduct(args.prod);
            else if (group == "icms") document.itemIcms(args.icms);
            else if (group == "taxes") document.itemOtherTaxes(args.taxes);
            else if (group == "close") document.itemClose();
            else if (group == "total") document.totals(args.total);
            else if (group == "transp") document.transport(args.transp);
            else if (group == "pag") document.payment(args.pag);
            else if (group == "inf") document.additionalInformation(args.text);
            else if (group == "write") {
                const std::string text = written(document, keyFor(document, args.key), complete);
                if (complete) checkDocument(text);
            }
        } catch (const ComponentError&) {
            FUZZ_CHECK(written(document, key, complete) == before, "the refused group " + group + " changed the document");
        }
    };

    while (!input.empty()) {
        const auto end = input.find('\n');
        std::string line(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            run();
            group = line.substr(1, line.size() - 2);
            args = Args{};
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const auto setter = fields().find(group + "." + line.substr(0, equals));
        if (setter != fields().end()) setter->second(args, line.substr(equals + 1));
    }
    run();
    return 0;
}
