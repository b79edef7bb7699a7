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

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsEmpty) {
    EXPECT_EQ(iniRead(path, "Geral", "NTerminal"), "");
    writeFile(path, "[Geral]\r\nNTerminal=3\r\n");
    EXPECT_EQ(iniRead(path, "Conexao", "NTerminal"), "");
    EXPECT_EQ(iniRead(path, "Geral", "serie"), "");
    EXPECT_EQ(iniRead(dir.path(), "Geral", "NTerminal"), "");  // a folder is not readable as a file
    EXPECT_EQ(readSetting("Geral", "serie", path), "");
}

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
    writeFile(path, "[GERAL]\r\nnterminal=3\r\n[Conex\xC3O]\r\nHost=db\r\n");
    EXPECT_EQ(iniRead(path, "geral", "NTerminal"), "3");
    EXPECT_EQ(iniRead(path, "conexão", "HOST"), "db");  // Ã and ã fold together

    ASSERT_TRUE(iniWrite(path, "Geral", "NTERMINAL", "4"));
    EXPECT_EQ(readFile(path), "[GERAL]\r\nnterminal=4\r\n[Conex\xC3O]\r\nHost=db\r\n");
}

TEST_F(IniFileTest, ValuesAreTrimmedAndSurroundingQuotesDropped) {
    writeFile(path, "[Geral]\r\n  Caminho \t=  C:\\dados\\base.mdb \t\r\nJust=\"  com brancos \"\r\n"
                    "Meia='x\r\nSem igual\r\n");
    EXPECT_EQ(iniRead(path, "Geral", "Caminho"), "C:\\dados\\base.mdb");
    EXPECT_EQ(iniRead(path, "Geral", "Just"), "  com brancos ");
    EXPECT_EQ(iniRead(path, "Geral", "Meia"), "'x");
    EXPECT_EQ(iniRead(path, "Geral", "Sem igual"), "");
}

TEST_F(IniFileTest, ReadSettingReturnsTheFirst199Characters) {
    const std::string ascii(250, 'x');
    std::string accented;
    for (int i = 0; i < 250; ++i) accented += "ç";
    ASSERT_TRUE(iniWrite(path, "Geral", "Longo", ascii));
    ASSERT_TRUE(iniWrite(path, "Geral", "Acentos", accented));

    EXPECT_EQ(iniRead(path, "Geral", "Longo"), ascii);
    EXPECT_EQ(readSetting("Geral", "Longo", path), std::string(199, 'x'));
    // Characters, not UTF-8 bytes: 199 "ç" are 398 bytes.
    EXPECT_EQ(readSetting("Geral", "Acentos", path), accented.substr(0, 2 * 199));
}

TEST_F(IniFileTest, WriteKeepsEveryOtherLineByteForByte) {
    const std::string before =
        "; Configuracao do PDV\r\n"
        "\r\n"
        "[Geral]\r\n"
        "  NTerminal =  3  \r\n"
        "\tserie=1\n"
        "; fim do Geral\r\n"
        "\r\n"
        "[Conexao]\r\n"
        "host = servidor   \r\n"
        "serie=9\r\n";
    writeFile(path, before);

    writeSetting("Geral", "serie", "2", path);
    writeSetting("Geral", "FUSO", "-03:00", path);
    writeSetting("Nova Secao", "chave", "valor", path);

    EXPECT_EQ(readFile(path),
              "; Configuracao do PDV\r\n"
              "\r\n"
              "[Geral]\r\n"
              "  NTerminal =  3  \r\n"
              "serie=2\r\n"
              "FUSO=-03:00\r\n"
              "; fim do Geral\r\n"
              "\r\n"
              "[Conexao]\r\n"
              "host = servidor   \r\n"
              "serie=9\r\n"
              "[Nova Secao]\r\n"
              "chave=valor\r\n");
    EXPECT_EQ(readSetting("Conexao", "serie", path), "9");
}

