#include "export/checks/certificate_trust.h"

#include "platform/codepage.h"  // printable

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace exports {
namespace detail {
// resources/icp-brasil/ as generated at build time (export/CMakeLists.txt)
extern const ShippedCertificate kShippedCertificates[];
}  // namespace detail

namespace {

// Past any real certificate file; a folder of huge files is refused.
constexpr std::uintmax_t kMaxCertificateFile = 1 << 20;
// Distinct signers remembered per run; a month holds a handful. Hostile
// documents, each with a certificate of its own, cannot grow it without end.
constexpr size_t kMaxEntries = 4096;
// Moments a certificate failed at, remembered per certificate.
constexpr size_t kMaxFailures = 256;

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

struct StackDeleter {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};

bool isDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Every certificate of a PEM text, or the one DER certificate it is.
std::vector<X509Ptr> readCertificates(std::string_view bytes, bool derToo) {
    std::vector<X509Ptr> out;
    BIO* bio = BIO_new_mem_buf(bytes.data(), int(bytes.size()));
    if (!bio) return out;
    while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) out.emplace_back(x);
    BIO_free(bio);
    if (out.empty() && derToo) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        X509* x = d2i_X509(nullptr, &p, long(bytes.size()));
        if (x && p == reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) out.emplace_back(x);
        else X509_free(x);
    }
    ERR_clear_error();
    return out;
}


X509Ptr certificateFromBase64(std::string_view text) {
    std::string der;
    if (!decodeBase64(text, 64 * 1024, der) || der.empty()) return nullptr;
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr x(d2i_X509(nullptr, &p, long(der.size())));
    if (x && p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) x.reset();
    return x;
}

std::optional<std::time_t> timeOf(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return std::nullopt;
    return timegm(&tm);
}

// The text of an otherName's value, whichever string type the CA chose.
std::string otherNameText(const OTHERNAME* name) {
    const ASN1_TYPE* value = name ? name->value : nullptr;
    if (!value) return {};
    switch (value->type) {
    case V_ASN1_OCTET_STRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_UTF8STRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_T61STRING: {
        const ASN1_STRING* s = value->value.asn1_string;
        return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), size_t(ASN1_STRING_length(s)));
    }
    default: return {};
    }
}

// The holder's CNPJ and CPF as ICP-Brasil writes them: the subjectAltName's
// otherNames 2.16.76.1.3.3 (the company's CNPJ) and 2.16.76.1.3.1 (a
// person's data, the CPF at digits 9 to 19); failing those, the digits
// after the last ':' of the subject's CN.
IssuerId holderOf(X509* certificate) {
    IssuerId holder;
    static const ASN1_OBJECT* const cnpjOid = OBJ_txt2obj("2.16.76.1.3.3", 1);
    static const ASN1_OBJECT* const personOid = OBJ_txt2obj("2.16.76.1.3.1", 1);
    if (auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr,
                                                                   nullptr))) {
        for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
            if (name->type != GEN_OTHERNAME) continue;
            const OTHERNAME* other = name->d.otherName;
            const std::string value = otherNameText(other);
            if (cnpjOid && OBJ_cmp(other->type_id, cnpjOid) == 0 && holder.cnpj.empty()) {
                const std::string_view digits = trimmed(value);
                if (digits.size() == 14 && isDigits(digits)) holder.cnpj = digits;
            } else if (personOid && OBJ_cmp(other->type_id, personOid) == 0 && holder.cpf.empty()) {
                if (value.size() >= 19 && isDigits(std::string_view(value).substr(8, 11)))
                    holder.cpf = value.substr(8, 11);
            }
        }
        GENERAL_NAMES_free(names);
    }
    if (holder.cnpj.empty() && holder.cpf.empty()) {
        const X509_NAME* subject = X509_get_subject_name(certificate);
        const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
        const ASN1_STRING* cn = at < 0 ? nullptr : X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
        if (cn) {
            const std::string_view text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(cn)),
                                        size_t(ASN1_STRING_length(cn)));
            const size_t colon = text.rfind(':');
            const std::string_view digits = colon == text.npos ? std::string_view() : trimmed(text.substr(colon + 1));
            if (digits.size() == 14 && isDigits(digits)) holder.cnpj = digits;
            else if (digits.size() == 11 && isDigits(digits)) holder.cpf = digits;
        }
    }
    ERR_clear_error();
    return holder;
}

