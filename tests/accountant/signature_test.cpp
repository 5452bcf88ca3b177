// The signature check against documents signed here by xmlsec1 with a key and
// a self-signed certificate made here by openssl, then changed the ways a
// document is changed after authorisation. xmlsec1 --verify judges every text
// on its own: its verdict and the check's must agree.
#include "export/package.h"
#include "export/signature.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

using namespace exports;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "35240312345678000199550010000012341100000089";
constexpr const char* kNfeNs = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kRsaSha1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr const char* kSha1 = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr const char* kRsaSha256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr const char* kSha256 = "http://www.w3.org/2001/04/xmlenc#sha256";

std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& bytes)
{
    std::ofstream(p, std::ios::binary) << bytes;
}

// `from` replaced once; the test fails when it is not there.
std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no " << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string between(const std::string& text, const std::string& open, const std::string& close)
{
    const size_t a = text.find(open);
    const size_t b = a == std::string::npos ? a : text.find(close, a + open.size());
    return b == std::string::npos ? std::string() : text.substr(a + open.size(), b - a - open.size());
}

std::string signatureTemplate(const std::string& id, const char* method = kRsaSha1, const char* digest = kSha1)
{
    return std::string("<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
                       "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
                       "<SignatureMethod Algorithm=\"") + method + "\"/><Reference URI=\"#" + id + "\"><Transforms>"
           "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
           "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
           "<DigestMethod Algorithm=\"" + digest + "\"/><DigestValue/></Reference></SignedInfo><SignatureValue/>"
           "<KeyInfo><X509Data><X509Certificate/></X509Data></KeyInfo></Signature>";
}

// An authorised NF-e as the ERP stores it; `encoding` names the bytes of
// `name` and `product`. The protocol's digVal is filled in after signing.
std::string documentTemplate(const std::string& encoding, const std::string& name, const std::string& product,
                             const char* method = kRsaSha1, const char* digest = kSha1)
{
    const std::string key = kKey;
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<nfeProc xmlns=\"" + kNfeNs +
           "\" versao=\"4.00\"><NFe xmlns=\"" + kNfeNs + "\"><infNFe Id=\"NFe" + key + "\" versao=\"4.00\"><ide>"
           "<cUF>35</cUF><natOp>VENDA</natOp><mod>55</mod><serie>1</serie><nNF>1234</nNF></ide><emit><CNPJ>"
           "12345678000199</CNPJ><xNome>" + name + "</xNome></emit><det nItem=\"1\"><prod><cProd>100</cProd>"
           "<xProd>" + product + "</xProd><qCom>2.0000</qCom><vProd>21.00</vProd></prod></det><total><ICMSTot>"
           "<vNF>21.00</vNF></ICMSTot></total><infAdic><infCpl>a &amp; b &lt; c</infCpl></infAdic></infNFe>" +
           signatureTemplate("NFe" + key, method, digest) + "</NFe><protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb>"
           "<chNFe>" + key + "</chNFe><dhRecbto>2024-03-05T10:00:00-03:00</dhRecbto><nProt>135240000000001"
           "</nProt><digVal>DIGVAL</digVal><cStat>100</cStat></infProt></protNFe></nfeProc>";
}

std::string eventTemplate()
{
    const std::string key = kKey;
    const std::string id = "ID110111" + key + "01";
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<procEventoNFe xmlns=\"" + std::string(kNfeNs) +
           "\" versao=\"1.00\"><evento versao=\"1.00\"><infEvento Id=\"" + id + "\"><cOrgao>35</cOrgao><tpAmb>1"
           "</tpAmb><CNPJ>12345678000199</CNPJ><chNFe>" + key + "</chNFe><dhEvento>2024-03-06T09:00:00-03:00"
           "</dhEvento><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento>"
           "<detEvento versao=\"1.00\"><descEvento>Cancelamento</descEvento><nProt>135240000000001</nProt>"
           "<xJust>Opera\xE7\xE3o n\xE3o realizada pelo cliente</xJust></detEvento></infEvento>" +
           signatureTemplate(id) + "</evento><retEvento versao=\"1.00\"><infEvento><tpAmb>1</tpAmb><cStat>135"
           "</cStat><chNFe>" + key + "</chNFe></infEvento></retEvento></procEventoNFe>";
}

// The key, the certificates and xmlsec1 for the whole suite.
class Signature : public ::testing::Test {
protected:
    static inline fs::path dir;

