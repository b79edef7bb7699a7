#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <string>

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/instance_lock.h"
#include "platform/log_appender.h"
#include "platform/registry_store.h"
#include "support/temp_dir.h"

namespace quorvanti::platform {
namespace {

using testing::TempDir;

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
    struct Case {
        const char* what;
        std::function<void()> write;
        std::string path;
        unsigned mode;
    };
    const std::string ini = dir.file("ConfigINI.ini");
    const Case cases[] = {
        {"settings file", [&] { iniWrite(ini, "Geral", "A", "1"); }, ini, 0640},
        {"its lock file", [] {}, ini + ".lock", 0640},
        {"log", [&] { appendLogLine(dir.file("LOG_NFCE.txt"), "x"); }, dir.file("LOG_NFCE.txt"), 0640},
        {"instance lock", [&] { InstanceLock lock(dir.file("quorvanti.lock")); }, dir.file("quorvanti.lock"), 0640},
        {"registry store", [&] { RegistryStore(dir.file("cfg/q/registry.ini")).write("nfe", "S", "1"); },
         dir.file("cfg/q/registry.ini"), 0640},
        {"its folders", [] {}, dir.file("cfg/q"), 0750},
        {"whole file and its folders", [&] { writeWholeFile(dir.file("nfe/arquivos/a.xml"), "<a/>"); },
         dir.file("nfe/arquivos/a.xml"), 0640},
        {"folder made for it", [] {}, dir.file("nfe/arquivos"), 0750},
        {"desktop", [&] { desktopFolder(dir.file("Desktop")); }, dir.file("Desktop"), 0750},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.write();
        EXPECT_EQ(modeOf(c.path), c.mode);
    }
}

TEST_F(FileModesTest, ReplacedFilesLoseWhatOthersHadAndKeepTheRest) {
    for (const unsigned before : {0666u, 0660u, 0600u}) {
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
        EXPECT_EQ(testing::readFile(xml), "yy");
    }
}

TEST_F(FileModesTest, TheProcessUmaskIsWidenedToClosedForOthersNeverNarrowed) {
    const std::pair<unsigned, unsigned> cases[] = {{0, 027}, {022, 027}, {077, 077}};
    for (const auto& [given, expected] : cases) {
        ::umask(given);
        restrictCreationModes();
        EXPECT_EQ(static_cast<unsigned>(::umask(0)), expected) << given;
    }
}

}  // namespace
}  // namespace quorvanti::platform
