// Printing faults end to end: the real monitor (headless, time-scaled) emits two sales against the local
// SEFAZ while its printer fails; both sales end authorised and recorded, each receipt has its log line,
// the operator is told once, and `--reprint` prints once the fault is gone. The CUPS rows need the
// private server (QUORVANTI_TEST_CUPS_SERVER, QUORVANTI_TEST_CUPS_OUTPUT; scripts/test.sh starts it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "printing/receipt_text.h"
#include "support/env_guard.h"
#include "support/environment_needs.h"
#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::printing {
namespace {

using namespace ::testing;
using quorvanti::testing::lastLines;

std::string variable(const char* name) { return std::getenv(name) != nullptr ? std::getenv(name) : ""; }

// A network printer on a loopback port: deaf (accepts, never reads, a tiny receive window) until
// `listen()` is called, then it takes every connection and keeps what each delivered.
class NetworkPrinter {
public:
    NetworkPrinter() {
        const int tiny = 1024;
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listener_, 8) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~NetworkPrinter() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        ::close(listener_);
    }
    void listen() {
        reader_ = std::thread([this] {
            while (!stop_) {
                pollfd waiting{listener_, POLLIN, 0};
                if (::poll(&waiting, 1, 50) <= 0) continue;
                const int connection = ::accept(listener_, nullptr, nullptr);
                if (connection < 0) continue;
                Job job;
                char buffer[4096];
                ssize_t n;
                while ((n = ::read(connection, buffer, sizeof buffer)) > 0) job.bytes.append(buffer, static_cast<std::size_t>(n));
                job.reset = n < 0 && errno == ECONNRESET;
                ::close(connection);
                const std::lock_guard lock(mutex_);
                jobs_.push_back(job);
            }
        });
    }
    // What a connection delivered, and whether it ended with a reset instead of a finished job.
    struct Job {
        std::string bytes;
        bool reset = false;
    };
    std::vector<Job> jobs() {
        const std::lock_guard lock(mutex_);
        return jobs_;
    }

    std::string port;

private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    std::atomic<bool> stop_ = false;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<Job> jobs_;
};

class PrintingFaultTest;
struct PrinterFault {
    std::string name;
    bool needsCups = false;
    std::function<void(PrintingFaultTest&)> fail;  // points the shop at a failing printer
    std::function<void(PrintingFaultTest&)> mend;  // ends the fault
    std::function<bool(PrintingFaultTest&, const std::string& key)> printed;  // the reprint reached the printer
};
void PrintTo(const PrinterFault& f, std::ostream* out) { *out << f.name; }

