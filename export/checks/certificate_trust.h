#pragma once
// Whether the certificate that signed a document was an ICP-Brasil
// certificate of the document's issuer when it was signed: OpenSSL's
// verifier builds the chain from the certificate to an ICP-Brasil root the
// program carries (resources/icp-brasil/, compiled in), through the
// intermediates it carries, those of the office's own folder
// (CertificadosConfiaveis) and any the document brings, at the moment the
// document was signed or received; then the CNPJ (or CPF) the certificate
// names is compared with the issuer's.
//
// Not checked: revocation (the authorities' lists need the network), nor
// that the tax authority itself holds the document.

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exports {

// One certificate compiled into the program: its file under
// resources/icp-brasil/ and its PEM text.
struct ShippedCertificate {
    const char* file;  // "roots/..." or "intermediates/..."
    bool root;
    const char* pem;
};
// Every certificate compiled in, in file order.
const std::vector<ShippedCertificate>& shippedCertificates();

// "AAAA-MM-DDThh:mm:ss" with an optional fraction and "Z" or "±hh:mm", as
// NF-e write dhRecbto, dhEmi and dhEvento; without a zone the time is
// Brasília's (-03:00). A date alone ("AAAA-MM-DD", the old dEmi) is its noon.
// Empty when it is not such a moment.
std::optional<std::time_t> nfeMoment(std::string_view text);

// Who issued a document: a CNPJ (14 digits) or a CPF (11), as the document
// writes them.
struct IssuerId {
    std::string cnpj;
    std::string cpf;
};

class CertificateTrust {
public:
    enum class Verdict {
        Trusted,     // chains at the moment and names the issuer
        NoChain,     // no chain to a carried root at the moment, or not for signing
        NotIssuer,   // chains, but names another CNPJ / CPF
        Unreadable,  // the signer's is no certificate (the signature cannot verify either)
    };

    // The certificates compiled in, plus the PEM files (*.pem, *.crt, *.cer)
    // of `folder` when it is not empty: self-signed ones become roots, the
    // others intermediates. Throws std::runtime_error when the folder or one
    // of those files cannot be read as certificates.
    explicit CertificateTrust(const std::string& folder = {});
    ~CertificateTrust();
    CertificateTrust(const CertificateTrust&) = delete;
    CertificateTrust& operator=(const CertificateTrust&) = delete;

    // `certificates`: the base64 bodies of the document's X509Certificate
    // elements, the signer's first (the others only help build the chain).
    // Thread-safe; a certificate's chain is verified once for every span of
    // moments its chain is valid in.
    Verdict check(const std::vector<std::string_view>& certificates, std::time_t when, const IssuerId& issuer) const;

    // How many certificates the store holds (roots and intermediates).
    size_t size() const { return size_; }

private:
    struct Store;
    struct Entry;
    std::shared_ptr<Entry> entry(const std::vector<std::string_view>& certificates) const;
    bool chains(Entry& entry, std::time_t when) const;

    std::unique_ptr<Store> store_;
    size_t size_ = 0;
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::shared_ptr<Entry>, std::less<>> entries_;
};

// The compiled-in certificates alone, built once for the process.
std::shared_ptr<const CertificateTrust> shippedTrust();

// A run's store: the compiled-in one when `setting` (CertificadosConfiaveis)
// is empty, else with that folder's certificates, relative to the settings
// file's folder. Throws std::runtime_error as the constructor does.
std::shared_ptr<const CertificateTrust> trustForRun(const std::string& setting, const std::string& settingsFile);

// The store the document checks use: the compiled-in one unless a run
// installed its own.
std::shared_ptr<const CertificateTrust> trustForChecks();

// Installs a run's store (built once, read-only) for the checks while it
// lives, then puts the previous one back.
class TrustForChecks {
public:
    explicit TrustForChecks(std::shared_ptr<const CertificateTrust> trust);
    ~TrustForChecks();
    TrustForChecks(const TrustForChecks&) = delete;
    TrustForChecks& operator=(const TrustForChecks&) = delete;

private:
    std::shared_ptr<const CertificateTrust> previous_;
};

// Base64 with line breaks and blanks anywhere, as signers write it; false on
// any other character or when it would decode to more than `limit` bytes.
bool decodeBase64(std::string_view in, std::size_t limit, std::string& out);

}  // namespace exports