// A company signs for its branches: the CNPJ's first 8 digits name it. A
// person signs as themself.
bool namesIssuer(const IssuerId& holder, const IssuerId& issuer) {
    const std::string_view cnpj = trimmed(issuer.cnpj), cpf = trimmed(issuer.cpf);
    if (!cnpj.empty())
        return cnpj.size() == 14 && isDigits(cnpj) && holder.cnpj.size() == 14 &&
               holder.cnpj.compare(0, 8, cnpj.substr(0, 8)) == 0;
    if (!cpf.empty()) return cpf.size() == 11 && isDigits(cpf) && holder.cpf == cpf;
    return false;
}

bool endsWith(std::string name, std::string_view suffix) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        throw std::runtime_error("Certificado ilegível: " + platform::printable(path.string()));
    return bytes;
}

std::mutex installing;
std::shared_ptr<const CertificateTrust> current;  // under `installing`

}  // namespace

// Base64 with line breaks and blanks anywhere, as signers write it; false on
// any other character or when it would decode to more than `limit` bytes.
bool decodeBase64(std::string_view in, size_t limit, std::string& out) {
    out.clear();
    if (in.size() > limit * 2 + 256)  // 4/3 of the bytes, plus room for line breaks
        return false;
    std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> ctx(EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
    if (!ctx) return false;
    out.resize(in.size() / 4 * 3 + 80);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int written = 0, last = 0;
    EVP_DecodeInit(ctx.get());
    if (EVP_DecodeUpdate(ctx.get(), o, &written, reinterpret_cast<const unsigned char*>(in.data()),
                         static_cast<int>(in.size())) < 0 ||
        EVP_DecodeFinal(ctx.get(), o + written, &last) < 0)
        return false;
    out.resize(size_t(written) + size_t(last));
    return out.size() <= limit;
}

const std::vector<ShippedCertificate>& shippedCertificates() {
    static const std::vector<ShippedCertificate> all = [] {
        std::vector<ShippedCertificate> out;
        for (const ShippedCertificate* c = detail::kShippedCertificates; c->file; ++c) out.push_back(*c);
        return out;
    }();
    return all;
}

std::optional<std::time_t> nfeMoment(std::string_view text) {
    text = trimmed(text);
    auto number = [&](size_t at, size_t length, int& out) {
        if (at + length > text.size() || !isDigits(text.substr(at, length))) return false;
        out = 0;
        for (size_t i = at; i < at + length; ++i) out = out * 10 + (text[i] - '0');
        return true;
    };
    std::tm tm{};
    int year = 0, month = 0, day = 0, hour = 12, minute = 0, second = 0;
    if (!number(0, 4, year) || text.size() < 10 || text[4] != '-' || !number(5, 2, month) || text[7] != '-' ||
        !number(8, 2, day))
        return std::nullopt;
    long offset = -3 * 3600;  // Brasília's, when the text names none
    size_t at = 10;
    if (at < text.size()) {
        if (text[at] != 'T' || !number(at + 1, 2, hour) || text.size() < at + 9 || text[at + 3] != ':' ||
            !number(at + 4, 2, minute) || text[at + 6] != ':' || !number(at + 7, 2, second))
            return std::nullopt;
        at += 9;
        if (at < text.size() && text[at] == '.') {
            ++at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        }
        if (at < text.size()) {
            int zoneHours = 0, zoneMinutes = 0;
            if (text[at] == 'Z' && at + 1 == text.size()) {
                offset = 0;
            } else if ((text[at] == '+' || text[at] == '-') && text.size() == at + 6 && text[at + 3] == ':' &&
                       number(at + 1, 2, zoneHours) && number(at + 4, 2, zoneMinutes) && zoneHours <= 14 &&
                       zoneMinutes < 60) {
                offset = (zoneHours * 3600L + zoneMinutes * 60L) * (text[at] == '-' ? -1 : 1);
            } else {
                return std::nullopt;
            }
        }
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm) - offset;
}

struct CertificateTrust::Store {
    X509_STORE* store = X509_STORE_new();
    ~Store() { X509_STORE_free(store); }
};

// One document signer as the documents carry it, read once.
struct CertificateTrust::Entry {
    X509Ptr signer;                                         // null: not a certificate
    std::unique_ptr<STACK_OF(X509), StackDeleter> carried;  // the document's other certificates
    bool forSigning = false;                                // key usage allows digital signatures
    IssuerId holder;
    std::mutex mutex;
    // spans of moments where a verified chain's certificates are all valid,
    // and moments a verification failed at
    std::vector<std::pair<std::time_t, std::time_t>> valid;
    std::vector<std::time_t> failed;
};

CertificateTrust::CertificateTrust(const std::string& folder) : store_(std::make_unique<Store>()) {
    if (!store_->store) throw std::runtime_error("Não foi possível preparar os certificados confiáveis");
    auto add = [&](X509* x) {
        // the same certificate twice (compiled in and in the folder) is no fault
        if (X509_STORE_add_cert(store_->store, x) == 1) ++size_;
        ERR_clear_error();
    };
    for (const ShippedCertificate& c : shippedCertificates())
        for (const X509Ptr& x : readCertificates(c.pem, false)) add(x.get());
    if (folder.empty()) return;
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(fs::path(folder), error);
    if (error)
        throw std::runtime_error("Pasta de certificados confiáveis (CertificadosConfiaveis) ilegível: " +
                                 platform::printable(folder) + ": " + error.message());
    for (const fs::directory_entry& file : it) {
        const std::string name = file.path().filename().string();
        if (!endsWith(name, ".pem") && !endsWith(name, ".crt") && !endsWith(name, ".cer")) continue;
        std::error_code e;
        if (!fs::is_regular_file(file.path(), e)) continue;
        const std::uintmax_t size = fs::file_size(file.path(), e);
        if (e || size > kMaxCertificateFile)
            throw std::runtime_error("Certificado ilegível: " + platform::printable(file.path().string()));
        const std::vector<X509Ptr> certificates = readCertificates(slurp(file.path()), true);
        if (certificates.empty())
            throw std::runtime_error("Certificado ilegível: " + platform::printable(file.path().string()));
        for (const X509Ptr& x : certificates) add(x.get());
    }
}

CertificateTrust::~CertificateTrust() = default;

std::shared_ptr<CertificateTrust::Entry> CertificateTrust::entry(
    const std::vector<std::string_view>& certificates) const {
    std::string key;
    for (std::string_view c : certificates) {
        key += c;
        key += '\0';
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = entries_.find(key);
        if (found != entries_.end()) return found->second;
    }
    auto made = std::make_shared<Entry>();
    made->signer = certificateFromBase64(certificates.front());
    made->carried.reset(sk_X509_new_null());
    if (made->signer) {
        for (size_t i = 1; i < certificates.size(); ++i)
            if (X509Ptr x = certificateFromBase64(certificates[i]);
                x && made->carried && sk_X509_push(made->carried.get(), x.get()) > 0)
                x.release();
        made->forSigning = (X509_get_key_usage(made->signer.get()) & KU_DIGITAL_SIGNATURE) != 0;
        made->holder = holderOf(made->signer.get());
    }
    ERR_clear_error();
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() >= kMaxEntries) entries_.clear();
    return entries_.emplace(std::move(key), std::move(made)).first->second;
}

