#pragma once
// Authorised NF-e texts signed as issuers sign them: the infNFe's inclusive
// C14N 1.0 (enveloped) digested with SHA-1, SignedInfo signed with RSA-SHA1
// by a 2048-bit key whose certificate (under a root of its own, naming the
// documents' CNPJ) rides in KeyInfo; the protocol's digVal repeats the digest.

#include <openssl/types.h>

#include <string>

namespace bench {

// An nfeProc of about `size` bytes for `key`: NFe/infNFe Id="NFe<key>" with
// items carrying accented Latin-1 letters, its Signature beside infNFe and
// protNFe/infProt with chNFe, declared in `encoding` (the bytes are Latin-1;
// convert them before declaring another encoding). The digest, the signature
// and the certificate are left as @DIGEST@, @SIGNATURE@ and @CERTIFICATE@
// for Issuer::sign.
std::string unsignedDocument(const std::string& key, size_t size, const char* encoding = "windows-1252");

// An issuer with a fresh RSA key and a certificate under a fresh root.
class Issuer {
public:
    Issuer();
    ~Issuer();
    Issuer(const Issuer&) = delete;
    Issuer& operator=(const Issuer&) = delete;

    // `text` (from unsignedDocument) with its digest, signature and certificate filled in.
    std::string sign(std::string text) const;
    // The certificate as PEM, for a verifier's list of trusted certificates.
    std::string certificatePem() const;
    // The root above it, to trust (CertificadosConfiaveis).
    std::string rootPem() const;

private:
    EVP_PKEY* key_;
    std::string certificate_;  // DER in base64
    std::string root_;
};

}  // namespace bench
