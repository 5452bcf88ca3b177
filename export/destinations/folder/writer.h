#pragma once
// One exported document becomes one file: the stored bytes of its text
// followed by CR LF. The file appears under its final name whole or not at
// all: it is written as an unnamed file in the target folder and named when
// complete (an existing file is replaced through a temporary name beside it
// and a rename; where the file system has no unnamed files, the new file is
// written under such a temporary name too). Temporary names are short, of
// the form ".exportar-XXXXXX.tmp" beside the final file, never ending in ".XML".

#include "export/core/rules.h"  // the name rules a writer checks

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

namespace exports {

class DocumentWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws DocumentWriteError naming `what` (e.g. "chave de acesso") and the
// value when isUnsafeNamePart(value).
void requireSafeNamePart(std::string_view what, std::string_view value);

// Whether `name` (a bare file name) is one of the writer's temporary names.
bool isWriterTemporaryName(std::string_view name);

// Removes the writer's temporaries that a killed run left in `folder`: only
// regular files of the writer's own pattern directly inside it, never a
// symlink, a folder or any other name. A run calls it at its start, under the
// export lock, for every folder it writes into. Returns how many it removed.
int removeLeftoverTemporaries(const std::string& folder);
// The same inside an open folder.
int removeLeftoverTemporariesAt(int folderFd);

// Writes `text` + "\r\n" to `fileName` (a file system path). An existing file
// is replaced. Throws DocumentWriteError naming the file and the system's
// reason; no temporary file is left behind then. A last component longer
// than kMaxFileNameBytes fails before anything is written.
// NamedTemporary forces the way taken where unnamed files are not supported.
enum class WriteMethod { Auto, NamedTemporary };
void writeDocument(const std::string& fileName, std::string_view text, WriteMethod method = WriteMethod::Auto);

// Writes documents into one folder, opened once: a file costs no lookup of
// the folder's path, and a link put in the folder's place afterwards cannot
// lead the files elsewhere. `folder` is a file system path; with
// `mayBeLink` false a symbolic link there is refused. Throws DocumentWriteError.
class FolderWriter {
public:
    explicit FolderWriter(const std::string& folder, bool mayBeLink = true);
    // Takes over an open folder; `shown` names it in messages.
    FolderWriter(int folderFd, std::string shown);
    ~FolderWriter();
    FolderWriter(const FolderWriter&) = delete;
    FolderWriter& operator=(const FolderWriter&) = delete;

    // Writes `text` + "\r\n" as `name` (one component, file system bytes), as
    // writeDocument does, unless the file already holds exactly those bytes:
    // then it and its modification time are left alone, so folder-sync tools
    // are not woken for nothing. True when written.
    bool put(const std::string& name, std::string_view text, WriteMethod method = WriteMethod::Auto);

    int fd() const { return fd_; }
    const std::string& folder() const { return folder_; }

private:
    int fd_ = -1;
    std::string folder_;  // as given, for messages
};

// The folders a run writes into below the output folder. Each is reached from
// the output folder's open handle one component at a time, created when
// missing, and a symbolic link on the way is refused: however many folders a
// run touches and whatever is swapped in their place meanwhile, nothing is
// written outside the output folder. The output folder itself may be a link.
// Only so many folders stay open; one closed is reached again the same way,
// never through its path.
class FolderTree {
public:
    // `outputFolder`: a file system path. With `cleanTemporaries` (the run
    // holds the export lock) the temporaries a killed run left in a folder are
    // removed when this run first writes there. Throws DocumentWriteError.
    FolderTree(const std::string& outputFolder, bool cleanTemporaries);
    ~FolderTree();
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    // `relative`: "" for the output folder, else "a/b/" (file system bytes).
    FolderWriter& at(const std::string& relative);
    // The run already removed the temporaries there.
    void cleaned(const std::string& relative) { cleaned_.insert(relative); }

    static constexpr std::size_t kOpenFolders = 64;

private:
    int rootFd_ = -1;
    std::string root_;  // ends in '/', for messages
    bool clean_;
    std::map<std::string, std::unique_ptr<FolderWriter>> open_;
    std::set<std::string> cleaned_;
};

// Makes everything written so far on the file system of `anyPathInside`
// durable; done once before the export stamp moves past the files.
void syncFileSystem(const std::string& anyPathInside);

}  // namespace exports
