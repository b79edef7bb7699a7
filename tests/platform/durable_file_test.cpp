// The durable write (temporary, sync, rename, folder sync), the failure text every checked write raises,
// and the test seam that makes writes fail under a folder.
#include "platform/durable_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/log_appender.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

using ::testing::HasSubstr;
using testing::errorText;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// The names in `folder`, sorted.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// While it lives, a write past `limit` bytes of a file fails with EFBIG: a real failure in the middle of
// writing, as a full disk gives it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        handler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lowered = previous_;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit previous_ {};
    void (*handler_)(int) = nullptr;
};

class DurableFileTest : public ::testing::Test {
protected:
    void TearDown() override { test_seam::stopFailingWrites(); }
    TempDir dir;
};

TEST(WriteFailureReasonTest, TellsTheOperatorWhyInPortuguese) {
    EXPECT_EQ(writeFailureReason(ENOSPC), "disco cheio");
    EXPECT_EQ(writeFailureReason(EDQUOT), "disco cheio");
    EXPECT_EQ(writeFailureReason(EACCES), "sem permissão de escrita");
    EXPECT_EQ(writeFailureReason(EPERM), "sem permissão de escrita");
    EXPECT_EQ(writeFailureReason(EROFS), "sistema de arquivos somente leitura");
    EXPECT_EQ(writeFailureReason(EIO), std::system_category().message(EIO));
    const FileWriteError error("/x/NFCe.ini", ENOSPC);
    EXPECT_STREQ(error.what(), "Não foi possível gravar o arquivo '/x/NFCe.ini': disco cheio");
    EXPECT_EQ(error.path(), "/x/NFCe.ini");
    EXPECT_EQ(error.error(), ENOSPC);
}

TEST_F(DurableFileTest, WritesTheWholeFileMakingItsFoldersWithTheMonitorsModesAndLeavesNoTemporary) {
    const std::string folder = dir.file("nfe/arquivos/assinado");
    const std::string path = folder + "/NFe1-assinado.xml";
    struct stat written {};
    writeFileDurably(path, "<NFe/>", &written);
    EXPECT_EQ(readFile(path), "<NFe/>");
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(std::tie(written.st_dev, written.st_ino, written.st_size), std::tie(now.st_dev, now.st_ino, now.st_size));
    EXPECT_EQ(modeOf(path) & ~0640u, 0u);  // at most 0640, whatever the umask
    EXPECT_EQ(modeOf(folder) & ~0750u, 0u);

    // Replaced: the whole new content, the owner's and group's permissions kept, the others' dropped.
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    writeFileDurably(path, "");
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(modeOf(path), 0660u);
    const std::string big(3 << 20, 'x');
    writeFileDurably(path, big);
    EXPECT_EQ(readFile(path), big);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"NFe1-assinado.xml"});

    // A name without a file part is refused.
    EXPECT_EQ(tryWriteFileDurably(dir.file("nfe/"), "x"), EISDIR);
}

TEST_F(DurableFileTest, ARealFailureLeavesTheOldFileWholeAndNoTemporaryAndNamesTheReason) {
    const std::string path = dir.file("NFCe.ini");
    writeFile(path, "[Venda1]\r\nChaveNFCe=1\r\n");

    // A write cut in the middle (the file size limit answers EFBIG as a full disk answers ENOSPC).
    {
        FileSizeLimit limit(4096);
        const std::string message = errorText<FileWriteError>([&] { writeFileDurably(path, std::string(100000, 'y')); });
        EXPECT_EQ(message, "Não foi possível gravar o arquivo '" + path + "': " + std::system_category().message(EFBIG));
    }
    EXPECT_EQ(readFile(path), "[Venda1]\r\nChaveNFCe=1\r\n");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"NFCe.ini"});

    // A rename that cannot be made (a folder holds the name), and a folder that cannot be made.
    std::filesystem::create_directories(dir.file("pasta/dentro"));
    EXPECT_EQ(tryWriteFileDurably(dir.file("pasta"), "x"), EISDIR);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"NFCe.ini", "pasta"}));
    EXPECT_EQ(tryWriteFileDurably(dir.file("NFCe.ini/outro.xml"), "x"), ENOTDIR);
    EXPECT_THAT(errorText<FileWriteError>([&] { writeFileDurably("/proc/quorvanti/x.xml", "x"); }),
                HasSubstr("'/proc/quorvanti/x.xml': "));
}

