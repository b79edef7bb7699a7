// The small operating-system layers: the code page, the log, the registry store, the folders, the
// instance lock, the shell, and the modes of what they create.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <system_error>
#include <tuple>
#include <thread>

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/instance_lock.h"
#include "platform/log_appender.h"
#include "platform/registry_store.h"
#include "platform/shell.h"
#include "platform/text_encoding.h"
#include "support/env_guard.h"
#include "support/error_text.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(TextEncodingTest, EveryByteSurvivesARoundTripAndWhatTheCodePageCannotHoldBecomesQuestionMarks) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToWindows1252(windows1252ToUtf8(all)), all);
    // Latin-1 letters are the same numbers. Outside the code page: one question mark per character;
    // invalid UTF-8: one per byte, without swallowing the next character. U+0080 is not the euro sign
    // (the Windows punctuation is held by the round trip above and the log's euro sign).
    const std::pair<std::string, std::string> cases[] = {
        {"Açaí São João ÿ", "A\xE7" "a\xED S\xE3o Jo\xE3o \xFF"}, {"a日本b", "a??b"}, {"x😀y", "x?y"},
        {"\xC2\x80", "?"}, {"\xC3" "a", "?a"}, {"\x80z", "?z"},
        {"\xC0\xAF", "??"}, {"\xED\xA0\x80", "???"}, {"\xF4\x90\x80\x80", "????"}, {"\xE2\x82", "?"},
    };
    for (const auto& [utf8, bytes] : cases) EXPECT_EQ(utf8ToWindows1252(utf8), bytes) << utf8;
}

TEST(LogAppenderTest, AppendsWindows1252LinesEndedByCrLfAndAFailureNamesThePathAndTheReason) {
    TempDir dir;
    const std::string log = dir.file("LOG_NFCE.txt");
    writeFile(log, "anterior\r\n");
    for (const char* line : {"Venda 12 - Açaí €", "", "Venda 13: Rejeição"}) appendLogLine(log, line);
    appendLogLine(dir.file("novo.txt"), "primeira");  // created
    EXPECT_EQ(readFile(log) + readFile(dir.file("novo.txt")),
              "anterior\r\nVenda 12 - A\xE7" "a\xED \x80\r\n\r\nVenda 13: Rejei\xE7\xE3o\r\nprimeira\r\n");

    // A failure to open (the desktop is gone) and one to write.
    std::vector<std::pair<std::string, int>> failures = {{dir.file("Desktop/LOG_NFCE.txt"), ENOENT}};
    if (access("/dev/full", W_OK) == 0) failures.emplace_back("/dev/full", ENOSPC);
    for (const auto& [path, error] : failures) {
        const std::string message = testing::errorText<LogWriteError>([&] { appendLogLine(path, "linha"); });
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(std::system_category().message(error)), std::string::npos) << message;
    }
}

TEST(RegistryStoreTest, WriteCreatesTheFoldersAndTheValueReadsBackWholeAndExactAtTheConfigurationPath) {
    TempDir dir;
    RegistryStore store(dir.file("config/quorvanti/registry.ini"));
    EXPECT_EQ(store.read("nfe", "NoSerieCertificado"), "");
    const std::string serial(250, '7');
    ASSERT_TRUE(store.write("nfe", "NoSerieCertificado", serial));
    EXPECT_EQ(store.read("NFE", "noseriecertificado"), serial);  // not cut to 199
    // A folder that cannot be made answers false.
    writeFile(dir.file("arquivo"), "x");
    RegistryStore unusable(dir.file("arquivo/registry.ini"));
    EXPECT_FALSE(unusable.write("nfe", "NoSerieCertificado", "1"));
    EXPECT_EQ(unusable.read("nfe", "NoSerieCertificado"), "");
    // (Its default path serves only runs without --registry, which the installed service always passes.)
}

TEST(FoldersTest, FileExistsOnlyForRegularFilesAndTheDesktopIsTheOneTheSessionNames) {
    TempDir dir;
    writeFile(dir.file("ParaApagar.txt"), "");
    EXPECT_TRUE(fileExists(dir.file("ParaApagar.txt")));
    EXPECT_FALSE(fileExists(dir.file("outro.txt")));
    EXPECT_FALSE(fileExists(dir.path()));

    // The desktop of a Portuguese session, named in its user-dirs file, is made when missing.
    testing::EnvGuard env;
    env.set("HOME", dir.path());
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_DESKTOP_DIR", std::nullopt);
    writeFile(dir.file(".config/user-dirs.dirs"),
              "# gerado por xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
              "XDG_DESKTOP_DIR=\"$HOME/Área de Trabalho\"\n");
    EXPECT_EQ(desktopFolder(), dir.path() + "/Área de Trabalho");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Área de Trabalho")));
}

