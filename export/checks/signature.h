#pragma once
// Was the document changed after it was signed and authorised? The XML
// signature of an NF-e (nfeProc/NFe) or of an event (procEventoNFe/evento)
// covers its infNFe / infEvento: inclusive C14N 1.0 with the enveloped
// transform, digested with SHA-1 or SHA-256, the SignedInfo signed with RSA
// by the certificate inside the Signature. The protocol's digVal repeats the
// digest that was authorised.
//
// Only reports. The certificate must chain to ICP-Brasil at the moment of
// signing and name the issuer (export/checks/certificate_trust.h); its revocation is
// not checked (that needs the authorities' lists and the network).

#include "export/checks/findings.h"

#include <string_view>

struct _xmlDoc;  // libxml2's document tree

namespace exports {

class CertificateTrust;

// Findings about the signature of a text the XML check found well-formed with
// an nfeProc or procEventoNFe root (other texts: a parsed root of another name
// gets none; a text without the word "Signature" is not parsed at all):
//  SignatureMissing  no Signature where the document carries it;
//  SignatureDigest   the signed element's digest differs from DigestValue, or
//                    cannot be worked out (no element with the Reference's Id,
//                    a transform or digest method NF-e do not use);
//  SignatureInvalid  SignatureValue does not verify over SignedInfo with the
//                    certificate's key, or cannot be checked (no certificate,
//                    not RSA, an unknown method);
//  ProtocolDigest    protNFe/infProt/digVal differs from the signed element's
//                    digest: not the text that was authorised;
//  CertificateChain  the certificate in KeyInfo does not chain to a trusted
//                    ICP-Brasil root at the moment of signing (dhRecbto, else
//                    dhEmi; for events dhRegEvento, else dhEvento), or may not
//                    sign;
//  CertificateHolder it chains, but its CNPJ is not of the issuer's company
//                    (emit, or the event's author), or its CPF not the issuer's.
// With no readable certificate only the signature's findings are given.
// `trust` null: the store the run installed (trustForChecks()).
// The parse loads no DTD, substitutes no entity and uses no network; a text
// with a DOCTYPE gets no findings here (the XML check's XmlStructure).
// A text past the limits below gets SignatureInvalid without canonicalising.
Findings checkSignature(std::string_view text, const CertificateTrust* trust = nullptr);

// libxml2's canonical form costs, for every element, the square of the
// namespace declarations in scope, and sorts each element's attributes: a
// text of 250 KB kept it busy for more than ten minutes. NF-e carry up to
// about 7 declarations in scope and 3 attributes an element.
inline constexpr int kMaxNamespacesInScope = 32;
inline constexpr int kMaxAttributes = 32;

// The same findings over a tree parsed without entity substitution, whose
// text was within the limits above (checkDocument's parse counts them); the
// caller keeps the tree (it is put back as it was).
Findings checkSignature(_xmlDoc* tree, const CertificateTrust* trust = nullptr);

// False only for a text that starts like ASCII and has neither the word
// "Signature" nor "digVal": it carries no signature and need not be parsed
// into a tree.
bool maySignText(std::string_view text);

}  // namespace exports
