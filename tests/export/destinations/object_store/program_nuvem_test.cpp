// A key pasted into Nuvem stays out of everything the program shows or keeps:
// its message, the history and /status.
#include "tests/support/workspace.h"

#include <gtest/gtest.h>

namespace {

using namespace exptest;

TEST(StoreProgramNuvem, ASecretInTheAddressIsRefusedWithoutBeingShownOrKept) {
    const std::string secret = "wJalrXUtnFEMIK7MDENGbPxRfiCYEXAMPLEKEY";
    for (const std::string nuvem : {
             "AKIDEXAMPLE:" + secret + "@s3.escritorio.com.br:9000/arquivo",
             "https://s3.escritorio.com.br:" + secret + "/arquivo",
             "https://s3.escritorio.com.br/arquivo?X-Amz-Signature=" + secret,
         }) {
        SCOPED_TRACE(nuvem);
        Workspace w(Mode::Embedded);
        Doc d;
        d.seq = 1;
        d.xml = "<nfeProc>um</nfeProc>";
        w.createDatabase({d});
        w.writeConfig("01/01/2010", "00:00:00", w.out.string());
        spit(w.ini, slurp(w.ini) + "Nuvem=" + nuvem + "\r\n");
        const RunResult r = w.run();
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("Nuvem"), std::string::npos) << r.err;
        const RunResult status = w.run({"/status"});
        const std::string history = slurp(w.ini.parent_path() / "ConfigQuillan.log.jsonl");
        EXPECT_NE(history.find("Nuvem"), std::string::npos) << history;
        for (const std::string& shown : {r.out, r.err, status.out, status.err, history})
            EXPECT_EQ(shown.find(secret.substr(0, 10)), std::string::npos) << shown;
        EXPECT_EQ(w.configValue("Data"), "01/01/2010");
    }
}

}  // namespace
