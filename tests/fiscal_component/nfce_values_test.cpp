// Amount formatting, text rules, the access key, the numeric code and the QR code rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/document/numeric_code.h"
#include "fiscal_component/document/qr_code.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;

const std::string kExampleKey = "35261145723174000110650020000012341837461527";
const std::string kCsc = "0123456789ABCDEF0123456789ABCDEF";

TEST(AmountFormatTest, RoundsTheDecimalTheOperatorMeant) {
    const std::tuple<double, int, const char*> cases[] = {
        {12, 2, "12.00"}, {2.675, 2, "2.68"},  // the double lies just below 2.675
        {1.005, 2, "1.01"}, {0.1 + 0.2, 2, "0.30"}, {9.999, 2, "10.00"}, {0.45, 4, "0.4500"},
        {10.0 / 3.0, 10, "3.3333333333"}, {20, 10, "20.0000000000"}, {-0.001, 2, "0.00"}, {-1.5, 2, "-1.50"},
        {-0.995, 2, "-1.00"}, {99.995, 2, "100.00"}, {0.5, 0, "1"}, {0.004, 2, "0.00"},
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
    EXPECT_THAT(dash, HasSubstr("xProd"));
    EXPECT_THAT(dash, HasSubstr("—"));
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
    // Weighted sums with remainder 1 and 0 (computed by hand from the published rule).
    EXPECT_EQ(accessKeyCheckDigit("5126031122233300018165001000000100411234567"), 0);
    EXPECT_EQ(accessKeyCheckDigit("5126031122233300018165001000000100911234567"), 0);
    EXPECT_TRUE(accessKeyValid("51260311222333000181650010000001004112345670"));

    // Fields that cannot form a key are refused.
    fields = {.uf = "MT", .dhEmi = "2026-03-05T14:07:09-04:00", .cnpj = "11222333000181", .series = 1, .number = 10,
              .numericCode = "12345679"};
    EXPECT_EQ(buildAccessKey(fields).substr(0, 6), "512603");
    auto broken = fields;
    broken.uf = "XX";
    EXPECT_THROW(buildAccessKey(broken), ComponentError);
    broken = fields;
    broken.cnpj = "";
    EXPECT_THROW(buildAccessKey(broken), ComponentError);
    broken = fields;
    broken.number = 0;
    EXPECT_THROW(buildAccessKey(broken), ComponentError);
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
    EXPECT_FALSE(numericCodeUsable("00001234", 1234));       // the number itself
    EXPECT_FALSE(numericCodeUsable("23456789", 123456789));  // the number's last 8 digits
    EXPECT_FALSE(numericCodeUsable("00000000", 5));
    EXPECT_FALSE(numericCodeUsable("12345678", 5));
    EXPECT_FALSE(numericCodeUsable("98765432", 5));
    // The numeric-code failure path of the program sends "0"; the generation replaces it.
    for (const char* caller : {"0", "1234", "", "x"}) {
        const std::string code = numericCodeFor(caller, 1234);
        EXPECT_TRUE(numericCodeUsable(code, 1234)) << caller << " -> " << code;
    }
}

TEST(QrCodeTest, OnlineFormReproducesThePublishedExampleAndOfflineAddsDayValueAndDigest) {
    const std::string address = builtInConsultationAddress("SP", 2).qrCode;
    EXPECT_EQ(onlineQrCode(address, kExampleKey, 2, "000001", kCsc),
              "https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?p=" + kExampleKey +
                  "|2|2|1|8DC38D2D87FAE9C2B5093105D16BE253F544B32B");
    EXPECT_EQ(qrTokenId("000012"), "12");
    EXPECT_THROW(qrTokenId("00A1"), ComponentError);

    // The offline form carries day, value and digest in hexadecimal.
    const std::string key = kExampleKey.substr(0, 34) + "9" + kExampleKey.substr(35, 8) + "0";
    const std::string digest = "imH4BI/aUPOhSU9iLTVJXbkNQV0=";
    const std::string text = offlineQrCode("http://x.example/qr", key, 2, "2026-11-20T09:15:02-03:00", "19.00",
                                           digest, "000001", kCsc);
    const std::string hex = "696d483442492f6155504f68535539694c54564a58626b4e5156303d";
    const std::string parameters = key + "|2|2|20|19.00|" + hex + "|1";
    EXPECT_EQ(text, "http://x.example/qr?p=" + parameters + "|" + sha1UpperHex(parameters + kCsc));
    EXPECT_EQ(sha1UpperHex("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_THAT(text, ::testing::Not(HasSubstr(kCsc)));
}

TEST(QrCodeTest, AddressesComeFromTheTableOrTheWebServicesFile) {
    EXPECT_EQ(builtInConsultationAddress("MT", 2).qrCode, "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce");
    EXPECT_EQ(builtInConsultationAddress("mt", 1).urlChave, "http://www.sefaz.mt.gov.br/nfce/consultanfce");
    EXPECT_TRUE(builtInConsultationAddress("XX", 1).qrCode.empty());
    testing::TempDir dir;
    const std::string ini = dir.file("webservices.ini");
    testing::writeFile(ini, "[MT_2]\r\nQRCode=http://127.0.0.1:8080/qr\r\n");
    const ConsultationAddress address = consultationAddress("MT", 2, ini);
    EXPECT_EQ(address.qrCode, "http://127.0.0.1:8080/qr");
    EXPECT_EQ(address.urlChave, "http://homologacao.sefaz.mt.gov.br/nfce/consultanfce");
    EXPECT_EQ(consultationAddress("MT", 1, ini).qrCode, "http://www.sefaz.mt.gov.br/nfce/consultanfce");
}

}  // namespace
}  // namespace quorvanti::fiscal