    static void SetUpTestSuite()
    {
        std::string pattern = (fs::temp_directory_path() / "signature-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        // the issuer's, and another one's for a certificate that does not belong
        for (const char* who : {"issuer", "other"})
            ASSERT_EQ(shell(std::string("openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/CN=") + who +
                            "/O=Teste' -keyout " + quoted((dir / who).string() + ".key") + " -out " +
                            quoted((dir / who).string() + ".pem") + " 2>/dev/null"),
                      0);
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }

    static std::string idAttributes()
    {
        return std::string(" --id-attr:Id ") + kNfeNs + ":infNFe --id-attr:Id " + kNfeNs + ":infEvento --id-attr:Id " +
               kNfeNs + ":infProt ";
    }

    // The template signed by xmlsec1; digVal (when there is one) set to the
    // digest just signed, as the authority returns it.
    static std::string sign(const std::string& text)
    {
        const fs::path in = dir / "template.xml", out = dir / "signed.xml";
        spit(in, text);
        fs::remove(out);
        EXPECT_EQ(shell("xmlsec1 --sign --privkey-pem " + quoted((dir / "issuer.key").string()) + "," +
                        quoted((dir / "issuer.pem").string()) + idAttributes() + "--output " + quoted(out.string()) +
                        " " + quoted(in.string()) + " 2>/dev/null"),
                  0);
        std::string signedText = slurp(out);
        const std::string digest = between(signedText, "<DigestValue>", "</DigestValue>");
        EXPECT_FALSE(digest.empty());
        if (signedText.find("<digVal>DIGVAL</digVal>") != std::string::npos)
            signedText = replaced(signedText, "<digVal>DIGVAL</digVal>", "<digVal>" + digest + "</digVal>");
        return signedText;
    }

    // The independent judge: does xmlsec1 accept digest and signature? Both
    // certificates are trusted, so only the signature itself decides.
    static bool xmlsecVerifies(const std::string& text)
    {
        const fs::path file = dir / "judged.xml";
        spit(file, text);
        return shell("xmlsec1 --verify --trusted-pem " + quoted((dir / "issuer.pem").string()) + " --trusted-pem " +
                     quoted((dir / "other.pem").string()) + idAttributes() + quoted(file.string()) +
                     " >/dev/null 2>&1") == 0;
    }

    static std::string certificateOf(const char* who)
    {
        const std::string pem = slurp(dir / (std::string(who) + ".pem"));
        return between(pem, "-----BEGIN CERTIFICATE-----\n", "-----END CERTIFICATE-----");
    }
};

bool signatureUpheld(const Findings& findings)
{
    for (Finding f : findings)
        if (f == Finding::SignatureMissing || f == Finding::SignatureDigest || f == Finding::SignatureInvalid)
            return false;
    return true;
}

}  // namespace

TEST_F(Signature, VerdictsOnSignedAndChangedDocuments)
{
    const std::string utf8 = sign(documentTemplate("UTF-8", "Com\xC3\xA9rcio de Pe\xC3\xA7" "as Ltda",
                                                   "Pe\xC3\xA7" "a de reposi\xC3\xA7\xC3\xA3o"));
    const std::string cp1252 = sign(documentTemplate("windows-1252", "Com\xE9rcio de Pe\xE7" "as Ltda",
                                                     "Pe\xE7" "a de reposi\xE7\xE3o \x96 a\xE7\xFA" "car"));
    const std::string sha256 = sign(documentTemplate("UTF-8", "Loja", "Parafuso", kRsaSha256, kSha256));
    const std::string event = sign(eventTemplate());
    // inclusive C14N carries xml:lang from the ancestors into the signed element
    const std::string lang = sign(replaced(documentTemplate("UTF-8", "Loja", "Parafuso"),
                                           "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">",
                                           "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" xml:lang=\"pt-BR\">"));
    // the signature inside the element it signs, which the enveloped transform leaves out
    const std::string plain = documentTemplate("UTF-8", "Loja", "Parafuso");
    const std::string signatureXml = plain.substr(plain.find("<Signature"),
                                                  plain.find("</Signature>") + 12 - plain.find("<Signature"));
    const std::string inside = sign(replaced(replaced(plain, signatureXml, ""), "</infAdic></infNFe>",
                                             "</infAdic>" + signatureXml + "</infNFe>"));
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
        {"untouched cancellation event", event, "ok"},
        {"xml:lang on an ancestor", lang, "ok"},
        // SignedInfo inherits it too
        {"xml:lang on an ancestor changed", replaced(lang, "xml:lang=\"pt-BR\"", "xml:lang=\"pt-PT\""),
         "assinatura-digest,assinatura-invalida,protocolo-digest"},
        {"signature inside infNFe", inside, "ok"},
        {"signature inside infNFe, content changed", replaced(inside, "<vNF>21.00", "<vNF>12.00"),
         "assinatura-digest,protocolo-digest"},
        {"event without its signature",
         replaced(event, event.substr(event.find("<Signature"), event.find("</Signature>") + 12 - event.find("<Signature")),
                  ""),
         "assinatura-ausente"},
        {"a value changed in infNFe", replaced(utf8, "<vNF>21.00</vNF>", "<vNF>12.00</vNF>"),
         "assinatura-digest,protocolo-digest"},
        {"an accent taken out, windows-1252", replaced(cp1252, "Com\xE9rcio", "Comercio"),
         "assinatura-digest,protocolo-digest"},
        {"the same letter as a character reference", replaced(cp1252, "Com\xE9rcio", "Com&#233;rcio"), "ok"},
        {"re-indented", replaced(utf8, "<emit>", "\n    <emit>"), "assinatura-digest,protocolo-digest"},
        {"an attribute changed", replaced(utf8, "<det nItem=\"1\">", "<det nItem=\"2\">"),
         "assinatura-digest,protocolo-digest"},
        {"the event's reason changed", replaced(event, "pelo cliente", "pelo emitente"), "assinatura-digest"},
        {"SignatureValue altered", replaced(utf8, signatureValue, signatureValue[0] == 'A'
                                                                      ? "B" + signatureValue.substr(1)
                                                                      : "A" + signatureValue.substr(1)),
         "assinatura-invalida"},
        {"SignatureValue cut short", replaced(utf8, signatureValue, signatureValue.substr(0, 40)),
         "assinatura-invalida"},
        {"DigestValue changed with the content it covers untouched", replaced(utf8, digest, otherDigest),
         "assinatura-digest,assinatura-invalida"},  // digVal still matches what infNFe holds
        {"protocol's digVal different", replaced(utf8, "<digVal>" + digest, "<digVal>" + otherDigest),
         "protocolo-digest"},
        {"protocol's digVal not base64", replaced(utf8, "<digVal>" + digest, "<digVal>%%" + digest),
         "protocolo-digest"},
        {"no signature", replaced(utf8, utf8.substr(utf8.find("<Signature"), utf8.find("</Signature>") + 12 -
                                                                                utf8.find("<Signature")),
                                  ""),
         "assinatura-ausente"},
        {"no signature, content changed",
         replaced(replaced(utf8, utf8.substr(utf8.find("<Signature"),
                                             utf8.find("</Signature>") + 12 - utf8.find("<Signature")),
                           ""),
                  "<vNF>21.00", "<vNF>12.00"),
         "assinatura-ausente,protocolo-digest"},
        {"Signature in another namespace", replaced(utf8, "2000/09/xmldsig#\"><SignedInfo>", "x\"><SignedInfo>"),
         "assinatura-ausente"},
        // hostile signatures
        {"certificate of another key", replaced(utf8, between(utf8, "<X509Certificate>", "</X509Certificate>"),
                                                certificateOf("other")),
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
        {"SignedInfo missing",
         replaced(utf8, between(utf8, "<SignedInfo>", "</SignedInfo>"), ""),
         "assinatura-digest,assinatura-invalida"},
    };
    for (const Case& c : cases) {
        const Findings findings = checkSignature(c.text);
        EXPECT_EQ(findingsText(findings), c.expected) << c.what;
        EXPECT_EQ(xmlsecVerifies(c.text), signatureUpheld(findings)) << "xmlsec1 disagrees: " << c.what;
    }
}

