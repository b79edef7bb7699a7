// The real executable against the local SEFAZ while the machine misbehaves; once the trouble is over, runs
// with --once leave one authorised NFC-e per sale, numbered 1..n. Disk rows use a tmpfs (root ignores
// permission bits, so "cannot write" is a read-only mount); without CAP_SYS_ADMIN they are skipped.
#include <signal.h>
#include <sys/mount.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/environment_needs.h"
#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/test_certificates.h"

namespace quorvanti::startup {
namespace {

namespace fs = std::filesystem;
using namespace ::testing;
using testing::lastLines;
using testing::MonitorRun;

class EnvironmentFaultTest;
struct Fault {
    std::string name;
    bool onTmpfs = false;
    int sales = 2;
    std::function<void(EnvironmentFaultTest&)> disturb;  // makes the trouble, checks, ends it
};
void PrintTo(const Fault& f, std::ostream* out) { *out << f.name; }

// A folder's content moved onto a 4 MB tmpfs mounted over it; unmounted (content gone) at the end.
struct TmpfsFolder {
    std::string path;
    int error = 0;
    explicit TmpfsFolder(std::string at) : path(std::move(at)) {
        fs::rename(path, path + ".saved");
        fs::create_directory(path);
        error = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=4m,mode=0755") == 0 ? 0 : errno;
        if (error == 0) fs::copy(path + ".saved", path, fs::copy_options::recursive);
        fs::remove_all(error == 0 ? path + ".saved" : path);
        if (error != 0) fs::rename(path + ".saved", path);
    }
    ~TmpfsFolder() { if (error == 0) umount2(path.c_str(), MNT_DETACH); }
    int setReadOnly(bool on) const {
        return mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | (on ? MS_RDONLY : 0), nullptr) == 0 ? 0 : errno;
    }
    void fill() const {  // to the last byte, so that the next write of any data fails
        std::ofstream filler(path + "/filler", std::ios::binary);
        const std::string block(4096, '\0');
        while (filler.write(block.data(), block.size())) filler.flush();
    }
};

class EnvironmentFaultTest : public ::testing::TestWithParam<Fault> {
public:
    void SetUp() override {
        testing::installTestSigner(*folder);
        folder->setSetting("EmissaoRapida", "1");
        authority = testing::startShopAuthority(*folder, "10000");
        ASSERT_GT(authority->port(), 0) << authority->log();
        sales = testing::queueSalesWithItems(*folder, GetParam().sales);
        if (!GetParam().onTmpfs) return;
        tmpfs = std::make_unique<TmpfsFolder>(folder->path());
        QUORVANTI_NEEDS(tmpfs->error == 0, "mount of a tmpfs refused (run as root): " << std::strerror(tmpfs->error));
    }
    MonitorRun run(const testing::MonitorWatch& watch = {}, std::vector<std::string> arguments = {"--once"}) {
        return testing::runMonitor(*folder, watch, {.arguments = std::move(arguments), .timeScale = "0.01"});
    }
    std::string root() const { return folder->path() + "/.."; }
    std::size_t authorised() const { return testing::filesIn(root() + "/estado/autorizadas"); }
    std::string count(const std::string& table) const {
        return folder->value("select count(*) as n from " + table, "n");
    }
    bool anyQueued() const { return count("TabNCEAEnviar") != "0"; }

