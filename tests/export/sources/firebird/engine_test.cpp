// The incremental export as a library call, in this process, against real
// databases: the transaction mark, the whole-second rule read from the column,
// texts of every column type.
#include "tests/support/workspace.h"

#include "db/database.h"
#include "export/runs.h"
#include "export/sources/firebird/firebird_options.h"
#include "export/sources/firebird/statements.h"
#include "export/core/stamp.h"

#include <fcntl.h>
#include <functional>
#include <atomic>
#include <thread>
#include <sys/stat.h>

namespace exptest {
namespace {

// Another program's connection: its own transaction, committed when told.
class ErpConnection {
public:
    explicit ErpConnection(const Workspace& ws) : database_(client(), ws.dbName, login(ws.dbName)) {}
    void exec(const std::string& sql) { db::Query(database_, sql).execute(); }
    void commit() { database_.commit(); }

private:
    static std::vector<std::string> login(const std::string& dbName) {
        const auto who = fixture::defaultCredentials(dbName);
        return {"user_name=" + who.user, "password=" + who.password};
    }
    db::Database database_;
};

std::string insert(int seq, const char* moment, const std::string& xml) {
    return "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO, NFE_XML) VALUES (" + std::to_string(seq) +
           ", '" + moment + "', '" + fixture::accessKey(seq) + "', '" + xml + "')";
}

class Engine : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        EXPTEST_REQUIRE_MODE(GetParam());
        ws_ = std::make_unique<Workspace>(GetParam());
    }
    exports::IncrementalJob job() const {
        exports::IncrementalJob job;
        job.database = ws_->dbName;
        const auto who = fixture::defaultCredentials(ws_->dbName);
        job.sourceOptions = exports::firebirdOptions(client(), {who.user, who.password});
        job.outputFolder = "xml";  // relative to the settings file's folder, no trailing separator
        job.settingsFile = ws_->ini.string();
        job.kinds = {true, true, true};
        return job;
    }
    exports::RunSummary run() {
        exports::Observer quiet;
        return exports::runIncremental(job(), quiet);
    }
    std::string stamp() const { return ws_->configValue("Data") + " " + ws_->configValue("Hora"); }
    static std::string file(int seq) { return "NFe" + fixture::accessKey(seq) + ".XML"; }
    std::unique_ptr<Workspace> ws_;
};

TEST_P(Engine, LateCommitWithAnOldMomentIsExportedByTheNextRun) {
    ws_->createDatabase({});
    ws_->writeConfig("01/01/2020", "00:00:00", "unused");
    {
        ErpConnection erp(*ws_);
        erp.exec(insert(1, "2020-11-06 10:00:00", "<a/>"));
        erp.commit();
    }
    ASSERT_EQ(run().written, 1);
    ErpConnection erp(*ws_);
    // Waiting for the authorisation service: not committed while the run reads.
    erp.exec(insert(2, "2020-06-01 00:00:00", "<late/>"));
    exports::RunSummary s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(stamp(), "06/11/2020 10:00:00");
    EXPECT_FALSE(Workspace::files(ws_->out).count(file(2)));
    erp.commit();
    // A client PC whose clock is behind: committed after the run, moment before the stamp.
    erp.exec(insert(3, "2019-01-01 08:00:00", "<behind/>"));
    erp.commit();
    s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    const auto files = Workspace::files(ws_->out);
    EXPECT_EQ(files.at(file(2)), "<late/>\r\n");
    EXPECT_EQ(files.at(file(3)), "<behind/>\r\n");
    EXPECT_EQ(stamp(), "06/11/2020 10:00:00");
    // Document 1 was re-selected at most as an unchanged file: no rewrite.
    EXPECT_EQ(s.written, 2);
}

TEST_P(Engine, FractionInsideTheStampsSecondIsCutNotRounded) {
    std::vector<Doc> docs;
    Doc a;
    a.seq = 1;
    a.moment = "2020-12-25 10:05:37.6000";
    a.xml = "<a/>";
    docs.push_back(a);
    ws_->createDatabase(docs);
    ws_->writeConfig("25/12/2020", "10:05:37", "unused");
    exports::RunSummary s = run();
    EXPECT_EQ(s.selected, 0);
    EXPECT_EQ(stamp(), "25/12/2020 10:05:37");
    ErpConnection erp(*ws_);
    erp.exec(insert(2, "2020-12-25 10:05:38.2000", "<b/>"));
    erp.commit();
    // Without the mark a stamp rounded up to :38 would lose this one.
    spit(ws_->ini, ws_->configWithoutMark());
    s = run();
    EXPECT_EQ(s.selected, 1);
    EXPECT_TRUE(Workspace::files(ws_->out).count(file(2)));
    EXPECT_EQ(stamp(), "25/12/2020 10:05:38");
}

