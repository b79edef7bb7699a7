#include "platform/ini_file.h"

#include "support/error_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <latch>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
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

    // A key that cannot be written answers false and leaves the file alone (the other refusals are in
    // TheCheckedWritersTellTheRealReasonAndLeaveTheFileWhole).
    writeFile(path, "[Geral]\r\nA=1\r\n");
    EXPECT_FALSE(iniWrite(path, "Geral", "B=C", "1"));
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

// The checked writers raise the real reason and leave the file whole; iniWrite answers the same errno.
TEST_F(IniFileTest, TheCheckedWritersTellTheRealReasonAndLeaveTheFileWhole) {
    writeFile(path, "[Geral]\r\nA=1\r\n");
    int error = -1;
    EXPECT_TRUE(iniWrite(path, "Geral", "A", "2", error));
    EXPECT_EQ(error, 0);
    const std::tuple<std::string, std::string, std::string, int> cases[] = {
        {path, "Geral", "3", ENOSPC},  // under the failing-write seam
        {dir.file("nao/existe.ini"), "Geral", "3", ENOENT},
        {dir.path(), "Geral", "3", EISDIR},
        {path, "Geral", "linha\r\noutra", EINVAL},
        {path, "", "3", EINVAL},
    };
    for (const auto& [file, section, value, expected] : cases) {
        SCOPED_TRACE(file + " [" + section + "] " + value);
        if (expected == ENOSPC) test_seam::failWritesUnder(dir.path(), ENOSPC);
        EXPECT_EQ(testing::errorText<FileWriteError>([&] { writeSettingChecked(section, "A", value, file); }),
                  FileWriteError(file, expected).what());
        EXPECT_EQ(testing::errorText<FileWriteError>([&] { iniWriteAppending(file, section, "A", value); }),
                  FileWriteError(file, expected).what());
        EXPECT_FALSE(iniWrite(file, section, "A", value, error));
        EXPECT_EQ(error, expected);
        test_seam::stopFailingWrites();
    }
    EXPECT_EQ(readFile(path), "[Geral]\r\nA=2\r\n");
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
}

// One file written by the appending writer, its twin by iniWrite: they must stay equal byte for byte.
struct Twins {
    std::string appended, twin;
    void start(const std::string& content) const {
        for (const std::string& file : {appended, twin}) {
            if (content.empty()) std::filesystem::remove(file);
            else writeFile(file, content);
        }
    }
    void write(const std::string& section, const std::string& key, const std::string& value) const {
        iniWriteAppending(appended, section, key, value);
        ASSERT_TRUE(iniWrite(twin, section, key, value));
        ASSERT_EQ(readFile(appended), readFile(twin)) << section << "/" << key;
    }
};

