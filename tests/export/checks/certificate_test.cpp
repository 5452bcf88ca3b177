// The signer's certificate: chained to a trusted root at the moment the
// document was signed, and naming the issuer. A test hierarchy made here by
// openssl (tests/export/checks/signing.h) stands for ICP-Brasil, trusted through
// a folder as CertificadosConfiaveis names one; xmlsec1 --verify with the test
// root trusted judges the chain on its own. The compiled-in ICP-Brasil roots
// are pinned by their fingerprints.
#include "export/checks/certificate_trust.h"
#include "export/checks/checks.h"
#include "export/checks/signature.h"
#include "tests/export/checks/signing.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

using namespace exports;
using namespace signing;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "35240312345678000199550010000012341100000089";

class Certificate : public ::testing::Test {
protected:
    static inline std::unique_ptr<Signer> signer;
    static inline std::shared_ptr<const CertificateTrust> trusted, rootOnly;
    static void SetUpTestSuite() {
        signer = std::make_unique<Signer>();
        trusted = trustForRun(signer->trustFolder(), "/unused/ConfigQuillan.ini");
        rootOnly = trustForRun(signer->rootOnlyFolder(), "/unused/ConfigQuillan.ini");
    }
    static void TearDownTestSuite() {
        trusted.reset();
        rootOnly.reset();
        signer.reset();
    }
};

std::string document(const std::string& issuerTag = "<CNPJ>12345678000199</CNPJ>") {
    return replaced(documentTemplate(kKey, "UTF-8", "Loja", "Parafuso"), "<CNPJ>12345678000199</CNPJ>", issuerTag);
}

// Only the certificate's findings.
std::string certificateFindings(const Findings& findings) {
    Findings out;
    for (Finding f : findings)
        if (f == Finding::CertificateChain || f == Finding::CertificateHolder) out.push_back(f);
    return findingsText(out);
}

std::string sha256Of(X509* x) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(x, EVP_sha256(), md, &length);
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < length; ++i) out += std::string{hex[md[i] >> 4], hex[md[i] & 15]};
    return out;
}

}  // namespace

TEST_F(Certificate, ChainAndHolderAtTheSigningMoment) {
    const std::string tpl = document();
    const std::string bySigner = signer->sign(tpl);
    const std::string intermediate = signer->certificate("intermediate");
    // the intermediate carried in the document, after the signer's certificate
    const std::string carrying = replaced(bySigner, "</X509Certificate>",
                                          "</X509Certificate><X509Certificate>" + intermediate + "</X509Certificate>");
    const std::string expired = signer->sign(tpl, "expired");
    const std::string event = eventTemplate(kKey);
    const std::string received = "<dhRecbto>2024-03-05T10:00:00-03:00</dhRecbto>";

    struct Case {
        const char* what;
        std::string text;
        const CertificateTrust* trust;
        std::string expected;
        bool askXmlsec;  // xmlsec1 judges the chain with the test root and intermediate
    };
    const CertificateTrust* all = trusted.get();
    const Case cases[] = {
        {"the issuer's chained certificate", bySigner, all, "ok", true},
        {"self-signed, naming the issuer's CNPJ", signer->sign(tpl, "selfmade"), all, "certificado-cadeia", true},
        {"chained, another company's", signer->sign(tpl, "stranger"), all, "certificado-titular", true},
        {"expired today, valid when received", expired, all, "ok", true},
        {"the same certificate received after it expired",
         replaced(expired, received, "<dhRecbto>2025-06-01T10:00:00-03:00</dhRecbto>"), all, "certificado-cadeia",
         false},
        {"the first moment again", expired, all, "ok", false},
        {"not yet valid when received", signer->sign(tpl, "early"), all, "certificado-cadeia", true},
        {"expired before it was received", signer->sign(tpl, "lapsed"), all, "certificado-cadeia", true},
        {"a key not for signatures", signer->sign(tpl, "encipher"), all, "certificado-cadeia", false},
        {"the branch's certificate, CNPJ in the CN alone", signer->sign(tpl, "other"), all, "ok", true},
        {"a branch's document signed by the head office", signer->sign(document("<CNPJ>12345678000270</CNPJ>")), all,
         "ok", true},
        {"a CNPJ of another root by one digit", signer->sign(document("<CNPJ>12345679000199</CNPJ>")), all,
         "certificado-titular", true},
        {"a person issuer, her own certificate", signer->sign(document("<CPF>12345678901</CPF>"), "person"), all, "ok",
         true},
        {"a person issuer, a company's certificate", signer->sign(document("<CPF>12345678901</CPF>")), all,
         "certificado-titular", true},
        {"another person", signer->sign(document("<CPF>12345678902</CPF>"), "person"), all, "certificado-titular",
         true},
        {"a company issuer, a person's certificate", signer->sign(tpl, "person"), all, "certificado-titular", true},
        // the intermediate only where CertificadosConfiaveis names it
        {"intermediate neither trusted nor carried", bySigner, rootOnly.get(), "certificado-cadeia", false},
        {"intermediate carried by the document", carrying, rootOnly.get(), "ok", false},
        {"compiled-in roots only", bySigner, shippedTrust().get(), "certificado-cadeia", false},
        // a forger's whole hierarchy in the document: what it carries is never a root
        {"root and intermediate carried, neither trusted",
         replaced(carrying, "</X509Certificate></X509Data>",
                  "</X509Certificate><X509Certificate>" + signer->certificate("root") +
                      "</X509Certificate></X509Data>"),
         shippedTrust().get(), "certificado-cadeia", false},
        // no dhRecbto: the issue moment; none at all: no moment to judge at
        {"issue moment instead",
         signer->sign(replaced(replaced(tpl, received, ""), "<nNF>1234</nNF>",
                               "<nNF>1234</nNF><dhEmi>2024-03-04T09:00:00-03:00</dhEmi>")),
         all, "ok", false},
        {"issue moment before the certificate",
         signer->sign(replaced(replaced(tpl, received, ""), "<nNF>1234</nNF>",
                               "<nNF>1234</nNF><dhEmi>2024-03-04T09:00:00-03:00</dhEmi>"),
                      "early"),
         all, "certificado-cadeia", false},
        {"no moment", replaced(bySigner, received, ""), all, "certificado-cadeia", false},
        {"an event by the issuer", signer->sign(event), all, "ok", true},
        {"an event by another company", signer->sign(event, "stranger"), all, "certificado-titular", true},
        {"an event registered after the certificate expired",
         replaced(signer->sign(event, "expired"), "<cStat>135</cStat>",
                  "<cStat>135</cStat><dhRegEvento>2025-02-01T08:00:00-03:00</dhRegEvento>"),
         all, "certificado-cadeia", false},
    };
    for (const Case& c : cases) {
        const Findings findings = checkSignature(c.text, c.trust);
        EXPECT_EQ(findingsText(findings), c.expected) << c.what;
        if (c.askXmlsec) {
            EXPECT_EQ(signer->verifies(c.text), certificateFindings(findings) != "certificado-cadeia")
                << "xmlsec1 disagrees: " << c.what;
        }
    }
    // xmlsec1 judges the expired one by today's date by default: it fails now
    EXPECT_FALSE(signer->verifies(expired, "2026-01-01 00:00:00"));
}

