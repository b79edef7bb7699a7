// The NFC-e model and its XML (the published example reproduced byte for byte, the model-65 rules, the
// values that cannot be written) and its values: amount formatting, text rules, the access key, the
// numeric code, the QR code rules, the CPF and CNPJ validator; and the stand-in the program uses when no
// fiscal component is installed.
#include "fiscal_component/document/nfce_document.h"

// The argument records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/document_validator.h"
#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/document/numeric_code.h"
#include "fiscal_component/document/qr_code.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "support/error_text.h"
#include "support/shared_data.h"
#include "support/temp_dir.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kExampleKey = "35261145723174000110650020000012341837461527";
const std::string kCsc = "0123456789ABCDEF0123456789ABCDEF";
using testing::between;
using testing::kHomologationItem;

IdentificationArgs exampleIdentification() {
    return {.cNF = "83746152", .natOp = "VENDA DE MERCADORIA", .mod = 65, .serie = 2, .nNF = 1234,
            .dhEmi = "2026-11-20T09:15:02-03:00", .dhSaiEnt = "2026-11-20T09:15:02-03:00", .cMunFG = 3550308,
            .tpEmis = 1, .verProc = "EXEMPLO 1.0"};
}

EmitterArgs exampleEmitter() {
    return {.xFant = "PADARIA EXEMPLO", .xNome = "PADARIA EXEMPLO LTDA", .cnpj = "45723174000110",
            .ie = "110042490114", .xLgr = "RUA DO EXEMPLO", .nro = "10", .xBairro = "CENTRO", .cMun = 3550308,
            .xMun = "SAO PAULO", .uf = "SP", .cep = "01001000", .xPais = "BRASIL", .fone = "1132221111"};
}

ItemProductArgs exampleItem(int n) {
    if (n == 1) {
        return {.nItem = 1, .cProd = "55", .xProd = kHomologationItem, .ncm = "19052090", .cEAN = "SEM GTIN",
                .cEANTrib = "SEM GTIN", .cfop = 5102, .qCom = 0.45, .vUnCom = 20, .uCom = "KG", .qTrib = 0.45,
                .vUnTrib = 20, .uTrib = "KG", .vProd = 9};
    }
    return {.nItem = n, .cProd = "77", .xProd = kHomologationItem, .ncm = "22021000", .cEAN = "SEM GTIN",
            .cEANTrib = "SEM GTIN", .cfop = 5405, .qCom = 2, .vUnCom = 5.5, .uCom = "UN", .qTrib = 2,
            .vUnTrib = 5.5, .uTrib = "UN", .vProd = 11, .vDesc = 1};
}

const ItemOtherTaxesArgs kProgramTaxes{.pisCst = "99", .cofinsCst = "99", .ipiCst = "53", .ipiCEnq = "999"};

void addItem(NfceDocument& doc, const ItemProductArgs& product, const std::string& csosn) {
    doc.itemProduct(product);
    doc.itemIcms(ItemIcmsArgs{.orig = "0", .csosn = csosn});
    doc.itemOtherTaxes(kProgramTaxes);
    doc.itemClose();
}

// The published example's sale: two items (CSOSN 102 and 500), a consumer CPF, 20.00 paid for 19.00.
NfceDocument exampleDocument(int tpAmb = 2, double paid = 20,
                             const RecipientArgs& recipient = {.xNome = "JOSE CONSUMIDOR", .cpf = "52998224725"}) {
    NfceDocument doc(DocumentSettings{"SP", tpAmb});
    doc.identification(exampleIdentification());
    doc.emitter(exampleEmitter());
    doc.recipient(recipient);
    addItem(doc, exampleItem(1), "102");
    addItem(doc, exampleItem(2), "500");
    doc.totals(TotalsArgs{.vDesc = 1, .vProd = 20, .vNF = 19});
    doc.transport(TransportArgs{});
    doc.payment(PaymentArgs{.tPag = 1, .vPag = paid});
    return doc;
}

std::string errorOf(const std::function<void()>& action) { return testing::errorText<ComponentError>(action); }

