// Queued sales through the whole emission routine: SQLite, the real component with the test
// certificate, and quorvanti-sefaz on loopback over HTTPS with client certificates. The specified
// pauses are taken by a virtual clock, so what is measured is the monitor's own work and the exchange
// with the authority. Reports sales per second and the share of the time spent in the database, in
// generation with its signature, in validation and in the HTTPS exchange (wall time of each, measured
// by wrappers around the connection and the component).
//
// Run: build/release/bench/quorvanti_bench_emission_throughput
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "authorisation/emission_routine.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/real_component.h"
#include "monitor/poll_cycle.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"
#include "support/sefaz_process.h"
#include "support/test_certificates.h"

namespace {

using namespace quorvanti;
using Clock = std::chrono::steady_clock;

// Wall time spent inside a wrapped call, per kind of work.
struct Split {
    double database = 0, generation = 0, validation = 0, https = 0;
};

class Timed {
public:
    Timed(double& into) : into_(into), start_(Clock::now()) {}
    ~Timed() { into_ += std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    double& into_;
    Clock::time_point start_;
};

class TimedConnection final : public database::DbConnection {
public:
    TimedConnection(std::unique_ptr<database::DbConnection> inner, Split& split) : inner_(std::move(inner)), split_(split) {}
    database::DbKind kind() const override { return inner_->kind(); }
    void execute(const std::string& sql) override {
        Timed t(split_.database);
        inner_->execute(sql);
    }
    database::Recordset open(const std::string& sql) override {
        Timed t(split_.database);
        return inner_->open(sql);
    }

private:
    std::unique_ptr<database::DbConnection> inner_;
    Split& split_;
};

// Forwards every operation to the real component, timing generation, validation and the web services.
class TimedComponent final : public fiscal::FiscalComponent {
public:
    TimedComponent(std::unique_ptr<fiscal::FiscalComponent> inner, Split& split) : in_(std::move(inner)), split_(split) {}
    bool numericCode(std::int32_t& code) override { return in_->numericCode(code); }
    bool finish() override { return in_->finish(); }
    bool statusQuery(bool& usable) override { return in_->statusQuery(usable); }
    bool configure(const fiscal::ConfigurationArgs& a) override { return in_->configure(a); }
    bool mailSettings(const fiscal::MailSettingsArgs& a) override { return in_->mailSettings(a); }
    bool danfeLogo(const fiscal::DanfeLogoArgs& a) override { return in_->danfeLogo(a); }
    bool prepare(fiscal::SharedTexts& s) override { return in_->prepare(s); }
    bool identification(const fiscal::IdentificationArgs& a, fiscal::SharedTexts& s) override { return in_->identification(a, s); }
    bool emitter(const fiscal::EmitterArgs& a, fiscal::SharedTexts& s) override { return in_->emitter(a, s); }
    bool recipient(const fiscal::RecipientArgs& a, fiscal::SharedTexts& s) override { return in_->recipient(a, s); }
    bool itemProduct(const fiscal::ItemProductArgs& a, fiscal::SharedTexts& s) override { return in_->itemProduct(a, s); }
    bool itemIcms(const fiscal::ItemIcmsArgs& a, fiscal::SharedTexts& s) override { return in_->itemIcms(a, s); }
    bool itemOtherTaxes(const fiscal::ItemOtherTaxesArgs& a, fiscal::SharedTexts& s) override { return in_->itemOtherTaxes(a, s); }
    bool itemClose(fiscal::SharedTexts& s) override { return in_->itemClose(s); }
    bool totals(const fiscal::TotalsArgs& a, fiscal::SharedTexts& s) override { return in_->totals(a, s); }
    bool transport(const fiscal::TransportArgs& a, fiscal::SharedTexts& s) override { return in_->transport(a, s); }
    bool payment(const fiscal::PaymentArgs& a, fiscal::SharedTexts& s) override { return in_->payment(a, s); }
    bool generate(std::string& key, fiscal::GenerationArgs& a, fiscal::SharedTexts& s) override {
        Timed t(split_.generation);
        return in_->generate(key, a, s);
    }
    bool serviceStatus() override {
        Timed t(split_.https);
        return in_->serviceStatus();
    }
    bool send(const fiscal::SendArgs& a) override {
        Timed t(split_.https);
        return in_->send(a);
    }
    bool consultByKey(const std::string& key) override {
        Timed t(split_.https);
        return in_->consultByKey(key);
    }
    bool qrAddress(const std::string& p, std::string& q, std::string& r) override { return in_->qrAddress(p, q, r); }
    bool validate(const fiscal::ValidationArgs& a, std::string& m) override {
        Timed t(split_.validation);
        return in_->validate(a, m);
    }
    fiscal::ServiceStatusResult serviceStatusResult() const override { return in_->serviceStatusResult(); }
    fiscal::SendResult sendResult() const override { return in_->sendResult(); }
    fiscal::ConsultationResult consultationResult() const override { return in_->consultationResult(); }
    bool sendEvent(const fiscal::EventArgs& args) override { return in_->sendEvent(args); }
    bool voidNumbers(const fiscal::VoidingArgs& args) override { return in_->voidNumbers(args); }
    fiscal::EventResult eventResult() const override { return in_->eventResult(); }
    fiscal::VoidingResult voidingResult() const override { return in_->voidingResult(); }

private:
    std::unique_ptr<fiscal::FiscalComponent> in_;
    Split& split_;
};

class TimedFactory final : public fiscal::ComponentFactory {
public:
    TimedFactory(fiscal::ComponentFactory& inner, Split& split) : inner_(inner), split_(split) {}
    std::unique_ptr<fiscal::FiscalComponent> createComponent() override {
        return std::make_unique<TimedComponent>(inner_.createComponent(), split_);
    }
    std::unique_ptr<fiscal::CertificateSelector> createCertificateSelector() override {
        return inner_.createCertificateSelector();
    }
    std::unique_ptr<fiscal::DocumentValidator> createDocumentValidator() override {
        return inner_.createDocumentValidator();
    }

private:
    fiscal::ComponentFactory& inner_;
    Split& split_;
};

void BM_QueuedSalesThroughTheRoutine(benchmark::State& state) {
    const int sales = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        quorvanti::testing::ProgramFolder folder(database::DbKind::Sqlite);
        const std::string store = folder.path() + "/certificados";
        quorvanti::testing::installTestCertificate(store);
        folder.setSetting("CertificadoSerie", fiscal::CertificateStore(store).list().at(0).serialNumber);
        const std::string certs = quorvanti::testing::testCertificateFolder();
        quorvanti::testing::AuthorityProcess authority(
            {"--listen", "127.0.0.1:0", "--state", folder.path() + "/../sefaz", "--tls", certs + "/servidor.pem",
             certs + "/servidor.key", "--client-ca", certs + "/ac-teste.pem", "--quiet"},
            folder.path() + "/../sefaz.log");
        std::string ini = "[MT_2]\r\n";
        for (const char* service : {"NFeAutorizacao4", "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4"})
            ini += std::string(service) + "=https://127.0.0.1:" + std::to_string(authority.port()) +
                   "/nfcews/services/" + service + "\r\n";
        ini += "[TLS]\r\nCA=" + certs + "/ac-teste.pem\r\n";
        quorvanti::testing::writeFile(folder.path() + "/nfe/webservices.ini", ini);
        folder.execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES "
                       "(101, 'ARROZ', '5102', '102', '10063021'), (103, 'REFRIGERANTE', '5405', '500', '22021000')");
        for (int i = 0; i < sales; ++i) {
            const std::string code = std::to_string(1000 + i) + "-01";
            folder.execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, "
                           "Quantidade, ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES ('" + code +
                           "', '2026-03-05', '', 101, 'Arroz', 2, 10, 20, 0, 'UN'), ('" + code +
                           "', '2026-03-05', '', 103, 'Refrigerante', 1, 9.5, 9.5, 0, 'UN')");
            folder.execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES ('" + code +
                           "', 'enviar', '2026-03-05', 'x')");
        }
        Split split;
        platform::ScriptedFrontend componentFrontend;
        fiscal::RealComponentFactory real(store, componentFrontend);
        TimedFactory components(real, split);
        quorvanti::testing::TestMonitor monitor(folder, components);
        // Documents carry the real instant, which the local SEFAZ checks; the pauses take no time.
        monitor.clock.followRealTime();
        startup::SubMain(monitor.ctx);
        monitor.ctx.db = std::make_unique<TimedConnection>(std::move(monitor.ctx.db), split);
        state.ResumeTiming();

        const auto start = Clock::now();
        monitor::Timer1_Timer(monitor.ctx, authorisation::EmiteNFCeVenda);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

        state.PauseTiming();
        const auto left = folder.connect()->open("select count(*) as n from TabNCEAEnviar");
        if (left.field("n").number() != 0) state.SkipWithError("sales left in the queue");
        state.counters["sales_per_second"] = sales / seconds;
        state.counters["ms_per_sale"] = 1000.0 * seconds / sales;
        state.counters["pct_database"] = 100.0 * split.database / seconds;
        state.counters["pct_generation_and_signature"] = 100.0 * split.generation / seconds;
        state.counters["pct_validation"] = 100.0 * split.validation / seconds;
        state.counters["pct_https"] = 100.0 * split.https / seconds;
        state.ResumeTiming();
    }
}

BENCHMARK(BM_QueuedSalesThroughTheRoutine)->Arg(50)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
