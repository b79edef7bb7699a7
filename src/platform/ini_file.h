// INI files with the contract of the Windows private-profile calls, which the point-of-sale program on
// the other side still uses: sections and keys match without regard to case, a missing file or key
// reads as "", values are trimmed of surrounding blanks, a write keeps every other line as it was.
// On disk the files are Windows-1252 with CR LF line ends; the API speaks UTF-8.
// Writes take an advisory lock (on "<file>.lock") and replace the file atomically, so a concurrent
// writer never loses a key and a reader never sees half a file. Safe to use from several threads and
// processes.
#pragma once

#include <string>

namespace quorvanti::platform {

// The whole value of `key` in `section` of the file at `path`; "" when the file, section or key is
// missing or the file cannot be read. As with the Windows read, one pair of quotes around the value
// ("text" or 'text') is dropped, and the first section and key of a repeated name win.
std::string iniRead(const std::string& path, const std::string& section, const std::string& key);

// Writes `key`=`value` into `section`, creating the section (at the end) or the key (after the
// section's last key) when missing. An empty value writes the key with an empty value; it does not
// delete it. The file is created when missing (its folder is not). Answers false when the file could
// not be written, and for what one line cannot hold (a line break, an empty name, "=" in the key);
// callers of the settings writer ignore the answer.
bool iniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value);

// The settings reader of the program: iniRead cut to its first 199 characters, because the original
// reads through a 200-character buffer and peers rely on the same limit.
std::string readSetting(const std::string& section, const std::string& key, const std::string& path);

// The settings writer of the program; failures are ignored as the original ignores them.
void writeSetting(const std::string& section, const std::string& key, const std::string& value,
                  const std::string& path);

}  // namespace quorvanti::platform