// The appending INI writer cut in the middle by a real failure puts the file back as it was.
TEST_F(DurableFileTest, AnAppendCutByARealFailureLeavesTheIniFileAsItWas) {
    const std::string path = dir.file("NFCe.ini");
    const std::string before = "[Venda1]\r\nChaveNFCe=1\r\n[Venda2]\r\nChaveNFCe=2\r\n; fim\r\n";
    writeFile(path, before);
    const std::string longValue(8000, 'v');
    {
        FileSizeLimit limit(before.size() + 100);
        for (const char* section : {"Venda3", "Venda2"}) {  // a new section; the last section again
            const std::string message =
                errorText<FileWriteError>([&] { iniWriteAppending(path, section, "ChaveNFCe", longValue); });
            EXPECT_EQ(message, "Não foi possível gravar o arquivo '" + path + "': " + std::system_category().message(EFBIG));
            EXPECT_EQ(readFile(path), before) << section;
        }
        iniWriteAppending(path, "Venda2", "ChaveNFCe", "22");  // what fits still goes in place
    }
    EXPECT_EQ(readFile(path), "[Venda1]\r\nChaveNFCe=1\r\n[Venda2]\r\nChaveNFCe=22\r\n; fim\r\n");
}

// Every platform writer fails under an armed folder, with the armed errno, and writes nothing there;
// writes elsewhere (a sibling whose name starts the same) go on, and everything works again once stopped.
TEST_F(DurableFileTest, TheSeamFailsEveryPlatformWriteUnderTheFolderUntilStopped) {
    const std::string failing = dir.file("nfe"), sibling = dir.file("nfe2");
    const std::string ini = failing + "/NFCe.ini", xml = failing + "/arquivos/procNFe/1-procNFe.xml";
    writeFile(ini, "[Venda1]\r\nChaveNFCe=1\r\n");
    test_seam::failWritesUnder(failing + "/", ENOSPC);

    EXPECT_EQ(errorText<FileWriteError>([&] { writeFileDurably(xml, "<nfeProc/>"); }),
              "Não foi possível gravar o arquivo '" + xml + "': disco cheio");
    EXPECT_EQ(tryWriteFileDurably(failing + "/../nfe/x.xml", "x"), ENOSPC);  // the same folder, spelled otherwise
    EXPECT_EQ(errorText<FileWriteError>([&] { writeSettingChecked("Venda1", "ChaveNFCe", "2", ini); }),
              "Não foi possível gravar o arquivo '" + ini + "': disco cheio");
    EXPECT_EQ(errorText<FileWriteError>([&] { iniWriteAppending(ini, "Venda2", "ChaveNFCe", "3"); }),
              "Não foi possível gravar o arquivo '" + ini + "': disco cheio");
    int error = 0;
    EXPECT_FALSE(iniWrite(ini, "Venda1", "ChaveNFCe", "2", error));
    EXPECT_EQ(error, ENOSPC);
    writeSetting("Venda1", "ChaveNFCe", "2", ini);  // ignored, as its callers expect
    errno = 0;
    EXPECT_FALSE(writeWholeFile(failing + "/ret.xml", "x"));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(writeSecretFile(failing + "/painel/token", "x"));
    EXPECT_THAT(errorText<LogWriteError>([&] { appendLogLine(failing + "/LOG_NFCE.txt", "linha"); }),
                HasSubstr(std::system_category().message(ENOSPC)));
    EXPECT_EQ(readFile(ini), "[Venda1]\r\nChaveNFCe=1\r\n");
    EXPECT_EQ(namesIn(failing), std::vector<std::string>{"NFCe.ini"});

    writeFileDurably(sibling + "/x.xml", "x");
    EXPECT_TRUE(writeWholeFile(sibling + "/y.xml", "y"));
    EXPECT_EQ(readFile(sibling + "/x.xml"), "x");

    // A second folder with its own reason; both stop together.
    test_seam::failWritesUnder(sibling, EROFS);
    EXPECT_THAT(errorText<FileWriteError>([&] { writeFileDurably(sibling + "/x.xml", "z"); }),
                HasSubstr("sistema de arquivos somente leitura"));
    EXPECT_EQ(tryWriteFileDurably(xml, "x"), ENOSPC);
    test_seam::stopFailingWrites();
    writeFileDurably(xml, "<nfeProc/>");
    writeSettingChecked("Venda1", "ChaveNFCe", "2", ini);
    EXPECT_EQ(readFile(xml), "<nfeProc/>");
    EXPECT_EQ(iniRead(ini, "Venda1", "ChaveNFCe"), "2");
}

// Writers in several threads while another arms and disarms the seam: no write outside the armed
// folder fails, and none under it succeeds while it is armed.
TEST_F(DurableFileTest, TheSeamIsSafeToArmWhileOtherThreadsWrite) {
    const std::string armed = dir.file("armado"), free = dir.file("livre");
    std::atomic<bool> done{false};
    std::atomic<int> wrongFailures{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i)
                if (tryWriteFileDurably(free + "/" + std::to_string(t) + ".txt", std::to_string(i)) != 0) ++wrongFailures;
        });
    }
    std::thread toggler([&] {
        while (!done) {
            test_seam::failWritesUnder(armed, EACCES);
            if (tryWriteFileDurably(armed + "/x", "x") != EACCES) ++wrongFailures;
            test_seam::stopFailingWrites();
        }
    });
    for (auto& w : writers) w.join();
    done = true;
    toggler.join();
    EXPECT_EQ(wrongFailures, 0);
}

}  // namespace
}  // namespace quorvanti::platform
