// Cost of signing an NFC-e beside the bare RSA operation of the same key: the signer should add little
// beyond the one RSA-SHA1 signature it must make. The test certificate is made into a temporary folder
// with scripts/make-test-certificate.sh.
//
//   quorvanti_bench_signing [--benchmark_repetitions=5]
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/signing/xml_signer.h"

namespace {

using quorvanti::fiscal::CertificateStore;
using quorvanti::fiscal::LoadedCertificate;

// The test certificate, made once into a temporary folder removed at exit.
class TestSigner {
public:
    TestSigner() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvanti-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        const std::string command = "'" QUORVANTI_SOURCE_DIR "/scripts/make-test-certificate.sh' '" + folder_ + "/c'";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("make-test-certificate.sh failed");
        CertificateStore store(folder_ + "/c");
        certificate_ = store.find(store.list().at(0).serialNumber);
    }
    ~TestSigner() {
        certificate_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    const LoadedCertificate& certificate() const { return *certificate_; }

private:
    std::string folder_;
    std::shared_ptr<const LoadedCertificate> certificate_;
};

const TestSigner& signer() {
    static const TestSigner instance;
    return instance;
}

// The example NFC-e without its signature, its first item repeated to `items` items (the totals no
// longer add up, which signing does not care about).
xmlDoc* unsignedExample(int items) {
    std::ifstream in(QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "nfce.xml", nullptr, XML_PARSE_NONET);
    if (doc == nullptr) throw std::runtime_error("cannot read the example");
    xmlNode* signature = xmlGetLastChild(xmlDocGetRootElement(doc));
    xmlUnlinkNode(signature);
    xmlFreeNode(signature);
    xmlNode* infNfe = xmlFirstElementChild(xmlDocGetRootElement(doc));
    xmlNode* firstItem = nullptr;
    for (xmlNode* child = xmlFirstElementChild(infNfe); child != nullptr;) {
        xmlNode* next = xmlNextElementSibling(child);
        if (xmlStrEqual(child->name, reinterpret_cast<const xmlChar*>("det"))) {
            if (firstItem == nullptr) {
                firstItem = child;
            } else {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
            }
        }
        child = next;
    }
    xmlNode* last = firstItem;
    for (int item = 2; item <= items; ++item) {
        xmlNode* copy = xmlCopyNode(firstItem, 1);
        xmlSetProp(copy, reinterpret_cast<const xmlChar*>("nItem"),
                   reinterpret_cast<const xmlChar*>(std::to_string(item).c_str()));
        last = xmlAddNextSibling(last, copy);
    }
    return doc;
}

// One RSA-SHA1 signature of 20 bytes with the test key: the floor of any NFC-e signature.
void BM_BareRsaSha1Signature(benchmark::State& state) {
    EVP_PKEY* key = signer().certificate().privateKey();
    const unsigned char data[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    unsigned char signature[512];
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    for (auto _ : state) {
        std::size_t length = sizeof signature;
        if (EVP_DigestSignInit(context, nullptr, EVP_sha1(), nullptr, key) != 1 ||
            EVP_DigestSign(context, signature, &length, data, sizeof data) != 1) {
            state.SkipWithError("EVP_DigestSign failed");
            break;
        }
        benchmark::DoNotOptimize(signature);
    }
    EVP_MD_CTX_free(context);
}
BENCHMARK(BM_BareRsaSha1Signature)->Unit(benchmark::kMicrosecond);

// signNfe of a document of state.range(0) items, on a fresh copy per iteration (the copy is measured
// alone below).
void BM_SignNfe(benchmark::State& state) {
    const LoadedCertificate& certificate = signer().certificate();
    xmlDoc* master = unsignedExample(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        xmlDoc* doc = xmlCopyDoc(master, 1);
        quorvanti::fiscal::signNfe(doc, certificate);
        xmlFreeDoc(doc);
    }
    xmlFreeDoc(master);
}
BENCHMARK(BM_SignNfe)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// signNfeText of the same document as text, as the component signs a sale: in the writer's form no
// tree is built.
void BM_SignNfeText(benchmark::State& state) {
    const LoadedCertificate& certificate = signer().certificate();
    xmlDoc* master = unsignedExample(1);
    xmlBuffer* buffer = xmlBufferCreate();
    xmlNodeDump(buffer, master, xmlDocGetRootElement(master), 0, 0);
    std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)));
    xmlBufferFree(buffer);
    xmlFreeDoc(master);
    // The items repeated in the text itself: copies made in a tree come out with namespace declarations.
    const std::size_t start = text.find("<det nItem=\"1\">"), end = text.find("</det>") + 6;
    const std::string item = text.substr(start, end - start);
    std::string items;
    for (int n = 2; n <= state.range(0); ++n) items += "<det nItem=\"" + std::to_string(n) + item.substr(item.find('"', 12));
    text.insert(end, items);
    if (!quorvanti::fiscal::isInWritersForm(text)) state.SkipWithError("the example is not in the writer's form");
    for (auto _ : state) benchmark::DoNotOptimize(quorvanti::fiscal::signNfeText(text, certificate));
}
BENCHMARK(BM_SignNfeText)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// The canonical form of infNFe alone, the signer's main work beside the RSA operation.
void BM_CanonicalInfNfe(benchmark::State& state) {
    xmlDoc* master = unsignedExample(static_cast<int>(state.range(0)));
    xmlNode* infNfe = xmlFirstElementChild(xmlDocGetRootElement(master));
    for (auto _ : state) benchmark::DoNotOptimize(quorvanti::fiscal::canonicalSubtree(infNfe));
    xmlFreeDoc(master);
}
BENCHMARK(BM_CanonicalInfNfe)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_CopyDocumentOnly(benchmark::State& state) {
    xmlDoc* master = unsignedExample(static_cast<int>(state.range(0)));
    for (auto _ : state) xmlFreeDoc(xmlCopyDoc(master, 1));
    xmlFreeDoc(master);
}
BENCHMARK(BM_CopyDocumentOnly)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
