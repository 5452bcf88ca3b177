#pragma once
// What the checks of a document can find wrong, named for reports and counted
// for a run's summary. The checks only report; nothing changes a document.

#include <string>
#include <string_view>
#include <vector>

namespace exports {

// What a check found wrong. Each has a short stable name for reports.
enum class Finding {
    KeyLength,          // not 44 characters
    KeyNotDigits,       // a character other than 0-9
    KeyState,           // not an IBGE state code
    KeyMonth,           // month outside 01..12
    KeyModel,           // neither 55 nor 65
    KeyNumber,          // number 000000000
    KeyEmissionType,    // not a known emission type
    KeyCheckDigit,      // module-11 digit does not match
    XmlEmpty,           // no text at all
    XmlEncoding,        // bytes that are not in the declared (or default UTF-8) encoding
    XmlMalformed,       // not well-formed
    XmlRoot,            // root is not the expected nfeProc / procEventoNFe
    XmlNoProtocol,      // nfeProc without protNFe
    XmlKeyMissing,      // no infNFe Id / chNFe to compare
    XmlKeyMismatch,     // the key inside differs from the stored one
    XmlStructure,       // not the layout: a second or misplaced NFe, infNFe, protNFe, Signature
                        // (evento, infEvento, retEvento), or a DOCTYPE
    SignatureMissing,   // no XML signature (export/checks/signature.h)
    SignatureDigest,    // the signed element changed after signing
    SignatureInvalid,   // the signature value does not verify
    ProtocolDigest,     // not the digest the authorisation protocol holds
    CertificateChain,   // the signer's certificate does not chain to ICP-Brasil at signing
    CertificateHolder,  // it chains, but is not the issuer's
};

std::string_view findingName(Finding f);

using Findings = std::vector<Finding>;

// Adds `f` once: a finding is listed only one time per document.
inline void addFinding(Findings& findings, Finding f) {
    for (Finding have : findings)
        if (have == f) return;
    findings.push_back(f);
}

// Documents counted by what their checks found, for a run's summary.
struct CheckCounts {
    long checked = 0;
    long failed = 0;         // documents with any finding
    long badKeys = 0;        // documents with a finding about the key
    long badXml = 0;         // documents with a finding about the XML
    long badSignatures = 0;  // documents with a finding about the signature, its certificate or the protocol's digest
    void add(const Findings& findings);
};

// "ok" when empty, else the finding names joined by ','.
std::string findingsText(const Findings& findings);

}  // namespace exports
