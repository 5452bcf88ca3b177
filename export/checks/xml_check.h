#pragma once
// The checks of a document's stored text: well-formed, in its layout, carrying
// its authorisation and the key it is stored under, and signed (export/checks/
// signature.h), parsed once and never changed.

#include "export/checks/findings.h"

#include <string_view>

namespace exports {

// Which text an XML is expected to be.
enum class XmlKind {
    Document,           // nfeProc holding NFe/infNFe and protNFe
    CancellationEvent,  // procEventoNFe holding chNFe
    Either,             // whichever the root says
};

// Findings about the stored text of a document (well-formed, its layout, its
// authorisation, the key inside equal to `storedKey`); empty when all hold.
// The text is parsed without building a tree, never changed. A DOCTYPE ends
// the parse where it stands (XmlStructure alone): no entity is declared, so
// none is ever expanded, and nothing external is loaded.
Findings checkXml(std::string_view text, std::string_view storedKey, XmlKind kind);

// Windows-1252 to UTF-8 for the XML parser (libxml2's converter contract):
// converts what fits, sets the lengths to the bytes read and written, and
// returns the bytes written, or -2 at a byte the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D), where iconv fails too. The checks register
// it under the names iconv takes for the code page, so documents that declare
// it do not go through iconv.
int windows1252ToUtf8(unsigned char* out, int* outLength, const unsigned char* in, int* inLength);

// Every check of one document: the key's findings, the XML's, then the
// signature's for a text that parsed as a document or an event. A text past
// the canonical form's limits (export/checks/signature.h) gets SignatureInvalid
// without being canonicalised; an authorised protocol (cStat 100 or 150)
// without digVal gets ProtocolDigest.
Findings checkDocument(std::string_view storedKey, std::string_view text, XmlKind kind);

// Registers the code page converters with libxml2; call before two threads
// may parse (the background checks do).
void prepareXmlChecks();

}  // namespace exports
