#include "platform/ini_file.h"

#include "support/error_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <latch>
#include <mutex>
#include <random>
#include <system_error>
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
    void TearDown() override { test_seam::stopFailingWrites(); }
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

// The checked writer raises the real reason, names the file and leaves it whole; iniWrite tells the
// same reason through its out-parameter.
TEST_F(IniFileTest, TheCheckedWriterRaisesTheRealReasonAndLeavesTheFileWhole) {
    writeFile(path, "[Geral]\r\nA=1\r\n");
    writeSettingChecked("Geral", "A", "2", path);
    EXPECT_EQ(readFile(path), "[Geral]\r\nA=2\r\n");

    const auto failure = [&](const std::string& file, const std::string& value) {
        return testing::errorText<FileWriteError>([&] { writeSettingChecked("Geral", "A", value, file); });
    };
    test_seam::failWritesUnder(dir.path(), ENOSPC);
    EXPECT_EQ(failure(path, "3"), "Não foi possível gravar o arquivo '" + path + "': disco cheio");
    test_seam::stopFailingWrites();
    test_seam::failWritesUnder(dir.path(), EACCES);
    EXPECT_EQ(failure(path, "3"), "Não foi possível gravar o arquivo '" + path + "': sem permissão de escrita");
    test_seam::stopFailingWrites();
    EXPECT_EQ(failure(dir.file("nao/existe.ini"), "3"), "Não foi possível gravar o arquivo '" + dir.file("nao/existe.ini") +
                                                           "': " + std::system_category().message(ENOENT));
    EXPECT_EQ(failure(dir.path(), "3"), "Não foi possível gravar o arquivo '" + dir.path() + "': " +
                                            std::system_category().message(EISDIR));
    EXPECT_EQ(failure(path, "linha\r\noutra"), "Não foi possível gravar o arquivo '" + path + "': " +
                                                   std::system_category().message(EINVAL));
    EXPECT_EQ(readFile(path), "[Geral]\r\nA=2\r\n");

    int error = -1;
    EXPECT_TRUE(iniWrite(path, "Geral", "B", "1", error));
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(iniWrite(dir.file("nao/existe.ini"), "Geral", "A", "1", error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(iniWrite(path, "Geral", "B=C", "1", error));
    EXPECT_EQ(error, EINVAL);
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
}

// A new section goes at the end and a key into the last section is written in place (the file is not
// replaced); a key into an earlier section replaces the file. Each step leaves the bytes iniWrite leaves.
TEST_F(IniFileTest, TheAppendingWriterWritesTheEndInPlaceAndAnEarlierSectionThroughTheWholeFile) {
    const std::string twin = dir.file("twin.ini");
    const std::string start = "; vendas\r\n[Geral]\r\nNTerminal=1\r\n[Venda1]\r\nChaveNFCe=111\r\n; fim";
    writeFile(path, start);
    writeFile(twin, start);
    struct Write {
        std::string section, key, value;
        bool inPlace;
    };
    const Write writes[] = {
        {"Venda2", "ChaveNFCe", "Ação 222", true},       // a new section, after the line end the file lacked
        {"VENDA2", "Protocolo", "151260000012345", true},  // into the last section, whatever the case
        {"Venda2", "ChaveNFCe", "2", true},                // a value made shorter: the file is cut
        {"Venda2", "ChaveNFCe", "2", true},                // the same value: nothing written
        {"venda1", "Protocolo", "151260000099999", false}, // an earlier section: the whole-file write
        {"Geral", "NTerminal", "7", false},
        {"Venda3", "ChaveNFCe", "333", true},
    };
    for (const Write& w : writes) {
        const ino_t before = inodeOf(path);
        iniWriteAppending(path, w.section, w.key, w.value);
        ASSERT_TRUE(iniWrite(twin, w.section, w.key, w.value));
        EXPECT_EQ(readFile(path), readFile(twin)) << w.section << " " << w.key;
        EXPECT_EQ(inodeOf(path) == before, w.inPlace) << w.section << " " << w.key;
        EXPECT_EQ(iniRead(path, w.section, w.key), w.value);
    }
    EXPECT_EQ(iniRead(path, "Venda1", "ChaveNFCe"), "111");
    EXPECT_EQ(iniRead(path, "Venda1", "Protocolo"), "151260000099999");
    EXPECT_EQ(iniRead(path, "Venda2", "Protocolo"), "151260000012345");
    EXPECT_EQ(readFile(path), "; vendas\r\n[Geral]\r\nNTerminal=7\r\n[Venda1]\r\nChaveNFCe=111\r\nProtocolo=151260000099999\r\n"
                              "; fim\r\n[Venda2]\r\nChaveNFCe=2\r\nProtocolo=151260000012345\r\n[Venda3]\r\nChaveNFCe=333\r\n");
    // Another program appends a section behind the writer's back: the writer sees it, and writes into it.
    for (const std::string& file : {path, twin}) std::ofstream(file, std::ios::app) << "[Venda4]\r\nChaveNFCe=4\r\n";
    iniWriteAppending(path, "Venda4", "Protocolo", "4");
    ASSERT_TRUE(iniWrite(twin, "Venda4", "Protocolo", "4"));
    EXPECT_EQ(readFile(path), readFile(twin));

    // A file read in several blocks, with a line longer than a block: every header is found wherever the
    // blocks end, so no section is appended twice.
    std::string big = "[Longa]\r\nValor=" + std::string(600000, 'x') + "\r\n";
    for (int s = 0; s < 8000; ++s) big += "  [Venda" + std::to_string(s) + "]\r\nChaveNFCe=" + std::to_string(s) + "\r\n";
    writeFile(path, big);
    writeFile(twin, big);
    for (const std::string section : {"Venda7999", "Venda4000", "VENDA0", "venda5555", "Longa", "Venda8000", "Venda8000"}) {
        iniWriteAppending(path, section, "Protocolo", "P" + section);
        ASSERT_TRUE(iniWrite(twin, section, "Protocolo", "P" + section));
        ASSERT_EQ(readFile(path), readFile(twin)) << section;
    }
    EXPECT_EQ(iniRead(path, "Venda5555", "Protocolo"), "Pvenda5555");

    // A section repeated at the end: the first of the name is the one read, so it is the one written.
    writeFile(path, "[Venda1]\r\nA=1\r\n[Venda2]\r\nA=2\r\n[venda1]\r\nA=3\r\n");
    iniWriteAppending(path, "Venda1", "A", "9");
    EXPECT_EQ(readFile(path), "[Venda1]\r\nA=9\r\n[Venda2]\r\nA=2\r\n[venda1]\r\nA=3\r\n");

    // A missing file is made whole; a missing folder, a folder and what one line cannot hold are refused.
    const std::string fresh = dir.file("novo.ini");
    iniWriteAppending(fresh, "Venda1", "A", "1");
    EXPECT_EQ(readFile(fresh), "[Venda1]\r\nA=1\r\n");
    EXPECT_THROW(iniWriteAppending(dir.file("nao/existe.ini"), "Venda1", "A", "1"), FileWriteError);
    EXPECT_THROW(iniWriteAppending(dir.path(), "Venda1", "A", "1"), FileWriteError);
    EXPECT_THROW(iniWriteAppending(fresh, "Venda1", "A", "1\n2"), FileWriteError);
    EXPECT_THROW(iniWriteAppending(fresh, "", "A", "1"), FileWriteError);
    EXPECT_EQ(readFile(fresh), "[Venda1]\r\nA=1\r\n");
}

// Random writes from random starting files: the appending writer always leaves the bytes the whole-file
// writer leaves.
TEST_F(IniFileTest, TheAppendingWriterLeavesWhatTheWholeFileWriterLeaves) {
    // On a memory file system when there is one: a thousand synced writes on a disk take seconds.
    std::string folder = "/dev/shm/quorvanti-ini-XXXXXX";
    if (::access("/dev/shm", W_OK) != 0 || ::mkdtemp(folder.data()) == nullptr) folder = dir.file("twins");
    const struct Remove {
        std::string folder;
        ~Remove() { std::filesystem::remove_all(folder); }
    } remove{folder};
    std::filesystem::create_directories(folder);
    const std::string appended = folder + "/NFCe.ini", twin = folder + "/twin.ini";
    const std::string starts[] = {
        "", "[Venda1]\r\nA=1\r\n", "[Venda1]\r\nA=1", "[Venda1]\r\nA=1\r", "[Venda1]\nA=1\n",
        "chave solta=1\r\n[Venda1]\r\nA=1\r\n\r\n; comentario\r\n", "[Venda2]\r\n[ Venda1 ]\r\n  a = 1 \r\n",
        "[Venda1\r\nA=1\r\n[Venda3]\r\n;[Venda2]\r\n", "[Geral]\r\nX=1\r\n[Venda1]\r\nA=1\r\n[Venda1]\r\nB=2\r\n",
    };
    const std::string sections[] = {"Venda1", "VENDA1", "Venda2", "Venda3", "Geral"};
    const std::string keys[] = {"A", "a", "B", "ChaveNFCe"};
    const std::string values[] = {"", "1", "22", "um valor bem mais longo", "ção"};
    std::mt19937 random(20260305);
    for (const std::string& start : starts) {
        for (int round = 0; round < 20; ++round) {
            if (start.empty()) {
                std::filesystem::remove(appended);
                std::filesystem::remove(twin);
            } else {
                writeFile(appended, start);
                writeFile(twin, start);
            }
            for (int step = 0; step < 6; ++step) {
                const std::string& section = sections[random() % std::size(sections)];
                const std::string& key = keys[random() % std::size(keys)];
                const std::string& value = values[random() % std::size(values)];
                iniWriteAppending(appended, section, key, value);
                ASSERT_TRUE(iniWrite(twin, section, key, value));
                ASSERT_EQ(readFile(appended), readFile(twin)) << "from '" << start << "' " << section << "/" << key;
            }
        }
    }
}

// Two threads append sections and keys, another writes into the first section with iniWrite, and a
// second process appends too: every key arrives.
TEST_F(IniFileTest, ConcurrentAppendersLoseNothing) {
    constexpr int kSales = 40;
    writeFile(path, "[Geral]\r\nNTerminal=1\r\n");

    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(gate[1]);
        char go;
        bool ok = read(gate[0], &go, 1) == 1;
        try {
            for (int s = 0; s < kSales; ++s) {
                iniWriteAppending(path, "Processo" + std::to_string(s), "ChaveNFCe", "p" + std::to_string(s));
                iniWriteAppending(path, "Processo" + std::to_string(s), "Protocolo", "ç" + std::to_string(s));
            }
        } catch (...) {
            ok = false;
        }
        _exit(ok ? 0 : 1);
    }
    close(gate[0]);

    std::latch start(3);
    std::vector<std::string> failures;
    std::mutex failuresMutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            try {
                for (int s = 0; s < kSales; ++s) {
                    const std::string section = "Venda" + std::to_string(t) + "_" + std::to_string(s);
                    iniWriteAppending(path, section, "ChaveNFCe", std::to_string(t * 1000 + s));
                    iniWriteAppending(path, section, "Protocolo", "P" + std::to_string(s));
                    // Into an earlier section of its own: the whole-file write under the same lock.
                    if (s > 0)
                        iniWriteAppending(path, "Venda" + std::to_string(t) + "_" + std::to_string(s - 1), "Fim", "sim");
                }
            } catch (const std::exception& e) {
                const std::lock_guard lock(failuresMutex);
                failures.push_back(e.what());
            }
        });
    }
    threads.emplace_back([&] {
        start.arrive_and_wait();
        for (int k = 0; k < kSales; ++k)
            if (!iniWrite(path, "Geral", "k" + std::to_string(k), std::to_string(k))) {
                const std::lock_guard lock(failuresMutex);
                failures.push_back("iniWrite k" + std::to_string(k));
            }
    });
    ASSERT_EQ(write(gate[1], "x", 1), 1);
    close(gate[1]);
    for (auto& thread : threads) thread.join();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(failures, std::vector<std::string>{});
    for (int t = 0; t < 2; ++t) {
        for (int s = 0; s < kSales; ++s) {
            const std::string section = "Venda" + std::to_string(t) + "_" + std::to_string(s);
            EXPECT_EQ(iniRead(path, section, "ChaveNFCe"), std::to_string(t * 1000 + s)) << section;
            EXPECT_EQ(iniRead(path, section, "Protocolo"), "P" + std::to_string(s)) << section;
            EXPECT_EQ(iniRead(path, section, "Fim"), s + 1 < kSales ? "sim" : "") << section;
        }
    }
    for (int s = 0; s < kSales; ++s) {
        EXPECT_EQ(iniRead(path, "Processo" + std::to_string(s), "ChaveNFCe"), "p" + std::to_string(s));
        EXPECT_EQ(iniRead(path, "Processo" + std::to_string(s), "Protocolo"), "ç" + std::to_string(s));
    }
    for (int k = 0; k < kSales; ++k) EXPECT_EQ(iniRead(path, "Geral", "k" + std::to_string(k)), std::to_string(k));
    // Every section once: nothing appended twice.
    const std::string content = readFile(path);
    EXPECT_EQ(std::count(content.begin(), content.end(), '['), 1 + 3 * kSales);
}

}  // namespace
}  // namespace quorvanti::platform
