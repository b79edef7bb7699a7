// The cost of one sale as the shop's history grows, and the time a customer waits for the receipt.
//
// BM_SaleCostWithHistory: shops that already emitted N sales (0 and 100 000), each sale present in every
// store the emission routine touches (NFCe.ini with one section per sale, LOG_NFCE.txt, nfce_gerada with
// a ~6 KB document, one file per sale in nfe/arquivos/gerados, assinado and procNFe, and the attempt
// journal quorvanti_attempts when the schema has it; the label says whether it did), then batches of new
// sales through the whole routine: SQLite, the real component with the test certificate, quorvanti-sefaz
// on loopback over HTTPS, captions to /dev/null, the pauses taken by a virtual clock. Reported per sale:
// wall and CPU time, bytes handed to write() (wchar of /proc/self/io) and bytes sent to the disk
// (write_bytes), and their ratio to the shop without history (goal: at most 1.5 with 100 000 earlier
// sales). A history that is read or rewritten whole at each sale shows here and nowhere else: tests run
// on empty shops.
//
// BM_TimeToReceipt: on an empty shop, the virtual time from the poll that takes a queued sale to its
// receipt reaching the printer (an Epson receipt on a file: port), for the first sale after start and
// for the next one, with the default pacing (arg 0) and with [Geral] EmissaoRapida=1 (arg 1).
//
// Run: build/release/bench/quorvanti_bench_history   (about a minute, most of it building the 100 000
//      sales, outside the timed region)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "authorisation/emission_routine.h"
#include "database/date_literal.h"
#include "fiscal_component/document/access_key.h"
#include "fiscal_component/real_component.h"
#include "monitor/poll_cycle.h"
#include "platform/ui/headless_frontend.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"
#include "support/sefaz_process.h"

namespace {

using namespace quorvanti;
using Wall = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kBatch = 10;   // new sales per poll
constexpr int kRounds = 5;   // polls measured per shop
constexpr const char* kCnpj = "11222333000181";  // the test shop's emitter

// A "name: value" line of /proc/self/io (0 when missing).
double ioCounter(const std::string& name) {
    std::ifstream in("/proc/self/io");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(name + ":", 0) == 0) return std::stod(line.substr(name.size() + 1));
    return 0;
}

std::uintmax_t sizeOf(const std::string& path) {
    std::error_code absent;
    const auto size = std::filesystem::file_size(path, absent);
    return absent ? 0 : size;
}

// The virtual clock of the run, noting the virtual time at which the receipt file first grows after
// arm(). Printing never sleeps, so the first sleep or wait after the receipt is written still shows the
// virtual time of the print.
class ReceiptWatchClock final : public platform::Clock {
public:
    ReceiptWatchClock(platform::VirtualClock& inner, std::string receipts) : inner_(inner), receipts_(std::move(receipts)) {}

    platform::Instant utcNow() const override { return inner_.utcNow(); }
    milliseconds steadyNow() const override { return inner_.steadyNow(); }
    void sleep(milliseconds duration) override {
        look();
        inner_.sleep(duration);
    }
    void waitUntil(milliseconds deadline) override {
        look();
        inner_.waitUntil(deadline);
    }
    void wake() override { inner_.wake(); }

    void arm() {
        watching_ = true;
        printedAt_.reset();
        baseline_ = sizeOf(receipts_);
    }
    // When the receipt was printed since arm(); looks once more first (a print after the last sleep).
    std::optional<milliseconds> printedAt() {
        look();
        return printedAt_;
    }

private:
    void look() {
        if (watching_ && !printedAt_ && sizeOf(receipts_) > baseline_) printedAt_ = inner_.steadyNow();
    }

    platform::VirtualClock& inner_;
    std::string receipts_;
    bool watching_ = false;
    std::uintmax_t baseline_ = 0;
    std::optional<milliseconds> printedAt_;
};

