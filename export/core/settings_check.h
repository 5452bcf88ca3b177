#pragma once
// Checks of the settings file an export makes before its first document: is
// it a settings file at all, and could the stamp be stored in it now. Both
// name the file and the real problem, instead of the misleading message an
// unusable file would otherwise give later.

#include "export/core/settings_section.h"  // kSettingsSection

#include <stdexcept>
#include <string>

namespace exports {

class SettingsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws SettingsFileError when the existing file cannot serve as the
// settings file: a folder or other non-file, unreadable, empty, binary, or
// without the [Configuracoes] section. A leading UTF-8 byte-order mark is
// fine. The reader alone would take such a file for one without values.
void checkSettingsFile(const std::string& fileName);

// Throws SettingsFileError ("Unable to write to <file>: <reason>") when the
// stamp could not be stored now: read-only file, folder not writable, full
// disk, an owner that cannot be kept. Writes nothing; call it before the
// first document of a run.
void checkSettingsWritable(const std::string& fileName);

// The reason a write of `fileName` failed with `err`, for "Unable to write to".
std::string settingsWriteReason(const std::string& fileName, int err);

// "Unable to write to <file>: <reason>", the one message of a settings file
// that cannot be written.
std::string unableToWrite(const std::string& fileName, int err);

}  // namespace exports
