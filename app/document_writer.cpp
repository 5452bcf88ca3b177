#include "app/document_writer.h"

#include "platform/codepage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <random>

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
    // ends in ".XML", so nothing picks up a half-written document. Created
    // with the usual permissions (the umask applies), like any new file.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = fileName + "." + uniqueSuffix();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100)) fail(errno);
    }

    bool ok = writeAll(fd, text.data(), text.size()) && writeAll(fd, "\r\n", 2);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), fileName.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
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
