#include "app/config_file.h"

#include "platform/ini_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

std::string quotedName(const std::string& fileName) { return "\"" + fileName + "\""; }

[[noreturn]] void badFile(const std::string& fileName, const std::string& problem) {
    throw ConfigReadError("O arquivo de configuração " + quotedName(fileName) + " " + problem);
}

// Control bytes that no text editor writes: a sign of a binary file.
bool looksBinary(const std::string& data) {
    for (unsigned char c : data)
        if (c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != 0x1A) return true;
    return false;
}

bool onlyBlanks(const std::string& data) {
    std::size_t start = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return data.find_first_not_of(" \t\r\n", start) == std::string::npos;
}

std::string writeReason(const std::string& fileName, int err) {
    struct stat st {};
    if (err == EACCES && ::stat(fileName.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return "the file is read-only";
    return std::strerror(err);
}

}  // namespace

bool ConfigFile::exists() const {
    struct stat st {};
    return ::stat(fileName_.c_str(), &st) == 0;
}

std::string ConfigFile::readString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) const {
    return platform::GetPrivateProfileString(section, key, defaultValue, fileName_);
}

void ConfigFile::writeString(const std::string& section, const std::string& key, const std::string& value) {
    if (!platform::WritePrivateProfileString(section, key, value, fileName_))
        throw ConfigWriteError("Unable to write to " + fileName_ + ": " + writeReason(fileName_, errno));
}

std::string configFilePath(const std::string& exeFolder) {
    std::string folder = exeFolder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + kConfigFileName;
}

void checkSettingsFile(const ConfigFile& file) {
    const std::string& name = file.fileName();
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0)
        throw ConfigReadError("Não foi possível ler o arquivo de configuração " + quotedName(name) + ": " +
                              std::strerror(errno));
    if (S_ISDIR(st.st_mode)) badFile(name, "é uma pasta, não um arquivo");
    if (!S_ISREG(st.st_mode)) badFile(name, "não é um arquivo comum");
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    std::string data;
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) err = errno;
            if (n <= 0) break;
            data.append(buf, std::size_t(n));
        }
        ::close(fd);
    }
    if (err)
        throw ConfigReadError("Não foi possível ler o arquivo de configuração " + quotedName(name) + ": " +
                              std::strerror(err));
    if (platform::ProfileTextHasSection(data, kConfigSection)) return;
    if (onlyBlanks(data)) badFile(name, "está vazio");
    if (looksBinary(data)) badFile(name, "não é um arquivo de texto");
    badFile(name, std::string("não tem a seção [") + kConfigSection + "]");
}

void checkSettingsWritable(const ConfigFile& file) {
    if (!platform::ProbeProfileWrite(file.fileName()))
        throw ConfigWriteError("Unable to write to " + file.fileName() + ": " + writeReason(file.fileName(), errno));
}

Settings loadSettings(const ConfigFile& file) {
    const std::string s = kConfigSection;
    Settings out;
    out.base = file.readString(s, "Base");
    out.data = file.readString(s, "Data");
    out.hora = file.readString(s, "Hora");
    out.stampHora = file.readString(s, "Hora");
    out.stampData = file.readString(s, "Data");
    out.pastaExportar = file.readString(s, "PastaExportar");
    // Exactly one capital S ticks a box; "s" or "Sim" do not.
    out.exportaEmitidas = file.readString(s, "ExportaEmitidas") == "S";
    out.exportaEmitidasVeiculos = file.readString(s, "ExportaEmitidasVeiculos") == "S";
    out.exportaRecebidas = file.readString(s, "ExportaRecebidas") == "S";
    return out;
}

void createDefaultSettings(ConfigFile& file) {
    const std::string s = kConfigSection;
    file.writeString(s, "Base", "");
    file.writeString(s, "Data", "01/01/2010");
    file.writeString(s, "Hora", "00:00:00");
    file.writeString(s, "PastaExportar", "");
    file.writeString(s, "ExportaEmitidas", "");
    file.writeString(s, "ExportaEmitidasVeiculos", "");
    file.writeString(s, "ExportaRecebidas", "");
}

ExportStamp& advanceStamp() {
    static ExportStamp stamp;
    return stamp;
}

void writeStamp(ConfigFile& file, const std::string& date, const std::string& time) {
    file.writeString(kConfigSection, "Data", date);
    file.writeString(kConfigSection, "Hora", time);
    advanceStamp().time = time;
    advanceStamp().date = date;
}

}  // namespace app
