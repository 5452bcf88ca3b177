#include "export/core/duplicates.h"

#include <libxml/xmlreader.h>

#include <climits>

namespace exports {

namespace {

// An element's name without its prefix: an undeclared prefix stays in the name.
std::string_view localName(const xmlChar* name) {
    std::string_view n(name ? reinterpret_cast<const char*>(name) : "");
    const auto colon = n.find(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

}  // namespace

bool carriesAuthorisation(std::string_view text) {
    // Parsed, not scanned: only nfeProc/protNFe/infProt/cStat is the
    // authorisation's status; a look-alike element elsewhere says nothing.
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return false;
    xmlTextReaderPtr reader = xmlReaderForMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                                 XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!reader) return false;
    static constexpr std::string_view path[] = {"nfeProc", "protNFe", "infProt", "cStat"};
    int matched = 0;  // how many levels of the path the open elements follow
    std::string status;
    bool found = false;
    int read;
    while ((read = xmlTextReaderRead(reader)) == 1) {
        if (found || xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) continue;
        const int depth = xmlTextReaderDepth(reader);
        if (depth > matched) continue;  // inside an element off the path
        matched = depth;
        if (localName(xmlTextReaderConstName(reader)) != path[depth]) continue;
        if (depth == 3) {
            xmlChar* value = xmlTextReaderReadString(reader);
            status = value ? reinterpret_cast<const char*>(value) : "";
            xmlFree(value);
            found = true;
        } else {
            matched = depth + 1;
        }
    }
    // The whole text must parse: a protocol followed by garbage is no document.
    const bool wellFormed = read == 0;
    xmlFreeTextReader(reader);
    return found && wellFormed && (status == "100" || status == "150");
}

bool takesTheFile(const NameCandidate& challenger, const NameCandidate& holder) {
    if (challenger.standing != holder.standing) return challenger.standing > holder.standing;
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
