#pragma once
// The month's package for the accountant: one zip archive holding every
// document of the month under Emitidas/, Recebidas/ or Outras/, a manifest
// (manifesto.csv: what each member is, its SHA-256 and its check results)
// and the gaps in the numbering of the issued documents (lacunas.csv).
// The archive appears under its name whole or not at all.

#include "export/checks/checks.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace exports {

class PackageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One document as read from the database.
struct PackageDocument {
    std::string accessKey;      // NFE_CHAVEACESSO as stored
    std::string documentType;   // PAI_TIPODOC; empty without a header row
    std::string issueDate;      // for the manifest, e.g. "2024-03-05"; empty when unknown
    bool cancellation = false;  // the text is the cancellation event (file "CanNFe…")
    std::string text;           // the stored bytes of the chosen text
};

// The archive's name for a month "AAAA-MM": "NFe-AAAA-MM.zip".
std::string packageFileName(std::string_view yearMonth);

// Removes what a killed run left of the month's archive in `folder`: the
// hidden temporaries this program names ".NFe-AAAA-MM.zip.parcial-<pid>-<6
// letters>", files only, of processes no longer running. Anything else of a
// similar name (a user's copy, a link, a pipe) stays. Call while holding the
// export lock.
void removeLeftoverPackages(const std::string& folder, std::string_view yearMonth);

// The member name of a document: kind folder, then the name the incremental
// export gives its file ("Emitidas/NFe<key>.XML", "Outras/CanNFe<key>.XML").
std::string memberName(const PackageDocument& doc);

// One cell of the lists as written: quoted when it holds ';', '"' or a line
// break; a cell a spreadsheet would evaluate ('=', '+', '-', '@', tab, CR, LF
// first) starts with an apostrophe, so it is shown as text.
std::string csvCell(const std::string& utf8);

// SHA-256 of `bytes` as 64 lower-case hex digits (OpenSSL).
std::string sha256Hex(std::string_view bytes);

// Missing numbers of one issuer, model and series, from..to inclusive.
struct NumberGap {
    std::string issuer, model, series;  // digits as in the key
    std::uint64_t from = 0, to = 0;
};

// Collects the numbers of issued documents and tells the ranges missing
// between the lowest and highest number of each issuer, model and series.
class NumberingGaps {
public:
    // Takes the document when its type is NF and its key is 44 digits.
    void add(std::string_view accessKey, std::string_view documentType);
    std::vector<NumberGap> gaps() const;  // ordered by issuer, model, series, number

private:
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::uint64_t>> numbers_;
};

// What a finished package holds.
struct PackageResult {
    std::string path;    // the archive written
    long documents = 0;  // members besides the two lists
    long gapRanges = 0;
    std::uint64_t missingNumbers = 0;
    CheckCounts checks;
};

// Builds one archive. Documents are added in the order they are read (a
// second document with the same member name replaces the first, as the
// incremental export's file would be). commit() writes the lists and gives
// the archive its name; an archive never committed leaves no file behind.
// The same documents in the same order give the same bytes: a member's time
// is the document's authorisation (an event's registration), else its issue,
// and the lists' time is the month's first day, never the run's clock.
// An earlier archive that cannot be written is kept: the writer refuses it.
class PackageWriter {
public:
    // `folder`: where the archive goes (file system path; "" = current
    // folder). Throws PackageError when the temporary archive cannot be made.
    PackageWriter(std::string folder, std::string yearMonth);
    ~PackageWriter();
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    // Adds the document with its text + CR LF and notes it for the manifest
    // and the gaps; its checks run on another thread, their findings go into
    // the manifest at commit().
    void add(const PackageDocument& doc);

    PackageResult commit();

    // Raw bytes kept before the archive is written out; more is flushed to
    // the temporary archive so memory stays bounded. For tests.
    void setFlushThreshold(std::size_t bytes) { flushThreshold_ = bytes; }

private:
    void openArchive(bool truncate);
    void flush();
    void discard() noexcept;
    [[noreturn]] void fail(const std::string& what);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::size_t flushThreshold_ = 32u << 20;
};

}  // namespace exports
