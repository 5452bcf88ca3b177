// The signature check against documents signed here by xmlsec1 with a key and
// a certificate of a test hierarchy made here by openssl, trusted as
// CertificadosConfiaveis trusts a folder (tests/export/checks/signing.h),
// then changed the ways a document is changed after authorisation. xmlsec1
// --verify judges every text on its own: its verdict and the check's must agree.
#include "export/checks/certificate_trust.h"
#include "export/checks/background_checks.h"
#include "export/checks/signature.h"
#include "export/checks/xml_check.h"
#include "tests/export/checks/signing.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

using namespace exports;
using namespace signing;

namespace {

constexpr const char* kKey = "35240312345678000199550010000012341100000089";

std::string documentTemplate(const std::string& encoding, const std::string& name, const std::string& product,
                             const char* method = kRsaSha1, const char* digest = kSha1) {
    return signing::documentTemplate(kKey, encoding, name, product, method, digest);
}

std::string eventTemplate() { return signing::eventTemplate(kKey); }

// The same text in UTF-16 (little-endian, with its byte order mark), declared so.
std::string utf16(const std::string& utf8Text) {
    const std::string text = replaced(utf8Text, "encoding=\"UTF-8\"", "encoding=\"UTF-16\"");
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::string out(text.size() * 2 + 2, '\0');
    out[0] = '\xFF';
    out[1] = '\xFE';
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size(), outLeft = out.size() - 2;
    char* o = out.data() + 2;
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), size_t(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// One hierarchy of keys and certificates, trusted for the checks, and
// xmlsec1 for the whole suite.
class Signature : public ::testing::Test {
protected:
    static inline std::unique_ptr<Signer> signer;
    static inline std::unique_ptr<TrustForChecks> trust;
    static void SetUpTestSuite() {
        signer = std::make_unique<Signer>();
        trust = std::make_unique<TrustForChecks>(trustForRun(signer->trustFolder(), ""));
    }
    static void TearDownTestSuite() {
        trust.reset();
        signer.reset();
    }

    static std::string sign(const std::string& text) { return signer->sign(text); }
    static bool xmlsecVerifies(const std::string& text) { return signer->verifies(text); }
    static std::string certificateOf(const char* who) { return signer->certificate(who); }
};

bool signatureUpheld(const Findings& findings) {
    for (Finding f : findings)
        if (f == Finding::SignatureMissing || f == Finding::SignatureDigest || f == Finding::SignatureInvalid)
            return false;
    return true;
}

}  // namespace

TEST_F(Signature, VerdictsOnSignedAndChangedDocuments) {
    const std::string utf8 = sign(documentTemplate("UTF-8",
                                                   "Com\xC3\xA9rcio de Pe\xC3\xA7"
                                                   "as Ltda",
                                                   "Pe\xC3\xA7"
                                                   "a de reposi\xC3\xA7\xC3\xA3o"));
    const std::string cp1252 = sign(documentTemplate("windows-1252",
                                                     "Com\xE9rcio de Pe\xE7"
                                                     "as Ltda",
                                                     "Pe\xE7"
                                                     "a de reposi\xE7\xE3o \x96 a\xE7\xFA"
                                                     "car"));
    const std::string sha256 = sign(documentTemplate("UTF-8", "Loja", "Parafuso", kRsaSha256, kSha256));
    const std::string event = sign(eventTemplate());
    // inclusive C14N carries xml:lang from the ancestors into the signed element
    const std::string lang = sign(replaced(documentTemplate("UTF-8", "Loja", "Parafuso"),
                                           "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">",
                                           "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" xml:lang=\"pt-BR\">"));
    // the signature inside the element it signs, which the enveloped transform leaves out
    const std::string plain = documentTemplate("UTF-8", "Loja", "Parafuso");
    const std::string inside =
        sign(replaced(withoutSignature(plain), "</infAdic></infNFe>",
                      "</infAdic>" + signatureTemplate(std::string("NFe") + kKey) + "</infNFe>"));
    // xmlsec1 keeps the declared code page: the accents are single bytes still
    ASSERT_NE(cp1252.find("Com\xE9rcio"), std::string::npos) << cp1252;

    const std::string signatureValue = between(utf8, "<SignatureValue>", "</SignatureValue>");
    const std::string digest = between(utf8, "<DigestValue>", "</DigestValue>");
    const std::string otherDigest = digest[0] == 'A' ? "B" + digest.substr(1) : "A" + digest.substr(1);
    const std::string signedRef = std::string("#NFe") + kKey + "\"";

    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"untouched, UTF-8", utf8, "ok"},
        {"untouched, windows-1252 with accents", cp1252, "ok"},
        {"untouched, RSA-SHA256 and SHA-256", sha256, "ok"},
        // no ASCII "Signature" bytes in it, yet a signature
        {"untouched, re-encoded as UTF-16", utf16(utf8), "ok"},
        {"UTF-16, a value changed", utf16(replaced(utf8, "<vNF>21.00", "<vNF>12.00")),
         "assinatura-digest,protocolo-digest"},
        {"untouched cancellation event", event, "ok"},
        {"xml:lang on an ancestor", lang, "ok"},
        // SignedInfo inherits it too
        {"xml:lang on an ancestor changed", replaced(lang, "xml:lang=\"pt-BR\"", "xml:lang=\"pt-PT\""),
         "assinatura-digest,assinatura-invalida,protocolo-digest"},
        {"signature inside infNFe", inside, "ok"},
        {"signature inside infNFe, content changed", replaced(inside, "<vNF>21.00", "<vNF>12.00"),
         "assinatura-digest,protocolo-digest"},
        {"event without its signature", withoutSignature(event), "assinatura-ausente"},
        {"a value changed in infNFe", replaced(utf8, "<vNF>21.00</vNF>", "<vNF>12.00</vNF>"),
         "assinatura-digest,protocolo-digest"},
        {"an accent taken out, windows-1252", replaced(cp1252, "Com\xE9rcio", "Comercio"),
         "assinatura-digest,protocolo-digest"},
        {"the same letter as a character reference", replaced(cp1252, "Com\xE9rcio", "Com&#233;rcio"), "ok"},
        {"re-indented", replaced(utf8, "<emit>", "\n    <emit>"), "assinatura-digest,protocolo-digest"},
        {"an attribute changed", replaced(utf8, "<det nItem=\"1\">", "<det nItem=\"2\">"),
         "assinatura-digest,protocolo-digest"},
        {"the event's reason changed", replaced(event, "pelo cliente", "pelo emitente"), "assinatura-digest"},
        {"SignatureValue altered",
         replaced(utf8, signatureValue,
                  signatureValue[0] == 'A' ? "B" + signatureValue.substr(1) : "A" + signatureValue.substr(1)),
         "assinatura-invalida"},
        {"SignatureValue cut short", replaced(utf8, signatureValue, signatureValue.substr(0, 40)),
         "assinatura-invalida"},
        {"DigestValue changed with the content it covers untouched", replaced(utf8, digest, otherDigest),
         "assinatura-digest,assinatura-invalida"},  // digVal still matches what infNFe holds
        {"protocol's digVal different", replaced(utf8, "<digVal>" + digest, "<digVal>" + otherDigest),
         "protocolo-digest"},
        {"protocol's digVal not base64", replaced(utf8, "<digVal>" + digest, "<digVal>%%" + digest),
         "protocolo-digest"},
        {"no signature", withoutSignature(utf8), "assinatura-ausente"},
        {"no signature, content changed", replaced(withoutSignature(utf8), "<vNF>21.00", "<vNF>12.00"),
         "assinatura-ausente,protocolo-digest"},
        {"Signature in another namespace", replaced(utf8, "2000/09/xmldsig#\"><SignedInfo>", "x\"><SignedInfo>"),
         "assinatura-ausente"},
        // hostile signatures
        {"certificate of another key",
         replaced(utf8, between(utf8, "<X509Certificate>", "</X509Certificate>"), certificateOf("other")),
         "assinatura-invalida"},
        {"no certificate", replaced(utf8, between(utf8, "<KeyInfo>", "</KeyInfo>"), ""), "assinatura-invalida"},
        {"certificate that is no certificate",
         replaced(utf8, between(utf8, "<X509Certificate>", "</X509Certificate>"), "QUJDRA=="), "assinatura-invalida"},
        {"unknown signature method", replaced(utf8, kRsaSha1, "http://example.com/rot13"), "assinatura-invalida"},
        {"unknown digest method", replaced(utf8, kSha1, "http://www.w3.org/2001/04/xmldsig-more#md5"),
         "assinatura-digest,assinatura-invalida"},
        {"unknown transform",
         replaced(utf8, "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>",
                  "<Transform Algorithm=\"http://www.w3.org/TR/1999/REC-xslt-19991116\"/>"),
         "assinatura-digest,assinatura-invalida"},
        {"Reference to an Id nothing has", replaced(utf8, signedRef, "#NFe0\""),
         "assinatura-digest,assinatura-invalida"},
        {"huge SignatureValue", replaced(utf8, signatureValue, std::string(6 << 20, 'A')), "assinatura-invalida"},
        {"huge certificate",
         replaced(utf8, between(utf8, "<X509Certificate>", "</X509Certificate>"), std::string(4 << 20, 'B')),
         "assinatura-invalida"},
        {"SignedInfo missing", replaced(utf8, between(utf8, "<SignedInfo>", "</SignedInfo>"), ""),
         "assinatura-digest,assinatura-invalida"},
    };
    for (const Case& c : cases) {
        const Findings findings = checkSignature(c.text);
        EXPECT_EQ(findingsText(findings), c.expected) << c.what;
        EXPECT_EQ(xmlsecVerifies(c.text), signatureUpheld(findings)) << "xmlsec1 disagrees: " << c.what;
        // a run's checks parse the text once, for the XML and the signature alike
        Findings inRun;
        for (Finding f : checkDocument(kKey, c.text, XmlKind::Either))
            if (f >= Finding::SignatureMissing) inRun.push_back(f);
        EXPECT_EQ(findingsText(inRun), c.expected) << "in a run's checks: " << c.what;
    }
}