// A shop emitting for real: its program folder on SQLite, the test signer, its local SEFAZ, and a
// started monitor context whose clock takes the pauses at once but dates documents with the real instant
// (the local SEFAZ checks dhEmi against its own clock).
struct Shop {
    explicit Shop(bool rapid) {
        store = quorvanti::testing::installTestSigner(folder);
        if (rapid) folder.setSetting("EmissaoRapida", "1");
        authority = quorvanti::testing::startShopAuthority(folder, "");
        folder.execute("INSERT INTO Estoque (Codigo, Descricao, cfop, cst, codigofiscal) VALUES "
                       "(101, 'ARROZ', '5102', '102', '10063021'), (103, 'REFRIGERANTE', '5405', '500', '22021000')");
        components = std::make_unique<fiscal::RealComponentFactory>(store, frontend);
        ctx = std::make_unique<context::AppContext>(
            context::Services{clock, frontend, loop, registry, shell, *components},
            context::Locations{.programFolder = folder.path(), .desktopFolder = folder.desktop(), .devSettingsPath = ""});
        virtualClock.followRealTime();
        startup::SubMain(*ctx);
    }
    bool started() const { return authority->port() > 0; }

    // Queues `count` sales of two items each, codes from `first` on, in one transaction.
    void queue(int first, int count) {
        std::string items, rows;
        for (int i = first; i < first + count; ++i) {
            const std::string code = "'" + std::to_string(i) + "-01'";
            items += std::string(items.empty() ? "" : ", ") + "(" + code +
                     ", '2026-03-05', '', 101, 'Arroz', 2, 10, 20, 0, 'UN'), (" + code +
                     ", '2026-03-05', '', 103, 'Refrigerante', 1, 9.5, 9.5, 0, 'UN')";
            rows += std::string(rows.empty() ? "" : ", ") + "(" + code + ", 'enviar', '2026-03-05', 'x')";
        }
        const auto db = folder.connect();
        db->execute("BEGIN");
        db->execute("INSERT INTO VendasConclu (CodigoVenda, Data, CodClientePrazo, coditem, discriminacao, Quantidade, "
                    "ValorUnitario, ValorTotalItem, Desconto, MEDIDA) VALUES " + items);
        db->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES " + rows);
        db->execute("COMMIT");
    }
    void poll() { monitor::Timer1_Timer(*ctx, authorisation::EmiteNFCeVenda); }
    std::string count(const std::string& table) const {
        return folder.value("select count(*) as n from " + table, "n");
    }

    quorvanti::testing::ProgramFolder folder{database::DbKind::Sqlite};
    std::string store;
    std::unique_ptr<quorvanti::testing::AuthorityProcess> authority;
    platform::VirtualClock virtualClock;
    ReceiptWatchClock clock{virtualClock, folder.path() + "/receipts.bin"};
    std::ofstream journal{"/dev/null"};
    platform::HeadlessFrontend frontend{journal, platform::MessageAnswer::Yes};
    platform::EventLoop loop{clock};
    platform::RegistryStore registry{folder.registryFile()};
    platform::RecordingShell shell;
    std::unique_ptr<fiscal::RealComponentFactory> components;
    std::unique_ptr<context::AppContext> ctx;
};

std::string twoDigits(unsigned value) { return (value < 10 ? "0" : "") + std::to_string(value); }

// One earlier sale as the routine leaves it behind.
struct PastSale {
    std::string code, date, isoDate, key, protocol, protocolTime;
    long long number = 0;
    int series = 0;
};

// Earlier sale `i` of `n` in `series`: about 300 a day, the last ones the day before the new sales.
PastSale pastSale(int i, int n, int series) {
    using namespace std::chrono;
    const year_month_day day{sys_days{2026y / March / 4} - days{(n - i) / 300}};
    const std::string dd = twoDigits(unsigned(day.day())), mm = twoDigits(unsigned(day.month())),
                      yyyy = std::to_string(int(day.year()));
    const int second = i % 36000;
    const std::string time = twoDigits(8 + second / 3600) + ":" + twoDigits(second / 60 % 60) + ":" + twoDigits(second % 60);
    PastSale s;
    s.number = i;
    s.series = series;
    s.code = std::string(6 - std::min<std::size_t>(6, std::to_string(i).size()), '0') + std::to_string(i) + "-01";
    s.date = dd + "/" + mm + "/" + yyyy;
    s.isoDate = yyyy + "-" + mm + "-" + dd;
    const std::string dhEmi = s.isoDate + "T" + time + "-04:00";
    char numeric[16];
    std::snprintf(numeric, sizeof numeric, "%08d", (i * 7919) % 100000000);
    s.key = fiscal::buildAccessKey({.uf = "MT", .dhEmi = dhEmi, .cnpj = kCnpj, .model = 65, .series = series,
                                    .number = i, .emissionType = 1, .numericCode = numeric});
    char protocol[24];
    std::snprintf(protocol, sizeof protocol, "151%02d%010d", int(day.year()) % 100, i);
    s.protocol = protocol;
    s.protocolTime = dhEmi;
    return s;
}

