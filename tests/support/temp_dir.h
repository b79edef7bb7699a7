// A fresh folder under the system's temporary folder for one test, removed with everything in it when
// the test ends.
#pragma once

#include <string>

namespace quorvanti::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Whole-file helpers for assertions.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// What a shell command writes to its standard output (its standard error is discarded).
std::string commandOutput(const std::string& command);

}  // namespace quorvanti::testing
