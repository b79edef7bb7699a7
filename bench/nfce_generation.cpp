// Cost of one NFC-e through the real component: a fresh instance per sale (as the emission routine
// makes it), configuration, the group calls, generation with signature and both files, and schema
// validation of the signed file; for 1, 10 and 100 items, against the official schemas and the
// project's own. Beside it, the bare RSA signing of a short text with the same key. The counter
// "x_bare_signature" tells how many bare signatures one document costs (goal: at most 3 for 10 items):
// each document is followed by one bare signature, and the ratio is of their sums, so that a machine
// whose speed drifts during the run (a shared one) still gives a fair ratio; both are measured in CPU
// time of the thread.
//
// The documents go to a new folder under /tmp, or under QUORVANTI_BENCH_DIR. On an ext4 without a
// journal (as on some virtual machines), creating a file in a block group where many files were
// deleted in the last minutes (a build's temporary files, the folder of the run before) costs the
// kernel a scan past each of them, up to several times the signature: run it a few minutes away from
// such a burst, or on tmpfs to leave the file system out.
//
// Run: build/release/bench/quorvanti_bench_nfce_generation
//      QUORVANTI_BENCH_DIR=/dev/shm build/release/bench/quorvanti_bench_nfce_generation   (tmpfs)
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/fiscal_component/sale_builder.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/real_component.h"

namespace {

using namespace quorvanti::fiscal;

struct Bench {
    std::string root;
    std::string store;      // the script's output folder is itself a usable store
    std::string documents;
    std::string ownSchemas;  // an empty folder: validation uses the project's own schema
    std::string serial;
};

// CPU time of this thread: the machine is shared, and wall time would count other processes' work.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double signOnce(EVP_PKEY* key) {
    static const char kText[] = "quorvanti: assinatura de referencia";
    unsigned char signature[1024];
    std::size_t length = sizeof signature;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const double start = threadSeconds();
    if (EVP_DigestSignInit(context, nullptr, EVP_sha1(), nullptr, key) != 1 ||
        EVP_DigestSign(context, signature, &length, reinterpret_cast<const unsigned char*>(kText),
                       sizeof kText - 1) != 1) {
        throw std::runtime_error("EVP_DigestSign failed");
    }
    const double seconds = threadSeconds() - start;
    EVP_MD_CTX_free(context);
    return seconds;
}

Bench& bench() {
    static Bench b = [] {
        Bench made;
        // QUORVANTI_BENCH_DIR chooses the file system the documents are written to (default /tmp).
        const char* base = std::getenv("QUORVANTI_BENCH_DIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/quorvanti-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        made.root = pattern;
        made.store = made.root + "/certificados";
        made.documents = made.root + "/nfe/";
        made.ownSchemas = made.root + "/nfe/schemas";
        std::filesystem::create_directories(made.ownSchemas);
        const std::string command = std::string("sh '") + QUORVANTI_SOURCE_DIR "/scripts/make-test-certificate.sh' '" +
                                    made.store + "' >/dev/null";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("make-test-certificate.sh failed");
        made.serial = CertificateStore(made.store).list().at(0).serialNumber;
        return made;
    }();
    static const struct Cleanup {
        std::string root;
        ~Cleanup() {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        }
    } cleanup{b.root};
    return b;
}

testsales::Sale saleOf(int items) {
    testsales::Sale sale;
    sale.cpf = "52998224725";
    sale.items.clear();
    for (int i = 0; i < items; ++i) {
        sale.items.push_back(testsales::SaleItem{.code = std::to_string(1000 + i),
                                                 .description = "PRODUTO DE TESTE " + std::to_string(i),
                                                 .csosn = i % 2 ? "500" : "102", .quantity = 1.5,
                                                 .total = 3.75 + i, .discount = i % 3 ? 0 : 0.25});
    }
    return sale;
}

void BM_BareRsaSignature(benchmark::State& state) {
    CertificateStore store(bench().store);
    const auto certificate = store.find(bench().serial);
    for (auto _ : state) benchmark::DoNotOptimize(signOnce(certificate->privateKey()));
}
BENCHMARK(BM_BareRsaSignature)->Unit(benchmark::kMicrosecond);

// Arguments: number of items; 1 = official schemas, 0 = the project's own.
void BM_GenerateSignValidate(benchmark::State& state) {
    Bench& b = bench();
    const testsales::Sale sale = saleOf(static_cast<int>(state.range(0)));
    const std::string schemas = state.range(1) ? QUORVANTI_SHARED_DIR "/nfe-schemas" : b.ownSchemas;
    ConfigurationArgs config{.certificateSerial = b.serial, .documentFolder = b.documents, .schemaFolder = schemas,
                             .uf = "MT", .model = 65, .layoutUse = "1", .timeoutMs = "30000", .tpAmb = 2,
                             .tpEmis = "1", .tpImp = 4, .cnpj = testsales::kEmitterCnpj, .cscId = "000001",
                             .csc = "0123456789ABCDEF0123456789ABCDEF"};
    const auto certificate = CertificateStore(b.store).find(b.serial);
    double groups = 0, generation = 0, validation = 0, bare = 0;
    int number = 1;
    testsales::Sale numbered = sale;
    for (auto _ : state) {
        // A new number per document, as in production: every sale writes new files.
        numbered.number = number++;
        const double start = threadSeconds();
        RealFiscalComponent component(b.store);
        component.configure(config);
        testsales::sendSale(component, numbered);
        const double grouped = threadSeconds();
        std::string key, message;
        GenerationArgs args;
        SharedTexts shared;
        component.generate(key, args, shared);
        const double generated = threadSeconds();
        if (!component.validate(ValidationArgs{args.signedXmlPath}, message)) {
            state.SkipWithError(message.c_str());
            break;
        }
        const double validated = threadSeconds();
        groups += grouped - start;
        generation += generated - grouped;
        validation += validated - generated;
        bare += signOnce(certificate->privateKey());
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["x_bare_signature"] = (groups + generation + validation) / bare;
    state.counters["bare_signature_us"] = bare / iterations * 1e6;
    state.counters["groups_us"] = groups / iterations * 1e6;
    state.counters["generate_us"] = generation / iterations * 1e6;
    state.counters["validate_us"] = validation / iterations * 1e6;
}
BENCHMARK(BM_GenerateSignValidate)
    ->ArgsProduct({{1, 10, 100}, {1, 0}})
    ->ArgNames({"items", "official"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
