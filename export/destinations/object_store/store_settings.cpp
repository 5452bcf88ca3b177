#include "export/destinations/object_store/store_settings.h"

#include "export/destinations/object_store/aws_credentials.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace exports {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool loopback(const std::string& host) {
    if (host == "localhost" || host == "[::1]") return true;
    in_addr a{};
    return ::inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

const char* const kRetentionEnd = "2106-02-07";

[[noreturn]] void refuse(const std::string& why) { throw std::invalid_argument(why); }

}  // namespace

std::string StoreSettings::place() const {
    return prefix.empty() ? bucket : bucket + "/" + prefix.substr(0, prefix.size() - 1);
}

std::string StoreSettings::companyPrefix() const { return company.empty() ? prefix : prefix + company + "/"; }

namespace {

// Module-11 check digit over `digits` with weights cycling from 2 upwards
// (up to `maxWeight`) from the right.
int mod11(const std::string& digits, int maxWeight) {
    int sum = 0, weight = 2;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = weight == maxWeight ? 2 : weight + 1;
    }
    const int r = sum % 11;
    return r < 2 ? 0 : 11 - r;
}

}  // namespace

void requireCompany(const StoreSettings& settings) {
    // Every key carries its company: the office's bucket is shared, and two
    // companies must never write one key.
    if (settings.company.empty())
        throw std::runtime_error(
            "Nuvem pede NuvemEmpresa: o CNPJ ou CPF da empresa, que separa os seus arquivos no "
            "bucket dos de outras empresas");
}

