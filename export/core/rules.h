#pragma once
// The export's rules as plain functions over plain values: what a document's
// file is called, when a name is refused, which kinds a run keeps, where the
// organised and the period export put a file, how the stamp advances and
// when a file already holds a document. Nothing here touches the file
// system or the database, so each rule is tested by a table.

#include "export/checks/checks.h"
#include "export/core/document_source.h"
#include "export/core/job.h"
#include "export/core/organize.h"
#include "export/core/stamp.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace exports {

// A name component taken from the database (access key, tax number) that
// could lead out of the output folder (a path separator, a NUL, "." or "..")
// or that holds another control byte (a line break, a terminal escape).
bool isUnsafeNamePart(std::string_view part);

// The file system path of a name composed from the 8-bit code page texts
// (output folder, prefixes, access key): converted to UTF-8.
std::string fileSystemName(const std::string& ansiName);

// The longest name component the file systems we write to take, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Whether the last component of the file system path `fileName` is short
// enough to be created.
bool fileNameFits(std::string_view fileName);

// The file of a document: "NFe<key>.XML", or "CanNFe<key>.XML" when the text
// is the cancellation event. The package's members carry the same names.
std::string documentFileName(std::string_view key, bool cancellation);

// The period export's file: "NFe<key>_<tax number>.XML".
std::string periodDocumentFileName(std::string_view key, std::string_view taxNumber);

// The period export's folder for the entry/exit flag: "Entrada" for exactly "E",
// "Saida" for anything else (a padded "E " too, as it always has).
std::string_view entryExitFolder(std::string_view flag);

// The period export's file under `folder`: folder + "Entrada/" or "Saida/" + name.
std::string periodFileName(const std::string& folder, const std::string& flag, const std::string& key,
                           const std::string& taxNumber);

// Why a document's file name cannot be used (empty when it can): an empty or
// unsafe name part, or a last component longer than a file name may be.
std::string unusableName(const std::string& part, const std::string& fileName);

// The same for a name made of several parts from the database, in order.
std::string unusableName(std::initializer_list<std::string_view> parts, const std::string& fileName);

// Whether a document of header type `documentType` (empty without a header
// row), with or without a vehicle row, is of a ticked kind. With every kind
// ticked, every document passes, headerless ones too.
bool ofTickedKind(const Kinds& kinds, std::string_view documentType, bool vehicle);

// The organised folder of a document under the output folder, as a relative
// folder text: "" for the flat layout, else "a/b/" (file-system bytes).
std::string organisedFolder(const FolderPattern& pattern, const FolderFacts& facts);

// The stamp after a selected document of change moment `seen`: the newest
// moment handled so far. Every selected document moves it, written or not.
Moment advanceStamp(const Moment& stamp, const Moment& seen);

// The stamp a run stores: never past the server's clock, so a document
// stamped ahead of it is selected again until the clock passes it.
Moment storedStamp(const Moment& advanced, const Moment& serverTime);

// Where an incremental run starts reading: the stored stamp, never past the
// server's clock, with the stored mark while it belongs to this database.
// A mark that does not (another or restored database) selects everything.
struct StartPoint {
    ChangeSelection selection;
    std::string note;  // for the summary and the history; empty when nothing unusual
};
StartPoint startPoint(const StampRecord& stored, const DatabaseState& database, const Snapshot& snapshot);

// The bytes of a document's file: the stored text followed by CR LF.
inline std::size_t documentFileSize(std::string_view text) { return text.size() + 2; }

// Whether `chunk`, read at `offset` of a file of documentFileSize(text)
// bytes, is what the document's file holds there. A file is left alone when
// its size is documentFileSize(text) and every chunk read matches.
bool documentBytesMatch(std::string_view text, std::size_t offset, std::string_view chunk);

// Whether `fileBytes` are exactly the document's file.
bool fileHoldsDocument(std::string_view fileBytes, std::string_view text);

// True when a character other than a blank (codes 0 to 32) is left after
// trimming: a text of blanks only counts as no text.
bool hasNonBlank(std::string_view text);

// A path's folder up to and with its last '/'; empty when it has none.
std::string folderOf(const std::string& path);

}  // namespace exports
