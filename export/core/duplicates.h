#pragma once
// Two rows of one run can give one file name: the ERP stored a document twice,
// or kept a rejected copy beside the authorised one. One file, one winner:
// the authorised text whose checks pass, then an authorised one, then the
// newer change moment, then the later row.

#include "export/core/stamp.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace exports {

// Whether the text parses as nfeProc with protNFe/infProt/cStat 100 (or 150,
// authorised late) in that place.
bool carriesAuthorisation(std::string_view text);

struct NameCandidate {
    long long number = 0;
    std::optional<Moment> moment;  // the period export and the package have none
    // 0: no authorisation; 1: authorised (parsed); 2: authorised and every
    // check of the document passes.
    int standing = 0;
};

// Whether `challenger` takes the file from `holder`.
bool takesTheFile(const NameCandidate& challenger, const NameCandidate& holder);

// The file names a run has given so far and who holds each.
class NameClaims {
public:
    enum class Outcome {
        First,     // nobody had the name: write
        Replaces,  // the challenger wins: write over the holder's file
        Loses,     // the holder keeps the file: do not write
    };
    // `other` receives the number of the document that held the name before
    // (it lost the file with Replaces, it keeps it with Loses).
    Outcome claim(const std::string& name, const NameCandidate& candidate, long long* other = nullptr);

private:
    std::unordered_map<std::string, NameCandidate> holders_;
};

}  // namespace exports