    std::vector<std::string> sales;
    std::unique_ptr<testing::ProgramFolder> folder = std::make_unique<testing::ProgramFolder>(database::DbKind::Sqlite);
    std::unique_ptr<testing::AuthorityProcess> authority;
    std::unique_ptr<TmpfsFolder> tmpfs;  // after the folder: unmounted before it goes
};

TEST_P(EnvironmentFaultTest, EverySaleEndsAuthorisedOnceWhenTheTroubleIsOver) {
    GetParam().disturb(*this);
    if (HasFatalFailure() || IsSkipped()) return;
    testing::replaceScenario(root() + "/cenario.txt", "");
    for (int restart = 0; restart < 4 && anyQueued(); ++restart) {
        const MonitorRun done = run();
        EXPECT_TRUE(done.exited && done.status == 0) << done.status << "\n" << lastLines(done.output);
    }
    testing::expectEachSaleAuthorisedOnce(*folder, root() + "/estado", sales, {folder.get()});
}

// The disk fills while the first answer is on its way: that sale stays queued, unrecorded; no other sent.
void diskFullWhileTheAnswerIsOnItsWay(EnvironmentFaultTest& t) {
    testing::replaceScenario(t.root() + "/cenario.txt", "[call send 1]\ndelay = 1500\n");
    bool filled = false;
    const MonitorRun full = t.run([&](MonitorRun&, const std::string&) {
        if (!filled && t.authorised() == 1) filled = (t.tmpfs->fill(), true);
    });
    ASSERT_TRUE(filled) << lastLines(full.output);
    EXPECT_TRUE(full.exited && full.status == 0) << full.status << "\n" << lastLines(full.output);
    EXPECT_EQ(std::to_string(t.authorised()) + "|" + t.count("nfce_gerada") + "|" + t.count("TabNCEAEnviar"), "1|0|2");
    fs::remove(t.tmpfs->path + "/filler");
}

// Read-only from the start (the kernel refuses it under a running monitor): named, and nothing is sent.
void readOnlyFolder(EnvironmentFaultTest& t) {
    const int error = t.tmpfs->setReadOnly(true);
    QUORVANTI_NEEDS(error == 0, "remount refused: " << std::strerror(error));
    const MonitorRun stopped = t.run();
    EXPECT_NE(stopped.status, 3) << "a read-only folder is not another instance:\n" << lastLines(stopped.output);
    EXPECT_THAT(testing::messageLines(stopped.output),
                Contains(AllOf(HasSubstr(t.folder->path()), HasSubstr("somente leitura"))))
        << lastLines(stopped.output);
    EXPECT_EQ(t.authorised(), 0u);
    ASSERT_EQ(t.tmpfs->setReadOnly(false), 0);
}

// A recorded sale queued again without NFCe.ini is completed from the record, with no send.
std::function<void(EnvironmentFaultTest&)> recordedSaleQueuedAgain(bool withoutJournal) {
    return [=](EnvironmentFaultTest& t) {
        const MonitorRun all = t.run();
        ASSERT_FALSE(t.anyQueued()) << lastLines(all.output);
        fs::remove(t.folder->path() + "/NFCe.ini");
        if (withoutJournal) t.folder->execute("DELETE FROM quorvanti_attempts WHERE cod_venda = '801-01'");
        t.folder->execute("UPDATE VendasConclu SET fiscal = NULL WHERE CodigoVenda = '801-01'");
        t.folder->queueSale("801-01");
        const MonitorRun again = t.run();
        EXPECT_FALSE(t.anyQueued()) << lastLines(again.output);
        EXPECT_THAT(again.output, Not(AnyOf(HasSubstr("Método: GerarXML"), HasSubstr("Método: EnviarNFe"))))
            << lastLines(again.output);
    };
}

// The authority is away until three exchanges after the outage box; the monitor then finishes alone.
void authorityAwayForLong(EnvironmentFaultTest& t) {
    const std::string port = std::to_string(t.authority->port());
    t.authority->stop();
    int afterTheBox = -1;
    bool back = false;
    const MonitorRun away = t.run(
        [&](MonitorRun& run, const std::string& line) {
            if (line.starts_with("[message] ") && line.find("SEFAZ não esta respondendo") != std::string::npos)
                afterTheBox = 0;
            else if (afterTheBox >= 0 && line.starts_with("[frmEmitirNFCe.MethodLabel] "))
                ++afterTheBox;
            if (!back && afterTheBox >= 3) {
                t.authority = testing::startHttpsAuthority(t.root(), testing::testAuthorityPem(),
                                                           {"--quiet", "--listen", "127.0.0.1:" + port});
                back = true;
            } else if (back && !run.stopped && testing::isCaption(line, "Iniciando") && !t.anyQueued()) {
                run.signal(SIGTERM);
            }
        },
        {});
    ASSERT_TRUE(back) << "no outage box:\n" << lastLines(away.output);
    EXPECT_TRUE(away.stopped && away.exited && away.status == 0) << away.status << "\n" << lastLines(away.output);
    EXPECT_THAT(testing::messageLines(away.output), Contains(HasSubstr("SEFAZ não esta respondendo")).Times(1));
}

// [TLS] CA names a file that cannot be read (missing; a folder): status 4 before any sale, naming it.
void unreadableAuthoritiesFile(EnvironmentFaultTest& t) {
    const std::string ini = t.folder->path() + "/nfe/webservices.ini", good = testing::readFile(ini);
    for (const std::string& ca : {t.folder->path() + "/nfe/ausente.pem", t.folder->path() + "/certificados"}) {
        testing::writeFile(ini, testing::webServicesIni(t.authority->port(), ca, "10000"));
        const MonitorRun stopped = t.run();
        EXPECT_TRUE(stopped.exited && stopped.status == 4) << ca << ": " << lastLines(stopped.output);
        EXPECT_THAT(testing::messageLines(stopped.output), Contains(HasSubstr(ca))) << lastLines(stopped.output);
    }
    EXPECT_EQ(t.authorised(), 0u);
    testing::writeFile(ini, good);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EnvironmentFaultTest,
    ::testing::Values(
        Fault{.name = "DiskFullWhileTheAnswerIsOnItsWay", .onTmpfs = true, .disturb = diskFullWhileTheAnswerIsOnItsWay},
        Fault{.name = "ReadOnlyFolder", .onTmpfs = true, .disturb = readOnlyFolder},
        Fault{.name = "RecordedSaleQueuedAgain", .disturb = recordedSaleQueuedAgain(false)},
        Fault{.name = "RecordedBeforeTheJournalQueuedAgain", .disturb = recordedSaleQueuedAgain(true)},
        // Ten sales: their first sends and a few retries make the fifty exchanges quickly.
        Fault{.name = "AuthorityAwayForLong", .sales = 10, .disturb = authorityAwayForLong},
        Fault{.name = "UnreadableAuthoritiesFile", .disturb = unreadableAuthoritiesFile}),
    [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvanti::startup