// Byte for byte, so nothing an NFC-e may not carry is written: not dhSaiEnt, the IPI group (CST 53 comes
// for every item), indIntermed, dhCont, infAdic, indPag; and the recipient bears the homologation name.
TEST(NfceDocumentTest, ReproducesThePublishedExampleByteForByte) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const std::string example = testing::readFile(QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml");
    const std::string expected = "<NFe " + between(example, "<NFe ", "</infNFeSupl>") + "</infNFeSupl></NFe>";
    const ConsultationAddress address = builtInConsultationAddress("SP", 2);
    const std::string supplement = "<infNFeSupl><qrCode><![CDATA[" +
                                   onlineQrCode(address.qrCode, kExampleKey, 2, "000001", kCsc) +
                                   "]]></qrCode><urlChave>" + address.urlChave + "</urlChave></infNFeSupl>";
    const NfceDocument doc = exampleDocument();
    AccessKeyFields fields = doc.keyFields();
    fields.numericCode = doc.callerNumericCode();
    ASSERT_EQ(buildAccessKey(fields), kExampleKey);
    EXPECT_EQ(doc.write(kExampleKey, supplement), expected);
    EXPECT_EQ(doc.invoiceValueText(), "19.00");
}

// The recipient is written only with a CPF or CNPJ, and its address only when complete.
TEST(NfceDocumentTest, RecipientAndItsAddressOnlyWhenComplete) {
    EXPECT_THAT(exampleDocument(1, 20, RecipientArgs{.xNome = "JOSE", .xLgr = "RUA A"}).write(kExampleKey),
                Not(HasSubstr("<dest>")));
    NfceDocument doc = exampleDocument(1);
    RecipientArgs full{.xNome = "JOSE", .cpf = "52998224725", .xLgr = "RUA A", .nro = "1", .xBairro = "CENTRO",
                       .cMun = 5103403, .xMun = "CUIABA", .uf = "mt", .cep = "78000-000", .xPais = "BRASIL",
                       .fone = "(65)"};
    doc.recipient(full);
    EXPECT_EQ(between(doc.write(kExampleKey), "<enderDest>", "</enderDest>"),
              "<xLgr>RUA A</xLgr><nro>1</nro><xBairro>CENTRO</xBairro><cMun>5103403</cMun>"
              "<xMun>CUIABA</xMun><UF>MT</UF><cPais>1058</cPais><xPais>BRASIL</xPais>");
    full.cMun = 0;  // a consumer typed at the counter has no municipality code
    doc.recipient(full);
    EXPECT_THAT(doc.write(kExampleKey), Not(HasSubstr("enderDest")));
}

// `args` with `change` applied.
template <class Args, class Change>
Args changed(Args args, Change change) {
    change(args);
    return args;
}

