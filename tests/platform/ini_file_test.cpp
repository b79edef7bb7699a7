#include "platform/ini_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvanti::platform {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class IniFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("ConfigINI.ini");
};

TEST_F(IniFileTest, ReadsWithoutRegardToCaseTrimmedAndUnquoted) {
    EXPECT_EQ(iniRead(path, "Geral", "NTerminal"), "");  // no file
    writeFile(path, "[GERAL]\r\nnterminal=3\r\n  Caminho \t=  C:\\dados\\base.mdb \t\r\nJust=\"  com brancos \"\r\n"
                    "Meia='x\r\nSem igual\r\n[Conex\xC3O]\r\nHost=db\r\n[Outra]\nC=3");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"geral", "NTerminal"}, "3"},
        {{"conexão", "HOST"}, "db"},  // Ã and ã fold together
        {{"Geral", "Caminho"}, "C:\\dados\\base.mdb"},
        {{"Geral", "Just"}, "  com brancos "},
        {{"Geral", "Meia"}, "'x"},
        {{"Geral", "Sem igual"}, ""},
        {{"Geral", "serie"}, ""},
        {{"Conexao", "NTerminal"}, ""},
        {{"Outra", "C"}, "3"},  // a line ended by LF only, the last without a line end
    };
    for (const auto& [where, value] : cases) EXPECT_EQ(iniRead(path, where[0], where[1]), value) << where[1];
    EXPECT_EQ(iniRead(dir.path(), "Geral", "NTerminal"), "");  // a folder is not readable as a file
    EXPECT_EQ(readSetting("Geral", "serie", path), "");

    // The program's settings reader returns the first 199 characters (not UTF-8 bytes).
    const std::string ascii(250, 'x');
    std::string accented;
    for (int i = 0; i < 250; ++i) accented += "ç";
    ASSERT_TRUE(iniWrite(path, "Geral", "Longo", ascii));
    ASSERT_TRUE(iniWrite(path, "Geral", "Acentos", accented));
    EXPECT_EQ(iniRead(path, "Geral", "Longo"), ascii);
    EXPECT_EQ(readSetting("Geral", "Longo", path), std::string(199, 'x'));
    EXPECT_EQ(readSetting("Geral", "Acentos", path), accented.substr(0, 2 * 199));
}

// A write changes or adds one line and keeps every other byte; text is Windows-1252 with CR LF on disk
// and UTF-8 in the API; an empty value writes the key empty instead of deleting it.
TEST_F(IniFileTest, WriteKeepsEveryOtherLineByteForByte) {
    struct Write {
        std::string section, key, value;
    };
    const struct {
        std::string before;
        std::vector<Write> writes;
        std::string after;
    } cases[] = {
        {"; Configuracao do PDV\r\n\r\n[Geral]\r\n  NTerminal =  3  \r\n\tserie=1\n; fim do Geral\r\n\r\n[Conexao]\r\n"
         "host = servidor   \r\nserie=9\r\n",
         {{"Geral", "serie", "2"}, {"Geral", "FUSO", "-03:00"}, {"Nova Secao", "chave", "valor"}},
         "; Configuracao do PDV\r\n\r\n[Geral]\r\n  NTerminal =  3  \r\nserie=2\r\nFUSO=-03:00\r\n; fim do Geral\r\n\r\n"
         "[Conexao]\r\nhost = servidor   \r\nserie=9\r\n[Nova Secao]\r\nchave=valor\r\n"},
        {"[GERAL]\r\nnterminal=3\r\n[Conex\xC3O]\r\nHost=db\r\n", {{"Geral", "NTERMINAL", "4"}},
         "[GERAL]\r\nnterminal=4\r\n[Conex\xC3O]\r\nHost=db\r\n"},
        {"[Geral]\r\n\r\n[Conexao]\r\nhost=a\r\n", {{"Geral", "serie", "1"}}, "[Geral]\r\nserie=1\r\n\r\n[Conexao]\r\nhost=a\r\n"},
        {"[Geral]\nA=1\nB=2\n[Outra]\nC=3", {{"Geral", "D", "4"}, {"Outra", "E", "5"}},
         "[Geral]\nA=1\nB=2\nD=4\r\n[Outra]\nC=3\r\nE=5\r\n"},
        // A last line ending in a bare CR gets its LF: a CR LF after it would leave the CR in its value.
        {"[Geral]\r\nA=1\r", {{"Outra", "B", "2"}, {"Geral", "C", "3"}}, "[Geral]\r\nA=1\r\nC=3\r\n[Outra]\r\nB=2\r\n"},
        {"", {{"Geral", "JustificaContigencia", "Açaí €"}, {"Seção", "Chave", "ação"}},
         "[Geral]\r\nJustificaContigencia=A\xE7" "a\xED \x80\r\n[Se\xE7\xE3o]\r\nChave=a\xE7\xE3o\r\n"},
        {"[Geral]\r\nEnviandoNFCEVenda=sim\r\nCSC=abc\r\n", {{"Geral", "EnviandoNFCEVenda", ""}, {"Geral", "IDtoken", ""}},
         "[Geral]\r\nEnviandoNFCEVenda=\r\nCSC=abc\r\nIDtoken=\r\n"},
    };
    for (const auto& c : cases) {
        if (c.before.empty()) std::filesystem::remove(path);
        else writeFile(path, c.before);
        for (const Write& w : c.writes) EXPECT_TRUE(iniWrite(path, w.section, w.key, w.value)) << w.key;
        EXPECT_EQ(readFile(path), c.after);
        for (const Write& w : c.writes) EXPECT_EQ(iniRead(path, w.section, w.key), w.value) << w.key;
    }
    writeFile(path, cases[5].after);
    EXPECT_EQ(readSetting("SEÇÃO", "chave", path), "ação");
    writeSetting("Geral", "serie", "7", path);
    EXPECT_EQ(readSetting("geral", "SERIE", path), "7");
}

