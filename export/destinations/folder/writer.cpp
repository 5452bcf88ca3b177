#include "export/destinations/folder/writer.h"

#include "export/core/rules.h"
#include "platform/codepage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cstdint>
#include <random>
#include <atomic>
#include <algorithm>

namespace exports {

namespace {

std::string reason(int err) { return std::strerror(err); }

bool writeAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The text and its CR LF in one call when the system takes it all at once.
bool writeDocumentBytes(int fd, std::string_view text) {
    iovec parts[2] = {{const_cast<char*>(text.data()), text.size()}, {const_cast<char*>("\r\n"), 2}};
    ssize_t n;
    do n = ::writev(fd, parts, 2);
    while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    const size_t done = static_cast<size_t>(n);
    if (done >= text.size()) return writeAll(fd, "\r\n" + (done - text.size()), text.size() + 2 - done);
    return writeAll(fd, text.data() + done, text.size() - done) && writeAll(fd, "\r\n", 2);
}

// Six characters that differ between calls and between processes.
std::string uniqueSuffix() {
    static std::mt19937_64 rng{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    uint64_t v = rng();
    std::string s(6, '0');
    for (char& c : s) {
        c = digits[v % 62];
        v /= 62;
    }
    return s;
}

// The folder to open for a path: "." when it names none.
std::string folderToOpen(const std::string& path) {
    const std::string folder = folderOf(path);
    return folder.empty() ? "." : folder;
}

std::string_view lastComponent(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

constexpr std::string_view kTempPrefix = ".exportar-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr size_t kTempRandom = 6;

// A temporary name, short whatever the final name's length, hidden, and
// never ending in ".XML": ".exportar-XXXXXX.tmp".
std::string temporaryName() { return std::string(kTempPrefix) + uniqueSuffix() + std::string(kTempSuffix); }

}  // namespace

void requireSafeNamePart(std::string_view what, std::string_view value) {
    if (!isUnsafeNamePart(value)) return;
    std::string shown;
    for (char c : value) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    throw DocumentWriteError(std::string(what) + " não serve para nome de arquivo: \"" + platform::ansiToUtf8(shown) +
                             "\"");
}

bool isWriterTemporaryName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + kTempRandom + kTempSuffix.size()) return false;
    if (name.substr(0, kTempPrefix.size()) != kTempPrefix ||
        name.substr(name.size() - kTempSuffix.size()) != kTempSuffix)
        return false;
    for (char c : name.substr(kTempPrefix.size(), kTempRandom))
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

int removeLeftoverTemporaries(const std::string& folder) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;  // nothing of ours can be there
    const int removed = removeLeftoverTemporariesAt(dirFd);
    ::close(dirFd);
    return removed;
}

int removeLeftoverTemporariesAt(int folderFd) {
    // The listing consumes its descriptor; the caller keeps its own.
    const int dirFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (!isWriterTemporaryName(e->d_name)) continue;
        // Only regular files: a symlink or a folder of that name is not ours.
        struct stat st {};
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlinkat(dirFd, e->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

namespace {

[[noreturn]] void failWrite(const std::string& fileName, int err) {
    throw DocumentWriteError("Não foi possível gravar \"" + fileName + "\": " + reason(err));
}

[[noreturn]] void failNameTooLong(const std::string& fileName) {
    throw DocumentWriteError("Não foi possível gravar \"" + fileName + "\": o nome tem " +
                             std::to_string(lastComponent(fileName).size()) + " bytes, mais que os " +
                             std::to_string(kMaxFileNameBytes) + " que um nome de arquivo permite");
}

// One file of a folder opened as `dir`; `shown` is its path for messages.
struct Target {
    int dir;
    const std::string& name;
    const std::string& shown;
};

// True when the file already holds exactly `text` + CR LF.
bool holdsDocument(const Target& t, std::string_view text) {
    // Not blocking: a FIFO planted under the name would wait for a writer forever.
    const int fd = ::openat(t.dir, t.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const size_t size = documentFileSize(text);
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) == size;
    std::string buffer(same ? std::min<size_t>(size, 65536) : 0, '\0');
    for (size_t done = 0; same && done < size;) {
        const ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            same = false;
            break;
        }
        const size_t got = static_cast<size_t>(n);
        same = documentBytesMatch(text, done, std::string_view(buffer.data(), got));
        done += got;
    }
    ::close(fd);
    return same;
}

// Links the unnamed file `fd` as `name` in `dir`. The direct form needs a
// capability older kernels ask for; the /proc form works for everyone.
int linkUnnamed(int fd, int dir, const std::string& name) {
    static std::atomic<bool> direct{true};
    if (direct) {
        if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno == EEXIST) return -1;
    }
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    const int rc = ::linkat(AT_FDCWD, proc, dir, name.c_str(), AT_SYMLINK_FOLLOW);
    if (rc == 0) direct = false;
    return rc;
}

// Gives a finished file its name through a temporary name beside it and a
// rename, which replaces an existing file in one step. With an empty
// `namedTemp`, `fd` is an unnamed file that first gets a temporary name.
void replaceInto(const Target& t, int fd, std::string namedTemp) {
    if (namedTemp.empty()) {
        for (int attempt = 0;; ++attempt) {
            namedTemp = temporaryName();
            if (linkUnnamed(fd, t.dir, namedTemp) == 0) break;
            if (errno != EEXIST || attempt >= 100) failWrite(t.shown, errno);
        }
    }
    if (::renameat(t.dir, namedTemp.c_str(), t.dir, t.name.c_str()) != 0) {
        const int err = errno;
        ::unlinkat(t.dir, namedTemp.c_str(), 0);
        failWrite(t.shown, err);
    }
}

// Where the file system cannot make unnamed files: a named temporary file.
void writeThroughNamedTemp(const Target& t, std::string_view text) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = temporaryName();
        fd = ::openat(t.dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100)) failWrite(t.shown, errno);
    }
    bool ok = writeDocumentBytes(fd, text);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlinkat(t.dir, temp.c_str(), 0);
        failWrite(t.shown, err);
    }
    replaceInto(t, -1, temp);
}

