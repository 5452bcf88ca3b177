#include "export/duplicates.h"

namespace exports {

bool carriesAuthorisation(std::string_view text) {
    // A scan, not a parse: the document checks judge the structure; this only
    // ranks two texts that claim one file name.
    const size_t protocol = text.find("protNFe");
    if (protocol == std::string_view::npos) return false;
    for (size_t at = text.find("cStat>", protocol); at != std::string_view::npos; at = text.find("cStat>", at + 6)) {
        // the opening tag: "<cStat>" or "<prefix:cStat>"
        if (at == 0 || text[at - 1] == '/') continue;
        const std::string_view value = text.substr(at + 6, 4);
        return value == "100<" || value == "150<";
    }
    return false;
}

bool takesTheFile(const NameCandidate& challenger, const NameCandidate& holder) {
    if (challenger.authorised != holder.authorised) return challenger.authorised;
    if (challenger.moment && holder.moment && *challenger.moment != *holder.moment)
        return *challenger.moment > *holder.moment;
    // as before two rows were told apart: the later row's file stays
    return challenger.number > holder.number;
}

NameClaims::Outcome NameClaims::claim(const std::string& name, const NameCandidate& candidate, long long* other) {
    auto [it, inserted] = holders_.try_emplace(name, candidate);
    if (inserted) return Outcome::First;
    if (takesTheFile(candidate, it->second)) {
        if (other) *other = it->second.number;
        it->second = candidate;
        return Outcome::Replaces;
    }
    if (other) *other = it->second.number;
    return Outcome::Loses;
}

}  // namespace exports