// Stricter than a generic verifier: the signature must cover the document's
// own infNFe, and its Id must name nothing else.
TEST_F(Signature, MustCoverTheDocumentsOwnInfNFe)
{
    const std::string key = kKey;
    const std::string tpl = documentTemplate("UTF-8", "Loja", "Parafuso");
    // a genuine signature, over the protocol's infProt instead of infNFe
    const std::string decoy = sign(replaced(replaced(replaced(tpl, "<Reference URI=\"#NFe" + key + "\"",
                                                              "<Reference URI=\"#decoy\""),
                                                     "<infProt>", "<infProt Id=\"decoy\">"),
                                            "<digVal>DIGVAL</digVal>", ""));
    EXPECT_TRUE(xmlsecVerifies(decoy));
    EXPECT_EQ(findingsText(checkSignature(decoy)), "assinatura-digest");
    // the signed Id given to a second element as well
    const std::string twice = replaced(sign(tpl), "<infProt>", "<infProt Id=\"NFe" + key + "\">");
    EXPECT_EQ(findingsText(checkSignature(twice)), "assinatura-digest");
}

TEST_F(Signature, FoundThroughTheDocumentChecksAndCounted)
{
    const std::string good = sign(documentTemplate("windows-1252", "Pe\xE7" "as", "Pe\xE7" "a"));
    const std::string changed = replaced(good, "<vNF>21.00", "<vNF>99.00");
    EXPECT_EQ(findingsText(checkDocument(kKey, good, XmlKind::Document)), "ok");
    EXPECT_EQ(findingsText(checkDocument(kKey, changed, XmlKind::Document)), "assinatura-digest,protocolo-digest");
    // a text that is not XML gets the XML's finding alone
    EXPECT_EQ(findingsText(checkDocument(kKey, good.substr(0, good.size() / 2), XmlKind::Document)),
              "xml-malformado");

    CheckCounts counts;
    counts.add(checkDocument(kKey, good, XmlKind::Document));
    counts.add(checkDocument(kKey, changed, XmlKind::Document));
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.badKeys, 0);
    EXPECT_EQ(counts.badXml, 0);
    EXPECT_EQ(counts.badSignatures, 1);

    BackgroundChecks background(2);
    for (int i = 0; i < 50; ++i)
        background.add(kKey, i % 5 ? good : changed, XmlKind::Document);
    const CheckCounts got = background.finish();
    EXPECT_EQ(got.checked, 50);
    EXPECT_EQ(got.badSignatures, 10);
    EXPECT_EQ(got.failed, 10);
}