// (The modes a replaced file keeps are in layers_test.)
TEST_F(IniFileTest, ReplacingTheFileFollowsLinksAndLeavesNoTemporaryFile) {
    writeFile(path, "[Geral]\r\nA=1\r\n");
    ASSERT_TRUE(iniWrite(path, "Geral", "A", "2"));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ConfigINI.ini", "ConfigINI.ini.lock"}));

    // Through a symbolic link the target is updated.
    const std::string target = dir.file("real.ini"), link = dir.file("link.ini");
    writeFile(target, "[Geral]\r\nA=1\r\n");
    std::filesystem::create_symlink(target, link);
    ASSERT_TRUE(iniWrite(link, "Geral", "A", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(target), "[Geral]\r\nA=2\r\n");

    // What cannot be written answers false and leaves the file alone.
    writeFile(path, "[Geral]\r\nA=1\r\n");
    EXPECT_FALSE(iniWrite(dir.file("nao/existe.ini"), "Geral", "A", "1"));
    EXPECT_FALSE(iniWrite(dir.path(), "Geral", "A", "1"));
    EXPECT_FALSE(iniWrite(path, "Geral", "A", "linha\r\noutra"));
    EXPECT_FALSE(iniWrite(path, "Geral", "B=C", "1"));
    EXPECT_FALSE(iniWrite(path, "", "A", "1"));
    EXPECT_EQ(readFile(path), "[Geral]\r\nA=1\r\n");
    // Names end at a NUL, as a C caller passes them, for the read as for the write.
    const std::string section("Geral\0x", 7), key("B\0y", 3);
    ASSERT_TRUE(iniWrite(path, section, key, "2"));
    EXPECT_EQ(iniRead(path, section, key), "2");
    EXPECT_EQ(iniRead(path, "Geral", "B"), "2");
    writeSetting("Geral", "A", "x\ny", dir.file("nao/existe.ini"));  // ignored, as the caller expects
}

// Four threads and a second process add keys to one section at the same time while a reader keeps
// reading: every key must arrive, and the reader must only ever see whole files that grow.
TEST_F(IniFileTest, ConcurrentWritersLoseNothingAndReadersNeverSeeAHalfFile) {
    constexpr int kThreads = 4, kKeys = 50;
    writeFile(path, "[Geral]\r\nNTerminal=1\r\n");

    // The child is forked before any thread exists; a pipe releases it together with the threads.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(gate[1]);
        char go;
        bool ok = read(gate[0], &go, 1) == 1;
        for (int k = 0; k < kKeys; ++k)
            ok = iniWrite(path, "geral", "processo_" + std::to_string(k), "ç" + std::to_string(k)) && ok;
        _exit(ok ? 0 : 1);
    }
    close(gate[0]);

    std::latch start(kThreads + 1);
    std::atomic<bool> writing{true};
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = "t" + std::to_string(t) + "_" + std::to_string(k);
                if (!iniWrite(path, "Geral", key, std::to_string(t * 1000 + k))) ++failures[t];
            }
        });
    }
    std::size_t readerViolations = 0, reads = 0;
    std::thread reader([&] {
        std::size_t lastSize = 0;
        while (writing.load()) {
            const std::string content = readFile(path);
            ++reads;
            const bool whole = content.rfind("[Geral]\r\nNTerminal=1\r\n", 0) == 0 &&
                               content.size() >= 2 && content.compare(content.size() - 2, 2, "\r\n") == 0;
            if (!whole || content.size() < lastSize) ++readerViolations;
            lastSize = content.size();
        }
    });

    start.arrive_and_wait();
    ASSERT_EQ(write(gate[1], "x", 1), 1);
    close(gate[1]);
    for (auto& w : writers) w.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    writing = false;
    reader.join();

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(readerViolations, 0u) << "after " << reads << " reads";
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(iniRead(path, "Geral", "t" + std::to_string(t) + "_" + std::to_string(k)),
                      std::to_string(t * 1000 + k));
    for (int k = 0; k < kKeys; ++k)
        EXPECT_EQ(iniRead(path, "Geral", "processo_" + std::to_string(k)), "ç" + std::to_string(k));
    EXPECT_EQ(iniRead(path, "Geral", "NTerminal"), "1");
}

}  // namespace
}  // namespace quorvanti::platform
