#include "platform/shell.h"

#include "platform/folders.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvanti::platform {
namespace {

using testing::TempDir;
using testing::writeFile;

// The script runs in another process, so this is the one place where a test waits: in short steps,
// for at most five seconds.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// Whether any process is still a child of this one (a finished but unreaped child shows as a zombie).
bool hasChildProcesses() {
    const pid_t self = getpid();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 2));
        char state;
        pid_t parent = 0;
        fields >> state >> parent;
        if (parent == self) found = true;
    }
    closedir(proc);
    return found;
}

TEST(ShellTest, RunsTheRegistrationScriptOfTheProgramFolderOnlyAndReapsIt) {
    TempDir dir;
    const std::string marker = dir.file("registrado");
    writeFile(dir.file("registraDLL.sh"), "echo registrado > \"" + marker + "\"\n");  // not executable

    SystemShell shell;
    ASSERT_TRUE(shell.runRegistrationScript(dir.path()));
    EXPECT_TRUE(eventually([&] { return fileExists(marker); }));
    EXPECT_TRUE(eventually([] { return !hasChildProcesses(); })) << "the script was left a zombie";

    // Without a script (a Windows one does not count, nor a folder of its name): false.
    TempDir other;
    EXPECT_FALSE(shell.runRegistrationScript(other.path()));
    writeFile(other.file("registraDLL.bat"), "echo windows\r\n");
    mkdir(other.file("registraDLL.sh").c_str(), 0755);
    EXPECT_FALSE(shell.runRegistrationScript(other.path()));
}

}  // namespace
}  // namespace quorvanti::platform