TEST_P(Engine, MarkOfARestoredOrOtherDatabaseIsDroppedAndNothingIsLost) {
    Doc d;
    d.seq = 1;
    d.moment = "2021-01-01 10:00:00";
    d.xml = "<a/>";
    ws_->createDatabase({d});
    ws_->writeConfig("01/01/2021", "00:00:00", "unused");
    ASSERT_EQ(run().written, 1);
    const std::string identity = ws_->configValue("MarcaBase");
    struct Case {
        const char* name;
        std::string mark, identity;
    };
    const Case cases[] = {
        {"restored: mark above the next transaction", "999999999", identity},
        {"another database", ws_->configValue("MarcaTransacao"), "1999-01-01 00:00:00.0000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Moment before the stamp: a late commit before the restore looks like
        // this, and only re-reading everything can find it once the mark is gone.
        std::string text = ws_->configText("02/01/2021", "00:00:00", "unused");
        spit(ws_->ini, text + "MarcaTransacao=" + c.mark + "\r\nMarcaBase=" + c.identity + "\r\n");
        fs::remove(ws_->out / file(1));
        const exports::RunSummary s = run();
        EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
        EXPECT_NE(s.note.find("marca de transação descartada"), std::string::npos) << s.note;
        EXPECT_TRUE(Workspace::files(ws_->out).count(file(1)));
        EXPECT_EQ(ws_->configValue("MarcaBase"), identity);
        // The stamp never goes back.
        EXPECT_EQ(stamp(), "02/01/2021 00:00:00");
    }
}

// Rows written by a loader that then disconnected: the database header's
// oldest active transaction lags behind them, the snapshot's does not.
TEST_P(Engine, FreshlyLoadedDatabaseIsReadOnceAndTheStampStillExcludesOlderDocuments) {
    std::vector<Doc> docs;
    for (int seq = 1; seq <= 6; ++seq) {
        Doc d;
        d.seq = seq;
        d.moment = seq <= 2 ? "2019-05-01 08:00:00" : "2021-03-0" + std::to_string(seq) + " 09:00:00";
        d.xml = "<d" + std::to_string(seq) + "/>";
        docs.push_back(d);
    }
    ws_->createDatabase(docs);
    ws_->writeConfig("01/01/2020", "00:00:00", "unused");
    exports::RunSummary s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.selected, 4);
    EXPECT_EQ(s.written, 4);
    s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.selected, 0);
    EXPECT_EQ(s.written + s.unchanged, 0);
    const auto files = Workspace::files(ws_->out);
    EXPECT_EQ(files.size(), 4u);
    EXPECT_FALSE(files.count(file(1)));
    EXPECT_FALSE(files.count(file(2)));
}