// A stored authorised document of the size the routine keeps (two items, signature, certificate,
// protocol): about 6 KB.
std::string storedDocument(const PastSale& s) {
    static const std::string certificate = [] {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text;
        unsigned x = 12345;
        for (int i = 0; i < 2400; ++i) text += alphabet[(x = x * 1103515245u + 12345u) >> 26];
        return text;
    }();
    const std::string item =
        "<det nItem=\"1\"><prod><cProd>101</cProd><cEAN>SEM GTIN</cEAN><xProd>ARROZ</xProd><NCM>10063021</NCM>"
        "<CFOP>5102</CFOP><uCom>UN</uCom><qCom>2.0000</qCom><vUnCom>10.0000000000</vUnCom><vProd>20.00</vProd>"
        "<cEANTrib>SEM GTIN</cEANTrib><uTrib>UN</uTrib><qTrib>2.0000</qTrib><vUnTrib>10.0000000000</vUnTrib>"
        "<indTot>1</indTot></prod><imposto><ICMS><ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102></ICMS>"
        "<PIS><PISOutr><CST>99</CST><vBC>0.00</vBC><pPIS>0.0000</pPIS><vPIS>0.00</vPIS></PISOutr></PIS><COFINS>"
        "<COFINSOutr><CST>99</CST><vBC>0.00</vBC><pCOFINS>0.0000</pCOFINS><vCOFINS>0.00</vCOFINS></COFINSOutr>"
        "</COFINS></imposto></det>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" "
           "versao=\"4.00\"><NFe><infNFe Id=\"NFe" + s.key + "\" versao=\"4.00\"><ide><cUF>51</cUF><cNF>" +
           s.key.substr(35, 8) + "</cNF><natOp>VENDA</natOp><mod>65</mod><serie>" + std::to_string(s.series) + "</serie><nNF>" +
           std::to_string(s.number) + "</nNF><dhEmi>" + s.protocolTime + "</dhEmi><tpNF>1</tpNF><idDest>1</idDest>"
           "<cMunFG>5103403</cMunFG><tpImp>4</tpImp><tpEmis>1</tpEmis><cDV>" + s.key.substr(43) + "</cDV><tpAmb>2"
           "</tpAmb><finNFe>1</finNFe><indFinal>1</indFinal><indPres>1</indPres><procEmi>0</procEmi><verProc>"
           "Quorvanti</verProc></ide><emit><CNPJ>" + kCnpj + "</CNPJ><xNome>Quorvanti Loja Teste Ltda</xNome>"
           "<xFant>Loja Teste</xFant><enderEmit><xLgr>Rua Sao Joao</xLgr><nro>123</nro><xBairro>Centro</xBairro>"
           "<cMun>5103403</cMun><xMun>Cuiaba</xMun><UF>MT</UF><CEP>78000000</CEP><cPais>1058</cPais><xPais>BRASIL"
           "</xPais><fone>6533334444</fone></enderEmit><IE>131234567</IE><CRT>1</CRT></emit>" + item + item +
           "<total><ICMSTot><vBC>0.00</vBC><vICMS>0.00</vICMS><vICMSDeson>0.00</vICMSDeson><vFCP>0.00</vFCP><vBCST>"
           "0.00</vBCST><vST>0.00</vST><vFCPST>0.00</vFCPST><vFCPSTRet>0.00</vFCPSTRet><vProd>29.50</vProd><vFrete>"
           "0.00</vFrete><vSeg>0.00</vSeg><vDesc>0.00</vDesc><vII>0.00</vII><vIPI>0.00</vIPI><vIPIDevol>0.00"
           "</vIPIDevol><vPIS>0.00</vPIS><vCOFINS>0.00</vCOFINS><vOutro>0.00</vOutro><vNF>29.50</vNF></ICMSTot>"
           "</total><transp><modFrete>9</modFrete></transp><pag><detPag><tPag>01</tPag><vPag>29.50</vPag></detPag>"
           "</pag></infNFe><infNFeSupl><qrCode>http://homologacao.sefaz.mt.gov.br/nfce/consultanfce?p=" + s.key +
           "|2|2|1|" + certificate.substr(0, 40) + "</qrCode><urlChave>http://www.sefaz.mt.gov.br/nfce/"
           "consultanfce</urlChave></infNFeSupl><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
           "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/><SignatureMethod "
           "Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/><Reference URI=\"#NFe" + s.key + "\">"
           "<DigestValue>" + certificate.substr(100, 28) + "</DigestValue></Reference></SignedInfo><SignatureValue>" +
           certificate.substr(200, 344) + "</SignatureValue><KeyInfo><X509Data><X509Certificate>" + certificate +
           "</X509Certificate></X509Data></KeyInfo></Signature></NFe><protNFe versao=\"4.00\"><infProt><tpAmb>2"
           "</tpAmb><verAplic>QUORVANTI-SEFAZ</verAplic><chNFe>" + s.key + "</chNFe><dhRecbto>" + s.protocolTime +
           "</dhRecbto><nProt>" + s.protocol + "</nProt><digVal>" + certificate.substr(100, 28) + "</digVal><cStat>"
           "100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe></nfeProc>";
}

