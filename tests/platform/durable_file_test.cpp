#include "platform/durable_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <tuple>

#include "platform/ini_file.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

using testing::errorText;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// How many names `folder` holds.
long entriesIn(const std::string& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
}

// While it lives, a write past `limit` bytes of a file fails with EFBIG, in the middle of the write, as a
// full disk fails it with ENOSPC.
struct FileSizeLimit {
    struct rlimit previous {};
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        struct rlimit lowered = previous;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
    }
};

// (The modes of what it writes are in layers_test, through iniWrite.) The whole file is written, its
// folders made. A write cut in the middle (of the whole file, of a section appended, of the last section
// written in place), a write the seam fails and names that cannot be written: the old file stays whole,
// with no temporary beside it.
TEST(DurableFileTest, WritesTheWholeFileOrLeavesTheOldOneWholeWithNoTemporary) {
    TempDir dir;
    const std::string folder = dir.file("nfe/arquivos/assinado");
    const std::string written = folder + "/NFe1-assinado.xml";
    for (const std::string& content : {std::string("<NFe/>"), std::string(), std::string(3 << 20, 'x')}) {
        writeFileDurably(written, content);
        EXPECT_EQ(readFile(written), content);
    }
    EXPECT_EQ(entriesIn(folder), 1);

    const std::string path = dir.file("NFCe.ini"), old = "[Venda1]\r\nChaveNFCe=1\r\n[Venda2]\r\nChaveNFCe=2\r\n;\r\n";
    writeFile(path, old);
    {
        FileSizeLimit limit(old.size() + 100);
        const std::string big(8000, 'v');
        const std::function<void()> writes[] = {
            [&] { writeFileDurably(path, big); },
            [&] { iniWriteAppending(path, "Venda3", "ChaveNFCe", big); },
            [&] { iniWriteAppending(path, "Venda2", "ChaveNFCe", big); },
        };
        for (const auto& write : writes) {
            EXPECT_EQ(errorText<FileWriteError>(write), FileWriteError(path, EFBIG).what());
            EXPECT_EQ(readFile(path), old);
        }
    }
    test_seam::failWritesUnder(dir.path(), ENOSPC);
    EXPECT_EQ(tryWriteFileDurably(path, "x"), ENOSPC);
    test_seam::stopFailingWrites();

    std::filesystem::create_directories(dir.file("pasta/dentro"));
    const std::tuple<std::string, int> refused[] = {
        {"nfe/", EISDIR},                 // no file part
        {"pasta", EISDIR},                // the rename meets a folder
        {"NFCe.ini/outro.xml", ENOTDIR},  // the folder cannot be made
    };
    for (const auto& [name, error] : refused) EXPECT_EQ(tryWriteFileDurably(dir.file(name), "x"), error) << name;
    iniWriteAppending(path, "Venda2", "ChaveNFCe", "22");
    EXPECT_EQ(readFile(path), "[Venda1]\r\nChaveNFCe=1\r\n[Venda2]\r\nChaveNFCe=22\r\n;\r\n");
    EXPECT_EQ(entriesIn(dir.path()), 4);  // nfe, NFCe.ini, its lock file and pasta
}

}  // namespace
}  // namespace quorvanti::platform