// The second run waits for the first one's lock and then finds nothing new.
TEST_P(Engine, RunThatWaitedForTheLockSelectsNothing) {
    std::vector<Doc> docs;
    for (int seq = 1; seq <= 20; ++seq) {
        Doc d;
        d.seq = seq;
        d.moment = "2021-03-01 09:00:00";
        d.xml = "<d/>";
        docs.push_back(d);
    }
    ws_->createDatabase(docs);
    ws_->writeConfig("01/01/2020", "00:00:00", "unused");
    exports::RunSummary second;
    std::thread waiter;
    // The other run asks whether to stop only while it waits for the lock:
    // the sign that it is waiting, whatever the machine's speed.
    struct Waiting : exports::Observer {
        std::atomic<bool> asked{false};
        bool stopRequested() override {
            asked = true;
            return false;
        }
    } waiting;
    struct StartsTheOther : exports::Observer {
        std::function<void()> start;
        std::atomic<bool>* otherWaits = nullptr;
        void connected() override {
            if (!start) return;
            std::exchange(start, nullptr)();
            // This run holds the lock until the other one is waiting for it.
            const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
            while (!*otherWaits && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } first;
    first.otherWaits = &waiting.asked;
    first.start = [&] {
        waiter = std::thread([&] {
            exports::IncrementalJob job = this->job();
            job.lockWait = std::chrono::seconds(60);
            second = exports::runIncremental(job, waiting);
        });
    };
    exports::IncrementalJob job = this->job();
    const exports::RunSummary s = exports::runIncremental(job, first);
    waiter.join();
    EXPECT_TRUE(waiting.asked) << "the other run never waited";
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.written, 20);
    EXPECT_EQ(second.result, exports::Result::Complete) << second.error;
    EXPECT_EQ(second.selected, 0);
}

TEST_P(Engine, HundredChangedDocumentsAreSelectedOnceByTheNextRun) {
    std::vector<Doc> docs;
    for (int seq = 1; seq <= 300; ++seq) {
        Doc d;
        d.seq = seq;
        d.moment = "2021-03-01 09:00:00";
        d.xml = "<d/>";
        docs.push_back(d);
    }
    ws_->createDatabase(docs);
    ws_->writeConfig("01/01/2020", "00:00:00", "unused");
    ASSERT_EQ(run().written, 300);
    {
        // The ERP changes documents and keeps their old moments: only the mark sees them.
        ErpConnection erp(*ws_);
        erp.exec("UPDATE MVTO_NFE SET NFE_XML = '<changed/>' WHERE PAI_SEQU > 100 AND PAI_SEQU <= 200");
        erp.commit();
    }
    exports::RunSummary s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.selected, 100);
    EXPECT_EQ(s.written, 100);
    EXPECT_EQ(Workspace::files(ws_->out).at(file(150)), "<changed/>\r\n");
    s = run();
    EXPECT_EQ(s.selected, 0);
}

// The ERP commits while the run is reading, after the run's snapshot began:
// the run cannot see the row, so the mark it stores must still catch it.
TEST_P(Engine, CommitAfterTheSnapshotStartedIsExportedByTheNextRun) {
    Doc d;
    d.seq = 1;
    d.moment = "2021-03-01 09:00:00";
    d.xml = "<a/>";
    ws_->createDatabase({d});
    ws_->writeConfig("01/01/2021", "00:00:00", "unused");
    ErpConnection erp(*ws_);
    erp.exec(insert(2, "2020-06-01 00:00:00", "<late/>"));
    struct CommitsAtTotal : exports::Observer {
        ErpConnection* erp = nullptr;
        bool wantsTotal() const override { return true; }
        void total(long) override { erp->commit(); }
    } observer;
    observer.erp = &erp;
    exports::RunSummary s = exports::runIncremental(job(), observer);
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.written, 1);
    EXPECT_FALSE(Workspace::files(ws_->out).count(file(2)));
    s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(Workspace::files(ws_->out).at(file(2)), "<late/>\r\n");
}

