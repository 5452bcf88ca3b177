// One file name given twice in a run: which row keeps the file.
#include "export/core/duplicates.h"

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
        // look-alikes a scan took for the protocol
        {"<nfeProc><NFe/><xprotNFe><infProt><cStat>100</cStat></infProt></xprotNFe></nfeProc>", false},
        {"<nfeProc><NFe><protNFe><infProt><cStat>100</cStat></infProt></protNFe></NFe></nfeProc>", false},
        {"<nfeProc><NFe/><protNFe><infProt><x><cStat>100</cStat></x></infProt></protNFe></nfeProc>", false},
        {"<nfeProc><NFe/><protNFe><infProt><!-- <cStat>100</cStat> --><cStat>302</cStat></infProt></protNFe>"
         "</nfeProc>",
         false},
        {"<nfeProc><NFe/><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc><trailing", false},
        {"<other><protNFe><infProt><cStat>100</cStat></infProt></protNFe></other>", false},
        // the protocol after the signature, as authorities send it
        {"<nfeProc versao=\"4.00\"><NFe><Signature/></NFe><protNFe><infProt Id=\"x\"><tpAmb>1</tpAmb>"
         "<cStat>150</cStat></infProt></protNFe></nfeProc>",
         true},
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
        {"authorised challenger over a rejected copy", {5, late, 0}, {9, early, 1}, NameClaims::Outcome::Replaces},
        {"rejected challenger never over the authorised text", {5, early, 1}, {9, late, 0}, NameClaims::Outcome::Loses},
        {"both authorised: newer moment", {5, early, 1}, {9, late, 1}, NameClaims::Outcome::Replaces},
        {"both authorised: older moment loses", {5, late, 1}, {9, early, 1}, NameClaims::Outcome::Loses},
        {"same moment: the later row", {5, early, 0}, {9, early, 0}, NameClaims::Outcome::Replaces},
        {"no moments: the later row", {5, std::nullopt, 0}, {9, std::nullopt, 0}, NameClaims::Outcome::Replaces},
        {"a clean authorised text over a tampered later one", {5, early, 2}, {9, late, 1}, NameClaims::Outcome::Loses},
        {"a clean authorised challenger over a tampered holder",
         {5, late, 1},
         {9, early, 2},
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