// The check runs with the store a run installs, on every check thread, and
// its findings count with the signature's.
TEST_F(Certificate, CountedWithTheSignatureInARunsChecks) {
    const TrustForChecks installed(trusted);
    const std::string good = signer->sign(document());
    const std::string forged = signer->sign(document(), "selfmade");
    const std::string stranger = signer->sign(document(), "stranger");
    EXPECT_EQ(findingsText(checkDocument(kKey, good, XmlKind::Document)), "ok");
    EXPECT_EQ(findingsText(checkDocument(kKey, forged, XmlKind::Document)), "certificado-cadeia");
    // no signature at all: that finding alone
    EXPECT_EQ(findingsText(checkDocument(kKey, withoutSignature(forged), XmlKind::Document)), "assinatura-ausente");

    BackgroundChecks background(2);
    for (int i = 0; i < 60; ++i)
        background.add(kKey, i % 3 == 0 ? good : i % 3 == 1 ? forged : stranger, XmlKind::Document);
    const CheckCounts counts = background.finish();
    EXPECT_EQ(counts.checked, 60);
    EXPECT_EQ(counts.badSignatures, 40);
    EXPECT_EQ(counts.failed, 40);
    EXPECT_EQ(counts.badXml, 0);
}

// Hostile folders: a leaf put there is still no root of its own, an
// intermediate without its root anchors nothing, and a folder or file that
// cannot be read stops the run instead of trusting less.
TEST_F(Certificate, WhatTheFolderCanAndCannotDo) {
    const std::string bySelf = signer->sign(document(), "selfmade");
    const std::string byIssuer = signer->sign(document());
    const fs::path dir = fs::path(signer->trustFolder()).parent_path() / "hostile";
    fs::create_directories(dir / "self");
    fs::create_directories(dir / "intermediate");
    auto pemOf = [&](const char* who) {
        std::string body = signer->certificate(who);
        return "-----BEGIN CERTIFICATE-----\n" + body + "-----END CERTIFICATE-----\n";
    };
    std::ofstream(dir / "self" / "loja.pem") << pemOf("selfmade");
    std::ofstream(dir / "intermediate" / "ac.crt") << pemOf("intermediate");
    std::ofstream(dir / "intermediate" / "LEIA-ME.txt") << "not a certificate, not read";
    EXPECT_EQ(findingsText(checkSignature(bySelf, trustForRun((dir / "self").string(), "").get())),
              "certificado-cadeia");
    EXPECT_EQ(findingsText(checkSignature(byIssuer, trustForRun((dir / "intermediate").string(), "").get())),
              "certificado-cadeia");
    // relative to the settings file's folder
    EXPECT_EQ(findingsText(checkSignature(byIssuer, trustForRun("trusted", signer->trustFolder() + "/../x.ini").get())),
              "ok");

    EXPECT_THROW(trustForRun((dir / "missing").string(), ""), std::runtime_error);
    EXPECT_THROW(trustForRun(std::string("trusted\0x", 9), signer->trustFolder() + "/../x.ini"), std::runtime_error);
    fs::create_directories(dir / "broken");
    std::ofstream(dir / "broken" / "ac.pem") << "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
    EXPECT_THROW(trustForRun((dir / "broken").string(), ""), std::runtime_error);
    fs::remove_all(dir);
}