// Stricter than a generic verifier: the signature must cover the document's
// own infNFe, and its Id must name nothing else.
TEST_F(Signature, MustCoverTheDocumentsOwnInfNFe) {
    const std::string key = kKey;
    const std::string tpl = documentTemplate("UTF-8", "Loja", "Parafuso");
    // a genuine signature, over the protocol's infProt instead of infNFe
    const std::string decoy =
        sign(replaced(replaced(replaced(tpl, "<Reference URI=\"#NFe" + key + "\"", "<Reference URI=\"#decoy\""),
                               "<infProt>", "<infProt Id=\"decoy\">"),
                      "<digVal>DIGVAL</digVal>", ""));
    EXPECT_TRUE(xmlsecVerifies(decoy));
    EXPECT_EQ(findingsText(checkSignature(decoy)), "assinatura-digest");
    // the signed Id given to a second element as well
    const std::string twice = replaced(sign(tpl), "<infProt>", "<infProt Id=\"NFe" + key + "\">");
    EXPECT_EQ(findingsText(checkSignature(twice)), "assinatura-digest");
}

// Texts no signer makes, through every check: each gets a finding, none a
// crash. xmlsec1 is not asked (it expands entities, which these parses never do).
TEST_F(Signature, HostileTextsGetFindings) {
    const std::string good = sign(documentTemplate("UTF-8", "Loja", "Parafuso"));
    const std::string reference = between(good, "<Reference", "</Reference>");
    std::string manyTransforms;
    for (int i = 0; i < 20000; ++i)
        manyTransforms += "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>";
    const std::string laughs =
        "<!DOCTYPE nfeProc [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">]>";
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        // the signed text is not what a reader that expands the entity sees:
        // no DOCTYPE reaches the signature check
        {"an entity inside the signed element",
         replaced(replaced(good, "<nfeProc", "<!DOCTYPE nfeProc [<!ENTITY loja \"Loja\">]><nfeProc"), "<natOp>VENDA",
                  "<natOp>&loja;VENDA"),
         "xml-estrutura"},
        {"entities that grow a thousandfold",
         replaced(replaced(good, "<nfeProc", laughs + "<nfeProc"), "<natOp>VENDA", "<natOp>&d;&d;&d;&d;VENDA"),
         "xml-estrutura"},
        {"two References", replaced(good, "</SignedInfo>", "<Reference" + reference + "</Reference></SignedInfo>"),
         "assinatura-digest,assinatura-invalida"},
        {"twenty thousand transforms", replaced(good, "<Transforms>", "<Transforms>" + manyTransforms),
         "assinatura-digest,assinatura-invalida"},
        {"Reference without URI", replaced(good, std::string("URI=\"#NFe") + kKey + "\"", ""),
         "assinatura-digest,assinatura-invalida"},
        // digVal still matches what infNFe holds
        {"DigestValue of the wrong length", replaced(good, between(good, "<DigestValue>", "</DigestValue>"), "QUJD"),
         "assinatura-digest,assinatura-invalida"},
        {"empty SignatureValue", replaced(good, between(good, "<SignatureValue>", "</SignatureValue>"), ""),
         "assinatura-invalida"},
        {"SignatureValue not base64",
         replaced(good, between(good, "<SignatureValue>", "</SignatureValue>"), "%%%%not base64%%%%"),
         "assinatura-invalida"},
        {"a DSA method", replaced(good, kRsaSha1, "http://www.w3.org/2000/09/xmldsig#dsa-sha1"), "assinatura-invalida"},
        // and no emit to bind the certificate to
        {"no infNFe to sign", replaced(replaced(good, "<infNFe", "<outro"), "</infNFe>", "</outro>"),
         "xml-estrutura,xml-sem-chave,assinatura-digest,protocolo-digest,certificado-titular"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findingsText(checkDocument(kKey, c.text, XmlKind::Document)), c.expected) << c.what;
}

