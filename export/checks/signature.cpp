#include "export/checks/signature.h"

#include "export/checks/certificate_trust.h"

#include <libxml/c14n.h>
#include <libxml/dict.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace exports {
namespace {

constexpr char kDsig[] = "http://www.w3.org/2000/09/xmldsig#";
constexpr std::string_view kC14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr std::string_view kC14nWithComments = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments";
constexpr std::string_view kEnveloped = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
constexpr std::string_view kSha1 = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr std::string_view kSha256 = "http://www.w3.org/2001/04/xmlenc#sha256";
constexpr std::string_view kRsaSha1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr std::string_view kRsaSha256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";

// Sizes past any real signature; larger values are refused before decoding.
constexpr size_t kMaxDigest = 64;
constexpr size_t kMaxSignature = 2048;  // RSA up to 16384 bits
constexpr size_t kMaxCertificate = 64 * 1024;

// Fetched once: the implicit fetch behind EVP_sha1() takes a lock every time.
const EVP_MD* sha1() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    return md;
}

const EVP_MD* sha256() {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
    return md;
}

std::string_view view(const xmlChar* s) {
    return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

bool isElement(const xmlNode* n, const char* name) {
    return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

bool isDsig(const xmlNode* n, const char* name) { return isElement(n, name) && n->ns && view(n->ns->href) == kDsig; }

// The first child element of that local name (the XML check reads names
// without their namespace too); in the signature's namespace when `dsig`.
xmlNodePtr child(const xmlNode* parent, const char* name, bool dsig = false) {
    if (!parent) return nullptr;
    for (xmlNodePtr c = parent->children; c; c = c->next)
        if (dsig ? isDsig(c, name) : isElement(c, name)) return c;
    return nullptr;
}

// The element's text; read in place when it is one text node (a
// certificate's base64 need not be copied for every document).
std::string_view text(const xmlNode* n, std::string& scratch) {
    if (!n) return {};
    const xmlNode* only = n->children;
    if (only && !only->next && only->type == XML_TEXT_NODE) return view(only->content);
    xmlChar* content = xmlNodeGetContent(n);
    scratch.assign(view(content));
    xmlFree(content);
    return scratch;
}

// An attribute without a namespace; `present` says whether it was there.
std::string attribute(const xmlNode* n, const char* name, bool* present = nullptr) {
    xmlChar* value = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar*>(name));
    if (present) *present = value != nullptr;
    std::string out(view(value));
    xmlFree(value);
    return out;
}


// What the canonical form shows: the apex and what is under it, less the
// excluded element (the signature itself, for the enveloped transform).
struct Subset {
    const xmlNode* apex = nullptr;
    const xmlNode* excluded = nullptr;
};

int isVisible(void* data, xmlNodePtr node, xmlNodePtr parent) {
    const auto* subset = static_cast<const Subset*>(data);
    // a namespace node has no parent of its own: it is its element's
    const xmlNode* n = node && node->type != XML_NAMESPACE_DECL ? node : parent;
    for (; n; n = n->parent) {
        if (n == subset->excluded) return 0;
        if (n == subset->apex) return 1;
    }
    return 0;
}

int writeToDigest(void* context, const char* bytes, int length) {
    return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context), bytes, size_t(length)) == 1 ? length : -1;
}

// Inclusive C14N 1.0 of the subset, digested as it is produced.
// libxml2 walks from the document's first child and asks about every node;
// for a subset under one apex the walk is made to start there (the parents
// stay linked, so the namespaces in scope are still found) and put back.
bool canonicalise(xmlDocPtr doc, const Subset& subset, bool comments, EVP_MD_CTX* digest) {
    xmlOutputBufferPtr out = xmlOutputBufferCreateIO(writeToDigest, nullptr, digest, nullptr);
    if (!out) return false;
    auto* apex = const_cast<xmlNodePtr>(subset.apex);
    xmlNodePtr const first = doc->children, next = apex->next;
    doc->children = apex;
    apex->next = nullptr;
    // Asking about every node costs; it is needed only when something under
    // the apex is left out, or when the apex inherits xml:* attributes
    // (inclusive C14N copies them from the ancestors left out).
    bool everyNode = false;
    for (const xmlNode* n = subset.excluded; n && !everyNode; n = n->parent) everyNode = n == apex;
    for (const xmlNode* n = apex->parent; n && n->type == XML_ELEMENT_NODE && !everyNode; n = n->parent)
        for (const xmlAttr* a = n->properties; a && !everyNode; a = a->next)
            everyNode = a->ns && view(a->ns->href) == view(XML_XML_NAMESPACE);
    const int produced = xmlC14NExecute(doc, everyNode ? isVisible : nullptr, const_cast<Subset*>(&subset),
                                        XML_C14N_1_0, nullptr, comments ? 1 : 0, out);
    apex->next = next;
    doc->children = first;
    const int closed = xmlOutputBufferClose(out);
    return produced >= 0 && closed >= 0;
}

