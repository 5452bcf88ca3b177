#include "export/checks/xml_check.h"

#include "export/checks/access_key.h"

#include "export/checks/signature.h"
#include "platform/codepage.h"

#include <libxml/xmlerror.h>
#include <libxml/dict.h>
#include <libxml/encoding.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/SAX2.h>
#include <libxml/tree.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>

namespace exports {
namespace {

bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Keeps the first error libxml2 reports for one reader, so the finding can
// tell bytes in the wrong encoding from broken markup.
struct ParseErrors {
    bool any = false;
    bool encoding = false;

    static void handler(void* self, xmlErrorPtr err) {
        auto* errors = static_cast<ParseErrors*>(self);
        if (!err || err->level < XML_ERR_ERROR || errors->any) return;
        errors->any = true;
        const int code = err->code;
        const std::string_view message = err->message ? err->message : "";
        errors->encoding = code == XML_ERR_UNKNOWN_ENCODING || code == XML_ERR_UNSUPPORTED_ENCODING ||
                           code == XML_ERR_ENCODING_NAME || code == XML_ERR_INVALID_ENCODING ||
                           (code >= XML_I18N_NO_NAME && code <= XML_I18N_NO_OUTPUT) ||
                           (code == XML_ERR_INVALID_CHAR && message.find("encoding") != message.npos);
    }
};

// What one parse saw of the few elements the checks look at.
struct XmlScan {
    std::string_view key;  // the stored key, trimmed
    ParseErrors errors;
    int depth = 0;
    enum class Root { None, Document, Event, Other } root = Root::None;
    bool hasProtocol = false;
    bool sawKey = false;
    bool keyDiffers = false;
    bool inChNFe = false;
    std::string chNFe;

    // The layout, so that no reader can take another copy of what was
    // verified: the holder (NFe, evento) with one signed element (infNFe,
    // infEvento) and its Signature after it, one reply (protNFe, retEvento).
    enum class Part : unsigned char { Other, Holder, Reply } part = Part::Other;  // the open child of the root
    int holders = 0, signedElements = 0, holderSignatures = 0;
    int replies = 0, replyElements = 0, replySignatures = 0;
    bool misplaced = false;
    bool doctype = false;  // the parse was stopped there

    // What the canonical form would cost: declarations in scope, attributes.
    struct Declared {
        int depth, count;
    };
    std::vector<Declared> declared;  // elements that declare namespaces, outermost first
    int namespacesInScope = 0;
    bool pastLimits = false;

