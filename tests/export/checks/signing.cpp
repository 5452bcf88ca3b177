#include "tests/export/checks/signing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace signing {
namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string idAttributes() {
    return std::string(" --id-attr:Id ") + kNfeNs + ":infNFe --id-attr:Id " + kNfeNs + ":infEvento --id-attr:Id " +
           kNfeNs + ":infProt ";
}

}  // namespace

std::string signatureTemplate(const std::string& id, const char* method, const char* digest) {
    return std::string(
               "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
               "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
               "<SignatureMethod Algorithm=\"") +
           method + "\"/><Reference URI=\"#" + id +
           "\"><Transforms>"
           "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
           "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
           "<DigestMethod Algorithm=\"" +
           digest +
           "\"/><DigestValue/></Reference></SignedInfo><SignatureValue/>"
           "<KeyInfo><X509Data><X509Certificate/></X509Data></KeyInfo></Signature>";
}

std::string documentTemplate(const std::string& key, const std::string& encoding, const std::string& name,
                             const std::string& product, const char* method, const char* digest) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n<nfeProc xmlns=\"" + kNfeNs +
           "\" versao=\"4.00\"><NFe xmlns=\"" + kNfeNs + "\"><infNFe Id=\"NFe" + key +
           "\" versao=\"4.00\"><ide>"
           "<cUF>35</cUF><natOp>VENDA</natOp><mod>55</mod><serie>1</serie><nNF>1234</nNF></ide><emit><CNPJ>"
           "12345678000199</CNPJ><xNome>" +
           name +
           "</xNome></emit><det nItem=\"1\"><prod><cProd>100</cProd>"
           "<xProd>" +
           product +
           "</xProd><qCom>2.0000</qCom><vProd>21.00</vProd></prod></det><total><ICMSTot>"
           "<vNF>21.00</vNF></ICMSTot></total><infAdic><infCpl>a &amp; b &lt; c</infCpl></infAdic></infNFe>" +
           signatureTemplate("NFe" + key, method, digest) +
           "</NFe><protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb>"
           "<chNFe>" +
           key +
           "</chNFe><dhRecbto>2024-03-05T10:00:00-03:00</dhRecbto><nProt>135240000000001"
           "</nProt><digVal>DIGVAL</digVal><cStat>100</cStat></infProt></protNFe></nfeProc>";
}

std::string eventTemplate(const std::string& key) {
    const std::string id = "ID110111" + key + "01";
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<procEventoNFe xmlns=\"" + std::string(kNfeNs) +
           "\" versao=\"1.00\"><evento versao=\"1.00\"><infEvento Id=\"" + id +
           "\"><cOrgao>35</cOrgao><tpAmb>1"
           "</tpAmb><CNPJ>12345678000199</CNPJ><chNFe>" +
           key +
           "</chNFe><dhEvento>2024-03-06T09:00:00-03:00"
           "</dhEvento><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento>"
           "<detEvento versao=\"1.00\"><descEvento>Cancelamento</descEvento><nProt>135240000000001</nProt>"
           "<xJust>Opera\xE7\xE3o n\xE3o realizada pelo cliente</xJust></detEvento></infEvento>" +
           signatureTemplate(id) +
           "</evento><retEvento versao=\"1.00\"><infEvento><tpAmb>1</tpAmb><cStat>135"
           "</cStat><chNFe>" +
           key + "</chNFe></infEvento></retEvento></procEventoNFe>";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no " << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const size_t a = text.find(open);
    const size_t b = a == std::string::npos ? a : text.find(close, a + open.size());
    return b == std::string::npos ? std::string() : text.substr(a + open.size(), b - a - open.size());
}

std::string withoutSignature(const std::string& text) {
    const size_t from = text.find("<Signature"), to = text.find("</Signature>");
    EXPECT_TRUE(from != std::string::npos && to != std::string::npos);
    if (from == std::string::npos || to == std::string::npos) return text;
    return text.substr(0, from) + text.substr(to + 12);
}

namespace {

// openssl ca's settings: any subject, dates given per certificate, and the
// extensions of each kind of certificate.
std::string caConfig(const std::string& dir) {
    const std::string issuerName = "otherName:2.16.76.1.3.3;OCTETSTRING:12345678000199";
    return "[ca]\ndefault_ca = test\n[test]\ndatabase = " + dir + "/index.txt\nnew_certs_dir = " + dir +
           "/issued\nserial = " + dir +
           "/serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
           "email_in_dn = no\n[any]\ncommonName = supplied\norganizationName = optional\n"
           "[ca_ext]\nbasicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
           "subjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid\n"
           "[issuer_ext]\nbasicConstraints = critical,CA:FALSE\n"
           "keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment\n"
           "subjectAltName = " +
           issuerName +
           "\n"
           "[branch_ext]\nbasicConstraints = critical,CA:FALSE\n"
           "keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment\n"
           "[stranger_ext]\nbasicConstraints = critical,CA:FALSE\n"
           "keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment\n"
           "subjectAltName = otherName:2.16.76.1.3.3;OCTETSTRING:98765432000110\n"
           "[person_ext]\nbasicConstraints = critical,CA:FALSE\n"
           "keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment\n"
           // birth date, CPF, NIS, RG and its issuer, as ICP-Brasil writes a person's data
           "subjectAltName = otherName:2.16.76.1.3.1;OCTETSTRING:0101198012345678901000000000000000000001234567SSPSP\n"
           "[encipher_ext]\nbasicConstraints = critical,CA:FALSE\nkeyUsage = critical,keyEncipherment\n"
           "subjectAltName = " +
           issuerName + "\n";
}

}  // namespace