// A kind decided by a header or vehicle row committed after the run that
// examined the document: the next run must still find it.
TEST_P(Engine, KindThatBecomesTrueLaterIsCaughtByTheNextRun) {
    struct Case {
        const char* name;
        std::string boxes;  // ExportaEmitidas, ExportaEmitidasVeiculos, ExportaRecebidas
        Doc doc;
        std::string later;
    };
    Doc issuedNoVehicle;
    issuedNoVehicle.seq = 1;
    issuedNoVehicle.moment = "2021-03-01 09:00:00";
    issuedNoVehicle.xml = "<v/>";
    issuedNoVehicle.tipo = "NF";
    Doc noHeader = issuedNoVehicle;
    noHeader.tipo.reset();
    const Case cases[] = {
        {"vehicle row committed later", "NSN", issuedNoVehicle,
         "INSERT INTO mvto_veiculos (pai_sequ, vei_chassi) VALUES (1, '9BWZZZ377VT004251')"},
        {"header row committed later", "SNN", noHeader,
         "INSERT INTO MVTO_PAI (PAI_SEQU, PAI_TIPODOC, PAI_ENTSAI, PAI_MODELO, PAI_CANCELADA, PAI_FILIAL) "
         "VALUES (1, 'NF', 'S', '55', 1, 1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ws_ = std::make_unique<Workspace>(GetParam());
        ws_->createDatabase({c.doc});
        spit(ws_->ini, ws_->configText("01/01/2021", "00:00:00", "unused", c.boxes));
        exports::IncrementalJob j = job();
        j.kinds = {c.boxes[0] == 'S', c.boxes[2] == 'S', c.boxes[1] == 'S'};
        exports::Observer quiet;
        exports::RunSummary s = exports::runIncremental(j, quiet);
        EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
        EXPECT_EQ(s.written, 0);
        EXPECT_EQ(stamp(), "01/03/2021 09:00:00");
        {
            ErpConnection erp(*ws_);
            erp.exec(c.later);
            erp.commit();
        }
        s = exports::runIncremental(j, quiet);
        EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
        EXPECT_EQ(s.written, 1);
        EXPECT_TRUE(Workspace::files(ws_->out).count(file(1)));
    }
}

// A moment far ahead (a client clock, a typo) is written but never carries
// the stamp past the server's clock, and no later run fails on it.
TEST_P(Engine, MomentFarAheadIsWrittenWithoutMovingTheStampPastNow) {
    Doc far;
    far.seq = 1;
    far.moment = "9999-12-31 23:59:59";
    far.xml = "<far/>";
    ws_->createDatabase({far});
    ws_->writeConfig("01/01/2021", "00:00:00", "unused");
    exports::RunSummary s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.written, 1);
    const auto stored = exports::parseStamp(ws_->configValue("Data"), ws_->configValue("Hora"));
    ASSERT_TRUE(stored);
    EXPECT_LT(stored->year, 9999);
    // Selected again while its moment is ahead; its unchanged file is left alone.
    s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(s.written, 0);
    EXPECT_EQ(s.unchanged, 1);
    // A stamp an older version stored there does not stop the run, and a
    // document with today's moment arrives even without a mark.
    spit(ws_->ini, ws_->configText("31/12/9999", "23:59:59", "unused"));
    {
        ErpConnection erp(*ws_);
        erp.exec(
            "INSERT INTO MVTO_NFE (PAI_SEQU, DIG_DATAHORA, NFE_CHAVEACESSO, NFE_XML) VALUES (2, "
            "CURRENT_TIMESTAMP, '" +
            fixture::accessKey(2) + "', '<today/>')");
        erp.commit();
    }
    s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_NE(s.note.find("relógio do servidor"), std::string::npos) << s.note;
    EXPECT_EQ(Workspace::files(ws_->out).at(file(2)), "<today/>\r\n");
}

TEST_P(Engine, InlineAndBlobTextsAreByteExact) {
    // Every byte value but NUL, Windows-1252 letters included, around the inline limit.
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    struct Case {
        int seq;
        size_t size;
    };
    const Case cases[] = {
        {1, 100}, {2, exports::Source::kInlineBytes}, {3, exports::Source::kInlineBytes + 1}, {4, 70000}};
    std::vector<Doc> docs;
    std::map<int, std::string> texts;
    for (const Case& c : cases) {
        std::string t;
        while (t.size() < c.size) t += all;
        t.resize(c.size);
        texts[c.seq] = t;
        Doc d;
        d.seq = c.seq;
        d.moment = "2021-01-01 10:00:00";
        d.xml = "";
        docs.push_back(d);
    }
    ws_->createDatabase(docs);
    const auto who = fixture::defaultCredentials(ws_->dbName);
    for (const auto& [seq, t] : texts) fixture::setText(client(), ws_->dbName, who, seq, "NFE_XML", t);
    ws_->writeConfig("01/01/2021", "00:00:00", "unused");
    const exports::RunSummary s = run();
    ASSERT_EQ(s.result, exports::Result::Complete) << s.error;
    const auto files = Workspace::files(ws_->out);
    for (const auto& [seq, t] : texts) EXPECT_EQ(files.at(file(seq)), t + "\r\n") << t.size();
}

