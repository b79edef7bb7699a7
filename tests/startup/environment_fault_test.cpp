// The real executable against the local SEFAZ while the machine around it misbehaves: a full disk, a
// program folder that cannot be written, a recorded sale queued again, the authority away for longer than fifty sends, an unreadable file of trusted authorities.
// Each row makes its trouble, checks what the monitor does meanwhile, ends it, and then lets the monitor
// run (--once, again until the queue is empty) with nobody involved: every sale must end with one
// authorised NFC-e, recorded once, numbered 1..n.
//
// The disk rows put the program folder on a tmpfs of its own (mount needs CAP_SYS_ADMIN; without it
// they are skipped). Tests run as root, to whom permission bits deny nothing: a folder the monitor
// cannot write is a read-only mount, and the failing-write seam of durable_file.h reaches only the
// process that arms it.
#include <signal.h>
#include <sys/mount.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/test_certificates.h"

namespace quorvanti::startup {
namespace {

namespace fs = std::filesystem;
using database::DbKind;
using testing::lastLines;
using testing::MonitorRun;
using testing::ProgramFolder;

class EnvironmentFaultTest;

struct Fault {
    std::string name;
    bool onTmpfs = false;  // the program folder on a small tmpfs of its own
    int sales = 2;
    // Makes the trouble, checks the monitor meanwhile, and ends the trouble.
    std::function<void(EnvironmentFaultTest&)> disturb;
};
void PrintTo(const Fault& f, std::ostream* out) { *out << f.name; }

// A folder's content moved onto a tmpfs mounted over it; unmounted (content gone) when the object goes.
class TmpfsFolder {
public:
    TmpfsFolder(const std::string& path, const std::string& size) : path_(path) {
        const std::string saved = path + ".saved";
        fs::rename(path, saved);
        fs::create_directory(path);
        if (mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) != 0) {
            error_ = errno;
            fs::remove(path);
            fs::rename(saved, path);
            return;
        }
        fs::copy(saved, path, fs::copy_options::recursive);
        fs::remove_all(saved);
    }
    ~TmpfsFolder() {
        if (error_ == 0) umount2(path_.c_str(), MNT_DETACH);
    }
    TmpfsFolder(const TmpfsFolder&) = delete;
    TmpfsFolder& operator=(const TmpfsFolder&) = delete;

    int error() const { return error_; }
    // Remounts it read-only or read-write; answers errno (0 when done).
    int setReadOnly(bool readOnly) const {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return mount(nullptr, path_.c_str(), nullptr, flags, nullptr) == 0 ? 0 : errno;
    }
    // Fills it to the last byte with a file of its own, so that the next write of any data fails.
    void fill() const {
        std::ofstream filler(path_ + "/filler", std::ios::binary);
        const std::string block(4096, '\0');
        while (filler.write(block.data(), block.size())) filler.flush();
    }
    void free() const { fs::remove(path_ + "/filler"); }

private:
    std::string path_;
    int error_ = 0;
};

class EnvironmentFaultTest : public ::testing::TestWithParam<Fault> {
public:
    void SetUp() override {
        folder = std::make_unique<ProgramFolder>(DbKind::Sqlite);
        testing::installTestSigner(*folder);
        folder->setSetting("EmissaoRapida", "1");
        authority = testing::startShopAuthority(*folder, "10000");
        ASSERT_GT(authority->port(), 0) << authority->log();
        sales = testing::saleCodes(GetParam().sales);
        testing::queueSalesWithItems(*folder, sales);
        if (GetParam().onTmpfs) {
            tmpfs = std::make_unique<TmpfsFolder>(folder->path(), "4m");
            if (tmpfs->error() != 0) GTEST_SKIP() << "mount of a tmpfs refused: " << std::strerror(tmpfs->error());
        }
    }