// Each value the layout cannot hold, and each incomplete or inconsistent document, is refused naming the
// element. Each row starts from the complete example (items 1 and 2, 20.00 paid).
TEST(NfceDocumentTest, WhatCannotBeWrittenIsRefusedNamingTheElement) {
    using D = NfceDocument;
    const auto contingency = [](const std::string& xJust) {
        return changed(exampleIdentification(), [&](auto& a) {
            a.tpEmis = 9;
            a.dhCont = "2026-11-20T00:00:00-03:00";
            a.xJust = xJust;
        });
    };
    const struct {
        std::function<void(D&)> action;
        std::string refusal;
        bool whole = false;  // the refusal is the whole text
    } cases[] = {
        {[](D& d) { d.itemProduct(changed(exampleItem(3), [](auto& i) { i.ncm = "1234"; })); },
         "NCM '1234' do item 3 inválido: deve ter 8 dígitos", true},
        {[](D& d) { d.itemProduct(changed(exampleItem(3), [](auto& i) { i.vDesc = -1; })); }, "vDesc do item 3 negativo"},
        {[](D& d) { d.itemProduct(exampleItem(1)); }, "Item 1 já informado"},
        // Written as it came, summed past 64 bits, or read as zero when its count of cents did not fit.
        {[](D& d) { d.itemProduct(changed(exampleItem(3), [](auto& i) { i.qCom = 2e20; })); },
         "(qCom) do item 3 200000000000000000000.0000 grande"},
        {[](D& d) { d.itemProduct(changed(exampleItem(3), [](auto& i) { i.vProd = 9e16; })); },
         "(vProd) do item 3 90000000000000000.00 grande"},
        {[](D& d) { d.itemProduct(changed(exampleItem(3), [](auto& i) { i.vDesc = -1e300; })); }, "grande demais"},
        {[](D& d) { d.itemProduct(exampleItem(3)); d.itemOtherTaxes({.pisCst = "01", .pisValues = {0, 1000}}); },
         "pPIS do PIS do item 3 1000.0000 grande demais"},
        {[](D& d) { d.itemProduct(exampleItem(3)); d.itemIcms({.orig = "0", .csosn = "900"}); },
         "CSOSN '900' do item 3 não suportado: use 101, 102, 103, 300, 400 ou 500", true},
        {[](D& d) { d.itemProduct(exampleItem(3)); d.itemIcms({.orig = "9", .csosn = "102"}); },
         "Origem da mercadoria (orig) '9' do item 3"},
        {[](D& d) { d.itemProduct(exampleItem(3)); d.itemOtherTaxes({.pisCst = "10"}); },
         "CST do PIS '10' do item 3 não suportado"},
        {[](D& d) { d.itemIcms({.orig = "0", .csosn = "102"}); }, "sem item aberto"},
        {[](D& d) { d.itemProduct(exampleItem(3)); d.itemClose(); }, "sem o grupo ICMS"},
        {[](D& d) { d.itemProduct(exampleItem(3)); d.checkComplete(); }, "Item 3 incompleto: falta o grupo ICMS", true},
        // Item 3 failed at the caller.
        {[](D& d) { addItem(d, exampleItem(4), "102"); d.write(kExampleKey); },
         "Item 3 ausente: o documento passa ao item 4", true},
        {[](D& d) { d.emitter(changed(exampleEmitter(), [](auto& e) { e.xBairro = " "; })); },
         "Bairro do emitente (xBairro) vazio", true},
        {[](D& d) { d.identification(changed(exampleIdentification(), [](auto& a) { a.dhEmi = "05/03/2026 14:07"; })); },
         "Data de emissão (dhEmi) '05/03/2026 14:07'"},
        {[](D& d) { d.identification(changed(exampleIdentification(), [](auto& a) { a.mod = 55; })); }, "apenas NFC-e"},
        {[&](D& d) { d.identification(contingency("SEM INTERNET")); },
         "Justificativa da contingência (xJust) deve ter de 15 a 256 caracteres (tem 12)", true},
        {[](D& d) { d.recipient({.cpf = "123.456"}); }, "CPF do destinatário '123.456' inválido"},
        {[](D& d) { d.totals({.vDesc = 1, .vProd = 9, .vNF = 8}); d.checkComplete(); },
         "Total dos produtos (vProd) 9.00 difere da soma dos itens 20.00", true},
        {[](D& d) { d.totals({.vDesc = 1, .vProd = 20, .vNF = 20}); d.checkComplete(); },
         "Valor da nota (vNF) 20.00 difere do calculado 19.00"},
        {[](D&) { exampleDocument(2, 5).checkComplete(); },
         "Pagamentos (vPag) somam 5.00, menos que o valor da nota 19.00", true},
        // Payments add up: a change beyond the layout's 13 digits.
        {[](D& d) { d.payment({.tPag = 1, .vPag = 9999999999999}); d.checkComplete(); },
         "Troco (vTroco) 10000000000000.00 grande demais"},
        {[](D&) { D(DocumentSettings{"SP", 2}).checkComplete(); }, "Documento sem o grupo de identificação (ide)", true},
    };
    for (const auto& c : cases) {
        D doc = exampleDocument();
        const std::string text = errorOf([&] { c.action(doc); });
        if (c.whole) {
            EXPECT_EQ(text, c.refusal);
        } else {
            EXPECT_THAT(text, HasSubstr(c.refusal));
        }
    }
    D twice = exampleDocument(2, 5);
    twice.payment(PaymentArgs{.tPag = 4, .vPag = 15});
    EXPECT_THAT(twice.write(kExampleKey), HasSubstr("</detPag><vTroco>1.00</vTroco></pag>"));
}

TEST(AmountFormatTest, RoundsTheDecimalTheOperatorMeant) {
    const std::tuple<double, int, const char*> cases[] = {
        {2.675, 2, "2.68"},  // the double lies just below 2.675
        {9.999, 2, "10.00"}, {0.45, 4, "0.4500"}, {-0.001, 2, "0.00"}, {-0.995, 2, "-1.00"},
        {1e20, 2, "100000000000000000000.00"},
    };
    for (const auto& [value, decimals, text] : cases) EXPECT_EQ(formatDecimal(value, decimals), text) << value;
    EXPECT_EQ(roundToUnits(12.345, 2), 1235);
    EXPECT_THROW(formatDecimal(std::numeric_limits<double>::infinity(), 2), ComponentError);
}

TEST(LayoutTextTest, CollapsesBlanksAndRefusesCharactersBeyondLatin1) {
    EXPECT_EQ(layoutText("  PAO\t FRANCES \r\n KG  ", "xProd"), "PAO FRANCES KG");
    EXPECT_EQ(layoutText("AÇÚCAR", "xProd"), "AÇÚCAR");
    const std::string dash =
        testing::errorText<ComponentError>([] { layoutText("CAFÉ — EXTRA", "Descrição do produto (xProd) do item 1"); });
    EXPECT_THAT(dash, AllOf(HasSubstr("xProd"), HasSubstr("—")));
    EXPECT_THROW(layoutText("\xC3\x28", "xNome"), ComponentError);
    EXPECT_EQ(firstCharacters("ÁBCDE", 3), "ÁBC");
    EXPECT_EQ(xmlEscape("A&B <C> \"D\" 'E'\r\n"), "A&amp;B &lt;C&gt; \"D\" 'E'&#xD;\n");
}