TEST_F(Signature, FoundThroughTheDocumentChecksAndCounted) {
    const std::string good = sign(documentTemplate("windows-1252",
                                                   "Pe\xE7"
                                                   "as",
                                                   "Pe\xE7"
                                                   "a"));
    const std::string changed = replaced(good, "<vNF>21.00", "<vNF>99.00");
    EXPECT_EQ(findingsText(checkDocument(kKey, good, XmlKind::Document)), "ok");
    EXPECT_EQ(findingsText(checkDocument(kKey, changed, XmlKind::Document)), "assinatura-digest,protocolo-digest");
    // a text that is not XML gets the XML's finding alone
    EXPECT_EQ(findingsText(checkDocument(kKey, good.substr(0, good.size() / 2), XmlKind::Document)), "xml-malformado");

    CheckCounts counts;
    counts.add(checkDocument(kKey, good, XmlKind::Document));
    counts.add(checkDocument(kKey, changed, XmlKind::Document));
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.badKeys, 0);
    EXPECT_EQ(counts.badXml, 0);
    EXPECT_EQ(counts.badSignatures, 1);

    BackgroundChecks background(2);
    for (int i = 0; i < 50; ++i) background.add(kKey, i % 5 ? good : changed, XmlKind::Document);
    const CheckCounts got = background.finish();
    EXPECT_EQ(got.checked, 50);
    EXPECT_EQ(got.badSignatures, 10);
    EXPECT_EQ(got.failed, 10);
}

