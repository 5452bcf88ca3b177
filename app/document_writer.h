#pragma once
// One exported document becomes one file: the stored bytes of its text
// followed by CR LF. The file appears under its final name whole or not at
// all: it is written under a temporary name beside it and renamed over it.

#include <stdexcept>
#include <string>
#include <string_view>

namespace app {

class DocumentWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A name component taken from the database (access key, tax number) that
// could lead out of the output folder: a path separator, a NUL, or "." / "..".
bool isUnsafeNamePart(std::string_view part);

// Throws DocumentWriteError naming `what` (e.g. "chave de acesso") and the
// value when isUnsafeNamePart(value).
void requireSafeNamePart(std::string_view what, std::string_view value);

// The file system path of a name composed from the 8-bit code page texts
// (output folder, prefixes, access key): converted to UTF-8.
std::string fileSystemName(const std::string& ansiName);

// Writes `text` + "\r\n" to `fileName` (a file system path). An existing file
// is replaced. Throws DocumentWriteError naming the file and the system's
// reason; no temporary file is left behind then.
void writeDocument(const std::string& fileName, std::string_view text);

// Makes everything written so far on the file system of `anyPathInside`
// durable; done once before the export stamp moves past the files.
void syncFileSystem(const std::string& anyPathInside);

}  // namespace app