TEST(InstanceLockTest, SecondHolderFailsUntilTheFirstIsGone) {
    TempDir dir;
    const std::string lockFile = dir.file("quorvanti.lock");
    const InstanceLock first(lockFile);
    ASSERT_TRUE(first.acquired());
    EXPECT_FALSE(InstanceLock(lockFile).acquired());
    // The failed attempt must not have disturbed the holder. (Taken again once released: sub_main_test.)
    EXPECT_FALSE(InstanceLock(lockFile).acquired());
}

// The script runs in another process, so this is the one place where a test waits: in short steps,
// for at most five seconds.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// Whether any process is still a child of this one (a finished but unreaped child counts); WNOWAIT
// leaves a zombie for the shell to reap.
bool hasChildProcesses() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

TEST(ShellTest, RunsTheRegistrationScriptOfTheProgramFolderOnlyAndReapsIt) {
    TempDir dir;
    const std::string marker = dir.file("registrado");
    writeFile(dir.file("registraDLL.sh"), "echo registrado > \"" + marker + "\"\n");  // not executable
    SystemShell shell;
    ASSERT_TRUE(shell.runRegistrationScript(dir.path()));
    EXPECT_TRUE(eventually([&] { return fileExists(marker); }));
    EXPECT_TRUE(eventually([] { return !hasChildProcesses(); })) << "the script was left a zombie";

    // A folder of its name is no script: false.
    TempDir other;
    mkdir(other.file("registraDLL.sh").c_str(), 0755);
    EXPECT_FALSE(shell.runRegistrationScript(other.path()));
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 01000000u;
}

// Everything below runs with the most permissive umask a service could inherit.
class FileModesTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = ::umask(0); }
    void TearDown() override { ::umask(previous_); }
    TempDir dir;

private:
    mode_t previous_ = 022;
};

TEST_F(FileModesTest, WhatTheLayersCreateIsClosedToOthersWhateverTheUmask) {
    const std::string ini = dir.file("ConfigINI.ini"), panel = dir.file("painel"), token = panel + "/token";
    const std::tuple<const char*, std::function<void()>, std::string, unsigned> cases[] = {  // what, write, path, mode
        {"settings file", [&] { iniWrite(ini, "Geral", "A", "1"); }, ini, 0640},
        {"its lock file", [] {}, ini + ".lock", 0640},
        {"log", [&] { appendLogLine(dir.file("LOG_NFCE.txt"), "x"); }, dir.file("LOG_NFCE.txt"), 0640},
        {"instance lock", [&] { InstanceLock lock(dir.file("quorvanti.lock")); }, dir.file("quorvanti.lock"), 0640},
        {"whole file and its folders", [&] { writeWholeFile(dir.file("nfe/arquivos/a.xml"), "<a/>"); },
         dir.file("nfe/arquivos/a.xml"), 0640},
        {"folder made for it", [] {}, dir.file("nfe/arquivos"), 0750},
        {"desktop", [&] { desktopFolder(dir.file("Desktop")); }, dir.file("Desktop"), 0750},
        // The panel's token, over an older one that others could read: only the owner reads it.
        {"panel token", [&] { writeWholeFile(token, "velho"); ::chmod(panel.c_str(), 0755); ::chmod(token.c_str(), 0644);
                              EXPECT_TRUE(writeSecretFile(token, "novo\n")); }, token, 0600},
        {"its folder, narrowed", [] {}, panel, 0700},
    };
    for (const auto& [what, write, path, mode] : cases) {
        SCOPED_TRACE(what);
        write();
        EXPECT_EQ(modeOf(path), mode);
    }
}

TEST_F(FileModesTest, ReplacedFilesLoseWhatOthersHadAndKeepTheRestAndTheUmaskIsWidenedNeverNarrowed) {
    for (const unsigned before : {0666u, 0660u, 0640u, 0600u}) {
        SCOPED_TRACE(before);
        const std::string ini = dir.file("ConfigINI.ini"), xml = dir.file("a.xml");
        writeWholeFile(ini, "[Geral]\r\n");
        writeWholeFile(xml, "x");
        ASSERT_EQ(::chmod(ini.c_str(), before), 0);
        ASSERT_EQ(::chmod(xml.c_str(), before), 0);
        EXPECT_TRUE(iniWrite(ini, "Geral", "A", "2"));
        EXPECT_TRUE(writeWholeFile(xml, "yy"));
        EXPECT_EQ(modeOf(ini), before & 0770);
        EXPECT_EQ(modeOf(xml), before & 0770);
        EXPECT_EQ(readFile(xml), "yy");
    }
    for (const auto& [given, expected] : {std::pair{0u, 027u}, {022u, 027u}, {077u, 077u}}) {
        ::umask(given);
        restrictCreationModes();
        EXPECT_EQ(static_cast<unsigned>(::umask(0)), expected) << given;
    }
}

}  // namespace
}  // namespace quorvanti::platform
