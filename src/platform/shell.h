// The shell's "open" of the component registration script. On Windows the program opens
// "registraDLL.bat"; here it runs "registraDLL.sh" from the program folder with /bin/sh, without
// waiting for it. A missing script is not an error.
#pragma once

#include <string>
#include <vector>

namespace quorvanti::platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Starts the registration script of `programFolder`; answers whether a script was started.
    virtual bool runRegistrationScript(const std::string& programFolder) = 0;
};

class SystemShell final : public Shell {
public:
    bool runRegistrationScript(const std::string& programFolder) override;
};

// Test double: remembers the folders it was asked to run the script of.
class RecordingShell final : public Shell {
public:
    bool runRegistrationScript(const std::string& programFolder) override {
        runs.push_back(programFolder);
        return true;
    }
    std::vector<std::string> runs;
};

}  // namespace quorvanti::platform