void writeWhole(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// SQL text literal.
std::string q(const std::string& text) { return "'" + text + "'"; }

// Fills every store with `n` earlier sales; answers whether the attempt journal was there to fill.
bool buildHistory(Shop& shop, int n) {
    const std::string app = shop.folder.path() + "/";
    for (const char* folder : {"gerados", "assinado", "procNFe"})
        std::filesystem::create_directories(app + "nfe/arquivos/" + folder);
    std::string ini, log;
    ini.reserve(std::size_t(n) * 140);
    log.reserve(std::size_t(n) * 110);
    const auto db = shop.folder.connect();
    const bool journal =
        db->open("select count(*) as n from sqlite_master where type = 'table' and lower(name) = 'quorvanti_attempts'")
            .field("n")
            .number() > 0;
    // Start-up takes series 1 when the setting is empty, as the test shop leaves it.
    const std::string serie = shop.folder.setting("serie");
    const int series = serie.empty() ? 1 : std::atoi(serie.c_str());
    db->execute("BEGIN");
    std::string rows, attempts, linkedTo[3];
    for (int i = 1; i <= n; ++i) {
        const PastSale s = pastSale(i, n, series);
        ini += "[" + s.code + "-" + s.date + "]\r\nChaveNFCe=" + s.key + "\r\nProtocolo=" + s.protocol +
               "\r\nProtocoloDataHora=" + s.protocolTime + "\r\n";
        log += s.date + " " + s.protocolTime.substr(11, 8) + " - " + s.code + " - 100 - Autorizado o uso da NF-e - " +
               s.key + "\r\n";
        const std::string files[] = {app + "nfe/arquivos/gerados/NFe" + s.key + ".xml",
                                     app + "nfe/arquivos/assinado/NFe" + s.key + "-assinado.xml",
                                     app + "nfe/arquivos/procNFe/" + s.key + "-procNFe.xml"};
        // Links to one sale's files in 10 000: the folders hold as many entries, without an inode made
        // (and later freed) for each, which on ext4 is most of the cost of 300 000 files; ext4 allows at
        // most 65 000 links to one file.
        const bool linked = (i - 1) % 10000 != 0;
        for (int f = 0; f < 3; ++f) {
            if (linked) {
                std::filesystem::create_hard_link(linkedTo[f], files[f]);
            } else {
                writeWhole(files[f], "<NFe Id=\"NFe" + s.key + "\"/>\n");
                linkedTo[f] = files[f];
            }
        }
        rows += std::string(rows.empty() ? "" : ", ") + "(" +
                q(database::dateForStoring(database::DbKind::Sqlite, s.date, "")) + ", " + q(std::to_string(i)) + ", " +
                q(s.code) + ", " + q(s.key) + ", '0', " + q(storedDocument(s)) + ", 'nao', '2', " +
                q("http://homologacao.sefaz.mt.gov.br/nfce/consultanfce?p=" + s.key + "|2|2|1|ABCDEF") + ", " +
                q(s.protocolTime + " " + s.protocol) + ", 'nao', '', '')";
        if (journal) {
            const std::string stamp = q(s.isoDate + " " + s.protocolTime.substr(11, 8));
            attempts += std::string(attempts.empty() ? "" : ", ") + "(" + q(s.code) + ", " + q(s.date) +
                        ", '1', 'historico', '2', " + std::to_string(series) + ", " + std::to_string(i) + ", " +
                        q(s.key) + ", '1', 'recorded', '', " + stamp + ", " + stamp + ")";
        }
        if (i % 200 == 0 || i == n) {
            db->execute("INSERT INTO nfce_gerada (dataG, numeronfce, cod_venda, chave, codcli, corpo_nfce, cancelada, amb, "
                        "qrcode, protocoloEdata, EmailEnviou, ClienteEmail, CPF_cli) VALUES " + rows);
            rows.clear();
            if (journal) {
                db->execute("INSERT INTO quorvanti_attempts (cod_venda, data_venda, terminal, monitor, amb, serie, "
                            "numero, chave, tp_emis, estado, motivo, criado, atualizado) VALUES " + attempts);
                attempts.clear();
            }
        }
    }
    // The numbering goes on after the history, as it would in the shop.
    db->execute("UPDATE config SET NumeroNFCE = " + std::to_string(n + 1));
    db->execute("COMMIT");
    writeWhole(app + "NFCe.ini", ini);
    writeWhole(shop.folder.logPath(), log);
    return journal;
}

// What one sale costs: wall and CPU time, bytes handed to write() and bytes sent to the disk.
struct PerSale {
    double wallMs = 0, cpuMs = 0, written = 0, disk = 0;
};

// One shop's figures.
struct HistoryRun {
    PerSale sale;
    double buildSeconds = 0, iniMB = 0, batchSeconds = 0;
    bool journal = false;
    std::string error;
};

double cpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

constexpr int kHistories[] = {0, 100000};

// Both shops are built first and their batches alternate, each its own poll: a shared machine's disk
// answers a sync in 1 ms or in 100 ms for seconds at a time, and the ratio must not depend on which
// shop ran during a slow spell. The figure of each shop is its median batch.
std::vector<HistoryRun> measureHistories() {
    std::vector<HistoryRun> runs(std::size(kHistories));
    std::vector<std::unique_ptr<Shop>> shops;
    for (std::size_t s = 0; s < runs.size(); ++s) {
        shops.push_back(std::make_unique<Shop>(false));
        Shop& shop = *shops.back();
        if (!shop.started()) {
            runs[s].error = "the local SEFAZ did not start";
            return runs;
        }
        const auto buildStart = Wall::now();
        runs[s].journal = buildHistory(shop, kHistories[s]);
        runs[s].buildSeconds = std::chrono::duration<double>(Wall::now() - buildStart).count();
        // One sale first, so that what is measured leaves out the first connection and the first signature.
        shop.queue(900000, 1);
        shop.poll();
    }
    std::vector<std::vector<double>> wall(runs.size()), cpu(runs.size());
    std::vector<double> written(runs.size()), disk(runs.size());
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t turn = 0; turn < runs.size(); ++turn) {
            // Each round in the other order, so that neither shop always follows the other's syncs.
            const std::size_t s = round % 2 == 0 ? turn : runs.size() - 1 - turn;
            Shop& shop = *shops[s];
            shop.queue(900001 + round * kBatch, kBatch);
            const double wcharBefore = ioCounter("wchar"), diskBefore = ioCounter("write_bytes");
            const double cpuBefore = cpuSeconds();
            const auto start = Wall::now();
            shop.poll();
            wall[s].push_back(std::chrono::duration<double>(Wall::now() - start).count());
            cpu[s].push_back(cpuSeconds() - cpuBefore);
            written[s] += ioCounter("wchar") - wcharBefore;
            disk[s] += ioCounter("write_bytes") - diskBefore;
        }
    }
    const int sales = kRounds * kBatch;
    for (std::size_t s = 0; s < runs.size(); ++s) {
        Shop& shop = *shops[s];
        // A sale left in the queue means it was refused, and its cost would not be a sale's.
        if (shop.count("TabNCEAEnviar") != "0" ||
            shop.count("nfce_gerada") != std::to_string(kHistories[s] + 1 + sales))
            runs[s].error = "not every sale was emitted and recorded";
        runs[s].sale = {1000.0 * median(wall[s]) / kBatch, 1000.0 * median(cpu[s]) / kBatch, written[s] / sales,
                        disk[s] / sales};
        runs[s].batchSeconds = median(wall[s]);
        runs[s].iniMB = double(sizeOf(shop.folder.path() + "/NFCe.ini")) / 1e6;
    }
    return runs;
}

