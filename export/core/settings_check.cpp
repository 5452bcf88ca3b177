#include "export/core/settings_check.h"

#include "platform/ini_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace exports {

namespace {

std::string quotedName(const std::string& fileName) { return "\"" + fileName + "\""; }

[[noreturn]] void badFile(const std::string& fileName, const std::string& problem) {
    throw SettingsFileError("O arquivo de configuração " + quotedName(fileName) + " " + problem);
}

[[noreturn]] void unreadable(const std::string& fileName, int err) {
    throw SettingsFileError("Não foi possível ler o arquivo de configuração " + quotedName(fileName) + ": " +
                            std::strerror(err));
}

// Control bytes that no text editor writes: a sign of a binary file.
bool looksBinary(const std::string& data) {
    for (unsigned char c : data)
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != 0x1A) return true;
    return false;
}

bool onlyBlanks(const std::string& data) {
    const std::size_t start = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return data.find_first_not_of(" \t\r\n", start) == std::string::npos;
}

}  // namespace

void checkSettingsFile(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) unreadable(fileName, errno);
    if (S_ISDIR(st.st_mode)) badFile(fileName, "é uma pasta, não um arquivo");
    if (!S_ISREG(st.st_mode)) badFile(fileName, "não é um arquivo comum");
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) unreadable(fileName, errno);
    std::string data;
    int err = 0;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        data.append(buf, std::size_t(n));
    }
    ::close(fd);
    if (err) unreadable(fileName, err);
    if (platform::ProfileTextHasSection(data, kSettingsSection)) return;
    if (onlyBlanks(data)) badFile(fileName, "está vazio");
    if (looksBinary(data)) badFile(fileName, "não é um arquivo de texto");
    badFile(fileName, std::string("não tem a seção [") + kSettingsSection + "]");
}

std::string settingsWriteReason(const std::string& fileName, int err) {
    struct stat st {};
    if (err == EACCES && ::stat(fileName.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return "the file is read-only";
    return std::strerror(err);
}

std::string unableToWrite(const std::string& fileName, int err) {
    return "Unable to write to " + fileName + ": " + settingsWriteReason(fileName, err);
}

void checkSettingsWritable(const std::string& fileName) {
    if (!platform::ProbeProfileWrite(fileName)) {
        const int err = errno;
        throw SettingsFileError(unableToWrite(fileName, err));
    }
}

}  // namespace exports