TEST_F(IniFileTest, NewKeyOfAnEmptySectionGoesRightAfterItsHeader) {
    writeFile(path, "[Geral]\r\n\r\n[Conexao]\r\nhost=a\r\n");
    ASSERT_TRUE(iniWrite(path, "Geral", "serie", "1"));
    EXPECT_EQ(readFile(path), "[Geral]\r\nserie=1\r\n\r\n[Conexao]\r\nhost=a\r\n");
}

TEST_F(IniFileTest, FileWithLfLinesOrNoFinalLineEndIsReadAndKept) {
    writeFile(path, "[Geral]\nA=1\nB=2\n[Outra]\nC=3");
    EXPECT_EQ(iniRead(path, "Geral", "B"), "2");
    EXPECT_EQ(iniRead(path, "Outra", "C"), "3");

    ASSERT_TRUE(iniWrite(path, "Geral", "D", "4"));
    ASSERT_TRUE(iniWrite(path, "Outra", "E", "5"));
    EXPECT_EQ(readFile(path), "[Geral]\nA=1\nB=2\nD=4\r\n[Outra]\nC=3\r\nE=5\r\n");

    // A last line ending in a bare CR gets its LF: a CR LF after it would leave the CR in its value.
    writeFile(path, "[Geral]\r\nA=1\r");
    ASSERT_TRUE(iniWrite(path, "Outra", "B", "2"));
    ASSERT_TRUE(iniWrite(path, "Geral", "C", "3"));
    EXPECT_EQ(iniRead(path, "Geral", "A"), "1");
    EXPECT_EQ(readFile(path), "[Geral]\r\nA=1\r\nC=3\r\n[Outra]\r\nB=2\r\n");
}

TEST_F(IniFileTest, TextIsWindows1252WithCrLfOnDiskAndUtf8InTheApi) {
    ASSERT_TRUE(iniWrite(path, "Geral", "JustificaContigencia", "Açaí €"));
    ASSERT_TRUE(iniWrite(path, "Seção", "Chave", "ação"));

    EXPECT_EQ(readFile(path), "[Geral]\r\nJustificaContigencia=A\xE7" "a\xED \x80\r\n"
                              "[Se\xE7\xE3o]\r\nChave=a\xE7\xE3o\r\n");
    EXPECT_EQ(iniRead(path, "Geral", "JustificaContigencia"), "Açaí €");
    EXPECT_EQ(readSetting("SEÇÃO", "chave", path), "ação");
}

TEST_F(IniFileTest, EmptyValueWritesTheKeyEmptyInsteadOfDeletingIt) {
    writeFile(path, "[Geral]\r\nEnviandoNFCEVenda=sim\r\nCSC=abc\r\n");
    ASSERT_TRUE(iniWrite(path, "Geral", "EnviandoNFCEVenda", ""));
    ASSERT_TRUE(iniWrite(path, "Geral", "IDtoken", ""));
    EXPECT_EQ(readFile(path), "[Geral]\r\nEnviandoNFCEVenda=\r\nCSC=abc\r\nIDtoken=\r\n");
}

TEST_F(IniFileTest, ReplacingTheFileKeepsItsPermissionsAndLeavesNoTemporaryFile) {
    writeFile(path, "[Geral]\r\nA=1\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(iniWrite(path, "Geral", "A", "2"));

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ConfigINI.ini", "ConfigINI.ini.lock"}));
}

TEST_F(IniFileTest, WritingThroughASymbolicLinkUpdatesItsTarget) {
    const std::string target = dir.file("real.ini");
    writeFile(target, "[Geral]\r\nA=1\r\n");
    std::filesystem::create_symlink(target, path);
    ASSERT_TRUE(iniWrite(path, "Geral", "A", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFile(target), "[Geral]\r\nA=2\r\n");
}

TEST_F(IniFileTest, WhatCannotBeWrittenAnswersFalseAndLeavesTheFileAlone) {
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