void BM_SaleCostWithHistory(benchmark::State& state) {
    // Measured once for every history size, at the first of these benchmarks that runs.
    static const std::vector<HistoryRun> runs = measureHistories();
    const auto at = std::find(std::begin(kHistories), std::end(kHistories), state.range(0)) - std::begin(kHistories);
    const HistoryRun& run = runs[at];
    const PerSale& empty = runs[0].sale;
    for (auto _ : state) state.SetIterationTime(run.batchSeconds);
    if (!run.error.empty() || !runs[0].error.empty()) {
        state.SkipWithError(run.error.empty() ? runs[0].error.c_str() : run.error.c_str());
        return;
    }
    state.counters["history_sales"] = kHistories[at];
    state.counters["history_build_s"] = run.buildSeconds;
    state.counters["NFCe_ini_MB"] = run.iniMB;
    state.counters["ms_per_sale"] = run.sale.wallMs;
    state.counters["cpu_ms_per_sale"] = run.sale.cpuMs;
    state.counters["written_MB_per_sale"] = run.sale.written / 1e6;
    if (run.sale.disk > 0) state.counters["disk_MB_per_sale"] = run.sale.disk / 1e6;
    if (at != 0) {
        state.counters["time_over_empty"] = run.sale.wallMs / empty.wallMs;
        state.counters["cpu_over_empty"] = run.sale.cpuMs / empty.cpuMs;
        state.counters["written_over_empty"] = run.sale.written / empty.written;
        if (run.sale.disk > 0 && empty.disk > 0) state.counters["disk_over_empty"] = run.sale.disk / empty.disk;
    }
    state.SetLabel(run.journal ? "journal filled" : "no quorvanti_attempts table: journal not filled");
}