TEST(CertificateMoment, NfeTimesAsTheDocumentsWriteThem) {
    struct Case {
        const char* text;
        std::time_t expected;  // -1: not a moment
    };
    const Case cases[] = {
        {"2024-03-05T10:00:00-03:00", 1709643600},
        {"2024-03-05T13:00:00Z", 1709643600},
        {"2024-03-05T13:00:00+00:00", 1709643600},
        {" 2024-03-05T10:00:00.123-03:00\n", 1709643600},
        {"2024-03-05T10:00:00", 1709643600},  // Brasília's when no zone
        {"2024-03-05", 1709650800},           // dEmi: noon
        {"2024-13-05T10:00:00-03:00", -1},
        {"2024-03-05T10:00-03:00", -1},
        {"2024-03-05T10:00:00-0300", -1},
        {"05/03/2024", -1},
        {"", -1},
    };
    for (const Case& c : cases) {
        const auto got = nfeMoment(c.text);
        EXPECT_EQ(got ? *got : -1, c.expected) << c.text;
    }
}

// The compiled-in roots, each pinned by its SHA-256; every certificate
// compiled in reads, and roots are self-signed while intermediates are not.
TEST(CertificateStore, ShippedRootsArePinned) {
    const std::set<std::string> pinned = {
        "687EA89089309D2CFE107DB059FB10D676F45D3283AEE056903EEA0CF3C188F8",  // Raiz Brasileira (2001)
        "CBD8ED38D4A2D677D453D70DD8890AF4F6374CBA6299943F1AB3A6936C6FD795",  // v1
        "FB47D92A9909FD4FA9BEC02737543E1F3514CED747407A8D9CFA397B0915067C",  // v2
        "F0C15AFD258FB674E7A96E1A50FF873149364B9EC70D4D93C7A9F1EB6060D020",  // v4
        "CAA53FC6091C6951887C976E378F6EF89AA6377C55D97B6475422B71ED7E9B17",  // v5
        "3BDB9B509352F1D3D71C2BF64D9A38A4E6CEBDA27809D77F7AC476CBDE6E314A",  // v6
        "5657E70580EB678983F3ED7DFCE091D84CAE6549389A47FCCDA8D0E4DC2CF576",  // v7
        "6E0BFF069A26994C15DE2C4888CC54AF84882E5495B7FBF66BE9CCFFEC7489F6",  // v10
        "1406710058180FA4081AAB3F246F1702429C552A11FA3143B84C88CB3AB8E5E7",  // v11
        "D8478E37CE19C690CF657381E68FE600E4E1A042536830F06847E03E554C4B01",  // v12
        "2B07D0BC02C4A6E0478ED22D0D99E8F97E1827B269097696A7FEB6AAD30C3AC8",  // v13
    };
    std::set<std::string> roots;
    size_t intermediates = 0;
    for (const ShippedCertificate& c : shippedCertificates()) {
        BIO* bio = BIO_new_mem_buf(c.pem, -1);
        X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        ASSERT_NE(x, nullptr) << c.file;
        // by name: OpenSSL 3 cannot use v7's Ed521 key to check its own signature
        const bool selfSigned = X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) == 0;
        EXPECT_EQ(selfSigned, c.root) << c.file;
        if (c.root) roots.insert(sha256Of(x));
        else ++intermediates;
        X509_free(x);
    }
    EXPECT_EQ(roots, pinned);
    EXPECT_GE(intermediates, 340u);
    EXPECT_EQ(shippedTrust()->size(), shippedCertificates().size());
}