// Writes the file unless `keepSame` and it already holds the bytes; true when written.
bool writeInto(const Target& t, std::string_view text, WriteMethod method, bool keepSame) {
    // Refused before anything is written: such a name could never be created.
    if (t.name.empty()) failWrite(t.shown, EISDIR);
    if (!fileNameFits(t.name)) failNameTooLong(t.shown);
    if (method == WriteMethod::NamedTemporary) {
        if (keepSame && holdsDocument(t, text)) return false;
        writeThroughNamedTemp(t, text);
        return true;
    }

    // The document is written into an unnamed file in the target folder and
    // gets its name only when complete: a crash leaves neither a partial
    // document nor a temporary file. Created with the usual permissions.
    // A new name, the common case, costs no look at the folder first.
    const int fd = ::openat(t.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (keepSame && holdsDocument(t, text)) return false;
        writeThroughNamedTemp(t, text);
        return true;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (!writeDocumentBytes(fd, text)) failWrite(t.shown, errno);
    if (linkUnnamed(fd, t.dir, t.name) == 0) return true;
    if (errno == EEXIST) {
        // The unnamed file goes away with its descriptor.
        if (keepSame && holdsDocument(t, text)) return false;
        replaceInto(t, fd, {});  // an existing file (or folder) of that name
        return true;
    }
    // Without /proc the unnamed file cannot be named: write it again the other way.
    writeThroughNamedTemp(t, text);
    return true;
}

}  // namespace