// A new section goes at the end and a key into the last section is written in place (the file is not
// replaced); a key into an earlier section replaces the file. Whatever the start, the bytes are those
// the whole-file writer leaves.
TEST_F(IniFileTest, TheAppendingWriterWritesTheEndInPlaceAndLeavesWhatTheWholeFileWriterLeaves) {
    // On a memory file system when there is one: a thousand synced writes on a disk take seconds.
    std::string folder = "/dev/shm/quorvanti-ini-XXXXXX";
    if (::access("/dev/shm", W_OK) != 0 || ::mkdtemp(folder.data()) == nullptr) folder = dir.file("twins");
    const struct Remove {
        std::string folder;
        ~Remove() { std::filesystem::remove_all(folder); }
    } remove{folder};
    std::filesystem::create_directories(folder);
    const Twins twins{folder + "/NFCe.ini", folder + "/twin.ini"};

    twins.start("; vendas\r\n[Geral]\r\nNTerminal=1\r\n[Venda1]\r\nChaveNFCe=111\r\n; fim");
    const std::tuple<const char*, const char*, const char*, bool> writes[] = {  // section, key, value, in place
        {"Venda2", "ChaveNFCe", "Ação 222", true},         // a new section, after the line end the file lacked
        {"VENDA2", "Protocolo", "151260000012345", true},  // into the last section, whatever the case
        {"Venda2", "ChaveNFCe", "2", true},                // a value made shorter: the file is cut
        {"Venda2", "ChaveNFCe", "2", true},
        {"venda1", "Protocolo", "151260000099999", false},
        {"Geral", "NTerminal", "7", false},
        {"Venda3", "ChaveNFCe", "333", true},
    };
    for (const auto& [section, key, value, inPlace] : writes) {
        const ino_t before = inodeOf(twins.appended);
        ASSERT_NO_FATAL_FAILURE(twins.write(section, key, value));
        EXPECT_EQ(inodeOf(twins.appended) == before, inPlace) << section << "/" << key;
    }
    // Another program appends a section behind the writer's back.
    for (const std::string& file : {twins.appended, twins.twin})
        std::ofstream(file, std::ios::app) << "[Venda4]\r\nChaveNFCe=4\r\n";
    ASSERT_NO_FATAL_FAILURE(twins.write("Venda4", "Protocolo", "4"));

    // A file read in several blocks, with a line longer than a block: every header is found wherever the
    // blocks end, so no section is appended twice.
    std::string big = "[Longa]\r\nValor=" + std::string(600000, 'x') + "\r\n";
    for (int s = 0; s < 8000; ++s) big += "  [Venda" + std::to_string(s) + "]\r\nNumero=" + std::to_string(s) + "\r\n";
    twins.start(big);
    for (const std::string s : {"Venda7999", "Venda4000", "VENDA0", "venda5555", "Longa", "Venda8000", "Venda8000"})
        ASSERT_NO_FATAL_FAILURE(twins.write(s, "Protocolo", "P" + s));

    const std::string starts[] = {
        "", "[Venda1]\r\nA=1\r\n", "[Venda1]\r\nA=1", "[Venda1]\r\nA=1\r", "[Venda1]\nA=1\n",
        "chave solta=1\r\n[Venda1]\r\nA=1\r\n\r\n; comentario\r\n", "[Venda2]\r\n[ Venda1 ]\r\n  a = 1 \r\n",
        "[Venda1\r\nA=1\r\n[Venda3]\r\n;[Venda2]\r\n", "[Geral]\r\nX=1\r\n[Venda1]\r\nA=1\r\n[venda1]\r\nB=2\r\n",
    };
    const std::string sections[] = {"Venda1", "VENDA1", "Venda2", "Venda3", "Geral"};
    const std::string keys[] = {"A", "a", "B", "ChaveNFCe"};
    const std::string values[] = {"", "1", "22", "um valor bem mais longo", "ção"};
    std::mt19937 random(20260305);
    for (const std::string& start : starts) {
        for (int round = 0; round < 20; ++round) {
            twins.start(start);
            for (int step = 0; step < 6; ++step) {
                const std::string& section = sections[random() % std::size(sections)];
                const std::string& key = keys[random() % std::size(keys)];
                ASSERT_NO_FATAL_FAILURE(twins.write(section, key, values[random() % std::size(values)]))
                    << "from '" << start << "'";
            }
        }
    }
}

// Two threads and a second process append sections, each also writing into its own earlier section (the
// whole-file write): every key arrives, and every section once.
TEST_F(IniFileTest, ConcurrentAppendersLoseNothing) {
    constexpr int kSales = 40;
    writeFile(path, "[Geral]\r\nNTerminal=1\r\n");
    const auto appendSales = [&](const std::string& writer) -> std::string {
        try {
            for (int s = 0; s < kSales; ++s) {
                const std::string section = writer + "_" + std::to_string(s);
                iniWriteAppending(path, section, "ChaveNFCe", section);
                iniWriteAppending(path, section, "Protocolo", "ç" + std::to_string(s));
                if (s > 0) iniWriteAppending(path, writer + "_" + std::to_string(s - 1), "Fim", "sim");
            }
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    };
    const std::string writers[] = {"Processo", "Venda0", "Venda1"};
    const pid_t child = fork();  // before any thread exists
    ASSERT_GE(child, 0);
    if (child == 0) _exit(appendSales(writers[0]).empty() ? 0 : 1);
    std::string failure;
    std::thread thread([&] { failure = appendSales(writers[1]); });
    EXPECT_EQ(appendSales(writers[2]), "");
    thread.join();
    EXPECT_EQ(failure, "");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const std::string& writer : writers) {
        for (int s = 0; s < kSales; ++s) {
            const std::string section = writer + "_" + std::to_string(s);
            EXPECT_EQ(std::make_tuple(iniRead(path, section, "ChaveNFCe"), iniRead(path, section, "Protocolo"),
                                      iniRead(path, section, "Fim")),
                      std::make_tuple(section, "ç" + std::to_string(s), s + 1 < kSales ? "sim" : ""));
        }
    }
    const std::string content = readFile(path);
    EXPECT_EQ(std::count(content.begin(), content.end(), '['), 1 + 3 * kSales);
}

}  // namespace
}  // namespace quorvanti::platform
