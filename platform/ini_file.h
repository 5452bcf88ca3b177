#pragma once
// Profile functions over a plain INI text, with the semantics stored
// configurations rely on: section and key names compared without regard to
// letter case, an empty result for anything missing, values cut at 2047
// characters and stripped of one pair of enclosing quotes, a new key appended
// at the end of its section, the file created on the first write.
//
// Everything is bytes: values go in and come out exactly as stored, in the
// file's own 8-bit code page. Lines may end in CR LF, LF or CR; a rewritten file
// keeps its lines byte for byte, new lines end like the file's first line
// (CR LF for a new file).
//
// Writes are atomic: the new contents go to a temporary file in the same
// folder, which is flushed and then renamed over the old one, so a crash or a
// full disk leaves either the old file or the new one, never a mix. The file
// keeps its owner, group and mode; a read-only file is never replaced. A
// leading UTF-8 byte-order mark is not part of the first line (and is kept).

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The reader's buffer holds 2048 characters with the terminating zero.
constexpr std::size_t kProfileValueMax = 2047;

// The value of `key` in `section` of `fileName`, or `defaultValue` when the
// file, the section or the key is missing. Never throws.
std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    const std::string& fileName);

// Every key of `section` in `fileName` with its value, in file order, read as
// GetPrivateProfileString reads one (quotes stripped, values cut); a key
// given twice keeps its first value. Empty when the file or section is missing.
std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const std::string& section,
                                                                          const std::string& fileName);
// Sets `key` in `section` to `value`, creating the file, the section or the
// key as needed. Returns false (errno set) when the file cannot be written;
// the old file is then untouched. A value holding a line break cannot be
// stored in a one-line INI entry and is refused (EINVAL).
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName);

// Whether a write to `fileName` would succeed now: takes every step of one
// (a temporary file beside it with the file's owner, group and mode, the
// current contents plus `growth` bytes written and flushed) but the rename,
// and removes the temporary file again. Returns false with errno set: EACCES
// for a read-only file, ENOSPC for a full disk, EISDIR for a folder, ...
bool ProbeProfileWrite(const std::string& fileName, std::size_t growth = 256);

// Whether the INI text `data` holds a header of `section` (same rules as the reader).
bool ProfileTextHasSection(std::string data, const std::string& section);

// Sets several keys of one section in a single replacement of the file:
// either every value reaches it or none does.
bool WritePrivateProfileStrings(const std::string& section,
                                const std::vector<std::pair<std::string, std::string>>& values,
                                const std::string& fileName);

}  // namespace platform