// A second copy of what was verified, beside it, is what a reader may take
// instead: the signature holds over the genuine one, the layout does not.
TEST_F(Signature, ASecondSignedElementProtocolOrSignatureBreaksTheLayout) {
    const std::string key = kKey;
    const std::string good = sign(documentTemplate("UTF-8", "Loja", "Parafuso"));
    const std::string event = sign(eventTemplate());
    const std::string signature = "<Signature" + between(good, "<Signature", "</Signature>") + "</Signature>";
    const std::string value = between(good, "<SignatureValue>", "</SignatureValue>");
    const std::string forged = replaced(signature, value,
                                        value[0] == 'A' ? "B" + value.substr(1) : "A" + value.substr(1));
    const std::string protocol = "<protNFe" + between(good, "<protNFe", "</protNFe>") + "</protNFe>";
    const std::string eventSignature = "<Signature" + between(event, "<Signature", "</Signature>") + "</Signature>";
    // an NFC-e's QR code between infNFe and the signature, the authority's own signature on its protocol
    const std::string nfce = sign(replaced(documentTemplate("UTF-8", "Loja", "Parafuso"), "</infNFe><Signature",
                                           "</infNFe><infNFeSupl><qrCode>https://example/qr?p=1</qrCode>"
                                           "</infNFeSupl><Signature"));
    const std::string signedProtocol = replaced(good, "</infProt></protNFe>", "</infProt>" + signature + "</protNFe>");
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"untouched", good, "ok"},
        {"NFC-e with infNFeSupl", nfce, "ok"},
        {"protocol signed by the authority", signedProtocol, "ok"},
        {"untouched event", event, "ok"},
        {"a second, unsigned infNFe after the signature",
         replaced(
             good, "</Signature></NFe>",
             "</Signature><infNFe versao=\"4.00\"><total><ICMSTot><vNF>1.00</vNF></ICMSTot></total></infNFe></NFe>"),
         "xml-estrutura"},
        {"a second NFe without an Id",
         replaced(good, "</NFe>",
                  "</NFe><NFe><infNFe versao=\"4.00\"><total><ICMSTot><vNF>1.00</vNF></ICMSTot>"
                  "</total></infNFe></NFe>"),
         "xml-estrutura"},
        {"a second protNFe after the genuine one", replaced(good, "</protNFe>", "</protNFe>" + protocol),
         "xml-estrutura"},
        {"two signatures, the forger's first", replaced(good, "</infNFe>", "</infNFe>" + forged),
         "xml-estrutura,assinatura-invalida"},
        {"the signature before infNFe", replaced(replaced(good, signature, ""), "<infNFe Id", signature + "<infNFe Id"),
         "xml-estrutura"},
        {"no NFe", replaced(replaced(good, "<NFe xmlns", "<Nota xmlns"), "</NFe>", "</Nota>"),
         "xml-estrutura,assinatura-ausente,protocolo-digest"},
        {"NFe wrapped in another element",
         replaced(replaced(good, "<NFe xmlns", "<x><NFe xmlns"), "</NFe>", "</NFe></x>"),
         "xml-estrutura,assinatura-ausente,protocolo-digest"},
        {"a second infEvento in evento",
         replaced(event, "</Signature></evento>",
                  "</Signature><infEvento><chNFe>" + key + "</chNFe></infEvento></evento>"),
         "xml-estrutura"},
        {"a second evento", replaced(event, "</evento>", "</evento><evento><infEvento/></evento>"), "xml-estrutura"},
        {"a second retEvento",
         replaced(event, "</retEvento>",
                  "</retEvento><retEvento><infEvento><cStat>135</cStat></infEvento></retEvento>"),
         "xml-estrutura"},
        {"two event signatures",
         replaced(event, "</Signature></evento>", "</Signature>" + eventSignature + "</evento>"), "xml-estrutura"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(findingsText(checkDocument(kKey, c.text, XmlKind::Either)), c.expected) << c.what;
}

