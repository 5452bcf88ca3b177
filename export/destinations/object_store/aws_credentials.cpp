#include "export/destinations/object_store/aws_credentials.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace exports {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// A core dump would hold the keys: none from here on.
void noCoreDumps() {
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

AwsKeys loadKeys(const std::string& profile);

}  // namespace

std::string credentialsProfile(const std::string& configured) {
    const std::string given = trim(configured);
    if (!given.empty()) return given;
    const std::string env = trim(envText("AWS_PROFILE"));
    return env.empty() ? "default" : env;
}

AwsKeys parseCredentialsText(const std::string& text, const std::string& profile) {
    AwsKeys keys;
    bool inProfile = false, seen = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            std::string name = trim(line.substr(1, line.size() - 2));
            // The config file's spelling, "[profile name]", is taken too.
            if (name.rfind("profile ", 0) == 0) name = trim(name.substr(8));
            inProfile = name == profile;
            seen = seen || inProfile;
            continue;
        }
        if (!inProfile) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        if (name == "aws_access_key_id") keys.accessKey = value;
        else if (name == "aws_secret_access_key") keys.secretKey = value;
        else if (name == "aws_session_token") keys.sessionToken = value;
    }
    if (!seen) throw std::runtime_error("perfil [" + profile + "] ausente no arquivo de credenciais");
    if (keys.accessKey.empty() || keys.secretKey.empty())
        throw std::runtime_error("perfil [" + profile +
                                 "] sem aws_access_key_id ou aws_secret_access_key no arquivo de credenciais");
    return keys;
}

AwsKeys loadAwsKeys(const std::string& configuredProfile) {
    // Before the file is read: its text holds the secret too.
    noCoreDumps();
    AwsKeys keys = loadKeys(credentialsProfile(configuredProfile));
    // They travel in request headers: a line break would add headers of its own.
    for (const std::string* k : {&keys.accessKey, &keys.secretKey, &keys.sessionToken})
        for (unsigned char c : *k)
            if (c < 0x20 || c == 0x7F)
                throw std::runtime_error(
                    "Nuvem: as chaves (ou o token de sessão) contêm um caractere de controle; "
                    "confira como foram copiadas");
    return keys;
}

namespace {

AwsKeys loadKeys(const std::string& profile) {
    AwsKeys env{envText("AWS_ACCESS_KEY_ID"), envText("AWS_SECRET_ACCESS_KEY"), envText("AWS_SESSION_TOKEN")};
    if (!env.accessKey.empty() && !env.secretKey.empty()) return env;
    // Half a set of keys is a mistake, not a wish to use the file: the other
    // tools refuse it too.
    if (!env.accessKey.empty() || !env.secretKey.empty() || !env.sessionToken.empty()) {
        std::string missing = env.accessKey.empty() ? "AWS_ACCESS_KEY_ID" : "AWS_SECRET_ACCESS_KEY";
        if (env.accessKey.empty() && env.secretKey.empty()) missing = "AWS_ACCESS_KEY_ID e AWS_SECRET_ACCESS_KEY";
        throw std::runtime_error("Nuvem: chaves incompletas no ambiente: falta " + missing +
                                 " (defina as duas, ou nenhuma para usar o perfil [" + profile +
                                 "] do arquivo de credenciais)");
    }

    std::string path = envText("AWS_SHARED_CREDENTIALS_FILE");
    if (path.empty()) {
        const std::string home = envText("HOME");
        if (home.empty())
            throw std::runtime_error(
                "Nuvem: sem chaves (AWS_ACCESS_KEY_ID/AWS_SECRET_ACCESS_KEY) e sem HOME para achar ~/.aws/credentials");
        path = home + "/.aws/credentials";
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(
            "Nuvem: sem chaves (AWS_ACCESS_KEY_ID/AWS_SECRET_ACCESS_KEY) e o arquivo de credenciais " + path +
            " não abre: " + std::strerror(errno));
    struct stat st {};
    // The mode of the file actually opened, whatever a link pointed at.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error("Nuvem: o arquivo de credenciais " + path + " não é um arquivo comum");
    }
    if (st.st_mode & (S_IRGRP | S_IROTH)) {
        ::close(fd);
        throw std::runtime_error("Nuvem: o arquivo de credenciais " + path +
                                 " pode ser lido por outros usuários; recusado (chmod 600 " + path + ")");
    }
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buf, static_cast<size_t>(got));
        if (text.size() > (1u << 20)) break;
    }
    ::close(fd);
    try {
        return parseCredentialsText(text, profile);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("Nuvem: ") + e.what() + " " + path);
    }
}

}  // namespace

}  // namespace exports
