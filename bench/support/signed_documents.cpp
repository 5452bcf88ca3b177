// Signed NF-e texts for the benchmarks (see signed_documents.h).
#include "bench/support/signed_documents.h"

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>
#include <string_view>
#include <vector>

namespace bench {

namespace {

// One item of a realistic size (~600 bytes), with accented Latin-1 text.
std::string item(int n) {
    const std::string i = std::to_string(n);
    return "<det nItem=\"" + i + "\"><prod><cProd>" + i +
           "00</cProd><cEAN>SEM GTIN</cEAN><xProd>Pe\xE7"
           "a de reposi\xE7\xE3o " +
           i +
           "</xProd><NCM>84099190</NCM><CFOP>5102</CFOP><uCom>UN</uCom><qCom>2.0000</qCom><vUnCom>10.50</vUnCom>"
           "<vProd>21.00</vProd><cEANTrib>SEM GTIN</cEANTrib><uTrib>UN</uTrib><qTrib>2.0000</qTrib>"
           "<vUnTrib>10.50</vUnTrib><indTot>1</indTot></prod><imposto><ICMS><ICMS00><orig>0</orig><CST>00</CST>"
           "<modBC>3</modBC><vBC>21.00</vBC><pICMS>18.00</pICMS><vICMS>3.78</vICMS></ICMS00></ICMS><PIS><PISAliq>"
           "<CST>01</CST><vBC>21.00</vBC><pPIS>1.65</pPIS><vPIS>0.35</vPIS></PISAliq></PIS></imposto></det>";
}

std::string base64(const unsigned char* bytes, size_t length) {
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    out.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes, int(length))));
    return out;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

xmlNodePtr findElement(xmlNodePtr n, const char* name) {
    for (; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (std::string_view(reinterpret_cast<const char*>(n->name)) == name) return n;
        if (xmlNodePtr found = findElement(n->children, name)) return found;
    }
    return nullptr;
}

int underApex(void* apex, xmlNodePtr node, xmlNodePtr parent) {
    for (xmlNodePtr n = node && node->type != XML_NAMESPACE_DECL ? node : parent; n; n = n->parent)
        if (n == apex) return 1;
    return 0;
}

int appendTo(void* out, const char* bytes, int length) {
    static_cast<std::string*>(out)->append(bytes, size_t(length));
    return length;
}

// The inclusive C14N 1.0 of the first element of that name in `text`.
std::string canonical(const std::string& text, const char* element) {
    xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), nullptr, nullptr, XML_PARSE_NONET);
    std::string out;
    if (xmlNodePtr apex = doc ? findElement(doc->children, element) : nullptr) {
        xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(appendTo, nullptr, &out, nullptr);
        xmlC14NExecute(doc, underApex, apex, XML_C14N_1_0, nullptr, 0, buffer);
        xmlOutputBufferClose(buffer);
    }
    xmlFreeDoc(doc);
    return out;
}

}  // namespace

std::string unsignedDocument(const std::string& key, size_t size, const char* encoding) {
    std::string body =
        "<ide><cUF>35</cUF><natOp>VENDA</natOp><mod>55</mod><serie>1</serie></ide>"
        "<emit><CNPJ>12345678000199</CNPJ><xNome>Com\xE9rcio de Pe\xE7"
        "as Ltda</xNome></emit>";
    for (int n = 1; body.size() + 1200 < size; ++n) body += item(n);
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
           "\"?><nfeProc versao=\"4.00\" "
           "xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
           "<infNFe Id=\"NFe" +
           key + "\" versao=\"4.00\">" + body +
           "</infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
           "<CanonicalizationMethod Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>"
           "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/><Reference URI=\"#NFe" +
           key +
           "\"><Transforms><Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
           "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/></Transforms>"
           "<DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\"/><DigestValue>@DIGEST@</DigestValue>"
           "</Reference></SignedInfo><SignatureValue>@SIGNATURE@</SignatureValue><KeyInfo><X509Data>"
           "<X509Certificate>@CERTIFICATE@</X509Certificate></X509Data></KeyInfo></Signature></NFe>"
           "<protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb><chNFe>" +
           key +
           "</chNFe><dhRecbto>2024-03-05T10:00:00-03:00</dhRecbto><nProt>135240000000001</nProt>"
           "<digVal>@DIGEST@</digVal><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt>"
           "</protNFe></nfeProc>";
}

namespace {

// A certificate for `key` named `cn`, signed by `signerKey` of `signer` (by
// itself when null), valid 2020-2040: the documents were received in 2024.
X509* certificateFor(EVP_PKEY* key, const char* cn, EVP_PKEY* signerKey, X509* signer, bool ca) {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), ca ? 1 : 2);
    ASN1_TIME_set_string(X509_getm_notBefore(certificate), "20200101000000Z");
    ASN1_TIME_set_string(X509_getm_notAfter(certificate), "20400101000000Z");
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(certificate, signer ? X509_get_subject_name(signer) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, signer ? signer : certificate, certificate, nullptr, nullptr, 0);
    for (const auto& [nid, value] :
         {std::pair{NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE"},
          std::pair{NID_key_usage, ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,nonRepudiation"}}) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    X509_sign(certificate, signerKey, EVP_sha256());
    return certificate;
}

std::string base64Der(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    std::string out = base64(der, size_t(length));
    OPENSSL_free(der);
    return out;
}

std::string pemOf(const std::string& base64Text) {
    std::string pem = "-----BEGIN CERTIFICATE-----\n";
    for (size_t at = 0; at < base64Text.size(); at += 64) pem += base64Text.substr(at, 64) + "\n";
    return pem + "-----END CERTIFICATE-----\n";
}

}  // namespace

Issuer::Issuer() : key_(EVP_RSA_gen(2048)) {
    // the issuer's certificate under a root of its own, with the documents' CNPJ
    EVP_PKEY* rootKey = EVP_RSA_gen(2048);
    X509* root = certificateFor(rootKey, "Raiz de teste", rootKey, nullptr, true);
    X509* certificate = certificateFor(key_, "Emitente de teste:12345678000199", rootKey, root, false);
    root_ = base64Der(root);
    certificate_ = base64Der(certificate);
    X509_free(certificate);
    X509_free(root);
    EVP_PKEY_free(rootKey);
}

Issuer::~Issuer() { EVP_PKEY_free(key_); }

std::string Issuer::sign(std::string text) const {
    const std::string infNFe = canonical(text, "infNFe");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(infNFe.data(), infNFe.size(), digest, &length, EVP_sha1(), nullptr);
    replaceAll(text, "@DIGEST@", base64(digest, length));
    const std::string signedInfo = canonical(text, "SignedInfo");
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    size_t size = 0;
    EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, key_);
    EVP_DigestSign(ctx, nullptr, &size, nullptr, 0);
    std::vector<unsigned char> signature(size);
    EVP_DigestSign(ctx, signature.data(), &size, reinterpret_cast<const unsigned char*>(signedInfo.data()),
                   signedInfo.size());
    EVP_MD_CTX_free(ctx);
    replaceAll(text, "@SIGNATURE@", base64(signature.data(), size));
    replaceAll(text, "@CERTIFICATE@", certificate_);
    return text;
}

std::string Issuer::certificatePem() const { return pemOf(certificate_); }

std::string Issuer::rootPem() const { return pemOf(root_); }

}  // namespace bench