// digVal is what the authority authorised: an authorising protocol without it
// vouches for no text.
TEST_F(Signature, AnAuthorisingProtocolWithoutDigValIsAFinding) {
    const std::string good = sign(documentTemplate("UTF-8", "Loja", "Parafuso"));
    const std::string digVal = "<digVal>" + between(good, "<digVal>", "</digVal>") + "</digVal>";
    const std::string without = replaced(good, digVal, "");
    struct Case {
        const char* status;
        std::string expected;
    };
    const Case cases[] = {
        {"100", "protocolo-digest"},  // authorised
        {"150", "protocolo-digest"},  // authorised late
        {" 100 ", "protocolo-digest"},
        {"302", "ok"},  // use denied: no authorised digest to compare
    };
    for (const Case& c : cases) {
        const std::string text = replaced(without, "<cStat>100</cStat>",
                                          std::string("<cStat>") + c.status + "</cStat>");
        EXPECT_EQ(findingsText(checkDocument(kKey, text, XmlKind::Document)), c.expected) << c.status;
    }
    EXPECT_EQ(findingsText(checkDocument(kKey, good, XmlKind::Document)), "ok");
}

namespace {

// What `check` finds in a child process, and the most memory that child held
// (KB); a child still busy after a minute is killed: "hung"; one that dies
// (out of its 1 GB of address space) "crashed".
struct Measured {
    std::string findings;
    long maxKb = 0;
};

Measured inChild(const std::function<std::string()>& check) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::alarm(60);
#ifndef __SANITIZE_ADDRESS__  // its shadow memory is address space too
        // a check gone wrong fails here instead of taking the machine's memory
        const rlimit space{1ul << 30, 1ul << 30};
        ::setrlimit(RLIMIT_AS, &space);
#endif
        const std::string out = check();
        ssize_t ignored = ::write(pipeFds[1], out.data(), out.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    Measured m;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) m.findings.append(buffer, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status)) m.findings = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM ? "hung" : "crashed";
    m.maxKb = usage.ru_maxrss;
    return m;
}

}  // namespace