struct MdContextDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

EVP_MD_CTX* mdContext() {
    thread_local std::unique_ptr<EVP_MD_CTX, MdContextDeleter> context(EVP_MD_CTX_new());
    return context.get();
}

// The digest of the element's canonical form; false when it cannot be made.
bool digestOf(xmlDocPtr doc, const xmlNode* element, const xmlNode* excluded, const EVP_MD* md, std::string& out) {
    EVP_MD_CTX* ctx = mdContext();
    // reset: the last verification left its key's context in it
    if (!ctx || !md || EVP_MD_CTX_reset(ctx) != 1 || EVP_DigestInit_ex(ctx, md, nullptr) != 1) return false;
    const Subset subset{element, excluded};
    // a reference to an element (#Id) leaves its comments out
    if (!canonicalise(doc, subset, false, ctx)) return false;
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx, value, &length) != 1) return false;
    out.assign(reinterpret_cast<const char*>(value), length);
    return true;
}

// What verifies signatures with one certificate's key: the key and a
// context per digest, set up once (setting one up fetches the algorithm from
// the provider under a lock, which cost more than the RSA arithmetic).
class Verifier {
public:
    Verifier() = default;
    Verifier(const Verifier&) = delete;
    Verifier& operator=(const Verifier&) = delete;
    ~Verifier() { reset(); }

    // The issuer's key from the certificate's base64 text; RSA only. The last
    // certificate is kept: a month's documents mostly come from a few issuers.
    bool load(std::string_view certificateText) {
        if (key_ && certificateText == text_) return true;
        reset();
        std::string der;
        if (!decodeBase64(certificateText, kMaxCertificate, der) || der.empty()) return false;
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509* certificate = d2i_X509(nullptr, &p, long(der.size()));
        if (!certificate) return false;
        const bool whole = p == reinterpret_cast<const unsigned char*>(der.data()) + der.size();
        EVP_PKEY* key = whole ? X509_get_pubkey(certificate) : nullptr;
        X509_free(certificate);
        if (key && EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
            EVP_PKEY_free(key);
            key = nullptr;
        }
        key_ = key;
        text_ = certificateText;
        return key_ != nullptr;
    }

    // Whether `signature` is the key's PKCS #1 v1.5 signature of `digest`.
    bool verifies(const EVP_MD* md, const unsigned char* digest, size_t digestLength, const std::string& signature) {
        EVP_PKEY_CTX*& ctx = md == sha1() ? sha1_ : sha256_;
        if (!ctx) {
            ctx = EVP_PKEY_CTX_new(key_, nullptr);
            if (!ctx || EVP_PKEY_verify_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1 ||
                EVP_PKEY_CTX_set_signature_md(ctx, md) != 1) {
                EVP_PKEY_CTX_free(ctx);
                ctx = nullptr;
                return false;
            }
        }
        return EVP_PKEY_verify(ctx, reinterpret_cast<const unsigned char*>(signature.data()), signature.size(), digest,
                               digestLength) == 1;
    }

private:
    void reset() {
        EVP_PKEY_CTX_free(sha1_);
        EVP_PKEY_CTX_free(sha256_);
        EVP_PKEY_free(key_);
        sha1_ = sha256_ = nullptr;
        key_ = nullptr;
        text_.clear();
    }

    std::string text_;  // the certificate as the document carries it
    EVP_PKEY* key_ = nullptr;
    EVP_PKEY_CTX* sha1_ = nullptr;
    EVP_PKEY_CTX* sha256_ = nullptr;
};

