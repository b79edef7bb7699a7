#include "platform/ini_file.h"

#include "support/error_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <memory>
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

// Forked before any thread exists; the child's answer is its exit status.
pid_t inChild(const std::function<bool()>& work) {
    const pid_t child = fork();
    if (child == 0) _exit(work() ? 0 : 1);
    return child;
}

bool succeeded(pid_t child) {
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class IniFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("ConfigINI.ini");
};

TEST_F(IniFileTest, ReadsWithoutRegardToCaseTrimmedAndUnquoted) {
    EXPECT_EQ(iniRead(path, "Geral", "NTerminal"), "");  // no file
    writeFile(path, "[GERAL]\r\nnterminal=3\r\n  Caminho \t=  C:\\dados\\base.mdb \t\r\nJust=\"  com brancos \"\r\n"
                    "Meia='x\r\nSem igual\r\n[Conex\xC3O]\r\nHost=db\r\n[Outra]\nC=3");
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"geral", "NTerminal", "3"}, {"conexão", "HOST", "db"},  // Ã and ã fold together
        {"Geral", "Caminho", "C:\\dados\\base.mdb"}, {"Geral", "Just", "  com brancos "}, {"Geral", "Meia", "'x"},
        {"Geral", "Sem igual", ""}, {"Geral", "serie", ""}, {"Conexao", "NTerminal", ""},
        {"Outra", "C", "3"},  // a line ended by LF only, the last without a line end
    };
    for (const auto& [section, key, value] : cases) EXPECT_EQ(iniRead(path, section, key), value) << key;
    EXPECT_EQ(iniRead(dir.path(), "Geral", "NTerminal"), "");  // a folder is not readable as a file
    EXPECT_EQ(readSetting("Geral", "serie", path), "");

    // The program's settings reader returns the first 199 characters (not UTF-8 bytes).
    std::string accented;
    for (int i = 0; i < 250; ++i) accented += "ç";
    ASSERT_TRUE(iniWrite(path, "Geral", "Longo", std::string(250, 'x')) && iniWrite(path, "Geral", "Acentos", accented));
    EXPECT_EQ(iniRead(path, "Geral", "Longo"), std::string(250, 'x'));
    EXPECT_EQ(readSetting("Geral", "Longo", path), std::string(199, 'x'));
    EXPECT_EQ(readSetting("Geral", "Acentos", path), accented.substr(0, 2 * 199));
}

// A write changes or adds one line and keeps every other byte; text is Windows-1252 with CR LF on disk
// and UTF-8 in the API; an empty value writes the key empty instead of deleting it.
TEST_F(IniFileTest, WriteKeepsEveryOtherLineByteForByte) {
    using Write = std::tuple<std::string, std::string, std::string>;  // section, key, value
    const std::tuple<std::string, std::vector<Write>, std::string> cases[] = {  // before, writes, after
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
        {"[Geral]\r\nEnviandoNFCEVenda=sim\r\nCSC=abc\r\n", {{"Geral", "EnviandoNFCEVenda", ""}, {"Geral", "IDtoken", ""}},
         "[Geral]\r\nEnviandoNFCEVenda=\r\nCSC=abc\r\nIDtoken=\r\n"},
        {"", {{"Geral", "JustificaContigencia", "Açaí €"}, {"Seção", "Chave", "ação"}},
         "[Geral]\r\nJustificaContigencia=A\xE7" "a\xED \x80\r\n[Se\xE7\xE3o]\r\nChave=a\xE7\xE3o\r\n"},
    };
    for (const auto& [before, writes, after] : cases) {
        if (before.empty()) std::filesystem::remove(path);
        else writeFile(path, before);
        for (const auto& [section, key, value] : writes) EXPECT_TRUE(iniWrite(path, section, key, value)) << key;
        EXPECT_EQ(readFile(path), after);
        for (const auto& [section, key, value] : writes) EXPECT_EQ(iniRead(path, section, key), value) << key;
    }
    EXPECT_EQ(readSetting("SEÇÃO", "chave", path), "ação");  // the file the last case left
    writeSetting("Geral", "serie", "7", path);
    EXPECT_EQ(readSetting("geral", "SERIE", path), "7");
}

