#include "app/document_writer.h"

#include "platform/codepage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace app {

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

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool isUnsafeNamePart(std::string_view part) {
    if (part == "." || part == "..") return true;
    for (char c : part)
        if (c == '/' || c == '\\' || c == '\0') return true;
    return false;
}

void requireSafeNamePart(std::string_view what, std::string_view value) {
    if (!isUnsafeNamePart(value)) return;
    std::string shown;
    for (char c : value) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    throw DocumentWriteError(std::string(what) + " não serve para nome de arquivo: \"" +
                             platform::ansiToUtf8(shown) + "\"");
}

std::string fileSystemName(const std::string& ansiName) { return platform::ansiToUtf8(ansiName); }

void writeDocument(const std::string& fileName, std::string_view text) {
    auto fail = [&](int err) -> void {
        throw DocumentWriteError("Não foi possível gravar \"" + fileName + "\": " + reason(err));
    };
    if (fileName.empty() || fileName.back() == '/') fail(EISDIR);

    // Same folder, so the rename never crosses file systems; the name never
    // ends in ".XML", so nothing picks up a half-written document.
    std::string tmpl = fileName + ".XXXXXX";
    std::vector<char> temp(tmpl.begin(), tmpl.end());
    temp.push_back('\0');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) fail(errno);

    // mkstemp makes the file private; a document gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
    ok = ok && writeAll(fd, text.data(), text.size()) && writeAll(fd, "\r\n", 2);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.data(), fileName.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.data());
        fail(err);
    }
}

void syncFileSystem(const std::string& anyPathInside) {
    const int fd = ::open(folderOf(anyPathInside).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ::sync();
        return;
    }
    const int rc = ::syncfs(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        throw DocumentWriteError("Não foi possível gravar os arquivos em disco (" + folderOf(anyPathInside) +
                                 "): " + reason(err));
}

}  // namespace app
