#pragma once
// Profile functions over a plain INI text, with the semantics stored
// configurations rely on: section and key names compared without regard to
// letter case, an empty result for anything missing, values cut at 2047
// characters and stripped of one pair of enclosing quotes, a new key appended
// at the end of its section, the file created on the first write.
//
// Everything is bytes: values go in and come out exactly as stored, in the
// file's own 8-bit code page. Lines may end in CR LF or LF; a rewritten file
// keeps its lines byte for byte, new lines end like the file's first line
// (CR LF for a new file).
//
// Writes are atomic: the new contents go to a temporary file in the same
// folder, which is flushed and then renamed over the old one, so a crash or a
// full disk leaves either the old file or the new one, never a mix.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The reader's buffer holds 2048 characters with the terminating zero.
constexpr std::size_t kProfileValueMax = 2047;

// The value of `key` in `section` of `fileName`, or `defaultValue` when the
// file, the section or the key is missing. Never throws.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);

// Sets `key` in `section` to `value`, creating the file, the section or the
// key as needed. Returns false (errno set) when the file cannot be written;
// the old file is then untouched. A value holding a line break cannot be
// stored in a one-line INI entry and is refused (EINVAL).
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName);

// Sets several keys of one section in a single replacement of the file:
// either every value reaches it or none does.
bool WritePrivateProfileStrings(const std::string& section,
                                const std::vector<std::pair<std::string, std::string>>& values,
                                const std::string& fileName);

}  // namespace platform