TEST(AccessKeyTest, ReproducesThePublishedExampleKeyAndItsRules) {
    EXPECT_TRUE(accessKeyValid(kExampleKey));
    EXPECT_EQ(accessKeyCheckDigit(kExampleKey.substr(0, 43)), 7);
    AccessKeyFields fields{.uf = "sp", .dhEmi = "2026-11-20T09:15:02-03:00", .cnpj = "45723174000110", .model = 65,
                           .series = 2, .number = 1234, .emissionType = 1, .numericCode = "83746152"};
    EXPECT_EQ(buildAccessKey(fields), kExampleKey);
    // A weighted sum with remainder below 2 (computed by hand from the published rule).
    EXPECT_EQ(accessKeyCheckDigit("5126031122233300018165001000000100411234567"), 0);
    EXPECT_TRUE(accessKeyValid("51260311222333000181650010000001004112345670"));

    // Fields that cannot form a key are refused.
    fields = {.uf = "MT", .dhEmi = "2026-03-05T14:07:09-04:00", .cnpj = "11222333000181", .series = 1, .number = 10,
              .numericCode = "12345679"};
    for (const auto& spoil : {+[](AccessKeyFields& f) { f.uf = "XX"; }, +[](AccessKeyFields& f) { f.cnpj = ""; },
                              +[](AccessKeyFields& f) { f.number = 0; }})
        EXPECT_THROW(buildAccessKey(changed(fields, spoil)), ComponentError);
    EXPECT_FALSE(accessKeyValid(kExampleKey.substr(0, 43) + "8"));
    EXPECT_FALSE(accessKeyValid(kExampleKey.substr(1)));
}

TEST(NumericCodeTest, CodesAreEightDigitsNotGuessableAndNeverOnesTheAuthorityRefuses) {
    std::set<std::int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        const std::int32_t code = randomNumericCode();
        ASSERT_GE(code, 0);
        ASSERT_LE(code, 99999999);
        seen.insert(code);
    }
    EXPECT_GT(seen.size(), 195u);

    // The caller's code is kept unless the authority would refuse it.
    EXPECT_EQ(numericCodeFor("1234568", 99), "01234568");
    EXPECT_TRUE(numericCodeUsable("83746152", 1234));
    // The number itself, its last 8 digits, and codes the authority refuses.
    for (const auto& [code, number] : {std::pair{"00001234", 1234}, {"23456789", 123456789}, {"00000000", 5},
                                       {"12345678", 5}, {"98765432", 5}})
        EXPECT_FALSE(numericCodeUsable(code, number)) << code;
    // The numeric-code failure path of the program sends "0"; the generation replaces it.
    for (const char* caller : {"0", "1234", "", "x"}) {
        const std::string code = numericCodeFor(caller, 1234);
        EXPECT_TRUE(numericCodeUsable(code, 1234)) << caller << " -> " << code;
    }
}

// (Written without leading zeros in the published example's QR code, which NfceDocumentTest reproduces;
// the offline form is checked against a signed document in the real component's tests.)
TEST(QrCodeTest, ATokenIdThatIsNotANumberIsRefused) {
    EXPECT_THROW(qrTokenId("00A1"), ComponentError);
}

TEST(CpfCnpjValidatorTest, AcceptsValidDocumentsBareOrWithTheirOwnMaskOnly) {
    CpfCnpjValidator validator;
    for (const char* valid : {"52998224725", "529.982.247-25",
                              "98765432100",     // both check digits from a remainder below 2
                              "11222333000181", "11.222.333/0001-81",
                              "00000000000191"})  // leading zeros are part of the number
        EXPECT_TRUE(validator.validate(valid)) << valid;
    // Wrong check digits (the second, the first), lengths beside 11 and 14, one repeated digit (check
    // digits that pass), a partial or a foreign mask, a letter.
    for (const char* invalid : {"52998224724", "52998224715", "11222333000182", "", "529982247250", "1122233300018",
                                "11111111111", "00000000000000", "529982247-25", "529,982,247-25", "1122233300018A"})
        EXPECT_FALSE(validator.validate(invalid)) << invalid;
}

}  // namespace
}  // namespace quorvanti::fiscal