// The one element whose Id attribute is `id`; null when none or several.
const xmlNode* elementWithId(const xmlNode* root, std::string_view id) {
    const xmlNode* found = nullptr;
    const xmlNode* n = root;
    while (n) {
        if (n->type == XML_ELEMENT_NODE) {
            for (const xmlAttr* a = n->properties; a; a = a->next) {
                if (a->ns || std::strcmp(reinterpret_cast<const char*>(a->name), "Id") != 0) continue;
                const xmlNode* v = a->children;
                const bool equal = v && !v->next && v->type == XML_TEXT_NODE ? view(v->content) == id
                                                                             : attribute(n, "Id") == id;
                if (equal) {
                    if (found) return nullptr;
                    found = n;
                }
            }
            if (n->children) {
                n = n->children;
                continue;
            }
        }
        while (n && n != root && !n->next) n = n->parent;
        if (!n || n == root) break;
        n = n->next;
    }
    return found;
}

// What one Reference asks for, when it is one NF-e use: a same-document
// "#Id", the enveloped transform and/or inclusive C14N, SHA-1 or SHA-256.
struct Reference {
    std::string id;
    bool enveloped = false;
    const EVP_MD* md = nullptr;
    std::string digest;  // DigestValue, decoded
};

bool readReference(const xmlNode* signedInfo, Reference& r) {
    const xmlNode* reference = nullptr;
    for (const xmlNode* c = signedInfo->children; c; c = c->next) {
        if (!isDsig(c, "Reference")) continue;
        if (reference) return false;  // the document's signature covers one element
        reference = c;
    }
    if (!reference) return false;
    const std::string uri = attribute(reference, "URI");
    if (uri.size() < 2 || uri[0] != '#') return false;
    r.id = uri.substr(1);
    if (const xmlNode* transforms = child(reference, "Transforms", true)) {
        bool canonical = false;
        for (const xmlNode* t = transforms->children; t; t = t->next) {
            if (t->type != XML_ELEMENT_NODE) continue;
            if (!isDsig(t, "Transform")) return false;
            const std::string algorithm = attribute(t, "Algorithm");
            if (algorithm == kEnveloped && !r.enveloped && !canonical) r.enveloped = true;
            else if ((algorithm == kC14n || algorithm == kC14nWithComments) && !canonical)
                canonical = true;  // comments are gone already: the reference is to an Id
            else return false;
        }
    }
    const std::string method = attribute(child(reference, "DigestMethod", true), "Algorithm");
    r.md = method == kSha1 ? sha1() : method == kSha256 ? sha256() : nullptr;
    std::string scratch;
    if (!r.md || !decodeBase64(text(child(reference, "DigestValue", true), scratch), kMaxDigest, r.digest))
        return false;
    return r.digest.size() == size_t(EVP_MD_get_size(r.md));
}

// Whether SignatureValue verifies over the canonical SignedInfo with the key
// of the certificate in KeyInfo.
bool signatureHolds(xmlDocPtr doc, const xmlNode* signature, const xmlNode* signedInfo) {
    const std::string canonicalization = attribute(child(signedInfo, "CanonicalizationMethod", true), "Algorithm");
    const bool comments = canonicalization == kC14nWithComments;
    if (!comments && canonicalization != kC14n) return false;
    const std::string method = attribute(child(signedInfo, "SignatureMethod", true), "Algorithm");
    const EVP_MD* md = method == kRsaSha1 ? sha1() : method == kRsaSha256 ? sha256() : nullptr;
    if (!md) return false;
    std::string value;
    std::string scratch;
    if (!decodeBase64(text(child(signature, "SignatureValue", true), scratch), kMaxSignature, value) || value.empty())
        return false;
    thread_local Verifier verifier;
    const xmlNode* data = child(child(signature, "KeyInfo", true), "X509Data", true);
    if (!verifier.load(text(child(data, "X509Certificate", true), scratch))) return false;
    EVP_MD_CTX* ctx = mdContext();
    if (!ctx || EVP_MD_CTX_reset(ctx) != 1 || EVP_DigestInit_ex(ctx, md, nullptr) != 1) return false;
    if (!canonicalise(doc, Subset{signedInfo, nullptr}, comments, ctx)) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    return EVP_DigestFinal_ex(ctx, digest, &length) == 1 && verifier.verifies(md, digest, length, value);
}

