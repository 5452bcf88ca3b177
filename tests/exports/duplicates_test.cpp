// One file name given twice in a run: which row keeps the file.
#include "export/duplicates.h"

#include <gtest/gtest.h>

namespace {

using exports::Moment;
using exports::NameCandidate;
using exports::NameClaims;

TEST(Duplicates, AuthorisationIsReadFromTheProtocolsStatus) {
    const struct {
        const char* text;
        bool authorised;
    } cases[] = {
        {"<nfeProc><NFe/><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>", true},
        {"<nfeProc><NFe/><protNFe><infProt><cStat>150</cStat></infProt></protNFe></nfeProc>", true},
        {"<nfeProc><NFe/><protNFe><infProt><cStat>302</cStat></infProt></protNFe></nfeProc>", false},
        {"<n:nfeProc><n:protNFe><n:infProt><n:cStat>100</n:cStat></n:infProt></n:protNFe></n:nfeProc>", true},
        // a status before the protocol is the document's own, not the authorisation
        {"<nfeProc><cStat>100</cStat><NFe/></nfeProc>", false},
        {"<NFe><infNFe/></NFe>", false},
        {"", false},
        {"protNFe cStat>10", false},
    };
    for (const auto& c : cases) EXPECT_EQ(exports::carriesAuthorisation(c.text), c.authorised) << c.text;
}

TEST(Duplicates, TheAuthorisedTextThenTheNewerMomentThenTheLaterRowKeepsTheFile) {
    const Moment early{2024, 3, 1, 10, 0, 0}, late{2024, 3, 1, 11, 0, 0};
    const struct {
        const char* name;
        NameCandidate holder, challenger;
        NameClaims::Outcome outcome;
    } cases[] = {
        {"authorised challenger over a rejected copy", {5, late, false}, {9, early, true}, NameClaims::Outcome::Replaces},
        {"rejected challenger never over the authorised text", {5, early, true}, {9, late, false},
         NameClaims::Outcome::Loses},
        {"both authorised: newer moment", {5, early, true}, {9, late, true}, NameClaims::Outcome::Replaces},
        {"both authorised: older moment loses", {5, late, true}, {9, early, true}, NameClaims::Outcome::Loses},
        {"same moment: the later row", {5, early, false}, {9, early, false}, NameClaims::Outcome::Replaces},
        {"no moments: the later row", {5, std::nullopt, false}, {9, std::nullopt, false},
         NameClaims::Outcome::Replaces},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NameClaims claims;
        long long other = 0;
        EXPECT_EQ(claims.claim("NFe1.XML", c.holder, &other), NameClaims::Outcome::First);
        EXPECT_EQ(claims.claim("NFe1.XML", c.challenger, &other), c.outcome);
        EXPECT_EQ(other, c.holder.number);
        // another name is untouched
        EXPECT_EQ(claims.claim("NFe2.XML", c.challenger), NameClaims::Outcome::First);
    }
}

}  // namespace