void Signer::issue(const char* who, const std::string& subject, const char* extensions, const char* start,
                   const char* end) const {
    const std::string base = dir_ + "/" + who;
    const bool root = std::string(who) == "root" || std::string(who) == "selfmade";
    const std::string signer = std::string(dir_) + (std::string(who) == "intermediate" ? "/root" : "/intermediate");
    EXPECT_EQ(shell("openssl req -new -newkey rsa:2048 -nodes -subj " + quoted(subject) + " -keyout " +
                    quoted(base + ".key") + " -out " + quoted(base + ".csr") +
                    " 2>/dev/null && openssl ca -batch "
                    "-notext -config " +
                    quoted(dir_ + "/ca.cnf") + " -startdate " + start + " -enddate " + end + " -extensions " +
                    extensions + " -in " + quoted(base + ".csr") + " -out " + quoted(base + ".pem") +
                    (root ? " -selfsign -keyfile " + quoted(base + ".key")
                          : " -cert " + quoted(signer + ".pem") + " -keyfile " + quoted(signer + ".key")) +
                    " >/dev/null 2>&1"),
              0)
        << who;
}

Signer::Signer() {
    std::string pattern = (fs::temp_directory_path() / "signature-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    fs::create_directories(dir_ + "/issued");
    spit(dir_ + "/index.txt", "");
    spit(dir_ + "/serial", "1000\n");
    spit(dir_ + "/ca.cnf", caConfig(dir_));
    const char* from = "20200101000000Z";
    const char* to = "20400101000000Z";
    issue("root", "/O=Teste/CN=Raiz de Teste", "ca_ext", from, to);
    issue("intermediate", "/O=Teste/CN=AC Intermediaria de Teste", "ca_ext", from, to);
    issue("issuer", "/O=Teste/CN=LOJA LTDA:12345678000199", "issuer_ext", from, to);
    issue("other", "/O=Teste/CN=LOJA LTDA FILIAL:12345678000270", "branch_ext", from, to);
    issue("stranger", "/O=Teste/CN=OUTRA EMPRESA SA", "stranger_ext", from, to);
    issue("person", "/O=Teste/CN=JOSE DA SILVA", "person_ext", from, to);
    issue("expired", "/O=Teste/CN=LOJA LTDA:12345678000199", "issuer_ext", "20230101000000Z", "20250101000000Z");
    issue("early", "/O=Teste/CN=LOJA LTDA:12345678000199", "issuer_ext", "20240601000000Z", to);
    issue("lapsed", "/O=Teste/CN=LOJA LTDA:12345678000199", "issuer_ext", "20220101000000Z", "20230101000000Z");
    issue("encipher", "/O=Teste/CN=LOJA LTDA:12345678000199", "encipher_ext", from, to);
    issue("selfmade", "/O=Teste/CN=LOJA LTDA:12345678000199", "issuer_ext", from, to);
    fs::create_directories(trustFolder());
    fs::create_directories(rootOnlyFolder());
    fs::copy_file(dir_ + "/root.pem", trustFolder() + "/root.pem");
    fs::copy_file(dir_ + "/intermediate.pem", trustFolder() + "/intermediate.pem");
    fs::copy_file(dir_ + "/root.pem", rootOnlyFolder() + "/root.pem");
}

Signer::~Signer() { fs::remove_all(dir_); }

std::string Signer::sign(const std::string& text, const char* who) const {
    const std::string in = dir_ + "/template.xml", out = dir_ + "/signed.xml";
    spit(in, text);
    fs::remove(out);
    const std::string base = dir_ + "/" + who;
    EXPECT_EQ(shell("xmlsec1 --sign --privkey-pem " + quoted(base + ".key") + "," + quoted(base + ".pem") +
                    idAttributes() + "--output " + quoted(out) + " " + quoted(in) + " 2>/dev/null"),
              0);
    std::string signedText = slurp(out);
    const std::string digest = between(signedText, "<DigestValue>", "</DigestValue>");
    EXPECT_FALSE(digest.empty());
    if (signedText.find("<digVal>DIGVAL</digVal>") != std::string::npos)
        signedText = replaced(signedText, "<digVal>DIGVAL</digVal>", "<digVal>" + digest + "</digVal>");
    return signedText;
}

bool Signer::verifies(const std::string& text, const char* when) const {
    const std::string file = dir_ + "/judged.xml";
    spit(file, text);
    return shell("xmlsec1 --verify --trusted-pem " + quoted(dir_ + "/root.pem") + " --untrusted-pem " +
                 quoted(dir_ + "/intermediate.pem") + " --verification-gmt-time " + quoted(when) + idAttributes() +
                 quoted(file) + " >/dev/null 2>&1") == 0;
}

std::string Signer::certificate(const char* who) const {
    return between(slurp(dir_ + "/" + who + ".pem"), "-----BEGIN CERTIFICATE-----\n", "-----END CERTIFICATE-----");
}

}  // namespace signing