    // One run of the monitor, with --once unless `once` is false (it then runs until the watch stops it).
    MonitorRun run(const testing::MonitorWatch& watch = {}, bool once = true) {
        return testing::runMonitor(*folder, watch,
                                   {.arguments = once ? std::vector<std::string>{"--once"} : std::vector<std::string>{},
                                    .timeScale = "0.01"});
    }
    void scenario(const std::string& rules) { testing::replaceScenario(root() + "/cenario.txt", rules); }
    std::string root() const { return folder->path() + "/.."; }
    std::string nfceIni() const { return folder->path() + "/NFCe.ini"; }
    std::size_t authorised() const { return testing::filesIn(root() + "/estado/autorizadas"); }
    std::string count(const std::string& table) const {
        return folder->value("select count(*) as n from " + table, "n");
    }
    bool anyQueued() const { return count("TabNCEAEnviar") != "0"; }

    std::vector<std::string> sales;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<testing::AuthorityProcess> authority;
    std::unique_ptr<TmpfsFolder> tmpfs;  // after the folder: unmounted before it goes
};

TEST_P(EnvironmentFaultTest, EverySaleEndsAuthorisedOnceWhenTheTroubleIsOver) {
    GetParam().disturb(*this);
    if (HasFatalFailure() || IsSkipped()) return;
    scenario("");
    for (int restart = 0; restart < 4 && anyQueued(); ++restart) {
        const MonitorRun done = run();
        EXPECT_TRUE(done.exited && done.status == 0) << done.status << "\n" << lastLines(done.output);
    }
    testing::expectEachSaleAuthorisedOnce(*folder, root() + "/estado", sales, {folder.get()});
}

// The disk fills while the authority holds the first document and its answer is on its way: the
// procNFe cannot be written, so the sale stays queued and unrecorded, and the second is not sent.
void diskFullWhileTheAnswerIsOnItsWay(EnvironmentFaultTest& t) {
    t.scenario("[call send 1]\ndelay = 1500\n");
    bool filled = false;
    const MonitorRun full = t.run([&](MonitorRun&, const std::string&) {
        if (!filled && t.authorised() == 1) filled = (t.tmpfs->fill(), true);
    });
    ASSERT_TRUE(filled) << lastLines(full.output);
    EXPECT_TRUE(full.exited && full.status == 0) << full.status << "\n" << lastLines(full.output);
    EXPECT_EQ(t.authorised(), 1u);
    EXPECT_EQ(t.count("nfce_gerada"), "0");
    EXPECT_EQ(t.count("TabNCEAEnviar"), "2");
    t.tmpfs->free();
}

// The program folder is read-only (a remount: permission bits deny root nothing). Only from the
// start: while the monitor runs it holds its lock file open for writing, and the kernel refuses to make
// the mount read-only. The operator must hear which folder and why; nothing is sent.
void readOnlyFolder(EnvironmentFaultTest& t) {
    if (const int error = t.tmpfs->setReadOnly(true))
        GTEST_SKIP() << "remount read-only refused: " << std::strerror(error);
    const MonitorRun stopped = t.run();
    EXPECT_NE(stopped.status, 3) << "a read-only folder is not another instance:\n" << lastLines(stopped.output);
    EXPECT_THAT(testing::messageLines(stopped.output),
                ::testing::Contains(::testing::AllOf(::testing::HasSubstr(t.folder->path()),
                                                     ::testing::HasSubstr("somente leitura"))))
        << lastLines(stopped.output);
    EXPECT_EQ(t.authorised(), 0u);
    ASSERT_EQ(t.tmpfs->setReadOnly(false), 0);
}

// Every sale recorded, then NFCe.ini gone and the first sale queued again (its items unmarked), as
// a point-of-sale program that lost track would: it is completed from the record, with no send.
// `withoutJournal`: recorded by a version before the journal (only nfce_gerada knows it).
std::function<void(EnvironmentFaultTest&)> recordedSaleQueuedAgain(bool withoutJournal) {
    return [=](EnvironmentFaultTest& t) {
        const MonitorRun all = t.run();
        ASSERT_FALSE(t.anyQueued()) << lastLines(all.output);
        fs::remove(t.nfceIni());
        if (withoutJournal) t.folder->execute("DELETE FROM quorvanti_attempts WHERE cod_venda = '801-01'");
        t.folder->execute("UPDATE VendasConclu SET fiscal = NULL WHERE CodigoVenda = '801-01'");
        t.folder->queueSale("801-01");
        const MonitorRun again = t.run();
        EXPECT_FALSE(t.anyQueued()) << lastLines(again.output);
        EXPECT_THAT(again.output, ::testing::Not(::testing::AnyOf(::testing::HasSubstr("Método: GerarXML"),
                                                                  ::testing::HasSubstr("Método: EnviarNFe"))))
            << lastLines(again.output);
    };
}

// The authority is stopped (connection refused) before the run and started again, on the same
// port, a few exchanges after the monitor showed the outage box (at 50 unanswered ones). The monitor
// runs on without --once and must finish every sale by itself; it is then stopped as a service is.
void authorityAwayForLong(EnvironmentFaultTest& t) {
    const std::string port = std::to_string(t.authority->port());
    t.authority->stop();
    int exchangesAfterTheBox = -1;
    bool back = false;
    const MonitorRun away = t.run(
        [&](MonitorRun& run, const std::string& line) {
            if (line.rfind("[message] ", 0) == 0 && line.find("SEFAZ não esta respondendo") != std::string::npos)
                exchangesAfterTheBox = 0;
            else if (exchangesAfterTheBox >= 0 && line.rfind("[frmEmitirNFCe.MethodLabel] ", 0) == 0)
                ++exchangesAfterTheBox;
            if (!back && exchangesAfterTheBox >= 3) {
                t.authority = testing::startHttpsAuthority(t.root(), testing::testAuthorityPem(),
                                                           {"--quiet", "--listen", "127.0.0.1:" + port});
                back = true;
            } else if (back && !run.stopped && testing::isCaption(line, "Iniciando") && !t.anyQueued()) {
                run.signal(SIGTERM);
            }
        },
        false);
    ASSERT_TRUE(back) << "no outage box:\n" << lastLines(away.output);
    EXPECT_EQ(t.authority->port(), std::stoi(port)) << t.authority->log();
    EXPECT_TRUE(away.stopped) << lastLines(away.output);
    EXPECT_TRUE(away.exited && away.status == 0) << away.status << "\n" << lastLines(away.output);
    EXPECT_THAT(testing::messageLines(away.output),
                ::testing::Contains(::testing::HasSubstr("SEFAZ não esta respondendo")).Times(1));
}

// [TLS] CA of nfe/webservices.ini names a file that cannot be read (missing; a folder): the monitor
// stops at start-up (status 4) with a message naming it, before any sale.
void unreadableAuthoritiesFile(EnvironmentFaultTest& t) {
    const std::string ini = t.folder->path() + "/nfe/webservices.ini";
    const std::string good = testing::readFile(ini);
    for (const std::string& ca : {t.folder->path() + "/nfe/ausente.pem", t.folder->path() + "/certificados"}) {
        testing::writeFile(ini, testing::webServicesIni(t.authority->port(), ca, "10000"));
        const MonitorRun stopped = t.run();
        EXPECT_TRUE(stopped.exited && stopped.status == 4) << ca << ": " << stopped.status << "\n"
                                                           << lastLines(stopped.output);
        EXPECT_THAT(testing::messageLines(stopped.output), ::testing::Contains(::testing::HasSubstr(ca)))
            << lastLines(stopped.output);
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
        // Ten sales: their first sends and a couple of retries make the fifty exchanges quickly.
        Fault{.name = "AuthorityAwayForLong", .sales = 10, .disturb = authorityAwayForLong},
        Fault{.name = "UnreadableAuthoritiesFile", .disturb = unreadableAuthoritiesFile}),
    [](const ::testing::TestParamInfo<Fault>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvanti::startup
