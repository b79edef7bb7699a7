// INI files with the contract of the Windows private-profile calls, which the point-of-sale program on
// the other side still uses: sections and keys match without regard to case, a missing file or key
// reads as "", values are trimmed of surrounding blanks, a write keeps every other line as it was.
// On disk the files are Windows-1252 with CR LF line ends; the API speaks UTF-8.
// Writes take an advisory lock (on "<file>.lock") and replace the file atomically and durably (synced,
// renamed, folder synced), so a concurrent writer never loses a key and a reader never sees half a file.
// The appending writer (iniWriteAppending) takes the same lock but writes at the file's end. Safe to use
// from several threads and processes.
#pragma once

#include <string>

#include "platform/durable_file.h"

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
// The same, with `error` set to why it answered false (the errno of the failure; EINVAL for what one
// line cannot hold) and to 0 when it answered true.
bool iniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value, int& error);

// iniWrite for files that grow by a section at a time (one per sale), at a cost that does not grow with
// the file: the same format, lock and reading rules, but
//  - a section that is not in the file is appended at its end ("[section]" CR LF "key=value" CR LF, after
//    a CR LF for a last line that lacks one), and the file synced;
//  - when the section is the file's last, that section alone is written again in place, from its first
//    changed byte on (the file cut where it became shorter), and the file synced;
//  - a section found earlier in the file (the first of a repeated name wins, as for the reader) takes the
//    whole-file write of iniWrite.
// The file ends with the same bytes as iniWrite would leave. Each call reads the file once to find its
// section headers (a few milliseconds for 10 MB). The in-place writes are not atomic for a reader that
// does not take the lock: for the instant of the write it may see the end of the file being written; a
// failure puts the old bytes back (best effort) and leaves no partial section. Raises FileWriteError
// (with EINVAL for what one line cannot hold) when the key could not be written.
void iniWriteAppending(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& value);

// The settings reader of the program: iniRead cut to its first 199 characters, because the original
// reads through a 200-character buffer and peers rely on the same limit.
std::string readSetting(const std::string& section, const std::string& key, const std::string& path);

// The settings writer of the program; failures are ignored as the original ignores them.
void writeSetting(const std::string& section, const std::string& key, const std::string& value,
                  const std::string& path);

// writeSetting for what must not be lost: raises FileWriteError, with the real reason, when the file
// could not be written (EINVAL for what one line cannot hold).
void writeSettingChecked(const std::string& section, const std::string& key, const std::string& value,
                         const std::string& path);

}  // namespace quorvanti::platform
