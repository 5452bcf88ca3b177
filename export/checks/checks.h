#pragma once
// Checks an accountant runs on every document before trusting it: a valid
// access key, and an XML text that parses and carries its authorisation.
// They only report; nothing here changes a document.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace exports {

// The parts of a 44-digit access key, as views into the key.
struct AccessKeyParts {
    std::string_view state;         // IBGE code of the issuer's state, 2 digits
    std::string_view yearMonth;     // AAMM of the issue
    std::string_view issuer;        // CNPJ, or a CPF padded with zeros, 14 digits
    std::string_view model;         // 55 NF-e, 65 NFC-e
    std::string_view series;        // 3 digits
    std::string_view number;        // 9 digits
    std::string_view emissionType;  // 1 digit
    std::string_view code;          // 8 digits chosen by the issuer
    std::string_view checkDigit;    // 1 digit
};

// Splits a key of exactly 44 digits; false (and `parts` untouched) otherwise.
bool splitAccessKey(std::string_view key, AccessKeyParts& parts);

// The module-11 check digit of the first 43 digits (weights 2..9 from the
// right, cycling; a remainder of 0 or 1 gives 0). -1 when `first43` is not
// 43 digits.
int accessKeyCheckDigit(std::string_view first43);

// What a check found wrong. Each has a short stable name for reports.
enum class Finding {
    KeyLength,         // not 44 characters
    KeyNotDigits,      // a character other than 0-9
    KeyState,          // not an IBGE state code
    KeyMonth,          // month outside 01..12
    KeyModel,          // neither 55 nor 65
    KeyNumber,         // number 000000000
    KeyEmissionType,   // not a known emission type
    KeyCheckDigit,     // module-11 digit does not match
    XmlEmpty,          // no text at all
    XmlEncoding,       // bytes that are not in the declared (or default UTF-8) encoding
    XmlMalformed,      // not well-formed
    XmlRoot,           // root is not the expected nfeProc / procEventoNFe
    XmlNoProtocol,     // nfeProc without protNFe
    XmlKeyMissing,     // no infNFe Id / chNFe to compare
    XmlKeyMismatch,    // the key inside differs from the stored one
    XmlStructure,      // not the layout: a second or misplaced NFe, infNFe, protNFe, Signature
                       // (evento, infEvento, retEvento), or a DOCTYPE
    SignatureMissing,  // no XML signature (export/checks/signature.h)
    SignatureDigest,   // the signed element changed after signing
    SignatureInvalid,  // the signature value does not verify
    ProtocolDigest,    // not the digest the authorisation protocol holds
    CertificateChain,  // the signer's certificate does not chain to ICP-Brasil at signing
    CertificateHolder, // it chains, but is not the issuer's
};

std::string_view findingName(Finding f);

using Findings = std::vector<Finding>;

// Adds `f` once: a finding is listed only one time per document.
inline void addFinding(Findings& findings, Finding f) {
    for (Finding have : findings)
        if (have == f) return;
    findings.push_back(f);
}

// Every finding about the access key; empty when it is valid. Structure is
// checked first: a key that is not 44 digits gets only that finding. The 14
// issuer digits are not checked as a CNPJ: issuers with a CPF are legal.
Findings checkAccessKey(std::string_view key);

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

// Documents counted by what their checks found, for a run's summary.
struct CheckCounts {
    long checked = 0;
    long failed = 0;     // documents with any finding
    long badKeys = 0;    // documents with a finding about the key
    long badXml = 0;     // documents with a finding about the XML
    long badSignatures = 0;  // documents with a finding about the signature, its certificate or the protocol's digest
    void add(const Findings& findings);
};

// Checks documents on threads of their own while the export reads and writes
// the next ones, so the checks cost the run little time. Documents go over in
// batches, one lock per batch. When a few batches already wait, the caller
// checks its own batch instead of waiting (a full queue never idles it), and
// finish() helps with what is left: no core sits idle while documents wait.
// A check that throws on a thread is checked again by the caller in finish(),
// where its exception reaches the run: no document goes uncounted.
class BackgroundChecks {
public:
    using Check = Findings (*)(std::string_view key, std::string_view text, XmlKind kind);
    // `threads` beside the caller; 0 checks everything on the caller's thread.
    explicit BackgroundChecks(unsigned threads = threadCount(), Check check = &checkDocument);
    ~BackgroundChecks();  // stops the threads; counts not asked for are dropped
    BackgroundChecks(const BackgroundChecks&) = delete;
    BackgroundChecks& operator=(const BackgroundChecks&) = delete;

    // Pass the texts with std::move when the caller is done with them. The
    // findings also go to `result` when given, which must stay in place until
    // finish() returns.
    void add(std::string key, std::string text, XmlKind kind, Findings* result = nullptr);
    // Waits for every document added so far, checking beside the threads;
    // then the counts (every `result` is written by then).
    CheckCounts finish();

    // How many threads check beside the caller by default: one per core
    // besides the caller's, at least 1, at most 4.
    static unsigned threadCount();
    // How many threads actually started.
    unsigned threads() const { return static_cast<unsigned>(workers_.size()); }

private:
    struct Item {
        std::string key, text;
        XmlKind kind;
        Findings* result;
    };
    using Batch = std::vector<Item>;
    void handOver();
    // Checks a batch into `counts`; items whose check threw go to `failed`.
    void checkBatch(Batch& batch, CheckCounts& counts, Batch* failed);
    void work();

    Check check_;
    Batch pending_;  // the caller's, not yet handed over
    size_t pendingBytes_ = 0;
    CheckCounts own_;  // what the caller checked itself
    std::mutex mutex_;
    std::condition_variable work_;  // a batch waits, or stopping
    std::condition_variable idle_;  // no batch is being checked
    std::deque<Batch> queue_;
    Batch retry_;   // items whose check threw on a thread
    int busy_ = 0;  // batches taken off the queue and still being checked
    bool stopping_ = false;
    CheckCounts counts_;
    std::vector<std::thread> workers_;
};

// Documents checked so far by this process, on any thread, counted as each
// check ends: a run waiting on its checks is still moving (the unattended
// run's watchdog reads this).
unsigned long long documentsChecked();

// "ok" when empty, else the finding names joined by ','.
std::string findingsText(const Findings& findings);

}  // namespace exports