class PrintingFaultTest : public TestWithParam<PrinterFault> {
public:
    void SetUp() override {
        QUORVANTI_NEEDS(!GetParam().needsCups || (!cupsServer.empty() && !cupsOutput.empty()),
                        "QUORVANTI_TEST_CUPS_SERVER / QUORVANTI_TEST_CUPS_OUTPUT are not set");
        env.set("CUPS_SERVER", cupsServer.empty() ? std::optional<std::string>() : cupsServer);
        env.set("PRINTER", std::nullopt);
        env.set("LPDEST", std::nullopt);
        testing::installTestSigner(folder);
        folder.setSetting("EmissaoRapida", "1");
        authority = testing::startShopAuthority(folder, "10000");
        ASSERT_GT(authority->port(), 0) << authority->log();
        sales = testing::queueSalesWithItems(folder, 2);
    }
    void TearDown() override {
        if (!queue.empty()) admin("lpadmin -x " + queue);
    }
    std::string admin(const std::string& command) const {
        return testing::commandOutput("CUPS_SERVER=" + cupsServer + " " + command + " 2>&1");
    }
    // A raw queue of the private server of this test alone, its jobs landing in `jobsFolder`.
    void makeQueue() {
        queue = "quorvanti-falha-" + std::to_string(::getpid());
        std::filesystem::create_directories(jobsFolder);
        ASSERT_EQ(admin("lpadmin -p " + queue + " -E -v quorvanti-out:" + jobsFolder), "");
    }
    bool jobArrived(const std::function<bool(const std::string&)>& matches) const {
        for (int tries = 0; tries < 100; ++tries) {
            for (const auto& entry : std::filesystem::directory_iterator(jobsFolder))
                if (entry.path().filename().string()[0] != '.' && matches(testing::readFile(entry.path().string())))
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    const std::string cupsServer = variable("QUORVANTI_TEST_CUPS_SERVER");
    const std::string cupsOutput = variable("QUORVANTI_TEST_CUPS_OUTPUT");
    testing::EnvGuard env;
    testing::ProgramFolder folder{database::DbKind::Sqlite};
    const std::string jobsFolder = folder.path() + "/../fila";
    std::unique_ptr<testing::AuthorityProcess> authority;
    std::vector<std::string> sales;
    std::string queue;
    NetworkPrinter network;
};

TEST_P(PrintingFaultTest, SalesEndAuthorisedTheFailureIsLoggedAndToldOnceAndTheReprintPrints) {
    GetParam().fail(*this);
    if (HasFatalFailure()) return;
    testing::MonitorOptions quick;
    quick.timeScale = "0.01";
    const testing::MonitorRun run = testing::runMonitor(folder, {}, quick);
    EXPECT_TRUE(run.exited && run.status == 0) << run.status << "\n" << lastLines(run.output);
    testing::expectEachSaleAuthorisedOnce(folder, folder.path() + "/../estado", sales, {&folder});

    // One log line per receipt, naming what the reprint needs; one box for the printer's failure.
    const std::string log = std::filesystem::exists(folder.logPath()) ? testing::readFile(folder.logPath()) : "";
    std::vector<std::string> keys;
    for (const std::string& sale : sales) {
        const std::string key = folder.value("select chave from nfce_gerada where cod_venda = '" + sale + "'", "chave");
        keys.push_back(key);
        EXPECT_THAT(log, HasSubstr(" da venda " + sale + " (chave " + key + ")"));
    }
    std::size_t logged = 0;
    for (std::size_t at = log.find("reimprima com quorvanti --reprint "); at != std::string::npos;
         at = log.find("reimprima com quorvanti --reprint ", at + 1))
        ++logged;
    EXPECT_EQ(logged, sales.size()) << log;
    EXPECT_THAT(testing::messageLines(run.output),
                ElementsAre(AllOf(HasSubstr("Não foi possível imprimir o DANFE NFC-e"), HasSubstr("--reprint " + keys[0]))))
        << lastLines(run.output);

    GetParam().mend(*this);
    testing::MonitorOptions reprinting;
    reprinting.arguments = {"--reprint", keys[0]};
    const testing::MonitorRun again = testing::runMonitor(folder, {}, reprinting);
    EXPECT_TRUE(again.exited && again.status == 0) << again.status << "\n" << lastLines(again.output);
    EXPECT_TRUE(GetParam().printed(*this, keys[0]));
}

// Whether a job holding the access key of `key` reached the queue's folder.
bool keyInQueue(PrintingFaultTest& t, const std::string& key) {
    return t.jobArrived([&](const std::string& job) { return job.find(accessKeyGroups(key)) != std::string::npos; });
}

// A disabled queue is the CUPS surface test's (the job refused, none left to print twice); here the
// CUPS port fails with the server stopped.
INSTANTIATE_TEST_SUITE_P(
    Faults, PrintingFaultTest,
    Values(
        PrinterFault{
            .name = "TcpPrinterThatNeverReads",
            .fail = [](PrintingFaultTest& t) { t.folder.setSetting("PortaBematech", t.network.port); },
            .mend = [](PrintingFaultTest& t) { t.network.listen(); },
            .printed =
                [](PrintingFaultTest& t, const std::string& key) {
                    // The reprint arrives whole and ends cleanly; the failed jobs were aborted (the printer
                    // saw the connection reset, whatever it had taken), never closed as finished jobs.
                    const auto whole = [&] {
                        const auto jobs = t.network.jobs();
                        const auto finished = std::count_if(jobs.begin(), jobs.end(), [](const auto& j) { return !j.reset; });
                        return !jobs.empty() && !jobs.back().reset && finished == 1 &&
                               jobs.back().bytes.find(accessKeyGroups(key)) != std::string::npos;
                    };
                    for (int tries = 0; tries < 50 && !whole(); ++tries)
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    return whole();
                }},
        PrinterFault{.name = "MistypedA4Queue",
                     .needsCups = true,
                     .fail = [](PrintingFaultTest& t) { t.makeQueue(), t.folder.setSetting("PathImpressoraNFCE", t.queue + "-x"); },
                     .mend = [](PrintingFaultTest& t) { t.folder.setSetting("PathImpressoraNFCE", t.queue); },
                     .printed = [](PrintingFaultTest& t, const std::string&) {
                         return t.jobArrived([](const std::string& job) { return job.rfind("%PDF", 0) == 0; });
                     }},
        PrinterFault{.name = "StoppedCupsServer",
                     .needsCups = true,
                     .fail =
                         [](PrintingFaultTest& t) {
                             t.makeQueue();
                             t.folder.setSetting("PortaBematech", "cups:" + t.queue);
                             t.env.set("CUPS_SERVER", t.folder.path() + "/../cups-parado.sock");
                         },
                     .mend = [](PrintingFaultTest& t) { t.env.set("CUPS_SERVER", t.cupsServer); },
                     .printed = keyInQueue},
        PrinterFault{
            .name = "MissingDevice",
            .fail = [](PrintingFaultTest& t) { t.folder.setSetting("PortaBematech", t.folder.path() + "/../lp-ausente"); },
            .mend = [](PrintingFaultTest& t) { testing::writeFile(t.folder.path() + "/../lp-ausente", ""); },
            .printed =
                [](PrintingFaultTest& t, const std::string& key) {
                    return testing::readFile(t.folder.path() + "/../lp-ausente").find(accessKeyGroups(key)) != std::string::npos;
                }}),
    [](const TestParamInfo<PrinterFault>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvanti::printing