bool CertificateTrust::chains(Entry& e, std::time_t when) const {
    if (!e.signer || !e.forSigning || !e.carried) return false;
    {
        std::lock_guard<std::mutex> lock(e.mutex);
        for (const auto& [from, to] : e.valid)
            if (from <= when && when <= to) return true;
        if (std::find(e.failed.begin(), e.failed.end(), when) != e.failed.end()) return false;
    }
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(), X509_STORE_CTX_free);
    bool ok = false;
    std::optional<std::pair<std::time_t, std::time_t>> span;
    if (ctx && X509_STORE_CTX_init(ctx.get(), store_->store, e.signer.get(), e.carried.get()) == 1) {
        // at the moment of signing, not today; no partial chains (the default)
        X509_STORE_CTX_set_time(ctx.get(), 0, when);
        ok = X509_verify_cert(ctx.get()) == 1;
        STACK_OF(X509)* chain = ok ? X509_STORE_CTX_get0_chain(ctx.get()) : nullptr;
        // the signer must not be its own anchor, whatever the folder holds
        ok = ok && chain && sk_X509_num(chain) >= 2;
        if (ok) {
            std::time_t from = 0, to = std::numeric_limits<std::time_t>::max();
            bool known = true;
            for (int i = 0; i < sk_X509_num(chain) && known; ++i) {
                X509* x = sk_X509_value(chain, i);
                const auto notBefore = timeOf(X509_get0_notBefore(x)), notAfter = timeOf(X509_get0_notAfter(x));
                known = notBefore && notAfter;
                if (known) from = std::max(from, *notBefore), to = std::min(to, *notAfter);
            }
            if (known && from <= when && when <= to) span.emplace(from, to);
        }
    }
    ERR_clear_error();
    std::lock_guard<std::mutex> lock(e.mutex);
    if (span) e.valid.push_back(*span);
    else if (!ok && e.failed.size() < kMaxFailures) e.failed.push_back(when);
    return ok;
}

