// Resident memory over many queued sales through the whole emission routine: SQLite, the real component
// with the test certificate, quorvanti-sefaz on loopback over HTTPS with client certificates, the
// headless frontend writing its captions to /dev/null as the executable writes them to its journal, and
// a virtual clock taking the specified pauses. Sales are queued 500 at a time and each batch is taken
// by one poll, as a shop's queue fills between polls. A monitor runs for months: what one sale leaves
// behind (a leak, a list that only grows, a cache without bound) shows as growth between the resident
// size after the first 500 sales and at the end.
//
// Run: build/release/bench/quorvanti_bench_memory_over_sales   (10 000 sales; progress on stderr;
//      QUORVANTI_BENCH_SALES=N for another count)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "authorisation/emission_routine.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/real_component.h"
#include "monitor/poll_cycle.h"
#include "platform/ui/headless_frontend.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"
#include "support/sefaz_process.h"
#include "support/test_certificates.h"

namespace {

using namespace quorvanti;
using Clock = std::chrono::steady_clock;

constexpr int kBatch = 500;

// A "Name: value" line of a /proc/self file, as a number (0 when missing).
double procValue(const char* file, const std::string& name) {
    std::ifstream in(std::string("/proc/self/") + file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) return std::stod(line.substr(name.size() + 1));
    return 0;
}
double residentMiB() { return procValue("status", "VmRSS") / 1024.0; }
// Bytes handed to write() so far: the files the routine rewrites show here.
double writtenKiB() { return procValue("io", "wchar") / 1024.0; }

// Queues `count` sales of two items each from `first` on, in one transaction.
void queueSales(database::DbConnection& db, int first, int count) {
    std::string items, queue;
    for (int i = first; i < first + count; ++i) {
        const std::string code = "'" + std::to_string(100000 + i) + "-01'";
        items += std::string(items.empty() ? "" : ", ") + "(" + code +
                 ", '2026-03-05', '', 101, 'Arroz', 2, 10, 20, 0, 'UN'), (" + code +
                 ", '2026-03-05', '', 103, 'Refrigerante', 1, 9.5, 9.5, 0, 'UN')";
        queue += std::string(queue.empty() ? "" : ", ") + "(" + code + ", 'enviar', '2026-03-05', 'x')";
    }
    db.execute("BEGIN");
    db.execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, "
               "ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES " + items);
    db.execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES " + queue);
    db.execute("COMMIT");
}

void BM_ResidentMemoryOverSales(benchmark::State& state) {
    // QUORVANTI_BENCH_SALES shortens a trial run.
    const char* wanted = std::getenv("QUORVANTI_BENCH_SALES");
    const int sales = wanted != nullptr ? std::max(kBatch, std::atoi(wanted)) : static_cast<int>(state.range(0));
    for (auto _ : state) {
        quorvanti::testing::ProgramFolder folder(database::DbKind::Sqlite);
        const std::string store = folder.path() + "/certificados";
        quorvanti::testing::installTestCertificate(store);
        folder.setSetting("CertificadoSerie", fiscal::CertificateStore(store).list().at(0).serialNumber);
        const std::string ca = quorvanti::testing::testAuthorityPem();
        auto authority = quorvanti::testing::startHttpsAuthority(folder.path() + "/..", ca, {"--quiet"});
        if (authority->port() <= 0) {
            state.SkipWithError("the local SEFAZ did not start");
            return;
        }
        quorvanti::testing::writeFile(folder.path() + "/nfe/webservices.ini",
                                      quorvanti::testing::webServicesIni(authority->port(), ca));
        folder.execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES "
                       "(101, 'ARROZ', '5102', '102', '10063021'), (103, 'REFRIGERANTE', '5405', '500', '22021000')");

        std::ofstream journal("/dev/null");
        platform::VirtualClock clock;
        platform::HeadlessFrontend frontend(journal, platform::MessageAnswer::Yes);
        platform::EventLoop loop(clock);
        platform::RegistryStore registry(folder.registryFile());
        platform::RecordingShell shell;
        fiscal::RealComponentFactory components(store, frontend);
        context::AppContext ctx(context::Services{clock, frontend, loop, registry, shell, components},
                                context::Locations{.programFolder = folder.path(), .desktopFolder = folder.desktop(),
                                                   .devSettingsPath = ""});
        // The local SEFAZ checks dhEmi against its real clock: the documents carry the real instant.
        clock.followRealTime();
        startup::SubMain(ctx);
        const auto seeding = folder.connect();

        double afterFirstBatch = 0, firstRate = 0, lastRate = 0, firstWritten = 0, lastWritten = 0;
        const auto start = Clock::now();
        for (int done = 0; done < sales; done += kBatch) {
            const int batch = std::min(kBatch, sales - done);
            queueSales(*seeding, done, batch);
            const auto batchStart = Clock::now();
            const double writtenBefore = writtenKiB();
            monitor::Timer1_Timer(ctx, authorisation::EmiteNFCeVenda);
            const double rate = batch / std::chrono::duration<double>(Clock::now() - batchStart).count();
            lastWritten = (writtenKiB() - writtenBefore) / batch;
            if (done == 0) {
                afterFirstBatch = residentMiB();
                firstRate = rate;
                firstWritten = lastWritten;
            }
            lastRate = rate;
            std::fprintf(stderr, "%6d sales  RSS %7.1f MiB  %5.1f sales/s  %7.1f KiB written per sale\n", done + batch,
                         residentMiB(), rate, lastWritten);
            // Every sale of a batch goes in its poll; one left behind means the authority refused it (a
            // document dated by a clock it does not accept, for example), and the figures would mean nothing.
            if (seeding->open("select count(*) as n from TabNCEAEnviar").field("n").number() != 0) {
                state.SkipWithError("a poll left sales in the queue");
                return;
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double atEnd = residentMiB();

        if (folder.value("select count(*) as n from nfce_gerada", "n") != std::to_string(sales))
            state.SkipWithError("not every sale was recorded");
        state.counters["sales"] = sales;
        state.counters["rss_after_500_MiB"] = afterFirstBatch;
        state.counters["rss_end_MiB"] = atEnd;
        state.counters["end_over_500"] = atEnd / afterFirstBatch;
        state.counters["sales_per_second"] = sales / seconds;
        state.counters["first_500_per_second"] = firstRate;
        state.counters["last_500_per_second"] = lastRate;
        state.counters["written_KiB_per_sale_first_500"] = firstWritten;
        state.counters["written_KiB_per_sale_last_500"] = lastWritten;
    }
}

BENCHMARK(BM_ResidentMemoryOverSales)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
