#include "context/program_files.h"

#include <filesystem>

#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/log_appender.h"

namespace quorvanti::context {

std::string settingsPathFor(const Locations& locations, std::string& folder) {
    if (!locations.devSettingsPath.empty() && platform::fileExists(locations.devSettingsPath)) {
        folder = std::filesystem::path(locations.devSettingsPath).parent_path().string();
        return locations.devSettingsPath;
    }
    folder = locations.programFolder;
    return withTrailingSlash(locations.programFolder) + "ConfigINI.ini";
}

std::string readGeral(const AppContext& ctx, const std::string& key) {
    return platform::readSetting("Geral", key, ctx.settings.SettingsPath);
}

void writeGeral(const AppContext& ctx, const std::string& key, const std::string& value) {
    platform::writeSetting("Geral", key, value, ctx.settings.SettingsPath);
}

void GravaLog(const AppContext& ctx, const std::string& line) { platform::appendLogLine(ctx.settings.LogPath, line); }

std::string withTrailingSlash(const std::string& folder) { return platform::withTrailingSlash(folder); }

}  // namespace quorvanti::context
