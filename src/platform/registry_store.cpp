#include "platform/registry_store.h"

#include "platform/folders.h"
#include "platform/ini_file.h"

#include <cstdlib>
#include <filesystem>
#include <utility>

namespace quorvanti::platform {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// A registry value comes back exactly as stored, but the INI read trims blanks and drops one pair of
// surrounding quotes; quoting such a value makes it survive that read unchanged.
std::string protectedValue(const std::string& value) {
    const std::string cut = value.substr(0, value.find('\0'));
    if (cut.empty()) return cut;
    const bool blankAtEdge = cut.front() == ' ' || cut.front() == '\t' || cut.back() == ' ' || cut.back() == '\t';
    const bool quoted = cut.size() >= 2 && (cut.front() == '"' || cut.front() == '\'') && cut.back() == cut.front();
    return blankAtEdge || quoted ? '"' + cut + '"' : cut;
}

}  // namespace

RegistryStore::RegistryStore(std::string filePath) : path_(std::move(filePath)) {}

std::string RegistryStore::defaultPath() {
    std::string path = environment("QUORVANTI_REGISTRY");
    if (!path.empty()) return path;
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    const std::string config = environment("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/') return config + "/quorvanti/registry.ini";
    return homeFolder() + "/.config/quorvanti/registry.ini";
}

std::string RegistryStore::read(const std::string& keyPath, const std::string& valueName) const {
    return iniRead(path_, keyPath, valueName);
}

bool RegistryStore::write(const std::string& keyPath, const std::string& valueName, const std::string& value) {
    const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
    if (!parent.empty()) {
        if (!createFolders(parent.string())) return false;
    }
    return iniWrite(path_, keyPath, valueName, protectedValue(value));
}

}  // namespace quorvanti::platform