TEST_P(Engine, PreferredTextIsTakenWhetherEachTextTravelsInlineOrAsABlob) {
    const size_t big = exports::Source::kInlineBytes + 1;
    const std::string longText = "<l>" + std::string(big, '\xE7') + "</l>", blanks = " \r\n\t ";
    const std::string longBlanks(big, ' ');
    struct Case {
        std::optional<std::string> cancel, distrib, xml;
        std::string prefix, expected;
    };
    const Case cases[] = {
        {longText, "<d/>", "<x/>", "CanNFe", longText},  // the first text too long for the row
        {longBlanks, "<d/>", "<x/>", "NFe", "<d/>"},     // long but blank: the next one
        {blanks, longText, "<x/>", "NFe", longText},     // blank inline, the next one long
        {"", std::nullopt, longText, "NFe", longText},   // empty, NULL, then the document
        {"", "<d/>", longText, "NFe", "<d/>"},           // empty first: a short next one, not inline
        {std::nullopt, blanks, blanks, "NFe", blanks},   // nothing but blanks: the document as it is
        {"<c>\x80</c>", longText, longText, "CanNFe", "<c>\x80</c>"},
    };
    std::vector<Doc> docs;
    for (size_t i = 0; i < std::size(cases); ++i) {
        Doc d;
        d.seq = static_cast<int>(i) + 1;
        d.moment = "2021-01-01 10:00:00";
        d.cancel = cases[i].cancel;
        d.distrib = cases[i].distrib;
        d.xml = cases[i].xml;
        docs.push_back(d);
    }
    ws_->createDatabase(docs);
    ws_->writeConfig("01/01/2021", "00:00:00", "unused");
    const exports::RunSummary s = run();
    ASSERT_EQ(s.result, exports::Result::Complete) << s.error;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < std::size(cases); ++i)
        expected[cases[i].prefix + fixture::accessKey(static_cast<int>(i) + 1) + ".XML"] = cases[i].expected + "\r\n";
    EXPECT_EQ(Workspace::files(ws_->out), expected);
}

TEST_P(Engine, RefusedDocumentIsSelectedAgainWhenItsRowChanges) {
    Doc good, bad;
    good.seq = 1;
    good.moment = "2021-01-01 10:00:00";
    good.xml = "<a/>";
    bad = good;
    bad.seq = 2;
    bad.key = "";  // an empty key would have every such document overwrite one "NFe.XML"
    ws_->createDatabase({good, bad});
    ws_->writeConfig("01/01/2021", "00:00:00", "unused");
    exports::RunSummary s = run();
    EXPECT_EQ(s.result, exports::Result::Refused);
    ASSERT_EQ(s.refusedDocuments.size(), 1u);
    EXPECT_EQ(s.refusedDocuments[0].number, 2);
    EXPECT_EQ(s.refusedDocuments[0].reason, "nome vazio");
    EXPECT_EQ(s.written, 1);
    EXPECT_EQ(stamp(), "01/01/2021 10:00:00");
    // Unchanged, it is never written (a mark may re-select it; that costs nothing).
    s = run();
    EXPECT_EQ(s.written, 0);
    EXPECT_EQ(Workspace::files(ws_->out).size(), 1u);
    // The ERP fixes the key without touching the moment: the record version catches it.
    ErpConnection erp(*ws_);
    erp.exec("UPDATE MVTO_NFE SET NFE_CHAVEACESSO = '" + fixture::accessKey(2) + "' WHERE PAI_SEQU = 2");
    erp.commit();
    s = run();
    EXPECT_EQ(s.result, exports::Result::Complete) << s.error;
    EXPECT_EQ(Workspace::files(ws_->out).at(file(2)), "<a/>\r\n");
}

TEST_P(Engine, TextColumnsOfEveryTypeGiveTheStoredBytes) {
    struct Case {
        fixture::Schema::Texts texts;
        size_t width;  // a fixed-length column keeps its filling blanks
    };
    const Case cases[] = {
        {fixture::Schema::Texts::Blob, 0}, {fixture::Schema::Texts::Varchar, 0}, {fixture::Schema::Texts::Char, 4000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        ws_ = std::make_unique<Workspace>(GetParam());
        Doc d1;
        d1.seq = 1;
        d1.moment = "2021-01-01 10:00:00";
        d1.cancel = " \r\n ";
        d1.distrib = "<d>Jos\xE9 \x80\x96</d>";
        d1.xml = "<x/>";
        Doc d2 = d1;
        d2.seq = 2;
        d2.cancel = "<c>\xE7</c>";
        fixture::Schema schema;
        schema.texts = c.texts;
        ws_->createDatabase({d1, d2}, schema);
        ws_->writeConfig("01/01/2021", "00:00:00", "unused");
        const exports::RunSummary s = run();
        ASSERT_EQ(s.result, exports::Result::Complete) << s.error;
        auto padded = [&](std::string t) {
            if (t.size() < c.width) t.resize(c.width, ' ');
            return t + "\r\n";
        };
        const std::map<std::string, std::string> expected = {
            {file(1), padded(*d1.distrib)}, {"CanNFe" + fixture::accessKey(2) + ".XML", padded(*d2.cancel)}};
        EXPECT_EQ(Workspace::files(ws_->out), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, Engine, testing::Values(Mode::Embedded, Mode::Server), modeName);

}  // namespace
}  // namespace exptest
