// The current user's registry, kept as an INI-format file (default ~/.config/quorvanti/registry.ini):
// one section per key path ("nfe", "Velantrimexo"), one entry per string value.
#pragma once

#include <string>

namespace quorvanti::platform {

class RegistryStore {
public:
    explicit RegistryStore(std::string filePath);

    // The default location: $QUORVANTI_REGISTRY, else $XDG_CONFIG_HOME/quorvanti/registry.ini, else
    // ~/.config/quorvanti/registry.ini.
    static std::string defaultPath();

    // `LeRegistro`: the string value, "" when the key or value is missing. Not cut to 199 characters,
    // not trimmed: a value with blanks or quotes at its edges is stored quoted and comes back exactly.
    std::string read(const std::string& keyPath, const std::string& valueName) const;
    // `GravaRegistro`: creates the key (and the file's folders) when missing and sets the value;
    // answers false on failure.
    bool write(const std::string& keyPath, const std::string& valueName, const std::string& value);

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace quorvanti::platform
