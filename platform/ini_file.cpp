#include "platform/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

struct Line {
    std::string text;  // without its terminator
    std::string eol;   // "\r\n", "\n" or "" (last line without one)
};

// Lines end in CR LF, LF or, as old Mac editors save them, a lone CR.
std::vector<Line> splitLines(const std::string& data) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t end = data.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back({data.substr(pos), ""});
            break;
        }
        std::string eol = data.compare(end, 2, "\r\n") == 0 ? "\r\n" : data.substr(end, 1);
        lines.push_back({data.substr(pos, end - pos), eol});
        pos = end + eol.size();
    }
    return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// "[name]" -> name; false for any other line.
bool sectionName(const std::string& line, std::string& name) {
    std::string t = trim(line);
    if (t.empty() || t[0] != '[') return false;
    std::size_t close = t.find(']');
    name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// "key=value" -> key and raw value (both trimmed); false for lines without '='.
bool keyValue(const std::string& line, std::string& key, std::string& value) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return true;
}

bool readWholeFile(const std::string& fileName, std::string& out, bool& exists) {
    out.clear();
    exists = false;
    // Non-blocking: a FIFO in the file's place must not hang the program.
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT;
    exists = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = e;
        return false;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            errno = e;
            return false;
        }
        if (n == 0) break;
        out.append(buf, std::size_t(n));
    }
    ::close(fd);
    return true;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

// 0 when we may write `path`, else why not: a file the user made read-only
// (no write permission bit at all; root passes access(), so the bits are
// looked at too), one not writable for us, or a read-only file system.
int writeRefusal(const std::string& path, const struct stat& st) {
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
    if (::access(path.c_str(), W_OK) != 0) return errno == EROFS ? EROFS : EACCES;
    return 0;
}

// Temporary file beside the target, with the target's owner, group and mode,
// flushed, then renamed over it. With `probeOnly` every step but the rename
// is taken and the temporary file removed again: what would fail, fails now.
bool replaceFileAtomically(const std::string& fileName, const std::string& data, bool probeOnly = false) {
    std::string target = fileName;
    // Keep a symbolic link in place: write where it points.
    char resolved[PATH_MAX];
    struct stat st {};
    bool existed = ::lstat(fileName.c_str(), &st) == 0;
    if (existed && S_ISLNK(st.st_mode) && ::realpath(fileName.c_str(), resolved)) target = resolved;
    existed = ::stat(target.c_str(), &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // Renaming over a read-only file would replace it behind the user's back.
    if (int refusal = existed ? writeRefusal(target, st) : 0) {
        errno = refusal;
        return false;
    }

    std::string dir = ".", base = target;
    if (std::size_t slash = target.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : target.substr(0, slash);
        base = target.substr(slash + 1);
    }
    std::string tmpl = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return false;

    mode_t mode;
    if (existed) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = true;
    if (existed) {
        // The replacement must keep the owner and group; when that is not
        // allowed (someone else's file), the file is not replaced at all.
        struct stat mine {};
        ok = ::fstat(fd, &mine) == 0 &&
             ((mine.st_uid == st.st_uid && mine.st_gid == st.st_gid) || ::fchown(fd, st.st_uid, st.st_gid) == 0);
    }
    ok = ok && ::fchmod(fd, mode) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    int e = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (ok && !probeOnly && ::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        e = errno;
    }
    if (!ok || probeOnly) {
        ::unlink(name.data());
        errno = e;
        return ok;
    }
    // The rename itself reaches the disk with the folder.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool hasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Windows editors start a file they save as UTF-8 with this mark; it is not
// part of the first line.
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

std::string takeByteOrderMark(std::string& data) {
    if (data.compare(0, 3, kUtf8Bom) != 0) return {};
    data.erase(0, 3);
    return kUtf8Bom;
}

// A value as the reader hands it over: one pair of enclosing quotes dropped, cut.
std::string storedValue(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2).substr(0, kProfileValueMax);
    return v.substr(0, kProfileValueMax);
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    const std::string& fileName) {
    std::string data;
    bool exists = false;
    if (!readWholeFile(fileName, data, exists) || !exists) return defaultValue.substr(0, kProfileValueMax);
    takeByteOrderMark(data);

    bool inSection = false;
    for (const Line& line : splitLines(data)) {
        std::string name, k, v;
        if (sectionName(line.text, name)) {
            // The first matching section is the one that counts.
            if (inSection) break;
            inSection = sameName(name, section);
            continue;
        }
        if (!inSection || !keyValue(line.text, k, v) || !sameName(k, key)) continue;
        return storedValue(v);
    }
    return defaultValue.substr(0, kProfileValueMax);
}

std::vector<std::pair<std::string, std::string>> GetPrivateProfileSection(const std::string& section,
                                                                          const std::string& fileName) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::string data;
    bool exists = false;
    if (!readWholeFile(fileName, data, exists) || !exists) return lines;
    takeByteOrderMark(data);
    bool inSection = false;
    for (const Line& line : splitLines(data)) {
        std::string name, k, v;
        if (sectionName(line.text, name)) {
            if (inSection) break;
            inSection = sameName(name, section);
            continue;
        }
        if (!inSection || !keyValue(line.text, k, v)) continue;
        bool seen = false;
        for (const auto& [have, value] : lines) seen = seen || sameName(have, k);
        if (seen) continue;
        lines.emplace_back(std::move(k), storedValue(v));
    }
    return lines;
}