// (The modes a replaced file keeps are in layers_test.)
TEST_F(IniFileTest, ReplacingTheFileFollowsLinksAndLeavesNoTemporaryFile) {
    writeFile(path, "[Geral]\r\nA=1\r\n");
    ASSERT_TRUE(iniWrite(path, "Geral", "A", "2"));
    using Folder = std::filesystem::directory_iterator;
    EXPECT_EQ(std::distance(Folder(dir.path()), Folder()), 2);  // the file and its lock file

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
    const auto key = [](int t, int k) { return "t" + std::to_string(t) + "_" + std::to_string(k); };
    const auto writeKeys = [&](int t) {  // writer kThreads is the process
        bool ok = true;
        for (int k = 0; k < kKeys; ++k)
            ok = iniWrite(path, t == kThreads ? "geral" : "Geral", key(t, k), "ç" + std::to_string(t * 1000 + k)) && ok;
        return ok;
    };
    int gate[2];  // releases the process together with the threads
    ASSERT_EQ(pipe(gate), 0);
    const pid_t child = inChild([&] {
        char go;
        return read(gate[0], &go, 1) == 1 && writeKeys(kThreads);
    });
    std::latch start(kThreads + 1);
    std::atomic<bool> writing{true};
    std::vector<char> ok(kThreads, 0);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) writers.emplace_back([&, t] { start.arrive_and_wait(); ok[t] = writeKeys(t); });
    std::size_t violations = 0, reads = 0;
    std::thread reader([&] {
        for (std::size_t lastSize = 0; writing; ++reads) {
            const std::string content = readFile(path);
            if (!content.starts_with("[Geral]\r\nNTerminal=1\r\n") || !content.ends_with("\r\n") || content.size() < lastSize)
                ++violations;
            lastSize = content.size();
        }
    });
    start.arrive_and_wait();
    EXPECT_EQ(write(gate[1], "x", 1), 1);
    for (const int fd : gate) close(fd);
    for (auto& w : writers) w.join();
    EXPECT_TRUE(succeeded(child));
    writing = false;
    reader.join();

    EXPECT_EQ(ok, std::vector<char>(kThreads, 1));
    EXPECT_EQ(violations, 0u) << "after " << reads << " reads";
    for (int t = 0; t <= kThreads; ++t)
        for (int k = 0; k < kKeys; ++k) EXPECT_EQ(iniRead(path, "Geral", key(t, k)), "ç" + std::to_string(t * 1000 + k));
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
        const std::string reason = FileWriteError(file, expected).what();
        EXPECT_EQ(testing::errorText<FileWriteError>([&] { writeSettingChecked(section, "A", value, file); }), reason);
        EXPECT_EQ(testing::errorText<FileWriteError>([&] { iniWriteAppending(file, section, "A", value); }), reason);
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
    const std::shared_ptr<void> removed(nullptr, [folder](void*) { std::filesystem::remove_all(folder); });
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
    const std::string sections[] = {"Venda1", "VENDA1", "Venda2", "Venda3", "Geral"}, keys[] = {"A", "a", "B", "ChaveNFCe"},
                      values[] = {"", "1", "22", "um valor bem mais longo", "ção"};
    std::mt19937 random(20260305);
    const auto any = [&](const auto& among) -> const std::string& { return among[random() % std::size(among)]; };
    for (const std::string& start : starts) {
        for (int round = 0; round < 20; ++round) {
            twins.start(start);
            for (int step = 0; step < 6; ++step)
                ASSERT_NO_FATAL_FAILURE(twins.write(any(sections), any(keys), any(values))) << "from '" << start << "'";
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
    const pid_t child = inChild([&] { return appendSales(writers[0]).empty(); });
    std::string failure;
    std::thread thread([&] { failure = appendSales(writers[1]); });
    EXPECT_EQ(appendSales(writers[2]), "");
    thread.join();
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(succeeded(child));
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