    // The protocol's status and whether it carries the authorised digest.
    bool inCStat = false;
    std::string cStat;
    bool hasDigVal = false;
};

// Most names differ in their first letter; no string built per element.
bool named(const xmlChar* name, const char* literal) {
    return name[0] == static_cast<unsigned char>(literal[0]) &&
           std::strcmp(reinterpret_cast<const char*>(name), literal) == 0;
}

// The scan of the parse running on this thread; libxml2 also calls the
// handlers for an entity's content with a context of its own.
thread_local XmlScan* scanning = nullptr;

// Where the names the layout fixes stand; anything else there is misplaced.
void placeElement(XmlScan& s, int depth, const xmlChar* name, bool isDocument) {
    using Part = XmlScan::Part;
    const char* const holder = isDocument ? "NFe" : "evento";
    const char* const signedName = isDocument ? "infNFe" : "infEvento";
    const char* const reply = isDocument ? "protNFe" : "retEvento";
    const char* const replyName = isDocument ? "infProt" : "infEvento";
    if (depth == 1) {
        if (named(name, holder)) {
            ++s.holders;
            s.part = Part::Holder;
        } else if (named(name, reply)) {
            ++s.replies;
            s.part = Part::Reply;
        } else {
            s.part = Part::Other;
            s.misplaced = true;
        }
    } else if (depth == 2 && s.part == Part::Holder) {
        if (named(name, signedName)) {
            if (++s.signedElements > 1 || s.holderSignatures > 0) s.misplaced = true;
        } else if (named(name, "Signature")) {
            if (++s.holderSignatures > 1 || s.signedElements == 0) s.misplaced = true;
        } else if (!isDocument || !named(name, "infNFeSupl")) {  // an NFC-e's QR code
            s.misplaced = true;
        }
    } else if (depth == 2 && s.part == Part::Reply) {
        // the authority may sign its reply too
        if (named(name, replyName)) {
            if (++s.replyElements > 1 || s.replySignatures > 0) s.misplaced = true;
        } else if (named(name, "Signature")) {
            if (++s.replySignatures > 1 || s.replyElements == 0) s.misplaced = true;
        } else {
            s.misplaced = true;
        }
    } else if (depth >= 2 && (named(name, holder) || named(name, signedName) || named(name, reply) ||
                              named(name, replyName) || named(name, "Signature"))) {
        s.misplaced = true;
    }
}

void onStart(void*, const xmlChar* localname, const xmlChar*, const xmlChar*, int namespaceCount, const xmlChar**,
             int attributeCount, int, const xmlChar** attributes) {
    using Root = XmlScan::Root;
    XmlScan& s = *scanning;
    const int depth = s.depth++;
    if (namespaceCount > 0) {
        s.declared.push_back({depth, namespaceCount});
        s.namespacesInScope += namespaceCount;
        s.pastLimits = s.pastLimits || s.namespacesInScope > kMaxNamespacesInScope;
    }
    s.pastLimits = s.pastLimits || attributeCount > kMaxAttributes;
    const xmlChar* name = localname;
    if (depth == 0) {
        s.root = named(name, "nfeProc") ? Root::Document : named(name, "procEventoNFe") ? Root::Event : Root::Other;
        return;
    }
    if (s.root != Root::Document && s.root != Root::Event) return;
    const bool isDocument = s.root == Root::Document;
    placeElement(s, depth, name, isDocument);
    if (isDocument && depth == 1 && named(name, "protNFe")) {
        s.hasProtocol = true;
    } else if (isDocument && named(name, "infNFe")) {
        // five pointers an attribute: local name, prefix, URI, value, value end
        for (int i = 0; i < attributeCount; ++i) {
            const xmlChar** a = attributes + 5 * i;
            if (a[1] || !named(a[0], "Id")) continue;
            const std::string_view value(reinterpret_cast<const char*>(a[3]), a[4] - a[3]);
            s.sawKey = true;
            if (value.size() < 3 || value.substr(0, 3) != "NFe" || trimmed(value.substr(3)) != s.key)
                s.keyDiffers = true;
        }
    } else if (named(name, "chNFe")) {
        // protNFe's chNFe in a document, evento's and retEvento's in an event
        s.inChNFe = true;
        s.chNFe.clear();
    } else if (isDocument && depth == 3 && s.part == XmlScan::Part::Reply) {
        if (named(name, "cStat")) {
            s.inCStat = true;
            s.cStat.clear();
        } else if (named(name, "digVal")) {
            s.hasDigVal = true;
        }
    }
}

void onEnd(void*, const xmlChar*, const xmlChar*, const xmlChar*) {
    XmlScan& s = *scanning;
    --s.depth;
    if (!s.declared.empty() && s.declared.back().depth == s.depth) {
        s.namespacesInScope -= s.declared.back().count;
        s.declared.pop_back();
    }
    s.inCStat = false;
    if (!s.inChNFe) return;
    s.inChNFe = false;
    if (s.root != XmlScan::Root::Document) s.sawKey = true;
    if (trimmed(s.chNFe) != s.key) s.keyDiffers = true;
}

void onText(void*, const xmlChar* text, int length) {
    if (scanning->inChNFe) scanning->chNFe.append(reinterpret_cast<const char*>(text), length);
    else if (scanning->inCStat && scanning->cStat.size() < 16)
        scanning->cStat.append(reinterpret_cast<const char*>(text), length);
}

// NF-e never carry a DOCTYPE. Stopped before its internal subset is read, the
// parse declares no entity: no reference can be expanded anywhere later.
void onDoctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    scanning->doctype = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
}

void onError(void*, xmlErrorPtr err) { ParseErrors::handler(&scanning->errors, err); }

// The ERP's documents declare windows-1252; libxml2 would open iconv twice
// for each of them and convert through it. Its handler table is shared and
// unlocked, so this runs once before the first parse on any thread.
// libxml2 upper-cases names on both sides, so any spelling matches.
void registerEncodings() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        for (const char* name : {"WINDOWS-1252", "CP1252", "MS-ANSI"})
            xmlNewCharEncodingHandler(name, windows1252ToUtf8, nullptr);  // registers itself
    });
}

// The same handlers behind libxml2's own, so one parse both scans and builds
// the tree the signature check canonicalises.
void onStartTree(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri, int namespaceCount,
                 const xmlChar** namespaces, int attributeCount, int defaulted, const xmlChar** attributes) {
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, namespaceCount, namespaces, attributeCount, defaulted,
                          attributes);
    onStart(ctx, localname, prefix, uri, namespaceCount, namespaces, attributeCount, defaulted, attributes);
}