bool ProfileTextHasSection(std::string data, const std::string& section) {
    takeByteOrderMark(data);
    for (const Line& line : splitLines(data)) {
        std::string name;
        if (sectionName(line.text, name) && sameName(name, section)) return true;
    }
    return false;
}

bool ProbeProfileWrite(const std::string& fileName, std::size_t growth) {
    std::string data;
    bool exists = false;
    if (!readWholeFile(fileName, data, exists)) return false;
    // Room for the file as it is now and the growth a write may bring.
    data.append(growth, ' ');
    return replaceFileAtomically(fileName, data, true);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
    return WritePrivateProfileStrings(section, {{key, value}}, fileName);
}

bool WritePrivateProfileStrings(const std::string& section,
                                const std::vector<std::pair<std::string, std::string>>& values,
                                const std::string& fileName) {
    bool refused = section.empty() || hasLineBreak(section) || section.find(']') != std::string::npos ||
                   trim(section) != section;
    for (const auto& [key, value] : values)
        refused = refused || key.empty() || hasLineBreak(key) || hasLineBreak(value) ||
                  key.find('=') != std::string::npos || trim(key) != key;
    if (refused) {
        errno = EINVAL;
        return false;
    }
    std::string data;
    bool exists = false;
    if (!readWholeFile(fileName, data, exists)) return false;
    const std::string bom = takeByteOrderMark(data);

    std::vector<Line> lines = splitLines(data);
    const std::string eol = (!lines.empty() && !lines.front().eol.empty()) ? lines.front().eol : "\r\n";

    for (const auto& [key, value] : values) {
        // Locate the section and, inside it, the key and the last non-blank line.
        std::ptrdiff_t header = -1, keyLine = -1, lastContent = -1;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string name, k, v;
            if (sectionName(lines[i].text, name)) {
                if (header >= 0) break;
                if (sameName(name, section)) header = lastContent = std::ptrdiff_t(i);
                continue;
            }
            if (header < 0) continue;
            if (!trim(lines[i].text).empty()) lastContent = std::ptrdiff_t(i);
            if (keyLine < 0 && keyValue(lines[i].text, k, v) && sameName(k, key)) keyLine = std::ptrdiff_t(i);
        }

        if (keyLine >= 0) {
            std::string k, v;
            keyValue(lines[std::size_t(keyLine)].text, k, v);
            lines[std::size_t(keyLine)].text = k + "=" + value;
        } else if (header >= 0) {
            std::size_t at = std::size_t(lastContent);
            if (lines[at].eol.empty()) lines[at].eol = eol;
            lines.insert(lines.begin() + std::ptrdiff_t(at) + 1, Line{key + "=" + value, eol});
        } else {
            if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = eol;
            lines.push_back({"[" + section + "]", eol});
            lines.push_back({key + "=" + value, eol});
        }
    }

    std::string out = bom;
    out.reserve(data.size() + 64);
    for (const Line& l : lines) out += l.text + l.eol;
    return replaceFileAtomically(fileName, out);
}

}  // namespace platform