void writeDocument(const std::string& fileName, std::string_view text, WriteMethod method) {
    if (fileName.empty() || fileName.back() == '/') failWrite(fileName, EISDIR);
    if (!fileNameFits(fileName)) failNameTooLong(fileName);
    const int dir = ::open(folderToOpen(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) failWrite(fileName, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{dir};
    const std::string name(lastComponent(fileName));
    writeInto({dir, name, fileName}, text, method, false);
}

FolderWriter::FolderWriter(const std::string& folder, bool mayBeLink) : folder_(folder) {
    // Without the trailing '/': with it the system follows a link whatever the flags say.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) path = ".";
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (mayBeLink ? 0 : O_NOFOLLOW));
    if (fd_ < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR) {
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                throw DocumentWriteError("\"" + path + "\" é um link, não uma pasta: nada foi gravado através dele");
        }
        throw DocumentWriteError("Não foi possível gravar em \"" + folder + "\": " + reason(err));
    }
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

FolderWriter::FolderWriter(int folderFd, std::string shown) : fd_(folderFd), folder_(std::move(shown)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

FolderWriter::~FolderWriter() { ::close(fd_); }

FolderTree::FolderTree(const std::string& outputFolder, bool cleanTemporaries)
    : root_(outputFolder), clean_(cleanTemporaries) {
    if (!root_.empty() && root_.back() != '/') root_ += '/';
    // The output folder may be a link: the user chose where it points.
    rootFd_ = ::open(root_.empty() ? "." : root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0) throw DocumentWriteError("Não foi possível gravar em \"" + root_ + "\": " + reason(errno));
}

FolderTree::~FolderTree() {
    open_.clear();
    ::close(rootFd_);
}

FolderWriter& FolderTree::at(const std::string& relative) {
    if (auto it = open_.find(relative); it != open_.end()) return *it->second;
    if (open_.size() >= kOpenFolders) open_.clear();
    int fd = ::openat(rootFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw DocumentWriteError("Não foi possível gravar em \"" + root_ + "\": " + reason(errno));
    std::string shown = root_;
    for (size_t from = 0; from < relative.size();) {
        size_t slash = relative.find('/', from);
        if (slash == std::string::npos) slash = relative.size();
        const std::string name = relative.substr(from, slash - from);
        from = slash + 1;
        if (name.empty()) continue;
        shown += name + "/";
        if (name == "." || name == "..") {
            ::close(fd);
            throw DocumentWriteError("Pasta inválida \"" + shown + "\"");
        }
        if (::mkdirat(fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
            const int err = errno;
            ::close(fd);
            throw DocumentWriteError("Não foi possível criar a pasta \"" + shown + "\": " + reason(err));
        }
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int err = errno;
            struct stat st {};
            const bool link = ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            ::close(fd);
            if (link)
                throw DocumentWriteError("\"" + shown + "\" é um link, não uma pasta: nada foi gravado através dele");
            throw DocumentWriteError("Não foi possível gravar em \"" + shown + "\": " + reason(err));
        }
        ::close(fd);
        fd = next;
    }
    auto writer = std::make_unique<FolderWriter>(fd, shown);
    if (clean_ && cleaned_.insert(relative).second) removeLeftoverTemporariesAt(fd);
    return *open_.emplace(relative, std::move(writer)).first->second;
}

bool FolderWriter::put(const std::string& name, std::string_view text, WriteMethod method) {
    const std::string shown = folder_ + name;
    // One component only: a separator would leave the folder opened here.
    if (name.find('/') != std::string::npos || name == "." || name == "..") failWrite(shown, EINVAL);
    return writeInto({fd_, name, shown}, text, method, true);
}

void syncFileSystem(const std::string& anyPathInside) {
    const int fd = ::open(folderToOpen(anyPathInside).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ::sync();
        return;
    }
    const int rc = ::syncfs(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        throw DocumentWriteError("Não foi possível gravar os arquivos em disco (" + folderToOpen(anyPathInside) +
                                 "): " + reason(err));
}

}  // namespace exports
