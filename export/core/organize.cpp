#include "export/core/organize.h"

#include "platform/codepage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace exports {
namespace {

constexpr std::string_view kBadKey = "chave-invalida";

bool isKeyOfDigits(std::string_view key) {
    if (key.size() != 44) return false;
    for (char c : key)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

[[noreturn]] void refuse(std::string_view pattern, const std::string& why) {
    std::string shown;
    for (char c : pattern) shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    throw OrganizeError("Organizar inválido \"" + platform::ansiToUtf8(shown) + "\": " + why);
}

std::string systemError(int err) { return std::strerror(err); }

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string_view kindFolder(std::string_view documentType) {
    const std::string_view t = trimmed(documentType);
    if (t == "NF") return "Emitidas";
    if (t == "NE") return "Recebidas";
    return "Outras";
}

FolderPattern::FolderPattern(std::string_view pattern) {
    if (trimmed(pattern).empty()) return;
    std::string_view rest = pattern;
    if (rest.front() == '/') refuse(pattern, "caminho absoluto não é permitido");
    // "{aaaa}/{mm}/" means the same as "{aaaa}/{mm}"
    if (rest.back() == '/') rest.remove_suffix(1);
    while (true) {
        const size_t slash = rest.find('/');
        const std::string_view text = rest.substr(0, slash);
        if (text.empty()) refuse(pattern, "nome de pasta vazio (\"//\")");
        if (text == "." || text == "..") refuse(pattern, "\"" + std::string(text) + "\" não é permitido");
        std::vector<Piece> pieces;
        for (size_t i = 0; i < text.size();) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c == '{') {
                const size_t close = text.find('}', i);
                if (close == text.npos) refuse(pattern, "\"{\" sem \"}\"");
                const std::string_view name = text.substr(i + 1, close - i - 1);
                Field field;
                if (name == "cnpj") field = Field::Issuer;
                else if (name == "aaaa") field = Field::Year;
                else if (name == "mm") field = Field::Month;
                else if (name == "tipo") field = Field::Kind;
                else if (name == "modelo") field = Field::Model;
                else
                    refuse(pattern, "campo desconhecido {" + platform::ansiToUtf8(std::string(name)) +
                                        "} (use {cnpj}, {aaaa}, {mm}, {tipo} ou {modelo})");
                pieces.push_back({field, {}});
                i = close + 1;
                continue;
            }
            if (c == '}') refuse(pattern, "\"}\" sem \"{\"");
            if (c == '\\') refuse(pattern, "use \"/\" para separar as pastas, não \"\\\"");
            if (c < 0x20 || c == 0x7F) refuse(pattern, "caractere de controle no nome");
            const size_t next = text.find_first_of("{}\\", i);
            const std::string_view literal = text.substr(i, next == text.npos ? text.npos : next - i);
            for (char lc : literal)
                if (static_cast<unsigned char>(lc) < 0x20 || lc == 0x7F)
                    refuse(pattern, "caractere de controle no nome");
            pieces.push_back({Field::Literal, platform::ansiToUtf8(std::string(literal))});
            i += literal.size();
        }
        components_.push_back(std::move(pieces));
        if (slash == rest.npos) break;
        rest.remove_prefix(slash + 1);
    }
}

bool FolderPattern::usesDocumentType() const {
    for (const auto& component : components_)
        for (const Piece& piece : component)
            if (piece.field == Field::Kind) return true;
    return false;
}

std::vector<std::string> FolderPattern::folders(const FolderFacts& facts) const {
    const bool keyOk = isKeyOfDigits(facts.accessKey);
    const std::string_view key = facts.accessKey;
    std::vector<std::string> out;
    out.reserve(components_.size());
    for (const auto& pieces : components_) {
        std::string name;
        for (const Piece& p : pieces) {
            switch (p.field) {
            case Field::Literal: name += p.literal; break;
            case Field::Issuer: name += keyOk ? key.substr(6, 14) : kBadKey; break;
            case Field::Year:
                if (keyOk) {
                    name += "20";
                    name += key.substr(2, 2);
                } else {
                    name += kBadKey;
                }
                break;
            case Field::Month: name += keyOk ? key.substr(4, 2) : kBadKey; break;
            case Field::Kind: name += kindFolder(facts.documentType); break;
            case Field::Model: name += keyOk ? key.substr(20, 2) : kBadKey; break;
            }
        }
        // Values come from digits or fixed words, and literals were checked,
        // so only "." / ".." made of literal dots around empty values remain.
        if (name == "." || name == "..") throw OrganizeError("Organizar: a pasta \"" + name + "\" não é permitida");
        out.push_back(std::move(name));
    }
    return out;
}

std::string makeFoldersInside(const std::string& base, const std::vector<std::string>& folders) {
    std::string path = base;
    if (!path.empty() && path.back() != '/') path += '/';
    Fd dir(::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) throw OrganizeError("Não foi possível abrir a pasta \"" + base + "\": " + systemError(errno));
    for (const std::string& name : folders) {
        if (name.empty() || name == "." || name == ".." || name.find('/') != name.npos || name.find('\0') != name.npos)
            throw OrganizeError("Nome de pasta inválido \"" + name + "\"");
        path += name;
        int fd = ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(dir.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
                throw OrganizeError("Não foi possível criar a pasta \"" + path + "\": " + systemError(errno));
            fd = ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            const int err = errno;
            struct stat st {};
            if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                throw OrganizeError("A pasta \"" + path + "\" é um link simbólico; por segurança nada é gravado nela");
            if (err == ENOTDIR) throw OrganizeError("\"" + path + "\" existe e não é uma pasta");
            throw OrganizeError("Não foi possível abrir a pasta \"" + path + "\": " + systemError(err));
        }
        dir = Fd(fd);
        path += '/';
    }
    return path;
}

OrganizedFolders::OrganizedFolders(std::string base, FolderPattern pattern)
    : base_(std::move(base)), pattern_(std::move(pattern)) {}

std::string OrganizedFolders::folderFor(const FolderFacts& facts) {
    if (pattern_.flat()) return base_;
    const std::vector<std::string> folders = pattern_.folders(facts);
    std::string relative;
    for (const auto& f : folders) relative += f + '/';
    auto it = made_.find(relative);
    if (it == made_.end()) it = made_.emplace(relative, makeFoldersInside(base_, folders)).first;
    return it->second;
}

}  // namespace exports