// The time of each row is the median batch of kBatch sales of that shop.
BENCHMARK(BM_SaleCostWithHistory)
    ->Arg(kHistories[0])
    ->Arg(kHistories[1])
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Virtual seconds from the poll to the receipt for one queued sale; negative when nothing printed.
double secondsToReceipt(Shop& shop, int code) {
    shop.queue(code, 1);
    shop.clock.arm();
    const auto start = shop.clock.steadyNow();
    shop.poll();
    const auto printed = shop.clock.printedAt();
    return printed ? std::chrono::duration<double>(*printed - start).count() : -1;
}

void BM_TimeToReceipt(benchmark::State& state) {
    const bool rapid = state.range(0) == 1;
    Shop shop(rapid);
    if (!shop.started()) {
        state.SkipWithError("the local SEFAZ did not start");
        return;
    }
    double first = 0, next = 0;
    for (auto _ : state) {
        first = secondsToReceipt(shop, 910000);
        next = secondsToReceipt(shop, 910001);
    }
    if (first < 0 || next < 0 || shop.count("nfce_gerada") != "2") {
        state.SkipWithError("a sale was not emitted or its receipt not printed");
        return;
    }
    state.counters["virtual_s_first_sale"] = first;
    state.counters["virtual_s_next_sale"] = next;
    state.SetLabel(rapid ? "EmissaoRapida=1" : "default pacing");
}

BENCHMARK(BM_TimeToReceipt)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