// Texts built to make the canonical form or an entity's expansion cost without
// bound: each gets its finding without that work, in little memory, and the
// signature check alone (no XML check before it) holds as well.
TEST_F(Signature, TextsThatWouldCostWithoutBoundAreJudgedWithoutThatWork) {
    const std::string good = sign(documentTemplate("UTF-8", "Loja", "Parafuso"));
    std::string declarations, elements;
    for (int i = 0; i < 10000; ++i) declarations += " xmlns:n" + std::to_string(i) + "=\"urn:n\"";
    for (int i = 0; i < 4000; ++i) elements += "<e/>";
    const std::string flood = replaced(replaced(good, "<nfeProc ", "<nfeProc" + declarations + " "), "</infAdic>",
                                       "</infAdic>" + elements);
    const std::string entity = "<!DOCTYPE nfeProc [<!ENTITY big \"" + std::string(1 << 20, 'A') + "\">]>";
    std::string references;
    for (int i = 0; i < 2000; ++i) references += "&big;";
    const std::string certificate = between(good, "<X509Certificate>", "</X509Certificate>");
    const std::string digVal = between(good, "<digVal>", "</digVal>");
    // just past each limit, on the protocol, outside what the signature covers
    std::string namespaces, attributes;
    for (int i = 0; i < kMaxNamespacesInScope; ++i)  // and the default one of nfeProc
        namespaces += " xmlns:p" + std::to_string(i) + "=\"urn:p\"";
    for (int i = 0; i < kMaxAttributes; ++i)  // and versao
        attributes += " a" + std::to_string(i) + "=\"1\"";
    struct Case {
        const char* what;
        std::string text;
        std::string expected;        // checkDocument
        std::string signatureAlone;  // checkSignature
    };
    const Case cases[] = {
        {"ten thousand namespaces over four thousand elements", flood, "assinatura-invalida", "assinatura-invalida"},
        {"a megabyte entity two thousand times in X509Certificate", entity + replaced(good, certificate, references),
         "xml-estrutura", "ok"},
        {"a megabyte entity two thousand times in digVal", entity + replaced(good, digVal, references), "xml-estrutura",
         "ok"},
        {"namespaces in scope at the limit",
         replaced(good, "<protNFe ", "<protNFe" + namespaces.substr(namespaces.find(' ', 1)) + " "), "ok", "ok"},
        {"namespaces in scope past the limit", replaced(good, "<protNFe ", "<protNFe" + namespaces + " "),
         "assinatura-invalida", "assinatura-invalida"},
        {"attributes at the limit",
         replaced(good, "<protNFe ", "<protNFe" + attributes.substr(attributes.find(' ', 1)) + " "), "ok", "ok"},
        {"attributes past the limit", replaced(good, "<protNFe ", "<protNFe" + attributes + " "), "assinatura-invalida",
         "assinatura-invalida"},
    };
    for (const Case& c : cases) {
        const Measured m = inChild([&] {
            return findingsText(checkDocument(kKey, c.text, XmlKind::Document)) + "|" +
                   findingsText(checkSignature(c.text));
        });
        EXPECT_EQ(m.findings, c.expected + "|" + c.signatureAlone) << c.what;
        EXPECT_LT(m.maxKb, 200 * 1024) << c.what;
    }
}
