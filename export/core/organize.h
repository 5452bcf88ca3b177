#pragma once
// The optional `Organizar` setting: a pattern of subfolders of the output
// folder, e.g. "{aaaa}-{mm}/{tipo}", filled in per document from its access
// key and header. A pattern that could lead outside the output folder is
// refused when it is read, before anything is written.

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace exports {

class OrganizeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a document contributes to its folder.
struct FolderFacts {
    std::string_view accessKey;     // as stored
    std::string_view documentType;  // the document's type; empty when the source has none
};

// "Emitidas" for NF, "Recebidas" for NE, "Outras" for anything else.
std::string_view kindFolder(std::string_view documentType);

class FolderPattern {
public:
    // `pattern` is the setting's bytes (Windows-1252). Empty or blank: the flat
    // folder. Throws OrganizeError (UTF-8 text naming the pattern and the
    // reason) for an absolute pattern, "." or ".." or empty components, a
    // backslash or control character, or an unknown or unclosed placeholder.
    explicit FolderPattern(std::string_view pattern = {});

    bool flat() const { return components_.empty(); }
    // Whether {tipo} appears, so the document type must be known.
    bool usesDocumentType() const;

    // The folder names (UTF-8, for the file system) for one document, outermost
    // first; empty when flat. Placeholders: {cnpj} issuer, {aaaa} year, {mm}
    // month, {modelo} model, all from the key ("chave-invalida" when the key
    // is not 44 digits); {tipo} from the document type.
    std::vector<std::string> folders(const FolderFacts& facts) const;

private:
    enum class Field { Literal, Issuer, Year, Month, Kind, Model };
    struct Piece {
        Field field;
        std::string literal;  // UTF-8
    };
    std::vector<std::vector<Piece>> components_;
};

// Creates `folders` below `base` one level at a time and returns the path of
// the innermost one with a trailing '/' (`base` itself, with a '/' added
// when missing, for none; "" stands for the current folder). An existing
// component must be a real folder: a symbolic link, a file or anything else
// is refused with OrganizeError, so nothing is ever created or written
// outside `base`. `base` itself may be a link.
std::string makeFoldersInside(const std::string& base, const std::vector<std::string>& folders);

// A pattern applied under one output folder, remembering the folders already
// made in this run so each is created and verified once.
class OrganizedFolders {
public:
    OrganizedFolders(std::string base, FolderPattern pattern);

    // The folder (ending in '/') a document's file goes into; `base` verbatim
    // when the pattern is flat, so the flat layout is exactly the old one.
    std::string folderFor(const FolderFacts& facts);
    bool usesDocumentType() const { return pattern_.usesDocumentType(); }
    bool flat() const { return pattern_.flat(); }

private:
    std::string base_;
    FolderPattern pattern_;
    std::map<std::string, std::string> made_;  // relative path -> full path
};

}  // namespace exports
