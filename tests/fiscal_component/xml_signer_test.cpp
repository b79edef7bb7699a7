#include "fiscal_component/signing/xml_signer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

#include "support/shared_data.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using quorvanti::testing::installTestCertificate;
using quorvanti::testing::readFile;
using quorvanti::testing::TempDir;
using quorvanti::testing::writeFile;
using quorvanti::testing::xmlsecVerifies;

const std::string kExample = QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml";
// The example's DigestValue: it depends only on infNFe, not on the key that signed it.
const std::string kExampleDigest = "imH4BI/aUPOhSU9iLTVJXbkNQV0=";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(const std::string& text) {
    return Doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), "nfce.xml", nullptr, XML_PARSE_NONET));
}

std::string serialise(xmlDoc* doc) {
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &bytes, &size);
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    xmlFree(bytes);
    return text;
}

std::vector<xmlNode*> childElements(xmlNode* parent) {
    std::vector<xmlNode*> out;
    for (xmlNode* child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE) out.push_back(child);
    return out;
}

std::string name(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

// The element tree below `node` with its namespaces and Algorithm/URI attributes, without texts: what
// must be equal between two signatures of the same infNFe by different keys.
std::string shape(xmlNode* node) {
    std::string out = "<{" + std::string(node->ns != nullptr ? reinterpret_cast<const char*>(node->ns->href) : "") +
                      "}" + name(node);
    for (const char* attribute : {"Algorithm", "URI"}) {
        if (xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(attribute))) {
            out += std::string(" ") + attribute + "=" + reinterpret_cast<const char*>(value);
            xmlFree(value);
        }
    }
    out += ">";
    for (xmlNode* child : childElements(node)) out += shape(child);
    return out + "</" + name(node) + ">";
}

xmlNode* lastElement(xmlNode* parent) { return childElements(parent).back(); }

// The first element named `wanted` in document order.
xmlNode* findElement(xmlNode* node, const std::string& wanted) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        if (name(node) == wanted) return node;
        if (xmlNode* found = findElement(node->children, wanted)) return found;
    }
    return nullptr;
}

// libxml2's inclusive C14N 1.0 of an element's subtree: the reference the signer's own writer must match.
std::string libxmlCanonical(xmlNode* element) {
    auto inSubtree = [](void* top, xmlNode* node, xmlNode* parent) -> int {
        const xmlNode* current = node->type == XML_NAMESPACE_DECL ? parent : node;
        for (; current != nullptr; current = current->parent)
            if (current == top) return 1;
        return 0;
    };
    std::string text;
    xmlOutputBuffer* output = xmlOutputBufferCreateIO(
        [](void* out, const char* data, int length) {
            static_cast<std::string*>(out)->append(data, static_cast<std::size_t>(length));
            return length;
        },
        [](void*) { return 0; }, &text, nullptr);
    EXPECT_GE(xmlC14NExecute(element->doc, inSubtree, element, XML_C14N_1_0, nullptr, 0, output), 0);
    xmlOutputBufferClose(output);
    return text;
}

class XmlSignerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_SHARED();
        CertificateStore store(dir.file("certificados"));
        installTestCertificate(store.folder());
        signer = store.find(store.list().at(0).serialNumber);
    }

    // The example without its Signature.
    static Doc unsignedExample() {
        Doc doc = parse(readFile(kExample));
        xmlNode* signature = lastElement(xmlDocGetRootElement(doc.get()));
        EXPECT_EQ(name(signature), "Signature");
        xmlUnlinkNode(signature);
        xmlFreeNode(signature);
        return doc;
    }

    // Writes `text` to a file and asks xmlsec1 about it.
    bool verifies(const std::string& text, std::string* output = nullptr) {
        const std::string path = dir.file("assinado-" + std::to_string(++files) + ".xml");
        writeFile(path, text);
        return xmlsecVerifies(path, output);
    }

    TempDir dir;
    std::shared_ptr<const LoadedCertificate> signer;
    int files = 0;
};

