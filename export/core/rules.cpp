#include "export/core/rules.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstring>

namespace exports {

namespace {

// The database compares CHAR values padded with blanks: "NF " equals "NF".
std::string_view withoutTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

bool isUnsafeNamePart(std::string_view part) {
    if (part == "." || part == "..") return true;
    // Control bytes too: a line break or a terminal escape in a file name
    // breaks every script and listing that later reads the folder.
    for (char c : part)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

std::string fileSystemName(const std::string& ansiName) { return platform::ansiToUtf8(ansiName); }

bool fileNameFits(std::string_view fileName) {
    const size_t slash = fileName.rfind('/');
    return (slash == std::string_view::npos ? fileName : fileName.substr(slash + 1)).size() <= kMaxFileNameBytes;
}

std::string documentFileName(std::string_view key, bool cancellation) {
    std::string name = cancellation ? "CanNFe" : "NFe";
    name += key;
    name += ".XML";
    return name;
}

std::string periodDocumentFileName(std::string_view key, std::string_view taxNumber) {
    std::string name = "NFe";
    name += key;
    name += '_';
    name += taxNumber;
    name += ".XML";
    return name;
}

std::string_view entryExitFolder(std::string_view flag) { return flag == "E" ? "Entrada" : "Saida"; }

std::string periodFileName(const std::string& folder, const std::string& flag, const std::string& key,
                           const std::string& taxNumber) {
    return folder + std::string(entryExitFolder(flag)) + "/" + periodDocumentFileName(key, taxNumber);
}

std::string unusableName(std::initializer_list<std::string_view> parts, const std::string& fileName) {
    for (std::string_view part : parts) {
        // A fixed-length column holds blanks where nothing was stored.
        if (!hasNonBlank(part)) return "nome vazio";
        if (isUnsafeNamePart(part)) return "nome inseguro";
    }
    if (!fileNameFits(fileSystemName(fileName))) return "nome longo demais";
    return {};
}

std::string unusableName(const std::string& part, const std::string& fileName) {
    return unusableName({std::string_view(part)}, fileName);
}

bool ofTickedKind(const Kinds& kinds, std::string_view documentType, bool vehicle) {
    if (kinds.all()) return true;
    const std::string_view type = withoutTrailingBlanks(documentType);
    return (kinds.issued && type == "NF") || (kinds.received && type == "NE") ||
           (kinds.vehicles && type == "NF" && vehicle);
}

std::string organisedFolder(const FolderPattern& pattern, const FolderFacts& facts) {
    std::string relative;
    for (const std::string& folder : pattern.folders(facts)) relative += folder + '/';
    return relative;
}

Moment advanceStamp(const Moment& stamp, const Moment& seen) { return std::max(stamp, seen); }

Moment storedStamp(const Moment& advanced, const Moment& serverTime) { return std::min(advanced, serverTime); }

StartPoint startPoint(const StampRecord& stored, const DatabaseState& database, const Snapshot& snapshot) {
    StartPoint p;
    p.selection.after = std::min(stored.moment, snapshot.serverTime);
    p.selection.mark = stored.mark;
    if (stored.moment > snapshot.serverTime) {
        // Without a mark nothing tells which documents a stamp from the
        // future has hidden: they are all read again.
        p.note = "marca de data adiante do relógio do servidor";
        if (!stored.mark) {
            p.selection.everything = true;
            p.note += ": todos os documentos relidos";
        }
    }
    if (stored.mark && (stored.databaseIdentity != database.identity || *stored.mark > database.nextTransaction)) {
        // Whatever the stamp says, rows committed late before a restore or
        // stamped by a clock ahead would be lost: everything is read again and
        // the files that already hold the same bytes are left alone.
        p.selection.mark.reset();
        p.selection.everything = true;
        if (!p.note.empty()) p.note += "; ";
        p.note += "marca de transação descartada (base restaurada ou trocada): todos os documentos relidos";
    }
    return p;
}

bool documentBytesMatch(std::string_view text, std::size_t offset, std::string_view chunk) {
    if (offset + chunk.size() > documentFileSize(text)) return false;
    // The part inside the text, then whatever of the CR LF the chunk covers.
    const size_t inText = offset < text.size() ? std::min(chunk.size(), text.size() - offset) : 0;
    if (std::memcmp(chunk.data(), text.data() + offset, inText) != 0) return false;
    for (size_t i = inText; i < chunk.size(); ++i)
        if (chunk[i] != "\r\n"[offset + i - text.size()]) return false;
    return true;
}

bool fileHoldsDocument(std::string_view fileBytes, std::string_view text) {
    return fileBytes.size() == documentFileSize(text) && documentBytesMatch(text, 0, fileBytes);
}

bool hasNonBlank(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > 32) return true;
    return false;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace exports
