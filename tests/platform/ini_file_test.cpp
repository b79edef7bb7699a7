#include "platform/ini_file.h"

#include "support/error_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
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

// Runs work(0) in a second process, forked before any thread exists, and work(1..threads) in threads,
// all released together; true if every one answered true.
bool allAtOnce(int threads, const std::function<bool(int)>& work) {
    int gate[2];
    if (pipe(gate) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        char go;
        _exit(read(gate[0], &go, 1) == 1 && work(0) ? 0 : 1);
    }
    std::latch start(threads + 1);
    std::vector<char> ok(threads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back([&, t] { start.arrive_and_wait(); ok[t] = work(t + 1); });
    start.arrive_and_wait();
    const bool released = write(gate[1], "x", 1) == 1;
    for (const int fd : gate) close(fd);
    for (auto& worker : workers) worker.join();
    int status = 0;
    const bool childOk = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return released && childOk && std::ranges::count(ok, 1) == threads;
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

    // The program's settings reader returns the first 199 characters (not UTF-8 bytes); iniRead all of them.
    std::string accented;
    for (int i = 0; i < 250; ++i) accented += "ç";
    ASSERT_TRUE(iniWrite(path, "Geral", "Acentos", accented));
    EXPECT_EQ(iniRead(path, "Geral", "Acentos"), accented);
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
}

// (The modes a replaced file keeps are in layers_test; that no temporary is left, in durable_file_test.)
TEST_F(IniFileTest, ReplacingTheFileFollowsLinksAndRefusesNamesItCannotWrite) {
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
    writeSetting("Geral", "A", "x\ny", dir.file("nao/existe.ini"));  // ignored, as the caller expects
}

// Four threads and a second process add keys to one section at the same time while a reader keeps
// reading: every key must arrive, and the reader must only ever see whole files that grow.
TEST_F(IniFileTest, ConcurrentWritersLoseNothingAndReadersNeverSeeAHalfFile) {
    constexpr int kWriters = 5, kKeys = 50;  // writer 0 is the process; the thread after the last writer reads
    writeFile(path, "[Geral]\r\nNTerminal=1\r\n");
    const auto key = [](int w, int k) { return "w" + std::to_string(w) + "_" + std::to_string(k); };
    const auto value = [](int w, int k) { return "ç" + std::to_string(w * 1000 + k); };
    EXPECT_TRUE(allAtOnce(kWriters, [&](int w) {
        if (w < kWriters) {
            bool ok = true;
            for (int k = 0; k < kKeys; ++k) ok = iniWrite(path, w == 0 ? "geral" : "Geral", key(w, k), value(w, k)) && ok;
            return ok;
        }
        // Until every key is there, or a minute has passed (the reads below then tell what is missing).
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (std::size_t lastSize = 0;;) {
            const std::string content = readFile(path);
            if (!content.starts_with("[Geral]\r\nNTerminal=1\r\n") || !content.ends_with("\r\n") || content.size() < lastSize)
                return false;
            lastSize = content.size();
            if (std::ranges::count(content, '\n') == 2 + kWriters * kKeys || std::chrono::steady_clock::now() > until) return true;
        }
    }));
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeys; ++k) EXPECT_EQ(iniRead(path, "Geral", key(w, k)), value(w, k));
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

// One file written by the appending writer, its twin by iniWrite: they must stay equal byte for byte.
struct Twins {
    std::string appended, twin;
    void start(const std::string& content) const {
        for (const std::string& file : {appended, twin}) writeFile(file, content);
    }
    void write(const std::string& section, const std::string& key, const std::string& value) const {
        iniWriteAppending(appended, section, key, value);
        ASSERT_TRUE(iniWrite(twin, section, key, value));
        ASSERT_EQ(readFile(appended), readFile(twin)) << section << "/" << key;
    }
};

// The appending writer writes a new section or a key of the last one in place and replaces the file for an
// earlier section: whatever the start, the bytes are those the whole-file writer leaves.
TEST_F(IniFileTest, TheAppendingWriterLeavesWhatTheWholeFileWriterLeaves) {
    const Twins twins{dir.file("NFCe.ini"), dir.file("twin.ini")};

    // Another program appends a section behind the writer's back, between two of its writes.
    twins.start("[Geral]\r\nNTerminal=1\r\n[Venda1]\r\nChaveNFCe=111\r\n");
    ASSERT_NO_FATAL_FAILURE(twins.write("Venda2", "ChaveNFCe", "Ação 222"));
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

    // From starts whose last line is unended or ended by a bare CR, a spaced header, a broken one and one
    // commented out (a missing file and plain line ends are every emission's): a key of a section, a new
    // section, an earlier section spelled otherwise (the whole file), and the last section's key shortened.
    const std::string starts[] = {"[Venda1]\r\nA=1", "[Venda1]\r\nA=1\r", "[Venda2]\r\n[ Venda1 ]\r\n  a = 1 \r\n",
                                  "[Venda1\r\nA=1\r\n[Venda3]\r\n;[Venda2]\r\n"};
    const std::tuple<std::string, std::string, std::string> writes[] = {
        {"Venda1", "a", "22"}, {"Venda2", "B", "ção"}, {"VENDA1", "ChaveNFCe", "um valor bem mais longo"}, {"Venda2", "B", "1"}};
    for (const std::string& start : starts) {
        twins.start(start);
        for (const auto& [section, key, value] : writes)
            ASSERT_NO_FATAL_FAILURE(twins.write(section, key, value)) << "from '" << start << "'";
    }
}

// Two threads and a second process append sections, each also writing into its own earlier section (the
// whole-file write): every key arrives, and every section once.
TEST_F(IniFileTest, ConcurrentAppendersLoseNothing) {
    constexpr int kWriters = 3, kSales = 40;
    writeFile(path, "[Geral]\r\nNTerminal=1\r\n");
    const auto section = [](int w, int s) { return "Venda" + std::to_string(w) + "_" + std::to_string(s); };
    EXPECT_TRUE(allAtOnce(kWriters - 1, [&](int w) {
        try {
            for (int s = 0; s < kSales; ++s) {
                iniWriteAppending(path, section(w, s), "ChaveNFCe", section(w, s));
                iniWriteAppending(path, section(w, s), "Protocolo", "ç" + std::to_string(s));
                if (s > 0) iniWriteAppending(path, section(w, s - 1), "Fim", "sim");
            }
            return true;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "writer " << w << ": " << e.what();
            return false;
        }
    }));
    for (int w = 0; w < kWriters; ++w) {
        for (int s = 0; s < kSales; ++s) {
            EXPECT_EQ(std::make_tuple(iniRead(path, section(w, s), "ChaveNFCe"), iniRead(path, section(w, s), "Protocolo"),
                                      iniRead(path, section(w, s), "Fim")),
                      std::make_tuple(section(w, s), "ç" + std::to_string(s), s + 1 < kSales ? "sim" : ""));
        }
    }
    EXPECT_EQ(std::ranges::count(readFile(path), '['), 1 + kWriters * kSales);
}

}  // namespace
}  // namespace quorvanti::platform
