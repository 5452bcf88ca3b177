#pragma once
// Signed NF-e for the tests: a key and self-signed certificates made by
// openssl in a temporary folder, documents signed by xmlsec1 over a template
// (as issuers' software signs), and xmlsec1 --verify as an independent judge.

#include <string>

namespace signing {

inline constexpr const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";
inline constexpr const char* kRsaSha1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
inline constexpr const char* kSha1 = "http://www.w3.org/2000/09/xmldsig#sha1";
inline constexpr const char* kRsaSha256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
inline constexpr const char* kSha256 = "http://www.w3.org/2001/04/xmlenc#sha256";

// An empty Signature (enveloped, inclusive C14N) over the element with that Id.
std::string signatureTemplate(const std::string& id, const char* method = kRsaSha1, const char* digest = kSha1);
// An authorised NF-e with its empty Signature; `name` and `product` are bytes
// of `encoding`; the protocol's digVal reads DIGVAL until signed.
std::string documentTemplate(const std::string& key, const std::string& encoding, const std::string& name,
                             const std::string& product, const char* method = kRsaSha1, const char* digest = kSha1);
// A cancellation event (windows-1252, accented reason) with its empty Signature.
std::string eventTemplate(const std::string& key);

// `from` replaced once; the calling test fails when it is not there.
std::string replaced(std::string text, const std::string& from, const std::string& to);
std::string between(const std::string& text, const std::string& open, const std::string& close);
// The text less its first Signature element.
std::string withoutSignature(const std::string& text);

class Signer {
public:
    Signer();  // the issuer's key and certificate, and another one's
    ~Signer();
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;

    // The template signed by xmlsec1 with the issuer's key; digVal set to the
    // digest signed, as the authority returns it.
    std::string sign(const std::string& text) const;
    // xmlsec1 --verify: digest and signature hold (both certificates trusted,
    // so only the signature decides).
    bool verifies(const std::string& text) const;
    // The base64 body of "issuer" or "other"'s certificate.
    std::string certificate(const char* who) const;

private:
    std::string dir_;
};

}  // namespace signing