// The example signed again by the test signer: the example's digest and signature structure, valid
// against the official schema as the authority receives it, and verified by xmlsec1.
TEST_F(XmlSignerTest, SignsTheExampleAsTheAuthorityExpects) {
    Doc example = parse(readFile(kExample));
    Doc doc = unsignedExample();
    EXPECT_EQ(signatureDigestValue(doc.get()), "");
    signNfe(doc.get(), *signer);
    EXPECT_EQ(signatureDigestValue(doc.get()), kExampleDigest);
    const std::string signedText = serialise(doc.get());
    std::string output;
    EXPECT_TRUE(verifies(signedText, &output)) << output;
    EXPECT_TRUE(quorvanti::testing::validAgainst("nfe_v4.00.xsd", signedText, &output)) << output;

    xmlNode* ours = lastElement(xmlDocGetRootElement(doc.get()));
    ASSERT_EQ(name(ours), "Signature");
    EXPECT_EQ(shape(ours), shape(lastElement(xmlDocGetRootElement(example.get()))));
    EXPECT_THAT(shape(ours), ::testing::HasSubstr(
                                 "URI=#NFe35261145723174000110650020000012341837461527><{http://www.w3.org/2000/09/"
                                 "xmldsig#}Transforms><{http://www.w3.org/2000/09/xmldsig#}Transform "
                                 "Algorithm=http://www.w3.org/2000/09/xmldsig#enveloped-signature>"));
    xmlChar* certificate = xmlNodeGetContent(childElements(childElements(childElements(ours)[2])[0])[0]);
    EXPECT_EQ(reinterpret_cast<const char*>(certificate), signer->certificateBase64());
    xmlFree(certificate);

    // A changed byte inside infNFe breaks it; infNFeSupl (the offline QR code is written after
    // signing) is outside it.
    std::string tampered = signedText;
    const auto value = tampered.find("<vProd>9.00</vProd>");
    ASSERT_NE(value, std::string::npos);
    tampered[value + 10] = '1';
    EXPECT_FALSE(verifies(tampered));
    std::string newQr = signedText;
    const auto url = newQr.find("<urlChave>https://");
    ASSERT_NE(url, std::string::npos);
    newQr.replace(url + 10, 8, "http://");
    EXPECT_TRUE(verifies(newQr));

    // Signing again replaces the signature.
    signNfe(doc.get(), *signer);
    int signatures = 0;
    for (xmlNode* child : childElements(xmlDocGetRootElement(doc.get()))) signatures += name(child) == "Signature";
    EXPECT_EQ(signatures, 1);
    EXPECT_TRUE(verifies(serialise(doc.get())));

    // The digest is found in an authorised document too.
    std::string nfe = readFile(kExample);
    nfe.erase(0, nfe.find("<NFe"));
    Doc proc = parse("<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">" + nfe + "</nfeProc>");
    EXPECT_EQ(signatureDigestValue(proc.get()), kExampleDigest);
}

TEST_F(XmlSignerTest, NamespacesDeclaredAboveInfNFeAreSignedAsInScope) {
    // Inclusive canonicalisation carries the root's unused declarations into infNFe and SignedInfo; a
    // verifier does the same, so a signer that left them out would fail here.
    std::string text = readFile(kExample);
    text.replace(text.find("<NFe "), 5, "<NFe xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" ");
    Doc doc = parse(text);
    xmlNode* signature = lastElement(xmlDocGetRootElement(doc.get()));
    xmlUnlinkNode(signature);
    xmlFreeNode(signature);

    signNfe(doc.get(), *signer);

    EXPECT_NE(signatureDigestValue(doc.get()), kExampleDigest);
    std::string output;
    EXPECT_TRUE(verifies(serialise(doc.get()), &output)) << output;
}

TEST(CanonicalSubtreeTest, MatchesLibxml2ByteForByte) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const std::string tricky =
        "<r xmlns=\"urn:a\" xmlns:p=\"urn:p\" xmlns:z=\"urn:z\"%s><e Id=\"x\" b=\"2\" a=\"1\" p:c=\"3\" "
        "z:a=\"&amp;&lt;&gt;&quot;&#9;&#10;&#13;' \" p:b=\"\"><!-- c -->t &amp; &lt; &gt; \"q\" &#13;"
        "<![CDATA[<cdata>&]]><f xmlns=\"urn:b\" xmlns:p=\"urn:p\"><g xmlns=\"\"><k xmlns=\"\"/></g>"
        "<p:h xmlns:q=\"urn:q\" q:x=\"1\" xmlns:a=\"urn:a\"/></f><i xmlns:z=\"urn:z2\"/>\xc3\xa9 \xc3\xbc%s</e></r>";
    auto document = [&](const char* rootAttributes, const char* tail) {
        std::vector<char> text(tricky.size() + 64);
        std::snprintf(text.data(), text.size(), tricky.c_str(), rootAttributes, tail);
        return std::string(text.data());
    };
    std::string withPrefix = readFile(kExample);
    withPrefix.replace(withPrefix.find("<NFe "), 5, "<NFe xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" ");
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {readFile(kExample), {"infNFe", "SignedInfo", "ide", "det"}},
        {withPrefix, {"infNFe", "SignedInfo", "qrCode"}},
        {document("", ""), {"e", "f", "g", "h", "i"}},
        // What the fast writer leaves to libxml2: inherited xml:* attributes, processing instructions.
        {document(" xml:lang=\"pt\"", ""), {"e", "h"}},
        {document("", "<?pi data?>"), {"e"}},
    };
    for (const auto& [text, elements] : cases) {
        Doc doc = parse(text);
        ASSERT_TRUE(doc) << text;
        for (const auto& element : elements) {
            xmlNode* node = findElement(xmlDocGetRootElement(doc.get()), element);
            ASSERT_NE(node, nullptr) << element;
            EXPECT_EQ(canonicalSubtree(node), libxmlCanonical(node)) << element << " of " << text.substr(0, 60);
        }
    }
}

// Signing a text digests the same bytes as signing its parsed tree, whether the text is in the
// writer's form (digested as it stands) or not (parsed); xmlsec1 accepts every result.
TEST_F(XmlSignerTest, TextSignatureMatchesTheTreeSignatureInEveryForm) {
    const std::string root = "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">";
    const std::string id = "NFe35261145723174000110650020000012341837461527";
    const std::string content =
        "<ide><natOp>A &amp; B &lt;C&gt; \"D\" 'E' ação\tfim</natOp></ide><det nItem=\"1\"><prod>"
        "<xProd>linha&#xD;\nseguinte</xProd></prod></det>";
    const std::string supplement = "<infNFeSupl><qrCode><![CDATA[https://q?p=1&v=2]]></qrCode></infNFeSupl>";
    const auto nfe = [&](const std::string& start, const std::string& body, const std::string& rootStart) {
        return rootStart + start + body + "</infNFe>" + supplement + "</NFe>";
    };
    const std::string written = "<infNFe versao=\"4.00\" Id=\"" + id + "\">";
    const struct {
        const char* what;
        std::string text;
        bool writersForm;
    } cases[] = {
        {"writer's form", nfe(written, content, root), true},
        {"with declaration, attributes in canonical order",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + nfe("<infNFe Id=\"" + id + "\" versao=\"4.00\">", content, root),
         true},
        {"blanks between elements", nfe(written, "\n  " + content + "\n", root), true},
        {"another declaration on the root",
         nfe(written, content, "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" xmlns:xsi=\"urn:x\">"), false},
        {"empty-element tag", nfe(written, content + "<pag/>", root), false},
        {"escape a canonical writer does not use", nfe(written, "<ide><natOp>&quot;&#65;</natOp></ide>", root), false},
        {"literal greater-than", nfe(written, "<ide><natOp>a > b</natOp></ide>", root), false},
        {"attribute needing normalisation", nfe(written, "<det nItem=\" 1\"></det>", root), false},
        {"CDATA inside infNFe", nfe(written, "<ide><natOp><![CDATA[x]]></natOp></ide>", root), false},
        {"extra attribute on infNFe", nfe("<infNFe versao=\"4.00\" Id=\"" + id + "\" a=\"1\">", content, root), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isInWritersForm(c.text), c.writersForm);
        const NfeSignature signature = signNfeText(c.text, *signer);

        Doc tree = parse(c.text);
        ASSERT_TRUE(tree);
        signNfe(tree.get(), *signer);
        EXPECT_EQ(signature.digestValue, signatureDigestValue(tree.get()));

        std::string signedText = c.text;
        signedText.insert(signedText.rfind("</NFe>"), signature.element);
        std::string output;
        EXPECT_TRUE(verifies(signedText, &output)) << output;
    }
    // What is not an NFe is refused, and left as it was.
    EXPECT_THROW(signNfeText("<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe>", *signer),
                 std::runtime_error);
    for (const char* text : {"<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><ide/></NFe>",
                             "<NFe><infNFe Id=\"NFe1\"/></NFe>", "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe/></NFe>"}) {
        Doc other = parse(text);
        EXPECT_THROW(signNfe(other.get(), *signer), std::runtime_error) << text;
        EXPECT_EQ(childElements(xmlDocGetRootElement(other.get())).size(), 1u);
    }
}

}  // namespace
}  // namespace quorvanti::fiscal