// The moment a document counts as signed: when the authority received it,
// else when it says it was issued (made).
std::optional<std::time_t> signingMoment(const xmlNode* root, bool document) {
    std::string scratch;
    const xmlNode* candidates[3] = {};
    if (document) {
        const xmlNode* ide = child(child(child(root, "NFe"), "infNFe"), "ide");
        candidates[0] = child(child(child(root, "protNFe"), "infProt"), "dhRecbto");
        candidates[1] = child(ide, "dhEmi");
        candidates[2] = child(ide, "dEmi");
    } else {
        candidates[0] = child(child(child(root, "retEvento"), "infEvento"), "dhRegEvento");
        candidates[1] = child(child(child(root, "evento"), "infEvento"), "dhEvento");
    }
    for (const xmlNode* n : candidates)
        if (n) return nfeMoment(text(n, scratch));
    return std::nullopt;
}

// Whether the certificate that signed was an ICP-Brasil one of the issuer
// (emit, or the event's author) at that moment. Nothing to add when there
// is no readable certificate: the signature is invalid then already.
void checkCertificate(const xmlNode* root, bool document, const xmlNode* signature, const CertificateTrust& trust,
                      Findings& findings) {
    std::deque<std::string> scratch(1);  // stays where it is: the views point into it
    std::vector<std::string_view> certificates;
    const xmlNode* data = child(child(signature, "KeyInfo", true), "X509Data", true);
    for (const xmlNode* c = data ? data->children : nullptr; c; c = c->next)
        if (isDsig(c, "X509Certificate")) {
            if (!certificates.empty()) scratch.emplace_back();
            certificates.push_back(text(c, scratch.back()));
        }
    if (certificates.empty()) return;
    const xmlNode* author = document ? child(child(child(root, "NFe"), "infNFe"), "emit")
                                     : child(child(root, "evento"), "infEvento");
    IssuerId issuer;
    std::string digits;
    issuer.cnpj = text(child(author, "CNPJ"), digits);
    issuer.cpf = text(child(author, "CPF"), digits);
    const std::optional<std::time_t> when = signingMoment(root, document);
    const CertificateTrust::Verdict verdict = when ? trust.check(certificates, *when, issuer)
                                                   : CertificateTrust::Verdict::NoChain;
    if (verdict == CertificateTrust::Verdict::Unreadable) return;
    if (verdict == CertificateTrust::Verdict::NoChain) addFinding(findings, Finding::CertificateChain);
    else if (verdict == CertificateTrust::Verdict::NotIssuer) addFinding(findings, Finding::CertificateHolder);
}

void silence(void*, xmlErrorPtr) {}

// libxml2 reports C14N and converter errors through the thread's handler,
// which would print them; quiet for one check.
class QuietErrors {
public:
    QuietErrors() : handler_(xmlStructuredError), data_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, silence);
    }
    ~QuietErrors() {
        xmlSetStructuredErrorFunc(data_, handler_);
        ERR_clear_error();  // what OpenSSL queued for a failed verification
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlStructuredErrorFunc handler_;
    void* data_;
};

struct ContextDeleter {
    void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};

// A DOCTYPE stops the parse before its entities are declared.
void stopAtDoctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
}

// Whether the tree stays within the canonical form's limits.
bool withinLimits(const xmlNode* root) {
    std::vector<int> inScope{0};  // declarations in scope at each depth of the walk
    const xmlNode* n = root;
    while (n) {
        int declared = inScope.back(), attributes = 0;
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next) ++declared;
        for (const xmlAttr* a = n->properties; a; a = a->next) ++attributes;
        if (declared > kMaxNamespacesInScope || attributes > kMaxAttributes) return false;
        const xmlNode* child = n->children;
        while (child && child->type != XML_ELEMENT_NODE) child = child->next;
        if (child) {
            inScope.push_back(declared);
            n = child;
            continue;
        }
        // the next element: a sibling, or an ancestor's
        while (true) {
            if (n == root) return true;
            const xmlNode* next = n->next;
            while (next && next->type != XML_ELEMENT_NODE) next = next->next;
            if (next) {
                n = next;
                break;
            }
            inScope.pop_back();
            n = n->parent;
        }
    }
    return true;
}

// A tree this time: C14N works on one. The same rules as the XML check: no
// entity substitution, no DTD loading, no network, the default size limits.
xmlDocPtr parse(std::string_view text) {
    thread_local std::unique_ptr<xmlParserCtxt, ContextDeleter> context;
    if (context && xmlDictSize(context->dict) > 4096)
        context.reset();  // names stay in the dictionary; odd documents must not grow it without end
    if (!context) {
        xmlInitParser();
        context.reset(xmlNewParserCtxt());
        if (!context) return nullptr;
        context->sax->internalSubset = stopAtDoctype;
    }
    // short texts kept inside their nodes: fewer allocations, the tree is only read
    xmlDocPtr doc = xmlCtxtReadMemory(context.get(), text.data(), int(text.size()), nullptr, nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT);
    if (doc && (!context->wellFormed || context->errNo == XML_ERR_USER_STOP)) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    return doc;
}

}  // namespace

