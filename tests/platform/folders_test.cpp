#include "platform/folders.h"

#include "env_guard.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quorvanti::platform {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(FoldersTest, FileExistsOnlyForRegularFilesLikeThisTestProgram) {
    TempDir dir;
    writeFile(dir.file("ParaApagar.txt"), "");
    EXPECT_TRUE(fileExists(dir.file("ParaApagar.txt")));
    EXPECT_FALSE(fileExists(dir.file("outro.txt")));
    EXPECT_FALSE(fileExists(dir.path()));
    // The executable's folder holds this test program.
    const std::string folder = executableFolder();
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(fileExists(folder + "/quorvanti_platform_tests"));
}

TEST(FoldersTest, DesktopIsTheOverrideThenTheEnvironmentThenTheUserDirsThenHomeDesktop) {
    TempDir dir;
    testing::EnvGuard env;
    env.set("HOME", dir.path());
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("XDG_DESKTOP_DIR", std::nullopt);

    EXPECT_EQ(desktopFolder(), dir.path() + "/Desktop");

    writeFile(dir.file(".config/user-dirs.dirs"),
              "# gerado por xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
              "XDG_DESKTOP_DIR=\"$HOME/Área de Trabalho\"\n");
    EXPECT_EQ(desktopFolder(), dir.path() + "/Área de Trabalho");

    env.set("XDG_DESKTOP_DIR", dir.file("mesa/"));
    EXPECT_EQ(desktopFolder(), dir.file("mesa"));

    EXPECT_EQ(desktopFolder(dir.file("a/b//")), dir.file("a/b"));
    for (const char* made : {"Desktop", "Área de Trabalho", "mesa", "a/b"})
        EXPECT_TRUE(std::filesystem::is_directory(dir.file(made))) << made;
}

}  // namespace
}  // namespace quorvanti::platform