CertificateTrust::Verdict CertificateTrust::check(const std::vector<std::string_view>& certificates, std::time_t when,
                                                  const IssuerId& issuer) const {
    if (certificates.empty()) return Verdict::NoChain;
    const std::shared_ptr<Entry> e = entry(certificates);
    if (!e->signer) return Verdict::Unreadable;
    if (!chains(*e, when)) return Verdict::NoChain;
    return namesIssuer(e->holder, issuer) ? Verdict::Trusted : Verdict::NotIssuer;
}

std::shared_ptr<const CertificateTrust> shippedTrust() {
    static const std::shared_ptr<const CertificateTrust> shipped = std::make_shared<const CertificateTrust>();
    return shipped;
}

std::shared_ptr<const CertificateTrust> trustForRun(const std::string& setting, const std::string& settingsFile) {
    if (setting.empty()) return shippedTrust();
    if (setting.find('\0') != std::string::npos)
        throw std::runtime_error("Pasta de certificados confiáveis (CertificadosConfiaveis) com um byte nulo: \"" +
                                 platform::printable(setting) + "\"");
    // file-system bytes, joined as they are, like PastaExportar
    std::string folder = setting;
    if (folder.front() != '/') {
        const size_t slash = settingsFile.rfind('/');
        folder = (slash == std::string::npos ? std::string() : settingsFile.substr(0, slash + 1)) + folder;
    }
    return std::make_shared<const CertificateTrust>(folder);
}

std::shared_ptr<const CertificateTrust> trustForChecks() {
    std::lock_guard<std::mutex> lock(installing);
    return current ? current : shippedTrust();
}

TrustForChecks::TrustForChecks(std::shared_ptr<const CertificateTrust> trust) {
    std::lock_guard<std::mutex> lock(installing);
    previous_ = std::move(current);
    current = std::move(trust);
}

TrustForChecks::~TrustForChecks() {
    std::lock_guard<std::mutex> lock(installing);
    current = std::move(previous_);
}

}  // namespace exports