std::string companyDigits(const std::string& text) {
    // Plain digits, or written with the usual mask and nothing else.
    auto masked = [&](const char* mask) {
        if (text.size() != std::strlen(mask)) return false;
        for (size_t i = 0; i < text.size(); ++i)
            if (mask[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != mask[i]) return false;
        return true;
    };
    std::string d;
    for (char c : text)
        if (std::isdigit(static_cast<unsigned char>(c))) d += c;
    if (d.size() != text.size() && !masked("99.999.999/9999-99") && !masked("999.999.999-99")) return {};
    if (d.size() != 14 && d.size() != 11) return {};
    if (d.find_first_not_of(d[0]) == std::string::npos) return {};  // 000…, 111…: not a number anyone has
    // CNPJ weights run 2..9, CPF weights grow without wrapping.
    const int maxWeight = d.size() == 14 ? 9 : 11;
    const std::string body = d.substr(0, d.size() - 2);
    const int first = mod11(body, maxWeight);
    const int second = mod11(body + char('0' + first), maxWeight);
    if (d[d.size() - 2] != '0' + first || d.back() != '0' + second) return {};
    return d;
}

int maxRetentionDays(std::chrono::system_clock::time_point now) {
    // 2106-02-07 06:28:15 UTC is the last second an unsigned 32-bit count
    // holds; radosgw keeps a retention date that way and wraps past it. A
    // year short of it leaves room for the runs of the year to come.
    constexpr long long lastSecond = 4294967295LL;
    const long long nowSeconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const long long days = (lastSecond - nowSeconds) / 86400 - 366;
    return days < 1 ? 0 : static_cast<int>(days);
}

std::optional<StoreSettings> parseStoreSettings(const StoreSettingsText& text,
                                                std::chrono::system_clock::time_point now) {
    const std::string url = trim(text.url);
    if (url.empty()) return std::nullopt;
    StoreSettings s;
    // Keys pasted into the address (user:secret@, a signed query) are refused
    // before anything else, and no refusal below repeats the text.
    if (url.find('@') != std::string::npos)
        refuse(
            "Nuvem não leva usuário nem chave no endereço (o texto não é mostrado por poder conter a chave); "
            "as chaves vêm de AWS_ACCESS_KEY_ID ou ~/.aws/credentials");
    if (url.find_first_of("?#") != std::string::npos)
        refuse(
            "Nuvem não leva consulta (\"?\") nem fragmento (\"#\") no endereço (o texto não é mostrado por poder "
            "conter a chave); as chaves vêm de AWS_ACCESS_KEY_ID ou ~/.aws/credentials");
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F) refuse("Nuvem com espaço ou caractere de controle no endereço");
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) refuse("Nuvem deve ser https://servidor:porta/bucket/prefixo");
    const std::string scheme = upper(url.substr(0, schemeEnd));
    std::string rest = url.substr(schemeEnd + 3);
    const auto slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    if (authority.empty()) refuse("Nuvem sem servidor");
    // The host without its port, an IPv6 literal keeping its brackets.
    std::string host = authority;
    if (host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string::npos) refuse("Nuvem com endereço IPv6 incompleto");
        host = host.substr(0, close + 1);
    } else if (const auto colon = host.find(':'); colon != std::string::npos) {
        host = host.substr(0, colon);
    }
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '[' || c == ']' || c == ':'))
            refuse("Nuvem com nome de servidor inválido (letras, dígitos, '.' e '-')");
    const std::string portText = authority.substr(host.size());
    if (!portText.empty()) {
        if (portText.size() < 2 || portText.size() > 6 || portText[0] != ':')
            refuse("Nuvem com porta inválida (um número de 1 a 65535 depois de \":\")");
        for (size_t i = 1; i < portText.size(); ++i)
            if (!std::isdigit(static_cast<unsigned char>(portText[i])))
                refuse("Nuvem com porta inválida (um número de 1 a 65535 depois de \":\")");
        const long port = std::stol(portText.substr(1));
        if (port < 1 || port > 65535) refuse("Nuvem com porta inválida (um número de 1 a 65535 depois de \":\")");
    }
    for (auto& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme == "HTTP") {
        // Keys and documents in clear text only where they never leave the machine.
        if (!loopback(host))
            refuse(
                "Nuvem: http:// só é aceito para este computador (127.0.0.1, localhost); para outro servidor use https://");
    } else if (scheme != "HTTPS") {
        refuse("Nuvem deve começar com https://");
    }
    s.host = host;
    s.endpoint = (scheme == "HTTP" ? "http://" : "https://") + host + portText;

    while (!path.empty() && path.back() == '/') path.pop_back();
    const auto bucketEnd = path.find('/');
    s.bucket = path.substr(0, bucketEnd);
    if (s.bucket.empty()) refuse("Nuvem sem bucket: use https://servidor:porta/bucket/prefixo");
    for (char c : s.bucket)
        if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '-' ||
              c == '.'))
            refuse("Nuvem: nome de bucket inválido (só minúsculas, dígitos, '-' e '.')");
    if (bucketEnd != std::string::npos) {
        const std::string prefix = path.substr(bucketEnd + 1);
        // Each part must make a folder name Organizar would accept, on any
        // system the keys are copied back to.
        size_t pos = 0;
        while (pos <= prefix.size()) {
            auto end = prefix.find('/', pos);
            if (end == std::string::npos) end = prefix.size();
            const std::string part = prefix.substr(pos, end - pos);
            if (part.empty()) refuse("Nuvem com prefixo inválido: nome de pasta vazio (\"//\")");
            if (part.find_first_not_of('.') == std::string::npos)
                refuse("Nuvem com prefixo inválido: \".\", \"..\" ou só pontos não são nomes de pasta");
            if (part.back() == '.' || part.back() == ' ')
                refuse("Nuvem com prefixo inválido: nome de pasta terminado em ponto");
            for (unsigned char c : part) {
                if (c == '\\') refuse("Nuvem com prefixo inválido: use \"/\" para separar as pastas, não \"\\\"");
                if (c == '%') refuse("Nuvem com prefixo inválido: \"%\" (escreva o nome sem codificar)");
                if (std::strchr(":*\"<>|", c))
                    refuse("Nuvem com prefixo inválido: os caracteres : * \" < > | não são aceitos em nomes de pasta");
            }
            pos = end + 1;
        }
        s.prefix = prefix + "/";
    }

    // Every key carries its company: the office's bucket is shared, and two
    // companies must never write one key.
    // The office reads the whole bucket without one (/escritorio); a run that
    // writes is refused without it (requireCompany).
    const std::string company = trim(text.company);
    if (!company.empty()) s.company = companyDigits(company);
    if (!company.empty() && s.company.empty())
        refuse(
            "NuvemEmpresa deve ser o CNPJ (14 dígitos) ou CPF (11 dígitos) da empresa, com dígitos "
            "verificadores válidos: \"" +
            company + "\"");
    // A company number inside the prefix would let another company's part
    // (prefix + its number) hold this one's keys.
    for (size_t pos = 0; pos < s.prefix.size();) {
        const size_t end = s.prefix.find('/', pos);
        if (!companyDigits(s.prefix.substr(pos, end - pos)).empty())
            refuse("Nuvem: o prefixo não pode ter um CNPJ ou CPF (a empresa vem de NuvemEmpresa): \"" + s.prefix +
                   "\"");
        pos = end + 1;
    }

    const std::string region = trim(text.region);
    if (!region.empty()) s.region = region;
    s.profile = credentialsProfile(text.profile);
    const std::string ca = trim(text.ca);
    if (!ca.empty()) {
        // Unreadable at the start, not at the first upload.
        const int fd = ::open(ca.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        const bool usable = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        const int err = errno;
        if (fd >= 0) ::close(fd);
        if (!usable)
            refuse("NuvemCA: o arquivo de certificados " + ca + " não pode ser lido" +
                   (fd < 0 ? std::string(" (") + std::strerror(err) + ")" : std::string(" (não é um arquivo comum)")));
        s.caFile = ca;
    }

    const std::string days = trim(text.retentionDays);
    const std::string mode = upper(trim(text.retentionMode));
    if (!days.empty()) {
        const std::string range = "NuvemRetencaoDias deve ser um número de dias de 1 a " +
                                  std::to_string(maxRetentionDays(now)) + ": \"" + days + "\"";
        if (days.size() > 6) refuse(range);
        for (char c : days)
            if (!std::isdigit(static_cast<unsigned char>(c))) refuse(range);
        s.retentionDays = std::stoi(days);
        if (s.retentionDays < 1) refuse(range);
        if (s.retentionDays > maxRetentionDays(now))
            refuse(range + " (a retenção terminaria depois de " + kRetentionEnd +
                   ", além do que o armazenamento guarda; uma data maior volta para 1970)");
        if (mode.empty()) refuse("NuvemRetencaoDias pede NuvemRetencaoModo (COMPLIANCE ou GOVERNANCE)");
    }
    if (!mode.empty()) {
        if (mode != "COMPLIANCE" && mode != "GOVERNANCE")
            refuse("NuvemRetencaoModo deve ser COMPLIANCE ou GOVERNANCE: \"" + text.retentionMode + "\"");
        if (days.empty()) refuse("NuvemRetencaoModo pede NuvemRetencaoDias");
        s.retentionMode = mode;
        s.retention = std::chrono::hours(24) * s.retentionDays;
    }
    return s;
}

std::optional<StoreSettings> storeSettingsForJob(const StoreSettingsText& text) {
    try {
        return parseStoreSettings(text, std::chrono::system_clock::now());
    } catch (const std::invalid_argument& e) {
        StoreSettings refused;
        refused.refusal = e.what();
        return refused;
    }
}

const std::vector<std::string>& storeSettingsKeys() {
    static const std::vector<std::string> keys{
        "Nuvem", "NuvemRegiao", "NuvemPerfil", "NuvemRetencaoDias", "NuvemRetencaoModo", "NuvemEmpresa", "NuvemCA"};
    return keys;
}

std::optional<StoreSettings> storeSettingsIn(const SettingsSection& settings) {
    auto read = [&](const char* key) { return settings.value(key); };
    return storeSettingsForJob({read("Nuvem"), read("NuvemRegiao"), read("NuvemPerfil"), read("NuvemRetencaoDias"),
                                read("NuvemRetencaoModo"), read("NuvemEmpresa"), read("NuvemCA")});
}

}  // namespace exports
