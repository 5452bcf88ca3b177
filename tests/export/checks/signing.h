#pragma once
// Signed NF-e for the tests: a small certificate hierarchy made by openssl in
// a temporary folder (a root, an intermediate and leaves that carry a CNPJ or
// CPF as ICP-Brasil writes them), documents signed by xmlsec1 over a template
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

// The moment the templates were received (dhRecbto), as xmlsec1 takes it (UTC).
inline constexpr const char* kReceived = "2024-03-05 13:00:00";

class Signer {
public:
    // A root and an intermediate (both valid 2020-2040) and these leaves
    // under the intermediate, each with its key:
    //  issuer      CNPJ 12345678000199 in the otherName 2.16.76.1.3.3 and the CN;
    //  other       the branch 12345678000270, in the CN only (no subjectAltName);
    //  stranger    another company, 98765432000110;
    //  person      CPF 12345678901 in the otherName 2.16.76.1.3.1;
    //  expired     the issuer's, valid 2023-01-01 to 2025-01-01;
    //  early       the issuer's, valid from 2024-06-01;
    //  lapsed      the issuer's, valid 2022-01-01 to 2023-01-01;
    //  encipher    the issuer's, its key usage without digitalSignature;
    // and "selfmade", self-signed with the issuer's CNPJ.
    Signer();
    ~Signer();
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;

    // The template signed by xmlsec1 with `who`'s key, its certificate in
    // KeyInfo; digVal set to the digest signed, as the authority returns it.
    std::string sign(const std::string& text, const char* who = "issuer") const;
    // xmlsec1 --verify with the test root trusted and the intermediate
    // untrusted, certificates judged at `when` (UTC): digest, signature and
    // chain hold.
    bool verifies(const std::string& text, const char* when = kReceived) const;
    // The base64 body of a certificate ("root", "intermediate", a leaf).
    std::string certificate(const char* who) const;
    // A folder with the root and the intermediate (CertificadosConfiaveis);
    // and one with the root alone.
    std::string trustFolder() const { return dir_ + "/trusted"; }
    std::string rootOnlyFolder() const { return dir_ + "/root-only"; }

private:
    void issue(const char* who, const std::string& subject, const char* extensions, const char* start,
               const char* end) const;
    std::string dir_;
};

}  // namespace signing