void onEndTree(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    xmlSAX2EndElementNs(ctx, localname, prefix, uri);
    onEnd(ctx, localname, prefix, uri);
}

void onTextTree(void* ctx, const xmlChar* text, int length) {
    xmlSAX2Characters(ctx, text, length);
    onText(ctx, text, length);
}

void onCDataTree(void* ctx, const xmlChar* text, int length) {
    xmlSAX2CDataBlock(ctx, text, length);
    onText(ctx, text, length);
}

struct ContextDeleter {
    void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};

// A parser context kept per thread for each way of parsing. Scanning only,
// libxml2's own handlers still keep the DTD's entities (so a declared entity
// is no error) and no tree is built; with a tree, they build it as usual.
xmlParserCtxtPtr checksContext(bool tree) {
    thread_local std::unique_ptr<xmlParserCtxt, ContextDeleter> contexts[2];
    std::unique_ptr<xmlParserCtxt, ContextDeleter>& context = contexts[tree ? 1 : 0];
    // Names stay in the context's dictionary; a stream of odd documents
    // must not grow it without end.
    if (context && xmlDictSize(context->dict) > 4096) context.reset();
    if (!context) {
        registerEncodings();
        context.reset(xmlNewParserCtxt());
        if (!context) return nullptr;
        xmlSAXHandler* sax = context->sax;
        sax->serror = onError;
        sax->internalSubset = onDoctype;
        if (tree) {
            sax->startElementNs = onStartTree;
            sax->endElementNs = onEndTree;
            sax->characters = onTextTree;
            sax->ignorableWhitespace = onTextTree;
            sax->cdataBlock = onCDataTree;
            return context.get();
        }
        sax->startElementNs = onStart;
        sax->endElementNs = onEnd;
        sax->characters = onText;
        sax->cdataBlock = onText;
        sax->ignorableWhitespace = onText;
        sax->processingInstruction = nullptr;
        sax->comment = nullptr;
        sax->reference = nullptr;
    }
    return context.get();
}

using Tree = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

// Parses `text` through the handlers above; false when no parse could start.
// With `tree`, the document's tree is kept there when the text is well-formed.
bool scanXml(std::string_view text, XmlScan& scan, Tree* tree = nullptr) {
    xmlParserCtxtPtr context = checksContext(tree != nullptr);
    if (!context) return false;
    scanning = &scan;
    // A converter's failure is raised without the parser's context, through
    // the thread's own handler: catch it, or a byte outside the declared
    // encoding reads as broken markup (and lands on stderr).
    const xmlStructuredErrorFunc previousHandler = xmlStructuredError;
    void* const previousData = xmlStructuredErrorContext;
    xmlSetStructuredErrorFunc(nullptr, onError);
    // No entity substitution, no DTD loading, no network, default limits;
    // short texts kept inside their nodes (the tree is only read).
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | (tree ? XML_PARSE_COMPACT : 0);
    Tree doc(xmlCtxtReadMemory(context, text.data(), static_cast<int>(text.size()), nullptr, nullptr, options),
             xmlFreeDoc);
    xmlSetStructuredErrorFunc(previousData, previousHandler);
    if (!context->wellFormed && !scan.errors.any) scan.errors.any = true;
    if (tree && !scan.errors.any && !scan.doctype) *tree = std::move(doc);
    scanning = nullptr;
    return true;
}

// What the signature check needs to know of the parse.
struct ScanFacts {
    bool doctype = false;
    bool pastLimits = false;               // not to be canonicalised
    bool authorisedWithoutDigest = false;  // cStat 100 or 150, no digVal
};