bool maySignText(std::string_view xml) {
    // Names are ASCII bytes in a text that starts like ASCII or UTF-8 (not
    // UTF-16, UCS-4 or EBCDIC): without these bytes there is no Signature and
    // no digVal.
    if (xml.empty()) return false;
    const auto first = static_cast<unsigned char>(xml[0]);
    const bool asciiLike = xml.size() > 1 && xml[1] != 0 &&
                           (first == '<' || first == ' ' || first == '\t' || first == '\r' || first == '\n' ||
                            first == 0xEF);
    return !asciiLike || xml.find("Signature") != xml.npos || xml.find("digVal") != xml.npos;
}

Findings checkSignature(std::string_view xml, const CertificateTrust* trust) {
    if (xml.empty() || xml.size() > size_t(INT_MAX)) return {};
    if (!maySignText(xml)) return {Finding::SignatureMissing};
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(nullptr, xmlFreeDoc);
    {
        QuietErrors quiet;
        doc.reset(parse(xml));
    }
    if (doc && !withinLimits(xmlDocGetRootElement(doc.get()))) return {Finding::SignatureInvalid};
    return doc ? checkSignature(doc.get(), trust) : Findings{};  // the XML check says why
}

Findings checkSignature(xmlDoc* doc, const CertificateTrust* trust) {
    Findings findings;
    QuietErrors quiet;
    const xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    // a DTD's entities would be expanded by the reads below: the XML check reports it
    if (!root || doc->intSubset || doc->extSubset) return findings;
    // The element that carries the signature, the one signed, the protocol's digest.
    const xmlNode *holder = nullptr, *signedElement = nullptr, *digVal = nullptr;
    if (isElement(root, "nfeProc")) {
        holder = child(root, "NFe");
        signedElement = child(holder, "infNFe");
        digVal = child(child(child(root, "protNFe"), "infProt"), "digVal");
    } else if (isElement(root, "procEventoNFe")) {
        holder = child(root, "evento");
        signedElement = child(holder, "infEvento");
    } else {
        return findings;
    }
    // beside the signed element, as NF-e carry it, or inside it (enveloped)
    const xmlNode* signature = child(holder, "Signature", true);
    if (!signature) signature = child(signedElement, "Signature", true);

    // The signed element's digest as the signature says to work it out.
    std::string digest;
    bool digestKnown = false;
    if (!signature) {
        addFinding(findings, Finding::SignatureMissing);
    } else {
        const xmlNode* signedInfo = child(signature, "SignedInfo", true);
        Reference reference;
        const bool referenceRead = signedInfo && readReference(signedInfo, reference);
        // the Id must name the document's own infNFe / infEvento, and nothing else
        if (referenceRead && signedElement && elementWithId(root, reference.id) == signedElement)
            digestKnown = digestOf(doc, signedElement, reference.enveloped ? signature : nullptr, reference.md, digest);
        if (!digestKnown || digest != reference.digest) addFinding(findings, Finding::SignatureDigest);
        if (!signedInfo || !signatureHolds(doc, signature, signedInfo)) addFinding(findings, Finding::SignatureInvalid);
    }

    // What was authorised: digVal holds the digest the authority received.
    if (digVal) {
        std::string authorised;
        std::string scratch;
        bool same = decodeBase64(text(digVal, scratch), kMaxDigest, authorised);
        if (same && !digestKnown) {
            // no usable signature: the digest of the length digVal has
            const EVP_MD* md = authorised.size() == 20 ? sha1() : authorised.size() == 32 ? sha256() : nullptr;
            digestKnown = signedElement && md && digestOf(doc, signedElement, signature, md, digest);
        }
        same = same && digestKnown && digest == authorised;
        if (!same) addFinding(findings, Finding::ProtocolDigest);
    }
    if (signature)
        checkCertificate(root, isElement(root, "nfeProc"), signature, trust ? *trust : *trustForChecks(), findings);
    return findings;
}

}  // namespace exports