// The XML findings of one parse; `tree` as scanXml takes it.
Findings xmlFindings(std::string_view text, std::string_view storedKey, XmlKind kind, Tree* tree,
                     ScanFacts* facts = nullptr) {
    Findings findings;
    if (trimmed(text).empty()) {
        findings.push_back(Finding::XmlEmpty);
        return findings;
    }
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        findings.push_back(Finding::XmlMalformed);
        return findings;
    }
    XmlScan scan;
    scan.key = trimmed(storedKey);
    if (!scanXml(text, scan, tree)) {
        findings.push_back(Finding::XmlMalformed);
        return findings;
    }
    if (scan.doctype) {
        findings.push_back(Finding::XmlStructure);
        if (facts) facts->doctype = true;
        return findings;
    }
    if (scan.errors.any) {
        findings.push_back(scan.errors.encoding ? Finding::XmlEncoding : Finding::XmlMalformed);
        return findings;
    }

    using Root = XmlScan::Root;
    const Root root = scan.root;
    const bool rootFits = kind == XmlKind::Document            ? root == Root::Document
                          : kind == XmlKind::CancellationEvent ? root == Root::Event
                                                               : root == Root::Document || root == Root::Event;
    if (!rootFits) {
        findings.push_back(Finding::XmlRoot);
        return findings;
    }
    if (scan.misplaced || scan.holders != 1 || scan.signedElements != 1 || scan.replies > 1)
        addFinding(findings, Finding::XmlStructure);
    if (root == Root::Document && !scan.hasProtocol) addFinding(findings, Finding::XmlNoProtocol);
    if (!scan.sawKey) addFinding(findings, Finding::XmlKeyMissing);
    if (scan.keyDiffers) addFinding(findings, Finding::XmlKeyMismatch);
    if (facts) {
        facts->pastLimits = scan.pastLimits;
        const std::string_view status = trimmed(scan.cStat);
        facts->authorisedWithoutDigest = root == Root::Document && !scan.hasDigVal &&
                                         (status == "100" || status == "150");
    }
    return findings;
}

}  // namespace

Findings checkXml(std::string_view text, std::string_view storedKey, XmlKind kind) {
    return xmlFindings(text, storedKey, kind, nullptr);
}

int windows1252ToUtf8(unsigned char* out, int* outLength, const unsigned char* in, int* inLength) {
    unsigned char* o = out;
    unsigned char* const outEnd = out + *outLength;
    const unsigned char* i = in;
    const unsigned char* const inEnd = in + *inLength;
    int result = 0;
    while (i < inEnd) {
        // runs of ASCII eight bytes at a time
        while (inEnd - i >= 8 && outEnd - o >= 8) {
            std::uint64_t word;
            std::memcpy(&word, i, 8);
            if (word & 0x8080808080808080u) break;
            std::memcpy(o, &word, 8);
            i += 8;
            o += 8;
        }
        if (i == inEnd) break;
        const unsigned byte = *i;
        if (byte < 0x80) {
            if (o == outEnd) break;
            *o++ = static_cast<unsigned char>(byte);
        } else {
            const unsigned c = platform::ansiCodePoint(static_cast<unsigned char>(byte));
            if (!platform::ansiDefined(static_cast<unsigned char>(byte))) {
                result = -2;
                break;
            }
            if (c < 0x800) {
                if (outEnd - o < 2) break;
                *o++ = static_cast<unsigned char>(0xC0 | c >> 6);
            } else {
                if (outEnd - o < 3) break;
                *o++ = static_cast<unsigned char>(0xE0 | c >> 12);
                *o++ = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
            }
            *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
        ++i;
    }
    *outLength = static_cast<int>(o - out);
    *inLength = static_cast<int>(i - in);
    return result < 0 ? result : *outLength;
}

Findings checkDocument(std::string_view storedKey, std::string_view text, XmlKind kind) {
    Findings findings = checkAccessKey(storedKey);
    // A text that may be signed is parsed once, into the tree the signature
    // check needs; parsing it twice cost a fifth of the checks' time.
    const bool maySign = maySignText(text);
    Tree tree(nullptr, xmlFreeDoc);
    bool parsed = true;  // as a document or an event, without a DOCTYPE
    ScanFacts facts;
    const Findings xml = xmlFindings(text, storedKey, kind, maySign ? &tree : nullptr, &facts);
    for (Finding f : xml) {
        findings.push_back(f);
        parsed = parsed && f != Finding::XmlEmpty && f != Finding::XmlEncoding && f != Finding::XmlMalformed &&
                 f != Finding::XmlRoot;
    }
    // a DOCTYPE's text is not looked at any further
    if (!parsed || facts.doctype) return findings;
    if (facts.pastLimits) findings.push_back(Finding::SignatureInvalid);
    else if (!maySign) findings.push_back(Finding::SignatureMissing);
    else if (tree)
        for (Finding f : checkSignature(tree.get())) findings.push_back(f);
    if (facts.authorisedWithoutDigest) addFinding(findings, Finding::ProtocolDigest);
    return findings;
}

void prepareXmlChecks() { registerEncodings(); }

}  // namespace exports
